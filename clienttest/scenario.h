// scenario.h - scenario files (.cwt): calls of the catalogue with what they
// are expected to answer, one statement a line. The same model records a
// call (the window's and cwcall's --record), parses and checks a file
// (`cwcall test`) and writes expectations back (--update).
//
// Plain logic on Qt Core: no widgets, no Qt Gui.
#pragma once

#include "methods.h"

#include "cwxmlclient.h"

#include <QByteArray>
#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace scenario {

// ---- Words ----------------------------------------------------------------------

// One statement's word list as `call` writes it: each word quoted so that
// POSIX-shell-like splitting (single quotes, double quotes, backslash, no
// expansion) gives it back. Words must not hold line breaks (an argument
// cannot: see buildArguments).
QString joinWords(const QStringList& words);

// The inverse of joinWords: splits `line` at unquoted blanks (space, tab);
// an unquoted # that starts a word starts a comment to the end of the line.
// Inside single quotes everything is literal; inside double quotes a
// backslash escapes only $ ` " \ ; outside quotes a backslash escapes any
// character. On an unterminated quote or a trailing backslash, returns no
// words and sets *error (when given) to the reason.
QStringList splitWords(QStringView line, QString* error);

// The argument words of a call (Name=Value, one pair a word) as the
// library's argument list, with the checks and messages cwcall gives its
// words. False with the reason in `error` (list untouched) for words given
// to a method that takes none, a word with a line break, a word without
// "=" or with a NUL character.
bool buildArguments(const methods::Entry& entry, const QStringList& words, NameValueList& list,
                    QString& error);

// ---- Recording -------------------------------------------------------------------

// The sha256 (lower-case hex) of a picture's pixels as 8-bit straight RGBA,
// rows top to bottom, no padding; empty for a value that is not a live
// bitmap.
QString pictureSha256(CWBitmap bitmap);

// The lines a recording appends for one completed call (LF-terminated, then
// a blank line): the `call` line with the words as given, then the `expect`
// lines that describe what came back, exactly as --update writes them.
// Reads the picture's pixels from outcome.bitmap (does not delete it).
QString recordedCall(const QString& method, const QStringList& words,
                     const methods::Outcome& outcome);

// The `expect` lines (without "expect " ... they are whole lines, each
// LF-terminated) that describe `outcome`.
QString expectLines(const methods::Outcome& outcome);

// Appends `text` to `path`, creating the file with mode 0600 (rosters hold
// personal data), handing every byte to the system before it returns. False
// with a reason in `error` on failure.
bool appendRecording(const QString& path, const QString& text, QString& error);

// ---- The file --------------------------------------------------------------------

// The largest scenario file read: far above any hand-written or recorded
// one, low enough that a wrong file (a roster dump, a binary) is refused
// before it fills memory.
inline constexpr qsizetype MaxFileBytes = 16 * 1024 * 1024;

// The most lines a file may have: each line is kept for --update, so this
// bounds the memory a file of blank lines takes (about 60 bytes a line).
inline constexpr qsizetype MaxLines = 1'000'000;

using Variables = QHash<QString, QString>;

// An empty pattern shared by every expectation that has none: a default
// QRegularExpression allocates, and a long file has tens of thousands.
const QRegularExpression& noPattern();

// One `expect` line.
struct Expectation {
    enum class Kind {
        EntryEquals,   // NAME = VALUE (both trimmed)
        EntryMatches,  // NAME ~ REGEX (searched in the trimmed value)
        EntryAbsent,   // NAME absent
        Entries,       // entries N
        Accepted,      // accepted
        Boolean,       // true | false
        Compare,       // = != < <= > >= N
        TextEquals,    // text = VALUE
        TextMatches,   // text ~ REGEX
        PictureSize,   // picture W x H
        PictureSha256, // picture sha256 HEX
        AnyError,      // error
        ErrorCode,     // error CODE
        ErrorMatches,  // error ~ REGEX (on the error text)
        Time,          // time < N ms
    };
    enum class Op { Eq, Ne, Lt, Le, Gt, Ge };

    Kind kind = Kind::AnyError;
    int line = 0;
    QString source;         // the statement after "expect ", as written
    QString name;           // entry kinds: the entry's name, trimmed
    QString operand;        // value, pattern, number or digest as written
    bool templated = false; // name or operand holds {{VAR}}: read when checked
    Op op = Op::Eq;
    // Read at parse time when not templated.
    QRegularExpression regex = noPattern();
    int64_t number = 0; // Entries, Compare, ErrorCode; Time in microseconds
    int32_t width = 0, height = 0;
    bool flag = false;
    // Entry kinds: name and trimmed value as UTF-8, for checking the
    // library's list without making text of it.
    QByteArray nameBytes, valueBytes;
    // Templated patterns: the last one built and its compiled form, so that
    // repeated runs with the same values compile it once.
    mutable QString builtPattern;
    mutable std::optional<QRegularExpression> builtRegex;
};

// One `capture` line: VAR = NAME takes a list entry; VAR alone the whole
// value of a number, yes/no or text.
struct Capture {
    int line = 0;
    QString variable;
    QString entry; // empty: the whole value
};

// One `call` line with the statements that follow it.
struct Call {
    int line = 0;
    QString method;
    const methods::Entry* entry = nullptr;
    QStringList words;      // the argument words, before substitution
    bool templated = false; // a word holds {{VAR}}: built when sent
    // The argument list built at parse time when not templated.
    std::shared_ptr<NameValueList> arguments;
    std::vector<Expectation> expectations;
    std::vector<Capture> captures;
};

// A parsed file. Its calls' and expectations' strings may point into
// `text` and `content` rather than hold copies (a long file is mostly
// repeats of a few lines): use a Call only while a Scenario that holds it,
// or a copy of it, is alive.
struct Scenario {
    QString path;
    std::vector<Call> calls;
    // The file as read: what --update keeps byte for byte.
    QByteArray content;
    // The file as text, when all of it is valid UTF-8 without NUL.
    QString text;
};

// The lines of `content`, each with its own line break as read (the last
// may have none).
std::vector<QByteArrayView> linesOf(const QByteArray& content);

// Parses `content`, the bytes of the file at `path`. `given` names the
// variables set with --var (known from the start). Every bad line adds one
// "PATH:LINE: what is wrong" to `errors`; true when there was none.
bool parse(const QString& path, const QByteArray& content, const QStringList& given,
           Scenario& scenario, QStringList& errors);

// Reads and parses the file at `path` (at most MaxFileBytes).
bool parseFile(const QString& path, const QStringList& given, Scenario& scenario,
               QStringList& errors);

// `text` with every {{VAR}} replaced by its value. False with the reason in
// `error` when a variable has no value.
bool substitute(const QString& text, const Variables& variables, QString& result, QString& error);

// The argument list for one sending of `call`: the prebuilt one, or one
// built from the words after substitution (false with the reason).
bool argumentsFor(const Call& call, const Variables& variables, QStringList& words,
                  std::shared_ptr<NameValueList>& list, QString& error);

// What checking one call found.
struct Verdict {
    QStringList failures; // "PATH:LINE: expect ...: what came back", in line order
    QStringList diff;     // list results: the unified diff of expected vs actual lines
    bool passed() const { return failures.isEmpty(); }
};

// Checks every expectation of `call` against `outcome` (which took
// `micros` microseconds), then applies its captures to `variables`. A
// failure without an `error` expectation is a failed check. Reads a
// picture's pixels; does not delete it.
Verdict check(const QString& path, const Call& call, const methods::Outcome& outcome,
              int64_t micros, Variables& variables);

// The unified diff of two line lists (3 lines of context), "--- expected",
// "+++ actual", then the hunks; empty when they are equal.
QStringList unifiedDiff(const QStringList& expected, const QStringList& actual);

// ---- Writing back (--update) ---------------------------------------------------------

// The file's bytes with each call's expect lines (all but `expect time`)
// replaced by `fresh[i]` (expect lines as expectLines writes them) for the
// calls that have one; calls with an empty entry keep theirs. Everything
// else is kept byte for byte. `fresh` has one entry per call.
QByteArray updated(const Scenario& scenario, const std::vector<QString>& fresh);

} // namespace scenario
