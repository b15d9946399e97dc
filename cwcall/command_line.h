// command_line.h - cwcall's options and arguments, read from the command line
// without touching the library.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace cwcall {

// A usage error: the one-line reason (exit status 2).
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const QString& reason)
        : std::runtime_error(reason.toStdString()), Reason(reason) {}
    QString Reason;
};

struct Options {
    enum class Mode { Call, List, HelpMethod, Help, Version };
    Mode mode = Mode::Call;
    QString host = QStringLiteral("localhost");
    int32_t port = 8080;
    QString key;      // none when empty, as in the window
    int32_t wait = 0; // GetMethods attempts before the call
    bool json = false;
    bool xml = false;
    std::optional<QString> out;    // picture file
    std::optional<QString> field;  // list methods: print only this entry's value
    std::optional<QString> record; // scenario file the call is appended to
    QString method;                // Call and HelpMethod
    QStringList arguments;         // Name=Value words, as given
};

// Reads argv[1..]. Raises UsageError for an unknown option, a missing or
// malformed option value, a word that is not UTF-8, or a missing method.
// Options may come anywhere before "--"; every word after it is an argument.
Options parseCommandLine(int argc, char** argv);

// The --help text and the hint that follows a usage error.
QString usageText();
QString usageHint();

} // namespace cwcall
