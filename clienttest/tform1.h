// tform1.h - the test client's main window.
//
// One window, TForm1 (single instance Form1), owns every control, the method
// catalogue and the argument list. Its handlers are spread over files named
// for what they do: catalogue and dispatch, arguments, handlers, pictures,
// help (the workbench), connection, launch and XML traffic.
#pragma once

#include "cwxmlclient.h"
#include "method.h"
#include "methods.h"
#include "widgets.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollArea;

// The file-open dialog's settings; the dialog itself is shown through the
// platform layer (vcl::ui().openFile) so that tests can answer it.
struct OpenDialog {
    QString Filter;   // the framework's form: "IDC File|*.idc"
    QString FileName; // the last chosen full path
    // Shows the dialog modally; false when the user cancelled.
    bool Execute(QWidget* parent);
};

// The form was laid out as 800 x 506 outside its frame on the framework's
// classic metrics (4-pixel borders, 19-pixel caption and menu bar), which
// leaves a client area of 792 x 460 below the menu bar. Qt sizes a window
// without its frame (that is the window manager's), so the window is that
// client area plus Qt's own menu bar; every control sits at its form
// position in the client area.
class TForm1 : public QMainWindow {
  public:
    static constexpr int ClientWidth = 792;
    static constexpr int ClientHeight = 460;

    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    // Controls, named as the form lays them out. A labelled edit is a
    // QLineEdit whose label (objectName NAME + "Label") sits 3 px above it.
    QLineEdit* ErrorCode = nullptr;
    QLineEdit* Message = nullptr;
    Memo* Parameters = nullptr;
    QComboBox* MethodsComboBox = nullptr;
    Memo* ResultsList = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* ToolKitButton = nullptr;
    QLabel* Label1 = nullptr;
    SpeedButton* HelpButton = nullptr;
    RadioGroup* ParamTypeRadioGroup = nullptr;
    QLineEdit* HostName = nullptr;
    QLineEdit* PortNumber = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Exit1 = nullptr;
    OpenDialog OpenDialog1;
    QAction* Connect1 = nullptr;
    QLineEdit* WindowHandle = nullptr;
    QScrollArea* PopupScrollBox = nullptr;
    ImageView* Image1 = nullptr;
    QLineEdit* AccessKey = nullptr;
    QPushButton* Button1 = nullptr;
    QMenu* XML1 = nullptr;
    QAction* GetSentXML1 = nullptr;
    QAction* GetReceivedXML1 = nullptr;
    QAction* EnableXMLAccess1 = nullptr;
    QAction* LaunchCWMinimized1 = nullptr;
    QAction* LaunchCWHidden1 = nullptr;
    QAction* LaunchRL = nullptr;
    QAction* LaunchRLMinimized1 = nullptr;
    QAction* LaunchRLHidden1 = nullptr;

    // The window's event handlers. The sender is never used.
    void MethodsComboBoxSelect(QObject* sender); // "Go"
    void HelpButtonClick(QObject* sender);
    void Button1Click(QObject* sender); // "Set" (access key)
    void Open1Click(QObject* sender);
    void LaunchCWMinimized1Click(QObject* sender);
    void LaunchCWHidden1Click(QObject* sender);
    void LaunchRLClick(QObject* sender);
    void LaunchRLMinimized1Click(QObject* sender);
    void LaunchRLHidden1Click(QObject* sender);
    void Connect1Click(QObject* sender);
    void Exit1Click(QObject* sender);
    void EnableXMLAccess1Click(QObject* sender);
    void GetSentXML1Click(QObject* sender);
    void GetReceivedXML1Click(QObject* sender);

    // Read-only views for tests and the shell.
    const NameValueList& argumentList() const { return FArgs; }
    const NameValueList* remoteMethods() const { return RemoteMethods; }
    const MethodCatalogue* methodList() const { return MethodList.get(); }
    QWidget* clientArea() const { return centralWidget(); }

  private:
    // Tests and benchmarks reach the private operations through this.
    friend struct TForm1Access;

    // Shared presentation of library results.
    void ShowError(int32_t code, const QString& text);
    void ShowLastError();
    void ShowListResult(const NameValueList* list, bool clearResults);

    // The argument list.
    void BuildArgumentList();
    void ReleaseArgumentList();

    // Catalogue and dispatch.
    void InvokeMethod(const QString& name);

    // Launch: the six menu items differ only in function and show mode.
    using LaunchFunction = unsigned char (*)(const char*, int32_t);
    void LaunchApplication(LaunchFunction launch, int32_t showMode);

    // Replaces ResultsList with a text, one memo line per line (CR, LF, CR LF).
    void ShowXMLText(const char* text);

    void CreateControls();
    void CreateMenus();
    void CreateCatalogue();

    NameValueList FArgs{0, nullptr, nullptr};     // the argument list
    const NameValueList* RemoteMethods = nullptr; // last GetMethods result; never freed here
    std::unique_ptr<MethodCatalogue> MethodList;

    // ---- The workbench (handlers.cpp, pictures.cpp): every method of the
    // catalogue runs through RunMethod, by its family.
    void ClearOutputs();
    void AppendResult(const QString& lines);
    // Families without arguments call first and clear the outputs afterwards;
    // the others clear first, check the parameter type and rebuild the
    // argument list, so a refused argument (a message box) leaves them empty.
    void RunMethod(const methods::Entry& entry);
    void ShowOutcome(const methods::Outcome& outcome);
    void ShowPicture(CWBitmap bitmap);
};

extern TForm1* Form1;
