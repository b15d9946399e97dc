// tform1.cpp - the shell of the main window: controls and menus as the form
// lays them out, their event bindings, construction and teardown.
#include "tform1.h"

#include "vcl.h"

#include "argument_list.h"
#include "glyphs.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QToolButton>

#include <iterator>

TForm1* Form1 = nullptr;

namespace {

// The form's font: "MS Sans Serif" where it exists, else the nearest
// sans-serif at hand (similar widths first), 11 pixels high.
QFont formFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

// A label with the framework's fixed text height, as wide as its caption.
QLabel* makeLabel(QWidget* parent, const QString& objectName, const QString& caption, int left,
                  int top) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(objectName);
    const int width = label->fontMetrics().horizontalAdvance(caption) + 1;
    label->setGeometry(left, top, width, 13);
    return label;
}

// A screen reader names a control after the label that captions it.
void nameAfter(QWidget* control, QLabel* caption) {
    caption->setBuddy(control);
    control->setAccessibleName(caption->text());
}

// A labelled edit: the edit at its bounds, its caption 3 pixels above it.
QLineEdit* makeLabelledEdit(QWidget* parent, const QString& objectName, const QString& caption,
                            const QRect& bounds) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setGeometry(bounds);
    QLabel* label = makeLabel(parent, objectName + QStringLiteral("Label"), caption, bounds.left(),
                              bounds.top() - 3 - 13);
    nameAfter(edit, label);
    return edit;
}

QPushButton* makeButton(QWidget* parent, const QString& objectName, const QString& caption,
                        const QRect& bounds) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setGeometry(bounds);
    // Enter clicks the focused button, as Space does (the framework's
    // buttons answer both).
    button->setAutoDefault(true);
    return button;
}

Memo* makeMemo(QWidget* parent, const QString& objectName, const QRect& bounds) {
    auto* memo = new Memo(parent);
    memo->setObjectName(objectName);
    memo->setGeometry(bounds);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the next control, as in the form's memos; it does not
    // type a tab into the text.
    memo->setTabChangesFocus(true);
    return memo;
}

QAction* makeItem(QMenu* menu, const QString& objectName, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(objectName);
    return action;
}

} // namespace

TForm1::TForm1(QWidget* owner) : QMainWindow(owner) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Cardwright XML RPC Test Client"));
    setWindowIcon(glyphs::applicationIcon());
    setFont(formFont());
    // The button face behind everything, as the framework's forms have it.
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    CreateControls();
    CreateMenus();
    move(245, 173);
    resize(ClientWidth, ClientHeight + MainMenu1->sizeHint().height());

    // Asking for the id makes the native window exist now.
    WindowHandle->setText(QString::number(static_cast<qint64>(winId())));

    FArgs.count = 0;
    MethodList = std::make_unique<MethodCatalogue>();
    CreateCatalogue();
}

TForm1::~TForm1() {
    // Catalogue first, then the library, then what was handed to it; Qt
    // destroys the controls after this body.
    MethodList.reset();
    ::CloseXML();
    ReleaseArgumentList();
}

void TForm1::CreateControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    HostName = makeLabelledEdit(client, QStringLiteral("HostName"), QStringLiteral("Host Name"),
                                QRect(8, 24, 97, 21));
    HostName->setText(QStringLiteral("localhost"));
    PortNumber = makeLabelledEdit(client, QStringLiteral("PortNumber"),
                                  QStringLiteral("Port Number"), QRect(112, 24, 65, 21));
    PortNumber->setText(QStringLiteral("8080"));
    AccessKey = makeLabelledEdit(client, QStringLiteral("AccessKey"), QStringLiteral("Access Key"),
                                 QRect(184, 24, 97, 21));
    Button1 = makeButton(client, QStringLiteral("Button1"), QStringLiteral("Set"),
                         QRect(288, 24, 33, 25));
    WindowHandle = makeLabelledEdit(client, QStringLiteral("WindowHandle"),
                                    QStringLiteral("Window Handle"), QRect(328, 24, 73, 21));
    WindowHandle->setReadOnly(true);

    Label1 = makeLabel(client, QStringLiteral("Label1"), QStringLiteral("Methods"), 8, 48);
    MethodsComboBox = new QComboBox(client);
    MethodsComboBox->setObjectName(QStringLiteral("MethodsComboBox"));
    MethodsComboBox->setEditable(false); // pick an item; no typing
    MethodsComboBox->setGeometry(8, 64, 313, 21);
    MethodsComboBox->setItemDelegate(new FixedHeightItemDelegate(13, MethodsComboBox));
    ToolKitButton = makeButton(client, QStringLiteral("ToolKitButton"), QStringLiteral("Go"),
                               QRect(327, 62, 35, 25));

    HelpButton = new SpeedButton(glyphs::helpGlyphs(), glyphs::GlyphCount, client);
    HelpButton->setObjectName(QStringLiteral("HelpButton"));
    HelpButton->setGeometry(368, 62, 41, 25);
    HelpButton->setAccessibleName(QStringLiteral("Help"));

    ParamTypeRadioGroup = new RadioGroup(
        QStringLiteral("Parameter Type"),
        {QStringLiteral("Integer"), QStringLiteral("String"), QStringLiteral("Structure")}, 3,
        client);
    ParamTypeRadioGroup->setObjectName(QStringLiteral("ParamTypeRadioGroup"));
    ParamTypeRadioGroup->setGeometry(8, 88, 401, 33);
    for (int i = 0; i < ParamTypeRadioGroup->itemCount(); ++i)
        ParamTypeRadioGroup->item(i)->setObjectName(
            QStringLiteral("ParamTypeRadioGroupItem%1").arg(i));
    ParamTypeRadioGroup->setItemIndex(2);

    Label2 = makeLabel(client, QStringLiteral("Label2"),
                       QStringLiteral("Enter Arguments on Separate Lines"), 8, 128);
    Parameters = makeMemo(client, QStringLiteral("Parameters"), QRect(8, 144, 401, 89));
    Label3 = makeLabel(client, QStringLiteral("Label3"), QStringLiteral("Returns"), 8, 237);
    ResultsList = makeMemo(client, QStringLiteral("ResultsList"), QRect(8, 256, 401, 153));
    ResultsList->setReadOnly(true);
    nameAfter(MethodsComboBox, Label1);
    nameAfter(Parameters, Label2);
    nameAfter(ResultsList, Label3);
    // Nothing to undo in a read-only memo, and keeping undo steps makes
    // large results markedly slower to show.
    ResultsList->setUndoRedoEnabled(false);

    ErrorCode = makeLabelledEdit(client, QStringLiteral("ErrorCode"), QStringLiteral("Error Code"),
                                 QRect(8, 432, 57, 21));
    Message = makeLabelledEdit(client, QStringLiteral("Message"), QStringLiteral("Error Message"),
                               QRect(72, 432, 337, 21));

    PopupScrollBox = new QScrollArea(client);
    PopupScrollBox->setObjectName(QStringLiteral("PopupScrollBox"));
    PopupScrollBox->setGeometry(416, 8, 369, 449);
    PopupScrollBox->setAccessibleName(QStringLiteral("Picture"));
    PopupScrollBox->setFocusPolicy(Qt::StrongFocus);
    QPalette white = PopupScrollBox->palette();
    white.setColor(QPalette::Window, Qt::white);
    PopupScrollBox->setPalette(white);
    PopupScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new ImageView;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 105, 105);
    PopupScrollBox->setWidget(Image1);
    // The scroll area paints its widget's background; the picture's own
    // transparent parts should show the box's white instead.
    Image1->setAutoFillBackground(false);

    // The form's tab order; labels and the help button take no focus.
    QWidget* const order[] = {HostName,
                              PortNumber,
                              MethodsComboBox,
                              ToolKitButton,
                              ParamTypeRadioGroup->item(0),
                              ParamTypeRadioGroup->item(1),
                              ParamTypeRadioGroup->item(2),
                              Parameters,
                              ResultsList,
                              ErrorCode,
                              Message,
                              WindowHandle,
                              PopupScrollBox,
                              AccessKey,
                              Button1};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // Every handler runs inside vcl::RunHandler: an exception must not unwind
    // through Qt's signal code, so it is shown in the error box right here.
    connect(ToolKitButton, &QPushButton::clicked, this,
            [this] { vcl::RunHandler([this] { MethodsComboBoxSelect(ToolKitButton); }); });
    connect(HelpButton, &SpeedButton::clicked, this,
            [this] { vcl::RunHandler([this] { HelpButtonClick(HelpButton); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { vcl::RunHandler([this] { Button1Click(Button1); }); });
}

void TForm1::CreateMenus() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);

    File1 = MainMenu1->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Open1 = makeItem(File1, QStringLiteral("Open1"), QStringLiteral("Launch CW"));
    LaunchCWMinimized1 = makeItem(File1, QStringLiteral("LaunchCWMinimized1"),
                                  QStringLiteral("Launch CW Minimized"));
    LaunchCWHidden1 =
        makeItem(File1, QStringLiteral("LaunchCWHidden1"), QStringLiteral("Launch CW Hidden"));
    LaunchRL = makeItem(File1, QStringLiteral("LaunchRL"), QStringLiteral("Launch RL"));
    LaunchRLMinimized1 = makeItem(File1, QStringLiteral("LaunchRLMinimized1"),
                                  QStringLiteral("Launch RL Minimized"));
    LaunchRLHidden1 =
        makeItem(File1, QStringLiteral("LaunchRLHidden1"), QStringLiteral("Launch RL Hidden"));
    Connect1 = makeItem(File1, QStringLiteral("Connect1"), QStringLiteral("Connect"));
    Exit1 = makeItem(File1, QStringLiteral("Exit1"), QStringLiteral("Exit"));

    XML1 = MainMenu1->addMenu(QStringLiteral("XML"));
    XML1->setObjectName(QStringLiteral("XML1"));
    EnableXMLAccess1 =
        makeItem(XML1, QStringLiteral("EnableXMLAccess1"), QStringLiteral("Enable XML Access"));
    EnableXMLAccess1->setCheckable(true);
    EnableXMLAccess1->setChecked(false);
    GetSentXML1 = makeItem(XML1, QStringLiteral("GetSentXML1"), QStringLiteral("Get Sent XML"));
    GetReceivedXML1 =
        makeItem(XML1, QStringLiteral("GetReceivedXML1"), QStringLiteral("Get Received XML"));

    // Pop-up menus are windows of their own and do not inherit the font.
    File1->setFont(font());
    XML1->setFont(font());

    OpenDialog1.Filter = QStringLiteral("IDC File|*.idc");

    const auto bind = [this](QAction* item, void (TForm1::*handler)(QObject*)) {
        connect(item, &QAction::triggered, this, [this, item, handler] {
            vcl::RunHandler([this, item, handler] { (this->*handler)(item); });
        });
    };
    bind(Open1, &TForm1::Open1Click);
    bind(LaunchCWMinimized1, &TForm1::LaunchCWMinimized1Click);
    bind(LaunchCWHidden1, &TForm1::LaunchCWHidden1Click);
    bind(LaunchRL, &TForm1::LaunchRLClick);
    bind(LaunchRLMinimized1, &TForm1::LaunchRLMinimized1Click);
    bind(LaunchRLHidden1, &TForm1::LaunchRLHidden1Click);
    bind(Connect1, &TForm1::Connect1Click);
    bind(Exit1, &TForm1::Exit1Click);
    bind(GetSentXML1, &TForm1::GetSentXML1Click);
    bind(GetReceivedXML1, &TForm1::GetReceivedXML1Click);
    // Qt flips a checkable item before it reports the click, but the
    // handler flips the mark itself: undo Qt's flip first.
    connect(EnableXMLAccess1, &QAction::triggered, this, [this] {
        EnableXMLAccess1->setChecked(!EnableXMLAccess1->isChecked());
        vcl::RunHandler([this] { EnableXMLAccess1Click(EnableXMLAccess1); });
    });
}

void TForm1::Exit1Click(QObject* /*sender*/) {
    close();
}
