// argument_list.h - turning the lines of the argument memo into the
// name/value list the client library takes, and releasing it again.
//
// Plain logic: the window reads the memo and the parameter type and hands
// the lines here.
#pragma once

#include "cwxmlclient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace arguments {

// The texts of the argument errors, shown in a message box as they stand.
QString structureMustBeSelected();
QString invalidStructureFormat();
QString nulCharacterInLine(int lineNumber);

// Longest value, in UTF-16 code units, taken after the "=" before trimming.
inline constexpr qsizetype MaxValueLength = 999;

struct Argument {
    QByteArray name;  // UTF-8, trimmed
    QByteArray value; // UTF-8, cut to MaxValueLength, then trimmed
};

// Parses the memo lines, one Name=Value pair a line, skipping blank lines.
// Raises vcl::Exception on a non-blank line without "=" or on a NUL
// character (which a C string cannot carry) in a name or value.
std::vector<Argument> parse(const QStringList& lines);

// Frees every name and value of `list`, then its arrays when count > 0, and
// leaves count 0 with both arrays null.
void release(NameValueList& list);

// Replaces the content of `list` with `entries`: malloc'ed arrays of `count`
// pointer slots, each string a strdup copy; no arrays for no entries. On
// allocation failure raises std::bad_alloc and leaves `list` as it was.
void assign(NameValueList& list, const std::vector<Argument>& entries);

} // namespace arguments
