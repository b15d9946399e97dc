// result_text.h - how the workbench writes what the library returned.
#pragma once

#include "cwxmlclient.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace resulttext {

// The line a command shows when the library answers exactly 1.
QString commandAccepted();
// The answer of IsBusy: "True" for 1, "False" for any value but 255.
QString busyText(unsigned char busy);
// IsBusy's failure value.
inline constexpr unsigned char BusyFailed = 255;

// Signed decimal, no padding.
QString number(int32_t value);

// One "name = value" line per entry, in list order, joined by LF (no
// trailing break). Entries are read while i < count; a null name or value
// (or a null array) reads as empty text. Empty for a count of 0 or below.
QString listLines(const NameValueList& list);

// Library strings are UTF-8; null reads as empty text.
QString fromLibrary(const char* text);

// The help text as result lines: "-----------", "HELP:", then the non-empty
// lines of `help` (CR, LF and CR LF all break a line; blank lines vanish).
QStringList helpLines(const char* help);

// Headings of the help display.
QString prototypesHeading();
QString noHelpAvailable();

} // namespace resulttext
