// fake_cwxmlclient.h - the scripted test double of the client library.
//
// Link `cwxmlclient_fake` (a static library with the same 68 C functions as
// libcwxmlclient.so, and the library's own bitmap functions) instead of
// `cwxmlclient`. Every call is recorded with copies of its arguments; results
// come from a script set by the test.
//
// Results: for each function name a queue of scripted results; each call
// takes the front one, and when the queue is empty the function's default
// (set with the setDefault... calls, else the family's failure value: NULL,
// 0, -1 for numbers, 255 for IsBusy, NULL for texts, 0 for bitmaps).
// GetErrorCode and GetErrorText return what setError set (0 / NULL at first).
//
// Lifetime, as the library promises: a returned list or text stays valid
// until the next call into the double other than GetErrorCode, GetErrorText,
// GetSentXML and GetReceivedXML (lists scripted with pushRawList: until
// reset()). A result scripted with the wrong kind for its function aborts
// the test with a message on stderr.
#pragma once

#include "cwxmlclient.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fake {

using Entries = std::vector<std::pair<std::string, std::string>>;

struct Call {
    std::string function;
    // For functions that take an argument list: a copy of its entries (a NULL
    // name or value reads as ""), and whether the list pointer was NULL.
    Entries args;
    bool argsNull = false;
    int32_t argCount = 0; // the list's count as passed
    const NameValueList* argsAddress = nullptr;
    std::optional<std::string> text; // string argument (host, key, method, path)
    int64_t number = 0;              // integer or byte argument (port, show mode, on/off)
};

// Forgets the calls, the scripts, the defaults and the error.
void reset();

const std::vector<Call>& calls();
// Just the function names of the calls, in order (GetErrorCode and
// GetErrorText included).
std::vector<std::string> callNames();
// How many times `function` was called.
int callCount(const std::string& function);

// A list result. `nullList` scripts a NULL return.
void pushList(const std::string& function, Entries entries);
void pushNullList(const std::string& function);
// A list whose raw fields the test controls (negative counts, NULL strings):
// the double keeps the list alive until reset().
void pushRawList(const std::string& function, const NameValueList& list);
// A one-byte result (commands, IsBusy, launches, settings).
void pushByte(const std::string& function, unsigned char value);
// A number result (GetLastCommandError, GetCWHandle, GetEditCount).
void pushNumber(const std::string& function, int32_t value);
// A text result (GetMethodHelp, GetErrorMessage, GetSentXML, GetReceivedXML);
// std::nullopt scripts NULL.
void pushText(const std::string& function, std::optional<std::string> value);
// A picture: a new w x h bitmap filled with `argb`, created when the call is
// made (so a failed or unused script allocates nothing); w or h 0 scripts 0.
void pushBitmap(const std::string& function, int32_t width, int32_t height, uint32_t argb);

// Defaults used when the function's queue is empty.
void setDefaultList(const std::string& function, std::optional<Entries> entries);
void setDefaultByte(const std::string& function, unsigned char value);
void setDefaultNumber(const std::string& function, int32_t value);
void setDefaultText(const std::string& function, std::optional<std::string> value);

// What GetErrorCode and GetErrorText answer from now on (NULL text allowed).
void setError(int32_t code, std::optional<std::string> text);

// A hook run at the start of every recorded call (tests use it to change the
// script or the error between attempts). It runs once the call is in calls(),
// before the call takes its scripted result. Empty function: none.
void setOnCall(std::function<void(const std::string& function)> hook);

} // namespace fake
