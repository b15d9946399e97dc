// The query rows: what each getter takes, checks and answers. Queries answer
// from the state as the commands answered before them left it.
#include "method_row.h"

#include "text.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

namespace cwsim {
namespace {

using A = Args;
using S = AppState;

const char* enabled(bool on) {
    return on ? "Enabled" : "Disabled";
}

const char* onOff(bool b) {
    return b ? "On" : "Off";
}

// Field=NAME of the picture getters (it must hold this kind), or the design's
// first field of the kind; its name kept in a.text.
template <FieldKind Kind> void pictureField(S& app, A& a) {
    if (const auto& f = a["Field"]) {
        const auto& field = app.requireField(*f);
        if (field.kind != Kind)
            throw CwError(code::BadArgument, std::string(a.method()) + ": field '" + *f +
                                                 "' is not a " + kindName(Kind) + " field");
        a.text = field.name;
        return;
    }
    for (const auto& candidate : app.design->fields)
        if (candidate.kind == Kind) {
            a.text = candidate.name;
            return;
        }
    throw CwError(code::NoPicture, std::string("The design has no ") + kindName(Kind) + " field");
}

template <FieldKind Kind> Answer picture(S& app, A& a) {
    auto id = app.recordArg(a["Id"]);
    auto png = app.roster->picture(id, a.text);
    if (!png)
        throw CwError(code::NoPicture, "Record " + std::to_string(id) + " has no " +
                                           kindName(Kind) + " (capture one first)");
    return Png{std::move(*png)};
}

constexpr unsigned kDesignQuery = kNeedsDesign;

} // namespace

const std::vector<MethodRow>& queryRows() {
    static const std::vector<MethodRow> rows = {
        {"GetErrorMessage",
         {"Code|Error"},
         Others::Ignored,
         0,
         [](S&, A& a) {
             const auto& c = a["Code"];
             if (!c)
                 throw CwError(code::BadArgument, "GetErrorMessage needs Code=N");
             a.number = number("GetErrorMessage", "Code", *c);
             if (a.number < INT_MIN || a.number > INT_MAX)
                 throw CwError(code::BadArgument, "Unknown error code " + *c);
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             std::string text;
             for (const auto& [name, f] : app.options.failures)
                 if (f.code == a.number)
                     text = f.text;
             if (text.empty())
                 text = codeText(static_cast<int>(a.number));
             if (text.empty())
                 throw CwError(code::BadArgument, "Unknown error code " + *a["Code"]);
             // The last command's own words, when it is the code being asked about.
             if (a.number != 0 && a.number == app.lastError && !app.lastErrorText.empty())
                 text += ": " + app.lastErrorText;
             return text;
         }},
        {"IsBusy",
         {},
         Others::None,
         kLockFree,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer { return app.pending > 0; }},
        {"GetLastCommandError",
         {},
         Others::None,
         kLockFree,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer { return app.lastError.load(); }},
        {"GetFeatures",
         {},
         Others::None,
         0,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             bool link = app.options.role == Role::RosterLink;
             const char* mine = link ? "No" : "Yes";
             return Members{
                 {"Roster", "Yes"},
                 {"Templates", mine},
                 {"Photo", mine},
                 {"Signature", mine},
                 {"Fingerprint", mine},
                 {"Print", mine},
                 {"RosterLink", link ? "Yes" : "No"},
                 {"AccessKey", app.options.accessKey.empty() ? "Not required" : "Required"}};
         }},
        {"GetProgramInfo",
         {},
         Others::None,
         0,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             const auto& o = app.options;
             return Members{{"Product", o.role == Role::Cardwright ? "Cardwright" : "RosterLink"},
                            {"Version", "1.0.0 (cardwright-sim)"},
                            {"Role", roleName(o.role)},
                            {"Design", app.design ? app.design->file.string() : ""},
                            {"Roster", app.design ? app.design->roster.string() : ""},
                            {"Port", app.listenPort ? app.listenPort.load() : o.port},
                            {"ProcessId", static_cast<int>(getpid())},
                            {"Window", showName(o.show)}};
         }},
        {"GetRecord",
         {},
         Others::Criteria,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A& a) -> Answer {
             if (a.others().empty()) {
                 auto id = app.requireCurrent();
                 auto rec = app.roster->get(id);
                 if (!rec)
                     throw CwError(code::NotFound,
                                   "Record " + std::to_string(id) + " does not exist");
                 return RecordAnswer{std::move(rec), app.roster->fieldNames()};
             }
             auto rec = app.roster->first(a.others());
             if (!rec)
                 throw CwError(code::NotFound, "No record matches the GetRecord criteria");
             return RecordAnswer{std::move(rec), app.roster->fieldNames()};
         }},
        {"GetCurrent",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             auto id = app.current();
             return Members{{"Position", id ? static_cast<int>(app.position + 1) : 0},
                            {"Selected", static_cast<int>(app.selection.size())},
                            {"Id", id ? static_cast<int>(*id) : 0}};
         }},
        {"GetCount",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             return Members{{"Total", static_cast<int>(app.roster->total())},
                            {"Selected", static_cast<int>(app.selection.size())}};
         }},
        {"GetFields",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             Members out;
             for (const auto* f : app.roster->fields())
                 out.emplace_back(f->name, kindName(f->kind));
             return out;
         }},
        {"GetTemplates",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             Members out;
             for (const auto& t : app.templates)
                 out.emplace_back(t.name, t.name == app.activeTemplate ? "Active" : "Available");
             return out;
         }},
        {"GetStatus",
         {},
         Others::None,
         0,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             // Answers without a design too: a status is what one asks when unsure.
             auto id = app.current();
             bool open = app.design.has_value();
             return Members{{"Design", open ? app.design->name : ""},
                            {"File", open ? app.design->file.string() : ""},
                            {"Records", open ? static_cast<int>(app.roster->total()) : 0},
                            {"Selected", static_cast<int>(app.selection.size())},
                            {"Position", id ? static_cast<int>(app.position + 1) : 0},
                            {"Side", app.side == "front" ? "Front" : "Back"},
                            {"Template", app.activeTemplate},
                            {"ServerMode", onOff(app.serverMode)},
                            {"Logging", onOff(app.logging)},
                            {"Busy", app.pending > 0 ? "Yes" : "No"},
                            {"LastCommandError", app.lastError.load()},
                            {"EditCount", app.editCount},
                            {"Focus", app.focusField},
                            {"LastPrint", app.lastPrint},
                            {"RosterLinkFile", app.linkCsv}};
         }},
        {"GetToolbarStatus",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             bool cur = app.current().has_value();
             bool any = !app.selection.empty();
             bool back = any && app.position > 0;
             bool ahead = any && app.position + 1 < app.selection.size();
             return Members{{"First", enabled(back)},
                            {"Previous", enabled(back)},
                            {"Next", enabled(ahead)},
                            {"Last", enabled(ahead)},
                            {"Add", enabled(true)},
                            {"Delete", enabled(cur)},
                            {"Print", enabled(cur)},
                            {"Video", enabled(cur && app.hasKind(FieldKind::Photo))},
                            {"Signature", enabled(cur && app.hasKind(FieldKind::Signature))},
                            {"Fingerprint", enabled(cur && app.hasKind(FieldKind::Fingerprint))},
                            {"FlipBadge", enabled(true)}};
         }},
        {"GetCWHandle",
         {},
         Others::None,
         kLockFree,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             return app.windowId ? static_cast<int>(app.windowId) : static_cast<int>(getpid());
         }},
        {"GetEditCount",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer { return app.editCount; }},
        {"GetUserData",
         {},
         Others::None,
         kDesignQuery,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             Members out;
             for (auto& [k, v] : app.roster->userData())
                 out.emplace_back(k, std::move(v));
             return out;
         }},
        {"GetBadgeImage",
         {"Side", "Id"},
         Others::None,
         kDesignQuery,
         [](S&, A& a) {
             if (const auto& s = a["Side"]) {
                 a.text = asciiLower(*s);
                 if (a.text != "front" && a.text != "back")
                     throw CwError(code::BadArgument,
                                   "GetBadgeImage: Side must be Front or Back, not '" + *s + "'");
             }
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             return Png{
                 app.renderBadge(app.recordArg(a["Id"]), a.text.empty() ? app.side : a.text)};
         }},
        {"GetPhotoImage",
         {"Id", "Field"},
         Others::None,
         kDesignQuery,
         pictureField<FieldKind::Photo>,
         nullptr,
         picture<FieldKind::Photo>},
        {"GetSignatureImage",
         {"Id", "Field"},
         Others::None,
         kDesignQuery,
         pictureField<FieldKind::Signature>,
         nullptr,
         picture<FieldKind::Signature>},
        {"GetFingerprintImage",
         {"Id", "Field"},
         Others::None,
         kDesignQuery,
         pictureField<FieldKind::Fingerprint>,
         nullptr,
         picture<FieldKind::Fingerprint>},
    };
    return rows;
}

} // namespace cwsim
