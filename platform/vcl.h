// vcl.h - the UI seam of the desktop framework on Qt Widgets: modal boxes,
// the file-open dialog, the blocking sleep and the application object. The
// text routines (vcl_text.h) come with it.
//
// The boxes, the dialog and the sleep go through a replaceable `Ui` object so
// that tests can answer or record them instead of blocking.
#pragma once

#include "vcl_text.h"

#include <QApplication>
#include <QString>

#include <cstdint>
#include <exception>
#include <optional>
#include <utility>

class QWidget;

namespace vcl {

// What the framework shows or waits for. The default shows real modal boxes
// and really sleeps; tests install their own.
class Ui {
  public:
    virtual ~Ui() = default;
    // Modal box with the text and an OK button.
    virtual void showMessage(const QString& text);
    // The framework's error box for an exception that escaped a handler.
    virtual void showError(const QString& text);
    // The file-open dialog: the chosen full path, or nothing when cancelled.
    // `filter` is a Qt name filter such as "IDC File (*.idc)".
    virtual std::optional<QString> openFile(QWidget* parent, const QString& filter);
    // Blocks the calling (GUI) thread; processes no input.
    virtual void sleep(uint32_t milliseconds);
};

// The Ui in force (the default until replaced). setUi(nullptr) restores the
// default. The caller keeps ownership of what it installs.
Ui& ui();
void setUi(Ui* replacement);

inline void ShowMessage(const QString& text) {
    ui().showMessage(text);
}
inline void Sleep(uint32_t milliseconds) {
    ui().sleep(milliseconds);
}

// Shows an escaped exception the way the framework does: the error box with
// the message of an Exception or of a std::exception, and "" for anything else.
void ShowHandlerException(std::exception_ptr error);

// Runs an event handler as the framework does: an exception that escapes it
// is shown in the error box and the program goes on. Bind handlers through
// this: an exception leaving a slot unwinds Qt's own frames, which Qt does not
// support (it leaks, and may leave a widget half-way through an update), so
// it is stopped here first. Application::notify remains the backstop.
template <typename Handler> void RunHandler(Handler&& handler) {
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        ShowHandlerException(std::current_exception());
    }
}

// The application object: like the framework's, an exception that escapes an
// event handler is shown in the error box and the program goes on.
class Application : public QApplication {
  public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    // Shows the message of an exception that escaped start-up or the loop.
    void ShowException(const QString& message);
};

} // namespace vcl
