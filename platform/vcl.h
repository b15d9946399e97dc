// vcl.h - the few routines of the desktop framework whose exact behaviour the
// test client relies on, on top of Qt: text routines, the message-bearing
// exception, modal boxes, the file-open dialog and the blocking sleep.
//
// The boxes, the dialog and the sleep go through a replaceable `Ui` object so
// that tests can answer or record them instead of blocking.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <exception>
#include <optional>
#include <utility>

class QWidget;

namespace vcl {

// The framework's message-bearing exception. Handlers raise it for argument
// errors; whatever escapes an event handler is shown in the error box.
class Exception {
public:
    explicit Exception(QString message) : Message(std::move(message)) {}
    virtual ~Exception() = default;
    QString Message;
};

// Raised by StrToInt for text that is not an integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Removes every leading and trailing character whose code is 32 or less.
// Answers a view into `s`.
QStringView Trim(QStringView s);

// 1-based position of the first occurrence of `sub` in `s`; 0 when absent
// (and for an empty `sub`).
int AnsiPos(QStringView sub, QStringView s);

// Strict conversion to a signed 32-bit integer. Accepted, and nothing else:
//   [blanks] [+|-] digits [blanks]
// where blanks are spaces and tabs, and digits are either ASCII decimal
// digits ("8080", "-12", " +7 ") or a hexadecimal form "$" or "0x"/"0X"
// followed by ASCII hex digits of either case ("$1F", "-0x10"). The signed
// value must lie in -2147483648..2147483647 ("$FFFFFFFF" is out of range).
// Anything else (empty or blank text, a lone sign or prefix, blanks inside,
// other characters, other scripts' digits) raises EConvertError with the
// message "'TEXT' is not a valid integer value", TEXT being `s` as given.
int32_t StrToInt(const QString& s);

// Splits `content` into `strings` (appending). Every CR and every LF ends a
// string, as does every character of `separators`; characters of
// `whitespace` (and CR, LF) at the start of a string are skipped; a string
// keeps its trailing white space. Empty strings are not produced, so blank
// lines vanish and CR LF splits like a single LF. Quote characters are
// ordinary characters: an apostrophe in a help text must not swallow the
// line breaks that follow it. Returns the number of strings appended.
int ExtractStrings(const QString& separators, const QString& whitespace, const QString& content,
                   QStringList& strings);

// Turns the framework's file-dialog filter ("Description|pattern;pattern|...")
// into Qt's name-filter form ("Description (pattern pattern);;..."), e.g.
// "IDC File|*.idc" -> "IDC File (*.idc)". A description without a pattern
// gets "*"; empty text gives empty text (all files).
QString DialogFilter(const QString& filter);

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

inline void ShowMessage(const QString& text) { ui().showMessage(text); }
inline void Sleep(uint32_t milliseconds) { ui().sleep(milliseconds); }

// Shows an escaped exception the way the framework does: the error box with
// the message of an Exception or of a std::exception, and "" for anything else.
void ShowHandlerException(std::exception_ptr error);

// Runs an event handler as the framework does: an exception that escapes it
// is shown in the error box and the program goes on. Bind handlers through
// this: an exception leaving a slot unwinds Qt's own frames, which Qt does not
// support (it leaks, and may leave a widget half-way through an update), so
// it is stopped here first. Application::notify remains the backstop.
template <typename Handler>
void RunHandler(Handler&& handler)
{
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
