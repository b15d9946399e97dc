// argument_list.h - turning the text of the argument memo into the
// name/value list the client library takes, and releasing it again.
//
// Plain logic: the window hands over the memo's text.
#pragma once

#include "cwxmlclient.h"

#include <QString>
#include <QStringView>

#include <vector>

namespace arguments {

// The texts of the argument errors, shown in a message box as they stand.
QString structureMustBeSelected();
QString invalidStructureFormat();
QString nulCharacterInLine(int lineNumber);

// Longest value, in UTF-16 code units, taken after the "=" before trimming.
inline constexpr qsizetype MaxValueLength = 999;

// One parsed line: views into the parsed text, which must outlive them.
struct Argument {
    QStringView name;  // trimmed
    QStringView value; // cut to MaxValueLength, then trimmed
};

// Parses the memo's text, one Name=Value pair a line, skipping blank lines.
// Lines end at LF and at the memo's paragraph and line separators (U+2029,
// U+2028). Raises vcl::Exception on a non-blank line without "=", or on a
// NUL character (which a C string cannot carry) in a name or value.
std::vector<Argument> parse(QStringView text);

// Frees every name and value of `list`, then its arrays when count > 0, and
// leaves count 0 with both arrays null.
void release(NameValueList& list);

// Replaces the content of `list` with `entries` as UTF-8: malloc'ed arrays
// of `count` pointer slots, each string a strdup copy; no arrays for no
// entries. On allocation failure raises std::bad_alloc and leaves `list` as
// it was.
void assign(NameValueList& list, const std::vector<Argument>& entries);

} // namespace arguments
