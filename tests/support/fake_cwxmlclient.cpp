// fake_cwxmlclient.cpp - the scripted test double of the client library: the
// same 68 C functions, recording every call and answering from a script.
#include "fake_cwxmlclient.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <variant>

namespace fake {

namespace {

// A list the double owns: copies of the strings and the arrays pointing at them.
class OwnedList {
public:
    explicit OwnedList(const Entries& entries)
    {
        store_.reserve(entries.size() * 2);
        for (const auto& [name, value] : entries) {
            store_.push_back(name);
            store_.push_back(value);
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            names_.push_back(store_[2 * i].data());
            values_.push_back(store_[2 * i + 1].data());
        }
        list_.count = static_cast<int32_t>(entries.size());
        list_.names = names_.data();
        list_.values = values_.data();
    }
    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;
    const NameValueList* get() const { return &list_; }

private:
    std::vector<std::string> store_;
    std::vector<char*> names_;
    std::vector<char*> values_;
    NameValueList list_{0, nullptr, nullptr};
};

struct NullList {};
struct RawList {
    const NameValueList* list; // in rawLists(), stable until reset()
};
struct BitmapScript {
    int32_t width;
    int32_t height;
    uint32_t argb;
};
using TextScript = std::optional<std::string>;
using Script = std::variant<Entries, NullList, RawList, unsigned char, int32_t, TextScript, BitmapScript>;

struct State {
    std::vector<Call> calls;
    std::map<std::string, std::deque<Script>> queues;
    std::map<std::string, std::optional<Entries>> defaultLists;
    std::map<std::string, unsigned char> defaultBytes;
    std::map<std::string, int32_t> defaultNumbers;
    std::map<std::string, TextScript> defaultTexts;
    int32_t errorCode = 0;
    TextScript errorText;
    std::function<void(const std::string&)> onCall;

    // What the last call returned, alive until the next call that the
    // library's ownership rule lets invalidate it.
    std::unique_ptr<OwnedList> resultList;
    std::string resultText;
    std::string sentXml;
    std::string receivedXml;
};

// Raw list records must outlive the call that returns them, up to reset().
std::deque<NameValueList>& rawLists()
{
    static std::deque<NameValueList> lists;
    return lists;
}

State& state()
{
    static State s;
    return s;
}

[[noreturn]] void misuse(const std::string& function, const char* what)
{
    std::fprintf(stderr, "fake_cwxmlclient: %s: %s\n", function.c_str(), what);
    std::abort();
}

// The library keeps its last result until the next call, except across
// these four, which read the error and XML records only.
bool keepsResults(const std::string& function)
{
    return function == "GetErrorCode" || function == "GetErrorText" || function == "GetSentXML" ||
           function == "GetReceivedXML";
}

Call& record(const char* function)
{
    State& s = state();
    if (!keepsResults(function)) {
        s.resultList.reset();
        s.resultText.clear();
    }
    s.calls.push_back(Call{});
    s.calls.back().function = function;
    return s.calls.back();
}

void recordArgs(Call& call, const NameValueList* args)
{
    call.argsAddress = args;
    call.argsNull = args == nullptr;
    if (args == nullptr)
        return;
    call.argCount = args->count;
    for (int32_t i = 0; i < args->count; ++i) {
        const char* name = args->names != nullptr ? args->names[i] : nullptr;
        const char* value = args->values != nullptr ? args->values[i] : nullptr;
        call.args.emplace_back(name != nullptr ? name : "", value != nullptr ? value : "");
    }
}

void recordText(Call& call, const char* text)
{
    if (text != nullptr)
        call.text = std::string(text);
}

// Runs the test's hook once the call is recorded, so the hook sees it in
// calls() and may still change the script this call will take.
void runHook(const std::string& function)
{
    // A copy: the hook may replace itself.
    const auto hook = state().onCall;
    if (hook)
        hook(function);
}

std::optional<Script> takeScript(const std::string& function)
{
    auto& queues = state().queues;
    const auto it = queues.find(function);
    if (it == queues.end() || it->second.empty())
        return std::nullopt;
    Script front = std::move(it->second.front());
    it->second.pop_front();
    return front;
}

const NameValueList* listResult(const std::string& function)
{
    State& s = state();
    runHook(function);
    std::optional<Script> script = takeScript(function);
    if (!script) {
        const auto it = s.defaultLists.find(function);
        if (it == s.defaultLists.end() || !it->second)
            return nullptr;
        script = *it->second;
    }
    if (auto* entries = std::get_if<Entries>(&*script)) {
        s.resultList = std::make_unique<OwnedList>(*entries);
        return s.resultList->get();
    }
    if (std::holds_alternative<NullList>(*script))
        return nullptr;
    if (auto* raw = std::get_if<RawList>(&*script))
        return raw->list;
    misuse(function, "scripted result is not a list");
}

unsigned char byteResult(const std::string& function, unsigned char failure)
{
    State& s = state();
    runHook(function);
    if (std::optional<Script> script = takeScript(function)) {
        if (auto* value = std::get_if<unsigned char>(&*script))
            return *value;
        misuse(function, "scripted result is not a byte");
    }
    const auto it = s.defaultBytes.find(function);
    return it != s.defaultBytes.end() ? it->second : failure;
}

int32_t numberResult(const std::string& function)
{
    State& s = state();
    runHook(function);
    if (std::optional<Script> script = takeScript(function)) {
        if (auto* value = std::get_if<int32_t>(&*script))
            return *value;
        misuse(function, "scripted result is not a number");
    }
    const auto it = s.defaultNumbers.find(function);
    return it != s.defaultNumbers.end() ? it->second : -1;
}

const char* textResult(const std::string& function, std::string& storage)
{
    State& s = state();
    runHook(function);
    TextScript text;
    if (std::optional<Script> script = takeScript(function)) {
        auto* value = std::get_if<TextScript>(&*script);
        if (value == nullptr)
            misuse(function, "scripted result is not a text");
        text = *value;
    } else if (const auto it = s.defaultTexts.find(function); it != s.defaultTexts.end()) {
        text = it->second;
    }
    if (!text)
        return nullptr;
    storage = *text;
    return storage.c_str();
}

CWBitmap bitmapResult(const std::string& function)
{
    runHook(function);
    std::optional<Script> script = takeScript(function);
    if (!script)
        return 0;
    auto* bitmap = std::get_if<BitmapScript>(&*script);
    if (bitmap == nullptr)
        misuse(function, "scripted result is not a bitmap");
    if (bitmap->width == 0 || bitmap->height == 0)
        return 0;
    const CWBitmap handle = cw_bitmap_create(bitmap->width, bitmap->height);
    if (handle == 0)
        misuse(function, "cw_bitmap_create refused the scripted size");
    uint32_t* pixels = cw_bitmap_pixels(handle);
    const int32_t rowPixels = cw_bitmap_stride(handle) / 4;
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x)
            pixels[static_cast<std::ptrdiff_t>(y) * rowPixels + x] = bitmap->argb;
    return handle;
}

void push(const std::string& function, Script script) { state().queues[function].push_back(std::move(script)); }

} // namespace

void reset()
{
    state() = State{};
    rawLists().clear();
}

const std::vector<Call>& calls() { return state().calls; }

std::vector<std::string> callNames()
{
    std::vector<std::string> names;
    for (const Call& call : state().calls)
        names.push_back(call.function);
    return names;
}

int callCount(const std::string& function)
{
    int n = 0;
    for (const Call& call : state().calls)
        n += call.function == function ? 1 : 0;
    return n;
}

void pushList(const std::string& function, Entries entries) { push(function, std::move(entries)); }
void pushNullList(const std::string& function) { push(function, NullList{}); }
void pushRawList(const std::string& function, const NameValueList& list)
{
    rawLists().push_back(list);
    push(function, RawList{&rawLists().back()});
}
void pushByte(const std::string& function, unsigned char value) { push(function, value); }
void pushNumber(const std::string& function, int32_t value) { push(function, value); }
void pushText(const std::string& function, std::optional<std::string> value)
{
    push(function, TextScript(std::move(value)));
}
void pushBitmap(const std::string& function, int32_t width, int32_t height, uint32_t argb)
{
    push(function, BitmapScript{width, height, argb});
}

void setDefaultList(const std::string& function, std::optional<Entries> entries)
{
    state().defaultLists[function] = std::move(entries);
}
void setDefaultByte(const std::string& function, unsigned char value) { state().defaultBytes[function] = value; }
void setDefaultNumber(const std::string& function, int32_t value) { state().defaultNumbers[function] = value; }
void setDefaultText(const std::string& function, std::optional<std::string> value)
{
    state().defaultTexts[function] = std::move(value);
}

void setError(int32_t code, std::optional<std::string> text)
{
    state().errorCode = code;
    state().errorText = std::move(text);
}

void setOnCall(std::function<void(const std::string& function)> hook) { state().onCall = std::move(hook); }

} // namespace fake

// ---- The 68 functions --------------------------------------------------------

using fake::Call;

namespace {

unsigned char command(const char* function)
{
    fake::record(function);
    return fake::byteResult(function, 0);
}

unsigned char commandWithList(const char* function, const NameValueList* args)
{
    fake::recordArgs(fake::record(function), args);
    return fake::byteResult(function, 0);
}

const NameValueList* query(const char* function)
{
    fake::record(function);
    return fake::listResult(function);
}

CWBitmap picture(const char* function, const NameValueList* args)
{
    fake::recordArgs(fake::record(function), args);
    return fake::bitmapResult(function);
}

int32_t number(const char* function)
{
    fake::record(function);
    return fake::numberResult(function);
}

} // namespace

extern "C" {

unsigned char Close(void) { return command("Close"); }
unsigned char First(void) { return command("First"); }
unsigned char Next(void) { return command("Next"); }
unsigned char Previous(void) { return command("Previous"); }
unsigned char Last(void) { return command("Last"); }
unsigned char Exit(void) { return command("Exit"); }
unsigned char Startlog(void) { return command("Startlog"); }
unsigned char Stoplog(void) { return command("Stoplog"); }
unsigned char Restore(void) { return command("Restore"); }
unsigned char Video(void) { return command("Video"); }
unsigned char Print(void) { return command("Print"); }
unsigned char Twain(void) { return command("Twain"); }
unsigned char Signature(void) { return command("Signature"); }
unsigned char Bitmap(void) { return command("Bitmap"); }
unsigned char Preview(void) { return command("Preview"); }
unsigned char ManageTemplates(void) { return command("ManageTemplates"); }
unsigned char Fingerprint(void) { return command("Fingerprint"); }
unsigned char RosterLinkConfig(void) { return command("RosterLinkConfig"); }
unsigned char RosterLink(void) { return command("RosterLink"); }

unsigned char Open(const NameValueList* args) { return commandWithList("Open", args); }
unsigned char Select(const NameValueList* args) { return commandWithList("Select", args); }
unsigned char Delete(const NameValueList* args) { return commandWithList("Delete", args); }
unsigned char Revise(const NameValueList* args) { return commandWithList("Revise", args); }
unsigned char Add(const NameValueList* args) { return commandWithList("Add", args); }
unsigned char Update(const NameValueList* args) { return commandWithList("Update", args); }
unsigned char Focus(const NameValueList* args) { return commandWithList("Focus", args); }
unsigned char ServerMode(const NameValueList* args) { return commandWithList("ServerMode", args); }
unsigned char Goto(const NameValueList* args) { return commandWithList("Goto", args); }
unsigned char Edit(const NameValueList* args) { return commandWithList("Edit", args); }
unsigned char CreateTemplate(const NameValueList* args) { return commandWithList("CreateTemplate", args); }
unsigned char ReviseTemplate(const NameValueList* args) { return commandWithList("ReviseTemplate", args); }
unsigned char ReviseAssignments(const NameValueList* args) { return commandWithList("ReviseAssignments", args); }
unsigned char Template(const NameValueList* args) { return commandWithList("Template", args); }
unsigned char ReviseUserData(const NameValueList* args) { return commandWithList("ReviseUserData", args); }
unsigned char FlipBadge(const NameValueList* args) { return commandWithList("FlipBadge", args); }

const NameValueList* GetFeatures(void) { return query("GetFeatures"); }
const NameValueList* GetProgramInfo(void) { return query("GetProgramInfo"); }
const NameValueList* GetCurrent(void) { return query("GetCurrent"); }
const NameValueList* GetCount(void) { return query("GetCount"); }
const NameValueList* GetFields(void) { return query("GetFields"); }
const NameValueList* GetTemplates(void) { return query("GetTemplates"); }
const NameValueList* GetStatus(void) { return query("GetStatus"); }
const NameValueList* GetToolbarStatus(void) { return query("GetToolbarStatus"); }
const NameValueList* GetUserData(void) { return query("GetUserData"); }
const NameValueList* GetMethods(void) { return query("GetMethods"); }

const NameValueList* GetRecord(const NameValueList* args)
{
    fake::recordArgs(fake::record("GetRecord"), args);
    return fake::listResult("GetRecord");
}

const NameValueList* GetMethodProtoType(const char* method)
{
    fake::recordText(fake::record("GetMethodProtoType"), method);
    return fake::listResult("GetMethodProtoType");
}

const char* GetMethodHelp(const char* method)
{
    fake::recordText(fake::record("GetMethodHelp"), method);
    return fake::textResult("GetMethodHelp", fake::state().resultText);
}

const char* GetErrorMessage(const NameValueList* args)
{
    fake::recordArgs(fake::record("GetErrorMessage"), args);
    return fake::textResult("GetErrorMessage", fake::state().resultText);
}

CWBitmap GetBadgeImage(const NameValueList* args) { return picture("GetBadgeImage", args); }
CWBitmap GetPhotoImage(const NameValueList* args) { return picture("GetPhotoImage", args); }
CWBitmap GetSignatureImage(const NameValueList* args) { return picture("GetSignatureImage", args); }
CWBitmap GetFingerprintImage(const NameValueList* args) { return picture("GetFingerprintImage", args); }

int32_t GetErrorCode(void)
{
    fake::record("GetErrorCode");
    fake::runHook("GetErrorCode");
    return fake::state().errorCode;
}

int32_t GetLastCommandError(void) { return number("GetLastCommandError"); }
int32_t GetCWHandle(void) { return number("GetCWHandle"); }
int32_t GetEditCount(void) { return number("GetEditCount"); }

unsigned char IsBusy(void)
{
    fake::record("IsBusy");
    return fake::byteResult("IsBusy", 255);
}

const char* GetErrorText(void)
{
    fake::record("GetErrorText");
    fake::runHook("GetErrorText");
    const auto& text = fake::state().errorText;
    return text ? text->c_str() : nullptr;
}

const char* GetSentXML(void)
{
    fake::record("GetSentXML");
    return fake::textResult("GetSentXML", fake::state().sentXml);
}

const char* GetReceivedXML(void)
{
    fake::record("GetReceivedXML");
    return fake::textResult("GetReceivedXML", fake::state().receivedXml);
}

unsigned char SetXMLPort(int32_t port)
{
    fake::record("SetXMLPort").number = port;
    return fake::byteResult("SetXMLPort", 0);
}

unsigned char SetHostName(const char* host)
{
    fake::recordText(fake::record("SetHostName"), host);
    return fake::byteResult("SetHostName", 0);
}

unsigned char SetXMLAccessKey(const char* key)
{
    fake::recordText(fake::record("SetXMLAccessKey"), key);
    return fake::byteResult("SetXMLAccessKey", 0);
}

unsigned char EnableXMLAccess(unsigned char enable)
{
    fake::record("EnableXMLAccess").number = enable;
    return fake::byteResult("EnableXMLAccess", 0);
}

unsigned char LaunchCW(const char* path, int32_t show_mode)
{
    Call& call = fake::record("LaunchCW");
    fake::recordText(call, path);
    call.number = show_mode;
    return fake::byteResult("LaunchCW", 0);
}

unsigned char LaunchRL(const char* path, int32_t show_mode)
{
    Call& call = fake::record("LaunchRL");
    fake::recordText(call, path);
    call.number = show_mode;
    return fake::byteResult("LaunchRL", 0);
}

void CloseXML(void)
{
    fake::record("CloseXML");
    fake::runHook("CloseXML");
}

} // extern "C"
