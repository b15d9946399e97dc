// command_line.h - cwcall's options and arguments, read from the command line
// without touching the library.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

namespace cwcall {

// A usage error: the one-line reason (exit status 2).
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const QString& reason)
        : std::runtime_error(reason.toStdString()), Reason(reason) {}
    QString Reason;
};

// Where Cardwright is, as both command lines (a call and `cwcall test`) take it.
struct Connection {
    QString host = QStringLiteral("localhost");
    int32_t port = 8080;
    QString key;      // none when empty, as in the window
    int32_t wait = 0; // GetMethods attempts before the first call
};

struct Options : Connection {
    enum class Mode { Call, List, HelpMethod, Help, Version };
    Mode mode = Mode::Call;
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

// The longest --wait: an hour of one-second attempts.
inline constexpr int32_t MaxWait = 3600;

// A command-line word as text. Words are UTF-8; a byte that is not would
// reach the application as a replacement character, so it is refused
// instead (UsageError).
QString decodeWord(const char* word);

// `value` of `option` as a whole number from `lowest` to `highest`, or a
// UsageError that names the option.
int32_t integerOption(const QString& option, const QString& value, int32_t lowest, int32_t highest);

// The --port value: the window's check alone (the library judges the range).
int32_t portOption(const QString& value);

class OptionReader;

// Takes the option `options` is at into `c` when it is --host, --port, --key
// or --wait; false for any other.
bool connectionOption(OptionReader& options, Connection& c);

// Walks command-line words: options ("--name VALUE", "--name=VALUE", flags)
// anywhere before "--", the words that are not options in order, and every
// word after "--" as such a word.
class OptionReader {
  public:
    explicit OptionReader(QStringList words) : words_(std::move(words)) {}

    // Moves to the next option, adding the words passed on the way to
    // `positional`. False when the words are used up.
    bool next(QStringList& positional);
    // The option's name, without an "=VALUE" it came with.
    const QString& name() const { return name_; }
    // Takes the option's value: the part after "=", or the next word.
    // Raises UsageError when there is none.
    QString value();
    // Raises UsageError when the option came with "=VALUE".
    void noValue() const;
    // value(), which must not be empty (a file name).
    QString fileValue();

  private:
    QStringList words_;
    qsizetype at_ = 0;
    QString name_;
    std::optional<QString> value_;
};

// The --help text and the hint that follows a usage error.
QString usageText();
QString usageHint();

} // namespace cwcall
