// The window as the form lays it out: every control, the menus, the event
// bindings, the catalogue, and the order of teardown.
#include "form_fixture.h"
#include "glyphs.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <array>
#include <functional>

// The test binary links with --wrap=free, so frees made by our own code (the
// argument list's included) pass through here and can be recorded. A fixed
// array: the recorder must not allocate or free itself.
extern "C" void __real_free(void* p);

namespace {
std::array<void*, 1 << 16> gFreed;
size_t gFreedCount = 0;
bool gRecording = false;

void startRecordingFrees() {
    gFreedCount = 0;
    gRecording = true;
}
void stopRecordingFrees() {
    gRecording = false;
}
size_t freedCount() {
    return gFreedCount;
}
bool wasFreedBefore(void* p, size_t count) {
    return std::find(gFreed.begin(), gFreed.begin() + static_cast<std::ptrdiff_t>(count), p) !=
           gFreed.begin() + static_cast<std::ptrdiff_t>(count);
}
bool wasFreed(void* p) {
    return wasFreedBefore(p, gFreedCount);
}
} // namespace

extern "C" void __wrap_free(void* p) {
    if (gRecording && p != nullptr && gFreedCount < gFreed.size())
        gFreed[gFreedCount++] = p;
    __real_free(p);
}

namespace {

// ---- Controls ---------------------------------------------------------------------

struct ControlRow {
    const char* name;
    const char* kind; // Qt class
    QString caption;  // button or label caption, group title; for a labelled edit its label
    QRect bounds;     // in the client area below the menu bar
    int tabOrder;     // -1: takes no focus
    QString text;     // initial text of an edit or memo
    bool readOnly;
};

const std::vector<ControlRow>& controlTable() {
    static const std::vector<ControlRow> rows = {
        {"HostName",
         "QLineEdit",
         QStringLiteral("Host Name"),
         {8, 24, 97, 21},
         0,
         QStringLiteral("localhost"),
         false},
        {"PortNumber",
         "QLineEdit",
         QStringLiteral("Port Number"),
         {112, 24, 65, 21},
         1,
         QStringLiteral("8080"),
         false},
        {"AccessKey",
         "QLineEdit",
         QStringLiteral("Access Key"),
         {184, 24, 97, 21},
         11,
         QString(),
         false},
        {"Button1", "QPushButton", QStringLiteral("Set"), {288, 24, 33, 25}, 12, QString(), false},
        {"WindowHandle",
         "QLineEdit",
         QStringLiteral("Window Handle"),
         {328, 24, 73, 21},
         9,
         QString(),
         true},
        {"Label1", "QLabel", QStringLiteral("Methods"), {8, 48, 41, 13}, -1, QString(), false},
        {"MethodsComboBox", "QComboBox", QString(), {8, 64, 313, 21}, 2, QString(), false},
        {"ToolKitButton",
         "QPushButton",
         QStringLiteral("Go"),
         {327, 62, 35, 25},
         3,
         QString(),
         false},
        {"HelpButton", "SpeedButton", QString(), {368, 62, 41, 25}, -1, QString(), false},
        {"ParamTypeRadioGroup",
         "RadioGroup",
         QStringLiteral("Parameter Type"),
         {8, 88, 401, 33},
         4,
         QString(),
         false},
        {"Label2",
         "QLabel",
         QStringLiteral("Enter Arguments on Separate Lines"),
         {8, 128, 167, 13},
         -1,
         QString(),
         false},
        {"Parameters", "Memo", QString(), {8, 144, 401, 89}, 5, QString(), false},
        {"Label3", "QLabel", QStringLiteral("Returns"), {8, 237, 37, 13}, -1, QString(), false},
        {"ResultsList", "Memo", QString(), {8, 256, 401, 153}, 6, QString(), true},
        {"ErrorCode",
         "QLineEdit",
         QStringLiteral("Error Code"),
         {8, 432, 57, 21},
         7,
         QString(),
         false},
        {"Message",
         "QLineEdit",
         QStringLiteral("Error Message"),
         {72, 432, 337, 21},
         8,
         QString(),
         false},
        {"PopupScrollBox", "QScrollArea", QString(), {416, 8, 369, 449}, 10, QString(), false},
    };
    return rows;
}

const char* className(const QObject* o) {
    return o->metaObject()->className();
}

QString kindOf(QWidget* w) {
    // Our own widgets have no meta-object of their own; name them by type.
    if (dynamic_cast<Memo*>(w))
        return QStringLiteral("Memo");
    if (dynamic_cast<RadioGroup*>(w))
        return QStringLiteral("RadioGroup");
    if (dynamic_cast<SpeedButton*>(w))
        return QStringLiteral("SpeedButton");
    if (dynamic_cast<ImageView*>(w))
        return QStringLiteral("ImageView");
    return QString::fromUtf8(className(w));
}

using Layout = FormTest;

TEST_F(Layout, EveryControlAtItsBoundsWithItsCaptionAndState) {
    QWidget* client = form->clientArea();
    for (const ControlRow& row : controlTable()) {
        SCOPED_TRACE(row.name);
        auto* w = find<QWidget>(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(kindOf(w), QString::fromUtf8(row.kind));
        EXPECT_EQ(w->parentWidget(), client);
        // Labels are as wide as their text; the others sit exactly at their bounds.
        if (qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(w->pos(), row.bounds.topLeft());
            EXPECT_EQ(w->height(), row.bounds.height());
        } else {
            EXPECT_EQ(w->geometry(), row.bounds);
        }
        EXPECT_TRUE(w->isVisible());
        EXPECT_TRUE(w->isEnabled());

        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            auto* label = find<QLabel>(QString::fromUtf8(row.name) + QStringLiteral("Label"));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), row.caption);
            EXPECT_EQ(label->x(), row.bounds.left());
            EXPECT_EQ(label->geometry().bottom() + 1 + 3, row.bounds.top())
                << "3 px above the edit";
            EXPECT_EQ(edit->isReadOnly(), row.readOnly);
            if (QString::fromUtf8(row.name) != QStringLiteral("WindowHandle")) {
                EXPECT_EQ(edit->text(), row.text);
            }
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), row.caption);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(button->text(), row.caption);
        } else if (auto* group = dynamic_cast<RadioGroup*>(w)) {
            EXPECT_EQ(group->title(), row.caption);
        } else if (auto* memo = dynamic_cast<Memo*>(w)) {
            EXPECT_TRUE(memo->lines().isEmpty());
            EXPECT_EQ(memo->isReadOnly(), row.readOnly);
            EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        }
        if (row.tabOrder < 0) {
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
        } else if (!dynamic_cast<RadioGroup*>(w)) {
            EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus);
        }
    }
}

TEST_F(Layout, TabOrderFollowsTheForm) {
    // The expected chain: controls with a tab order, by that order.
    std::vector<const ControlRow*> rows;
    for (const ControlRow& row : controlTable())
        if (row.tabOrder >= 0)
            rows.push_back(&row);
    std::sort(rows.begin(), rows.end(), [](auto a, auto b) { return a->tabOrder < b->tabOrder; });
    QStringList expected;
    for (const ControlRow* row : rows)
        expected.append(QString::fromUtf8(row->name));

    // Walk Qt's focus chain once round from HostName; the radio items stand
    // for their group.
    QStringList chain;
    QWidget* start = find<QWidget>("HostName");
    QWidget* w = start;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(form.get())) {
            QString name = w->objectName();
            if (name.startsWith(QStringLiteral("ParamTypeRadioGroupItem")))
                name = QStringLiteral("ParamTypeRadioGroup");
            if (!name.isEmpty() && (chain.isEmpty() || chain.back() != name))
                chain.append(name);
        }
        w = w->nextInFocusChain();
    } while (w != start);
    chain.removeAll(QStringLiteral("qt_scrollarea_viewport"));
    EXPECT_EQ(chain, expected);

    // The Tab key itself, once round: the memos pass it on rather than type
    // it, and the radio group is one stop entered at its checked item.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    start->setFocus();
    QStringList pressed;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QString name = focused->objectName();
        if (name == QStringLiteral("ParamTypeRadioGroupItem2"))
            name = QStringLiteral("ParamTypeRadioGroup");
        pressed.append(name);
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(pressed, expected);
    EXPECT_EQ(QApplication::focusWidget(), start) << "round again";
    EXPECT_TRUE(parameters()->toPlainText().isEmpty()) << "no tab typed into the memo";
}

TEST_F(Layout, ScreenReadersHearEachControlsCaption) {
    const std::vector<std::pair<const char*, QString>> names = {
        {"HostName", QStringLiteral("Host Name")},
        {"PortNumber", QStringLiteral("Port Number")},
        {"AccessKey", QStringLiteral("Access Key")},
        {"WindowHandle", QStringLiteral("Window Handle")},
        {"MethodsComboBox", QStringLiteral("Methods")},
        {"ToolKitButton", QStringLiteral("Go")},
        {"HelpButton", QStringLiteral("Help")},
        {"ParamTypeRadioGroup", QStringLiteral("Parameter Type")},
        {"Parameters", QStringLiteral("Enter Arguments on Separate Lines")},
        {"ResultsList", QStringLiteral("Returns")},
        {"ErrorCode", QStringLiteral("Error Code")},
        {"Message", QStringLiteral("Error Message")},
        {"PopupScrollBox", QStringLiteral("Picture")},
        {"Button1", QStringLiteral("Set")},
    };
    for (const auto& [name, expected] : names) {
        SCOPED_TRACE(name);
        auto* w = find<QWidget>(name);
        ASSERT_NE(w, nullptr);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), expected);
    }
}

TEST_F(Layout, InitialState) {
    auto* combo = find<QComboBox>("MethodsComboBox");
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->currentText(), QString());
    combo->addItem(QStringLiteral("GetCount"));
    EXPECT_EQ(combo->view()->sizeHintForRow(0), 13) << "item height";
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_TRUE(calls().empty()) << "choosing runs nothing";
    combo->clear();

    RadioGroup* group = paramType();
    ASSERT_EQ(group->itemCount(), 3);
    const QStringList items{QStringLiteral("Integer"), QStringLiteral("String"),
                            QStringLiteral("Structure")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(group->item(i)->text(), items[i]);
        EXPECT_EQ(group->item(i)->objectName(), QStringLiteral("ParamTypeRadioGroupItem%1").arg(i));
    }
    EXPECT_EQ(group->ItemIndex(), 2);
    // Three columns: one row, left to right.
    EXPECT_EQ(group->item(0)->y(), group->item(2)->y());
    EXPECT_LT(group->item(0)->x(), group->item(1)->x());
    EXPECT_LT(group->item(1)->x(), group->item(2)->x());
    group->setItemIndex(-1);
    EXPECT_EQ(group->ItemIndex(), -1);
    group->item(0)->click();
    EXPECT_EQ(group->ItemIndex(), 0);

    auto* handle = find<QLineEdit>("WindowHandle");
    EXPECT_EQ(handle->text(), QString::number(static_cast<qint64>(form->winId())));
    bool ok = false;
    handle->text().toLongLong(&ok);
    EXPECT_TRUE(ok);

    auto* box = find<QScrollArea>("PopupScrollBox");
    auto* image = find<ImageView>("Image1");
    EXPECT_EQ(box->widget(), image);
    EXPECT_EQ(image->geometry(), QRect(0, 0, 105, 105));
    EXPECT_FALSE(image->hasPicture());
    EXPECT_EQ(box->viewport()->palette().color(box->viewport()->backgroundRole()),
              QColor(Qt::white));

    auto* help = find<SpeedButton>("HelpButton");
    EXPECT_TRUE(help->autoRaise());
    EXPECT_TRUE(help->text().isEmpty());

    // Nothing calls the library at start-up.
    EXPECT_TRUE(calls().empty());
}

TEST_F(Layout, WindowCaptionSizeFontAndColours) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Cardwright XML RPC Test Client"));
    EXPECT_EQ(form->clientArea()->size(), QSize(792, 460));
    EXPECT_EQ(form->clientArea()->y(), form->menuBar()->geometry().bottom() + 1);
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_EQ(form->font().styleHint(), QFont::SansSerif);
    const QPalette& p = form->clientArea()->palette();
    EXPECT_EQ(p.color(QPalette::Window), p.color(QPalette::Button));
    EXPECT_TRUE(form->clientArea()->autoFillBackground());
    EXPECT_FALSE(form->windowIcon().isNull());
}

TEST_F(Layout, HelpGlyphsAndTheirStates) {
    const QImage strip = glyphs::helpGlyphs();
    EXPECT_EQ(strip.size(), QSize(240, 40));
    EXPECT_EQ(strip.depth(), 24);
    // Up and clicked show a blue mark on a light-blue tile; the other two are blank.
    const auto colours = [&](int index) {
        QSet<QRgb> seen;
        const QImage g = glyphs::glyph(strip, index);
        for (int y = 0; y < g.height(); ++y)
            for (int x = 0; x < g.width(); ++x)
                seen.insert(g.pixel(x, y));
        return seen;
    };
    const auto hasBlue = [](const QSet<QRgb>& seen) {
        for (QRgb c : seen)
            if (qBlue(c) > 150 && qRed(c) < 80)
                return true;
        return false;
    };
    EXPECT_TRUE(hasBlue(colours(0)));
    EXPECT_TRUE(hasBlue(colours(2)));
    EXPECT_EQ(colours(1).size(), 1);
    EXPECT_EQ(colours(3).size(), 1);

    struct {
        bool enabled, pressed, checked;
        SpeedButton::GlyphState state;
    } const rows[] = {{true, false, false, SpeedButton::Up},
                      {false, false, false, SpeedButton::Disabled},
                      {false, true, true, SpeedButton::Disabled},
                      {true, true, false, SpeedButton::Clicked},
                      {true, false, true, SpeedButton::Down}};
    for (const auto& r : rows)
        EXPECT_EQ(SpeedButton::glyphState(r.enabled, r.pressed, r.checked), r.state);
    EXPECT_EQ(find<SpeedButton>("HelpButton")->currentGlyphState(), SpeedButton::Up);
}

// ---- Menus -----------------------------------------------------------------------

TEST_F(Layout, MenusAsTheFormHasThem) {
    struct Item {
        const char* name;
        QString caption;
    };
    struct MenuRow {
        const char* name;
        QString title;
        std::vector<Item> items;
    };
    const std::vector<MenuRow> menus = {
        {"File1",
         QStringLiteral("File"),
         {{"Open1", QStringLiteral("Launch CW")},
          {"LaunchCWMinimized1", QStringLiteral("Launch CW Minimized")},
          {"LaunchCWHidden1", QStringLiteral("Launch CW Hidden")},
          {"LaunchRL", QStringLiteral("Launch RL")},
          {"LaunchRLMinimized1", QStringLiteral("Launch RL Minimized")},
          {"LaunchRLHidden1", QStringLiteral("Launch RL Hidden")},
          {"Connect1", QStringLiteral("Connect")},
          {"Exit1", QStringLiteral("Exit")}}},
        {"XML1",
         QStringLiteral("XML"),
         {{"EnableXMLAccess1", QStringLiteral("Enable XML Access")},
          {"GetSentXML1", QStringLiteral("Get Sent XML")},
          {"GetReceivedXML1", QStringLiteral("Get Received XML")}}},
    };
    auto* bar = find<QMenuBar>("MainMenu1");
    ASSERT_EQ(bar->actions().size(), 2);
    for (size_t m = 0; m < menus.size(); ++m) {
        SCOPED_TRACE(menus[m].name);
        auto* menu = find<QMenu>(menus[m].name);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(bar->actions().at(static_cast<qsizetype>(m)), menu->menuAction());
        EXPECT_EQ(menu->title(), menus[m].title);
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), static_cast<qsizetype>(menus[m].items.size())) << "no separators";
        for (size_t i = 0; i < menus[m].items.size(); ++i) {
            QAction* a = actions.at(static_cast<qsizetype>(i));
            EXPECT_EQ(a->objectName(), QString::fromUtf8(menus[m].items[i].name));
            EXPECT_EQ(a->text(), menus[m].items[i].caption);
            EXPECT_TRUE(a->shortcut().isEmpty());
            EXPECT_FALSE(a->isChecked());
            EXPECT_TRUE(a->isEnabled());
            EXPECT_EQ(a->isCheckable(), a->objectName() == QStringLiteral("EnableXMLAccess1"));
        }
    }
}

// Each menu item, button and the help button runs its own handler; what the
// handler then does is its own tests' business, so each is known here by the
// first trace it leaves.
TEST_F(Layout, EveryEventIsBoundToItsHandler) {
    ui.fileAnswers.clear(); // launch dialogs are cancelled
    const auto trigger = [&](const char* name) { find<QAction>(name)->trigger(); };
    for (const char* launch : {"Open1", "LaunchCWMinimized1", "LaunchCWHidden1", "LaunchRL",
                               "LaunchRLMinimized1", "LaunchRLHidden1"}) {
        const size_t before = ui.dialogFilters.size();
        trigger(launch);
        EXPECT_EQ(ui.dialogFilters.size(), before + 1) << launch;
    }
    EXPECT_TRUE(calls().empty());

    fake::pushList("GetMethods", {{"0", "GetCount"}});
    trigger("Connect1");
    EXPECT_EQ(calls().front(), "SetXMLPort");

    fake::reset();
    trigger("EnableXMLAccess1");
    EXPECT_TRUE(find<QAction>("EnableXMLAccess1")->isChecked());
    ASSERT_EQ(fake::calls().size(), 1u);
    EXPECT_EQ(fake::calls()[0].function, "EnableXMLAccess");
    EXPECT_EQ(fake::calls()[0].number, 1);
    trigger("EnableXMLAccess1");
    EXPECT_FALSE(find<QAction>("EnableXMLAccess1")->isChecked());
    EXPECT_EQ(fake::calls().back().number, 0);

    fake::reset();
    trigger("GetSentXML1");
    trigger("GetReceivedXML1");
    find<QLineEdit>("AccessKey")->setText(QStringLiteral("key"));
    find<QPushButton>("Button1")->click();
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"GetSentXML", "GetReceivedXML", "SetXMLAccessKey"}));

    fake::reset();
    listMethods({QStringLiteral("Close")});
    find<SpeedButton>("HelpButton")->click();
    EXPECT_EQ(calls().front(), "GetMethodProtoType");

    fake::reset();
    fake::pushByte("Close", 1);
    find<QPushButton>("ToolKitButton")->click();
    EXPECT_EQ(calls(), std::vector<std::string>{"Close"});

    // Enter on a focused button clicks it, as Space does.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    for (const auto& [button, call] :
         {std::pair{"ToolKitButton", "Close"}, std::pair{"Button1", "SetXMLAccessKey"}}) {
        fake::reset();
        find<QPushButton>(button)->setFocus();
        QTest::keyClick(find<QPushButton>(button), Qt::Key_Return);
        ASSERT_FALSE(calls().empty()) << button;
        EXPECT_EQ(calls().front(), call);
    }

    // Choosing an item in the list runs nothing by itself.
    fake::reset();
    listMethods({QStringLiteral("Close"), QStringLiteral("Next")});
    find<QComboBox>("MethodsComboBox")->setCurrentIndex(1);
    EXPECT_TRUE(calls().empty());

    trigger("Exit1");
    EXPECT_FALSE(form->isVisible());
}

// ---- Catalogue ---------------------------------------------------------------------

const std::vector<std::string> kCatalogue = {"GetErrorMessage",
                                             "IsBusy",
                                             "GetLastCommandError",
                                             "GetFeatures",
                                             "GetProgramInfo",
                                             "GetRecord",
                                             "GetCurrent",
                                             "GetCount",
                                             "GetFields",
                                             "GetTemplates",
                                             "GetStatus",
                                             "GetToolbarStatus",
                                             "GetCWHandle",
                                             "GetEditCount",
                                             "GetUserData",
                                             "GetBadgeImage",
                                             "GetPhotoImage",
                                             "GetSignatureImage",
                                             "GetFingerprintImage",
                                             "Open",
                                             "Close",
                                             "First",
                                             "Next",
                                             "Previous",
                                             "Last",
                                             "Select",
                                             "Delete",
                                             "Revise",
                                             "Add",
                                             "Update",
                                             "Exit",
                                             "Startlog",
                                             "Stoplog",
                                             "Restore",
                                             "Focus",
                                             "Video",
                                             "Print",
                                             "Twain",
                                             "Signature",
                                             "Bitmap",
                                             "Preview",
                                             "ServerMode",
                                             "Goto",
                                             "Edit",
                                             "CreateTemplate",
                                             "ReviseTemplate",
                                             "ManageTemplates",
                                             "ReviseAssignments",
                                             "Fingerprint",
                                             "Template",
                                             "ReviseUserData",
                                             "FlipBadge",
                                             "RosterLinkConfig",
                                             "RosterLink"};

using Catalogue = FormTest;

TEST_F(Catalogue, FiftyFourEntriesInOrder) {
    const MethodCatalogue* list = form->methodList();
    ASSERT_NE(list, nullptr);
    std::vector<std::string> names;
    for (const auto& entry : *list) {
        names.push_back(entry->Name);
        EXPECT_TRUE(static_cast<bool>(entry->Handler)) << entry->Name;
    }
    EXPECT_EQ(names, kCatalogue);
}

// "Go" on each catalogue name runs the handler that calls the library
// function of that very name, and nothing else of the library first.
TEST_F(Catalogue, GoRunsTheHandlerOfTheSelectedName) {
    for (const std::string& name : kCatalogue) {
        fake::reset();
        go(name.c_str());
        const auto made = calls();
        ASSERT_FALSE(made.empty()) << name;
        EXPECT_EQ(made.front(), name);
        EXPECT_EQ(fake::callCount(name), 1) << name;
    }
}

TEST_F(Catalogue, GoDoesNothingForOtherNames) {
    for (const QString& text :
         {QStringLiteral("getcount"), QStringLiteral("GETCOUNT"), QStringLiteral("GetCount "),
          QStringLiteral("NotAMethod"), QStringLiteral("system.listMethods"), QString()}) {
        fake::reset();
        fillOutputs();
        go(text);
        EXPECT_TRUE(calls().empty()) << text.toStdString();
        EXPECT_EQ(errorCode()->text(), QStringLiteral("old code"));
        EXPECT_EQ(message()->text(), QStringLiteral("old message"));
        EXPECT_EQ(results()->lines(), QStringList{QStringLiteral("old line")});
        EXPECT_TRUE(ui.messages.empty());
    }
    // Nothing listed, nothing selected (as before any connection).
    listMethods({});
    find<QPushButton>("ToolKitButton")->click();
    EXPECT_TRUE(calls().empty());
}

// ---- Teardown --------------------------------------------------------------------------

TEST_F(Catalogue, TeardownClosesTheLibraryOnceBetweenCatalogueAndArgumentList) {
    parameters()->setPlainText(QStringLiteral("A=1\nB=2\nC="));
    fake::pushByte("Open", 1);
    go("Open");
    const NameValueList list = form->argumentList();
    ASSERT_EQ(list.count, 3);
    std::vector<void*> owned = {list.names, list.values};
    for (int i = 0; i < list.count; ++i) {
        owned.push_back(list.names[i]);
        owned.push_back(list.values[i]);
    }

    bool catalogueGone = false;
    bool controlsAlive = false;
    size_t freedAtClose = 0;
    fake::reset();
    TForm1* raw = form.get();
    fake::setOnCall([&](const std::string& function) {
        if (function == "CloseXML") {
            catalogueGone = raw->methodList() == nullptr;
            controlsAlive = raw->findChild<Memo*>(QStringLiteral("ResultsList")) != nullptr;
            freedAtClose = freedCount();
        }
    });
    find<QAction>("Exit1")->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(fake::callCount("CloseXML"), 0) << "closing alone does not tear down";

    startRecordingFrees();
    form.reset();
    stopRecordingFrees();
    fake::setOnCall({});

    EXPECT_EQ(calls(), std::vector<std::string>{"CloseXML"});
    EXPECT_TRUE(catalogueGone);
    EXPECT_TRUE(controlsAlive) << "the controls go after CloseXML";
    for (void* p : owned) {
        EXPECT_TRUE(wasFreed(p)) << "argument list block " << p << " not freed";
        EXPECT_FALSE(wasFreedBefore(p, freedAtClose)) << "freed before CloseXML";
    }
}

TEST_F(Catalogue, TeardownWithoutAnyUseStillClosesOnce) {
    form.reset();
    EXPECT_EQ(calls(), std::vector<std::string>{"CloseXML"});
}

} // namespace
