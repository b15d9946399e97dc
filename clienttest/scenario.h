// scenario.h - scenario files (.cwt): calls of the catalogue with what they
// are expected to answer, one statement a line. The same model records a
// call (the window's and cwcall's --record), parses and checks a file
// (`cwcall test`) and writes expectations back (--update).
//
// Plain logic on Qt Core: no widgets, no Qt Gui.
#pragma once

#include "methods.h"

#include "cwxmlclient.h"

#include <QString>
#include <QStringList>
#include <QStringView>

namespace scenario {

// ---- Words ----------------------------------------------------------------------

// One statement's word list as `call` writes it: each word quoted so that
// POSIX-shell-like splitting (single quotes, double quotes, backslash, no
// expansion) gives it back. Words must not hold line breaks (an argument
// cannot: see buildArguments).
QString joinWords(const QStringList& words);

// The inverse of joinWords: splits `line` at unquoted blanks (space, tab).
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

} // namespace scenario
