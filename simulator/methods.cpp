#include "methods.h"

#include "log.h"
#include "text.h"

#include <xmlrpc-c/base.h>
#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/girerr.hpp>
#include <xmlrpc-c/xml.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <variant>

namespace cwsim {
namespace {

using F = Family;

} // namespace

const std::vector<MethodInfo>& methodTable() {
    static const std::vector<MethodInfo> table = {
        {"GetErrorMessage", F::ErrorMessage, false, kBoth,
         "GetErrorMessage(Code=N): the text of error code N (0: \"No error\"); for the code of the "
         "last finished "
         "command it adds that command's own explanation. Unknown code: fault 3."},
        {"IsBusy", F::Busy, false, kBoth,
         "IsBusy(): true while an accepted command is queued or running."},
        {"GetLastCommandError", F::Integer, false, kBoth,
         "GetLastCommandError(): the code of the last finished command, 0 when it succeeded "
         "(text: GetErrorMessage)."},
        {"GetFeatures", F::ListGetter, false, kBoth,
         "GetFeatures(): what this program offers: Roster, Templates, Photo, Signature, "
         "Fingerprint, Print, "
         "RosterLink, AccessKey."},
        {"GetProgramInfo", F::ListGetter, false, kBoth,
         "GetProgramInfo(): Product, Version, Role, Design, Roster, Port, ProcessId, Window."},
        {"GetRecord", F::RecordGetter, true, kBoth,
         "GetRecord(Field=Value...): the first record matching every criterion ('*' and '?' match "
         "any text), or "
         "with no criteria the current record: Id, then each field. Faults: 1 no design, 2 unknown "
         "field, "
         "5 no current record, 6 no match."},
        {"GetCurrent", F::ListGetter, false, kBoth,
         "GetCurrent(): Position (1-based in the selection, 0: none), Selected, Id of the current "
         "record."},
        {"GetCount", F::ListGetter, false, kBoth,
         "GetCount(): Total records in the roster, Selected records."},
        {"GetFields", F::ListGetter, false, kBoth,
         "GetFields(): each data field of the design with its kind (text, number, date, photo, "
         "signature, "
         "fingerprint)."},
        {"GetTemplates", F::ListGetter, false, kCardwright,
         "GetTemplates(): each template of the design: Active or Available."},
        {"GetStatus", F::ListGetter, false, kBoth,
         "GetStatus(): also without a design: Design, File, Records, Selected, Position, Side, "
         "Template, "
         "ServerMode, Logging, Busy, "
         "LastCommandError, EditCount, Focus, LastPrint, RosterLinkFile."},
        {"GetToolbarStatus", F::ListGetter, false, kBoth,
         "GetToolbarStatus(): Enabled or Disabled for First, Previous, Next, Last, Add, Delete, "
         "Print, Video, "
         "Signature, Fingerprint, FlipBadge."},
        {"GetCWHandle", F::Integer, false, kBoth,
         "GetCWHandle(): the window id when a window is shown, else the process id."},
        {"GetEditCount", F::Integer, false, kCardwright,
         "GetEditCount(): records changed (added, updated, revised, edited, deleted, captured) "
         "since the design "
         "was opened."},
        {"GetUserData", F::ListGetter, false, kCardwright,
         "GetUserData(): the design's user data, Key = Value."},
        {"GetBadgeImage", F::Picture, true, kCardwright,
         "GetBadgeImage(Side=Front|Back, Id=N): PNG of the badge of record N (default: the current "
         "record), on "
         "the side FlipBadge chose unless Side is given."},
        {"GetPhotoImage", F::Picture, true, kCardwright,
         "GetPhotoImage(Id=N, Field=NAME): PNG of the record's photo (default: the current record, "
         "the first "
         "photo field). Fault 11 when none is stored."},
        {"GetSignatureImage", F::Picture, true, kCardwright,
         "GetSignatureImage(Id=N, Field=NAME): PNG of the record's signature. Fault 11 when none "
         "is stored."},
        {"GetFingerprintImage", F::Picture, true, kCardwright,
         "GetFingerprintImage(Id=N, Field=NAME): PNG of the record's fingerprint. Fault 11 when "
         "none is stored."},
        {"Open", F::CommandWithList, false, kBoth,
         "Open(File=PATH): opens a card design (.idc) and its roster, creating the roster when "
         "missing. A path that is not a regular file named *.idc is refused at once (fault 3), "
         "a file that is missing or malformed too (fault 7)."},
        {"Close", F::Command, false, kBoth, "Close(): closes the design."},
        {"First", F::Command, false, kBoth,
         "First(): the first record of the selection becomes current."},
        {"Next", F::Command, false, kBoth,
         "Next(): the next record of the selection becomes current (at the end: command error "
         "15)."},
        {"Previous", F::Command, false, kBoth,
         "Previous(): the previous record becomes current (at the start: command error 15)."},
        {"Last", F::Command, false, kBoth,
         "Last(): the last record of the selection becomes current."},
        {"Select", F::CommandWithList, true, kBoth,
         "Select(Field=Value...): selects the records matching every criterion ('*' and '?' match "
         "any text; Id=N "
         "matches the record number); no criteria: all. The first becomes current."},
        {"Delete", F::CommandWithList, true, kBoth,
         "Delete(): deletes the current record; Delete(Id=N) that record; Delete(Field=Value...) "
         "every record "
         "matching."},
        {"Revise", F::CommandWithList, false, kBoth,
         "Revise(Id=N, Field=Value...): changes fields of record N."},
        {"Add", F::CommandWithList, false, kBoth,
         "Add(Field=Value...): adds a record, which becomes current (if it falls outside the "
         "selection, all "
         "records are selected)."},
        {"Update", F::CommandWithList, false, kBoth,
         "Update(Field=Value...): changes fields of the current record."},
        {"Exit", F::Command, false, kBoth,
         "Exit(): answers, then closes the roster and ends the program."},
        {"Startlog", F::Command, false, kBoth,
         "Startlog(): appends every later call to the call log file."},
        {"Stoplog", F::Command, false, kBoth, "Stoplog(): stops the call log."},
        {"Restore", F::Command, false, kBoth,
         "Restore(): shows the window normally (no window: no effect)."},
        {"Focus", F::CommandWithList, false, kBoth,
         "Focus(Field=NAME): raises the window and puts the editing focus on the field."},
        {"Video", F::Command, false, kCardwright,
         "Video(): captures a photo from the (simulated) camera into the current record."},
        {"Print", F::Command, false, kCardwright,
         "Print(): prints the current record's badge as PNG files in the print folder (GetStatus: "
         "LastPrint)."},
        {"Twain", F::Command, false, kCardwright,
         "Twain(): acquires a photo from the (simulated) scanner into the current record."},
        {"Signature", F::Command, false, kCardwright,
         "Signature(): captures a signature from the (simulated) pad into the current record."},
        {"Bitmap", F::Command, false, kCardwright,
         "Bitmap(): loads a photo from a (simulated) bitmap file into the current record."},
        {"Preview", F::Command, false, kCardwright,
         "Preview(): shows the current badge in the window."},
        {"ServerMode", F::CommandWithList, false, kCardwright,
         "ServerMode(Mode=On|Off): server mode (no dialogs on screen)."},
        {"Goto", F::CommandWithList, false, kBoth,
         "Goto(Record=N): the N-th record of the selection becomes current; Goto(Id=N): record N."},
        {"Edit", F::CommandWithList, false, kCardwright,
         "Edit(Field=Value...): edits the current record in the record editor and saves it (counts "
         "in "
         "GetEditCount)."},
        {"CreateTemplate", F::CommandWithList, false, kCardwright,
         "CreateTemplate(Name=NAME, Title=TEXT, Background=#rrggbb, Fields=A,B,...): adds a "
         "template."},
        {"ReviseTemplate", F::CommandWithList, false, kCardwright,
         "ReviseTemplate(Name=NAME, Title=TEXT, Background=#rrggbb, Fields=A,B,...): changes a "
         "template."},
        {"ManageTemplates", F::Command, false, kCardwright,
         "ManageTemplates(): shows the template manager (the window's badge preview)."},
        {"ReviseAssignments", F::CommandWithList, false, kCardwright,
         "ReviseAssignments(Template=NAME, Field=Yes|No...): shows or hides fields on a template "
         "(default: the "
         "active one)."},
        {"Fingerprint", F::Command, false, kCardwright,
         "Fingerprint(): captures a fingerprint from the (simulated) reader into the current "
         "record."},
        {"Template", F::CommandWithList, false, kCardwright,
         "Template(Name=NAME): makes the template the active one for badges."},
        {"ReviseUserData", F::CommandWithList, false, kCardwright,
         "ReviseUserData(Key=Value...): sets the design's user data; an empty value removes the "
         "key."},
        {"FlipBadge", F::CommandWithList, true, kCardwright,
         "FlipBadge(Side=Front|Back): which side GetBadgeImage shows; no argument: turns the badge "
         "over."},
        {"RosterLinkConfig", F::Command, false, kRosterLink,
         "RosterLinkConfig(): links the roster to the CSV file named in the design's [RosterLink] "
         "section "
         "(default: the design's name with .csv)."},
        {"RosterLink", F::Command, false, kRosterLink,
         "RosterLink(): imports the linked CSV file into the roster in one transaction (a header "
         "row of field "
         "names; rows with a known key update that record)."},
    };
    return table;
}

std::string signatureOf(const MethodInfo& info) {
    switch (info.family) {
    case F::Command:
        return "b:";
    case F::CommandWithList:
        return info.argumentOptional ? "b:S,b:" : "b:S";
    case F::ListGetter:
        return "S:";
    case F::RecordGetter:
        return "S:S,S:";
    case F::Integer:
        return "i:";
    case F::Busy:
        return "b:";
    case F::ErrorMessage:
        return "s:S";
    case F::Picture:
        return "6:S,6:";
    }
    return "b:";
}

namespace {
thread_local unsigned long loggedHere = 0;
} // namespace

unsigned long callsLoggedOnThisThread() {
    return loggedHere;
}

void logCall(Engine& engine, const std::string& method, double milliseconds,
             const std::string& outcome) {
    ++loggedHere;
    char ms[32];
    auto end = std::to_chars(ms, ms + sizeof ms, milliseconds, std::chars_format::fixed, 2).ptr;
    std::string line;
    line.reserve(method.size() + static_cast<std::size_t>(end - ms) + outcome.size() + 5);
    line.append(method).append(" ").append(ms, end).append(" ms ").append(outcome);
    if (line.size() > 500)
        line.resize(500);
    // One line per call, whatever the call held: no line breaks from its texts.
    for (auto& c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    log::soon(line);
    engine.recordCall(std::move(line));
}

namespace {

[[noreturn]] void fault(int errorCode, const std::string& text) {
    throw xmlrpc_c::fault(carriedText(text), static_cast<xmlrpc_c::fault::code_t>(errorCode));
}

Pairs argumentsOf(const MethodInfo& info, const xmlrpc_c::paramList& params) {
    std::string name = info.name;
    bool takesStruct = info.family == F::CommandWithList || info.family == F::RecordGetter ||
                       info.family == F::ErrorMessage || info.family == F::Picture;
    if (params.size() == 0) {
        if (takesStruct && !info.argumentOptional)
            fault(code::BadArgument, name + " needs one struct argument of Name=Value strings");
        return {};
    }
    if (params.size() > 1)
        fault(code::BadArgument, name + " takes at most one argument, a struct of strings");
    const xmlrpc_c::value& v = params[0];
    if (v.type() != xmlrpc_c::value::TYPE_STRUCT)
        fault(code::BadArgument, name + " takes one struct of Name=Value strings");
    // Members come sorted by name, and a name repeated in one call keeps its
    // last value (xmlrpc-c's struct keeps one member per name). Read from the
    // C struct: the C++ map of value handles cost more than the method.
    struct Held { // the references the C calls hand out
        xmlrpc_value* p = nullptr;
        ~Held() {
            if (p)
                xmlrpc_DECREF(p);
        }
    };
    Held s{v.cValue()};
    xmlrpc_env env;
    xmlrpc_env_init(&env);
    int count = xmlrpc_struct_size(&env, s.p);
    if (!takesStruct && count > 0)
        fault(code::BadArgument, name + " takes no arguments");
    Pairs out;
    out.reserve(static_cast<std::size_t>(std::max(count, 0)));
    auto readText = [&env](xmlrpc_value* text) {
        const char* chars = nullptr;
        size_t length = 0;
        xmlrpc_read_string_lp(&env, text, &length, &chars);
        std::string copy = env.fault_occurred ? std::string() : std::string(chars, length);
        std::free(const_cast<char*>(chars));
        return copy;
    };
    for (int i = 0; i < count && !env.fault_occurred; ++i) {
        Held key, member;
        xmlrpc_struct_read_member(&env, s.p, static_cast<unsigned>(i), &key.p, &member.p);
        if (env.fault_occurred)
            break;
        std::string keyText = readText(key.p);
        switch (xmlrpc_value_type(member.p)) {
        case XMLRPC_TYPE_STRING:
            out.emplace_back(std::move(keyText), readText(member.p));
            break;
        case XMLRPC_TYPE_INT: {
            int n = 0;
            xmlrpc_read_int(&env, member.p, &n);
            out.emplace_back(std::move(keyText), std::to_string(n));
            break;
        }
        case XMLRPC_TYPE_BOOL: {
            xmlrpc_bool b = 0;
            xmlrpc_read_bool(&env, member.p, &b);
            out.emplace_back(std::move(keyText), b ? "1" : "0");
            break;
        }
        default:
            xmlrpc_env_clean(&env);
            fault(code::BadArgument, name + ": member '" + keyText + "' must be a string");
        }
    }
    if (env.fault_occurred) {
        std::string why = env.fault_string ? env.fault_string : "unknown";
        xmlrpc_env_clean(&env);
        fault(code::BadArgument, name + ": " + why);
    }
    xmlrpc_env_clean(&env);
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

// A struct whose members keep the order given (xmlrpc-c's C++ struct is a
// sorted map; its C layer keeps insertion order).
xmlrpc_c::value orderedStruct(const Members& members) {
    xmlrpc_env env;
    xmlrpc_env_init(&env);
    xmlrpc_value* s = xmlrpc_struct_new(&env);
    for (const auto& [rawKey, value] : members) {
        if (env.fault_occurred)
            break;
        // What the roster holds may have come from elsewhere (an edited
        // database, a design's name): what XML-RPC cannot carry shows as U+FFFD
        // instead of making the record unreadable. Copied only when so.
        std::string keyCopy, textCopy;
        std::string_view key = rawKey;
        if (firstUncarried(key) != std::string_view::npos)
            key = keyCopy = carriedText(key);
        xmlrpc_value* v = nullptr;
        if (const int* n = std::get_if<int>(&value)) {
            v = xmlrpc_int_new(&env, *n);
        } else {
            std::string_view text = std::get<std::string>(value);
            if (firstUncarried(text) != std::string_view::npos)
                text = textCopy = carriedText(text);
            v = xmlrpc_string_new_lp(&env, text.size(), text.data());
        }
        if (env.fault_occurred)
            break;
        xmlrpc_struct_set_value_n(&env, s, key.data(), key.size(), v);
        xmlrpc_DECREF(v);
    }
    if (env.fault_occurred) {
        std::string why = env.fault_string ? env.fault_string : "unknown";
        xmlrpc_env_clean(&env);
        if (s)
            xmlrpc_DECREF(s);
        fault(code::Internal, "Cannot build the answer: " + why);
    }
    xmlrpc_c::value result(s);
    xmlrpc_DECREF(s);
    xmlrpc_env_clean(&env);
    return result;
}

// The XML answer of a call that returned a kept struct, written by the
// first call that needed it.
struct WrittenAnswer {
    std::mutex mutex;
    std::string text; // empty until written (or when too large to hold)
};
using WrittenRef = std::shared_ptr<WrittenAnswer>;

// GetRecord's structs as last built, by the record each was made of. Building
// one makes an xmlrpc-c value, each with its own lock, per key and per member,
// destroyed again once the answer is written: about a fifth of a GetRecord's
// work; writing the answer's XML is about as much again, so that is kept
// beside it. The roster hands out the same record until a change, so a
// record's address finds its struct without comparing members; xmlrpc-c
// values are never changed once built and are counted under their own locks,
// so threads may share one.
class StructCache {
  public:
    // `written`, when given, gets where the struct's answer is kept (none for
    // a struct not kept).
    xmlrpc_c::value get(const RecordAnswer& answer, WrittenRef* written) {
        const Record* key = answer.record.get();
        {
            std::lock_guard lock(mutex_);
            if (auto it = built_.find(key); it != built_.end()) {
                if (written)
                    *written = it->second.written;
                return it->second.value;
            }
        }
        Members members = membersOf(answer);
        auto value = orderedStruct(members);
        if (!worthKeeping(members))
            return value;
        auto kept = std::make_shared<WrittenAnswer>();
        if (written)
            *written = kept;
        std::lock_guard lock(mutex_);
        if (built_.size() >= kMaxStructs)
            built_.clear();
        built_.emplace(key, Kept{answer.record, value, std::move(kept)});
        return value;
    }

  private:
    static bool worthKeeping(const Members& members) {
        if (members.size() > 64)
            return false;
        std::size_t bytes = 0;
        for (const auto& [key, value] : members)
            if (const auto* text = std::get_if<std::string>(&value))
                bytes += key.size() + text->size();
        return bytes <= 8192;
    }

    static constexpr std::size_t kMaxStructs = 512;
    std::mutex mutex_;
    struct Kept {
        RecordRef record; // held, so that its address names it alone
        xmlrpc_c::value value;
        WrittenRef written;
    };
    std::unordered_map<const Record*, Kept> built_;
};

StructCache structs;

xmlrpc_c::value toValue(Answer&& answer, WrittenRef* written) {
    struct Convert {
        WrittenRef* written;
        xmlrpc_c::value operator()(std::monostate) const {
            fault(code::Internal, "The method gave no answer");
        }
        xmlrpc_c::value operator()(bool b) const { return xmlrpc_c::value_boolean(b); }
        xmlrpc_c::value operator()(int n) const { return xmlrpc_c::value_int(n); }
        xmlrpc_c::value operator()(const std::string& text) const {
            return xmlrpc_c::value_string(carriedText(text));
        }
        xmlrpc_c::value operator()(const Members& members) const { return orderedStruct(members); }
        xmlrpc_c::value operator()(const RecordAnswer& record) const {
            return structs.get(record, written);
        }
        xmlrpc_c::value operator()(const Png& png) const {
            return xmlrpc_c::value_bytestring(
                std::vector<unsigned char>(png.bytes.begin(), png.bytes.end()));
        }
    };
    return std::visit(Convert{written}, answer);
}

const MethodRow& rowOf(const MethodInfo& info) {
    const auto* row = findRow(info.name);
    if (!row)
        throw std::logic_error(std::string("no engine row for ") + info.name);
    return *row;
}

class RemoteMethod : public xmlrpc_c::method2 {
  public:
    RemoteMethod(const MethodInfo& info, Engine& engine, const Options& options)
        : info_(info), row_(rowOf(info)), engine_(engine), options_(options) {
        _signature = signatureOf(info);
        _help = info.help;
    }

    ~RemoteMethod() override { forget(this); }

    void execute(const xmlrpc_c::paramList& params, const xmlrpc_c::callInfo*,
                 xmlrpc_c::value* result) override {
        *result = run(params, nullptr);
    }

    // What execute does; `written` as StructCache::get.
    xmlrpc_c::value run(const xmlrpc_c::paramList& params, WrittenRef* written) {
        auto start = std::chrono::steady_clock::now();
        auto elapsed = [&] {
            return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                             start)
                .count();
        };
        try {
            xmlrpc_c::value result = dispatch(params, written);
            logCall(engine_, info_.name, elapsed(), "ok");
            return result;
        } catch (const xmlrpc_c::fault& f) {
            logCall(engine_, info_.name, elapsed(),
                    "fault " + std::to_string(f.getCode()) + ": " + f.getDescription());
            throw;
        } catch (const std::exception& e) {
            logCall(engine_, info_.name, elapsed(), std::string("fault 19: ") + e.what());
            fault(code::Internal, std::string("Internal error: ") + e.what());
        }
    }

  private:
    xmlrpc_c::value dispatch(const xmlrpc_c::paramList& params, WrittenRef* written) {
        if (auto it = options_.failures.find(info_.name); it != options_.failures.end())
            fault(it->second.code, it->second.text);
        unsigned role = options_.role == Role::Cardwright ? kCardwright : kRosterLink;
        if (!(info_.roles & role))
            fault(code::WrongRole,
                  std::string(info_.name) + " is not available in " +
                      (role == kCardwright ? "Cardwright (it belongs to RosterLink)"
                                           : "RosterLink (it belongs to Cardwright)"));
        Pairs args = argumentsOf(info_, params);
        try {
            return toValue(engine_.call(row_, args), written);
        } catch (const CwError& e) {
            fault(e.code(), e.what());
        } catch (const RosterError& e) {
            fault(code::Database, e.what());
        }
    }

    const MethodInfo& info_;
    const MethodRow& row_;
    Engine& engine_;
    const Options& options_;

    static void forget(RemoteMethod* method);
};

// Each registry's GetRecord, for answerRecordCall. A method leaves when its
// registry lets it go; the table is never destroyed, as a registry may
// outlive the program's statics.
struct RecordGetters {
    std::mutex mutex;
    std::unordered_map<const xmlrpc_c::registry*, RemoteMethod*> byRegistry;
};
RecordGetters& recordGetters() {
    static auto* getters = new RecordGetters;
    return *getters;
}

void RemoteMethod::forget(RemoteMethod* method) {
    auto& getters = recordGetters();
    std::lock_guard lock(getters.mutex);
    std::erase_if(getters.byRegistry,
                  [method](const auto& entry) { return entry.second == method; });
}

RemoteMethod* recordGetterOf(const xmlrpc_c::registry& registry) {
    auto& getters = recordGetters();
    std::lock_guard lock(getters.mutex);
    auto it = getters.byRegistry.find(&registry);
    return it == getters.byRegistry.end() ? nullptr : it->second;
}

// Larger written answers (a record of long texts full of markup) are written
// again for each call rather than held: the 512 kept structs then hold at
// most 8 MiB of answers.
constexpr std::size_t kMaxWrittenAnswer = 16u << 10;

// The registry traces calls and answers to stderr while this is set; calls
// answered here leave that to it.
const bool xmlTraced = std::getenv("XMLRPC_TRACE_XML") != nullptr;

} // namespace

bool answerRecordCall(const xmlrpc_c::registry& registry, const std::string& body,
                      std::string& response) {
    if (xmlTraced)
        return false;
    RemoteMethod* method = recordGetterOf(registry);
    if (!method)
        return false;
    std::string name;
    xmlrpc_c::paramList params;
    try {
        xmlrpc_c::xml::parseCall(body, &name, &params);
    } catch (const std::exception&) {
        return false; // the registry says what is wrong with it
    }
    if (name != "GetRecord")
        return false;
    WrittenRef written;
    xmlrpc_c::value result;
    try {
        result = method->run(params, &written);
    } catch (const xmlrpc_c::fault& f) {
        xmlrpc_c::xml::generateResponse(xmlrpc_c::rpcOutcome(f), &response);
        return true;
    }
    if (written) {
        std::lock_guard lock(written->mutex);
        if (!written->text.empty()) {
            response = written->text;
            return true;
        }
    }
    xmlrpc_c::xml::generateResponse(xmlrpc_c::rpcOutcome(result), &response);
    if (written && response.size() <= kMaxWrittenAnswer) {
        std::lock_guard lock(written->mutex);
        written->text = response;
    }
    return true;
}

xmlrpc_c::registryPtr buildRegistry(Engine& engine, const Options& options) {
    xmlrpc_c::registryPtr registry(new xmlrpc_c::registry);
    for (const auto& info : methodTable()) {
        auto* method = new RemoteMethod(info, engine, options);
        registry->addMethod(info.name, xmlrpc_c::methodPtr(method));
        if (info.family == F::RecordGetter) {
            auto& getters = recordGetters();
            std::lock_guard lock(getters.mutex);
            getters.byRegistry[registry.get()] = method;
        }
    }
    return registry;
}

} // namespace cwsim
