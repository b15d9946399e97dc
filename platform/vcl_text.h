// vcl_text.h - the framework's text routines the client relies on, on Qt
// Core alone: the message-bearing exception, Trim, AnsiPos, StrToInt,
// ExtractStrings and the dialog-filter conversion. No widgets, so the
// command-line tools can link them without a display.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <utility>

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

} // namespace vcl
