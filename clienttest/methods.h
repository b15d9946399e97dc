// methods.h - the 54 remote methods the workbench knows, once: each one's
// name, result family and the library function it calls, and what a call of
// one came back with. The window's dispatch and cwcall both read this table.
//
// Plain logic on Qt Core: no widgets.
#pragma once

#include "cwxmlclient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <span>
#include <variant>

namespace methods {

enum class Family {
    List,        // no arguments; a name/value list
    Command,     // no arguments; a status
    Number,      // no arguments; an integer with no failure value
    Busy,        // IsBusy: yes or no, 255 being a failure
    ListCommand, // the argument list; a status
    Record,      // GetRecord: the argument list; a name/value list
    Message,     // GetErrorMessage: the argument list; a text
    Picture,     // the argument list; a bitmap handle
};

using ListFunction = const NameValueList* (*)();
using ByteFunction = unsigned char (*)();
using IntegerFunction = int32_t (*)();
using ListCommandFunction = unsigned char (*)(const NameValueList*);
using RecordFunction = const NameValueList* (*)(const NameValueList*);
using MessageFunction = const char* (*)(const NameValueList*);
using PictureFunction = CWBitmap (*)(const NameValueList*);

// The function's type follows from the family (Command and Busy share one).
using Function = std::variant<ListFunction, ByteFunction, IntegerFunction, ListCommandFunction,
                              RecordFunction, MessageFunction, PictureFunction>;

struct Entry {
    const char* name; // the remote application's own spelling: the names are the protocol
    Family family;
    Function function;
};

// All 54, in the order the window offers them to its dispatch.
std::span<const Entry> all();

// The entry spelt exactly `name` (same UTF-8 bytes; letter case counts;
// nothing trimmed), or null.
const Entry* find(QStringView name);

// Whether the family sends the argument list.
bool takesArguments(Family family);

// What one call came back with.
struct Outcome {
    enum class Kind { List, Accepted, Number, Boolean, Text, Picture, Failed };
    Kind kind = Kind::Failed;
    // List: the library's list, valid until the next call into the library.
    const NameValueList* list = nullptr;
    int32_t number = 0;    // Number
    bool flag = false;     // Boolean
    QString text;          // Text
    CWBitmap bitmap = 0;   // Picture: the caller owns it from now on
    int32_t errorCode = 0; // Failed: GetErrorCode, then GetErrorText
    QString errorText;

    // The text the Returns box gets in one append; nothing for a failure, a
    // picture or an empty list.
    std::optional<QString> returns() const;
};

// Calls the entry's library function (with `args` when the family takes
// them). On a failure the library's code and text are read right after, in
// that order, as the window shows them.
Outcome call(const Entry& entry, const NameValueList& args);

// As call, but a number, yes/no or text that came back while the library
// records a failure (a non-zero GetErrorCode) is that failure: a number
// method answers -1 both as a value and when it could not be called. For
// callers that must not report a failed call as a result (cwcall, scenarios);
// the window shows what call returns.
Outcome callChecked(const Entry& entry, const NameValueList& args);

// The help display of a method: what is appended to the Returns box, one
// text per append, and the last failure seen (the error fields show it).
struct HelpDisplay {
    QStringList appends;
    std::optional<std::pair<int32_t, QString>> error;
};

// Asks the library for the prototypes (GetMethodProtoType) and the help
// (GetMethodHelp) of `method` (UTF-8), in that order.
HelpDisplay help(const QByteArray& method);

} // namespace methods
