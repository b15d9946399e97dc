// The command rows: what each command takes, checks and does. The engine
// queues them; see engine.h for when each part runs. A command that changes
// both the roster and what the state holds writes the roster first and
// changes the state only once that has succeeded, so a failed write leaves
// the two agreeing.
#include "method_row.h"

#include "csv.h"
#include "pictures.h"
#include "text.h"

#include <QColor>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace cwsim {
namespace {

constexpr std::uintmax_t kMaxCsvBytes = 64u << 20;

using A = Args;
using S = AppState;

std::string method(const A& a) {
    return a.method();
}

// {"A", "B"} -> "A,B": the form templates keep their fields in.
std::string joinList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : ",") + item;
    return out;
}

void needCurrent(S& app, A&) {
    app.requireCurrent();
}

void needSelection(S& app, A&) {
    if (app.selection.empty())
        throw CwError(code::NoRecord, "No records selected");
}

void needValues(S&, A& a) {
    if (a.values.empty())
        throw CwError(code::BadArgument, method(a) + " needs at least one Field=Value");
}

// Name=TEMPLATE, valid as a name; kept in a.text.
void templateName(S&, A& a) {
    const auto& n = a["Name"];
    if (!n)
        throw CwError(code::BadArgument, method(a) + " needs Name=TEMPLATE");
    if (!isValidName(*n))
        throw CwError(code::BadArgument,
                      "'" + *n + "' is not a valid template name (letters, digits, _)");
    a.text = *n;
}

// Name, Background and Fields of CreateTemplate and ReviseTemplate; the
// fields' names kept in a.list.
void templateSettings(S& app, A& a) {
    templateName(app, a);
    if (const auto& bg = a["Background"]; bg && !QColor(QString::fromStdString(*bg)).isValid())
        throw CwError(code::BadArgument,
                      method(a) + ": Background must be a colour such as #ffcc00");
    if (const auto& fields = a["Fields"])
        for (const auto& name : splitList(*fields))
            a.list.push_back(app.requireField(name).name);
}

void templateKnown(S& app, A& a) {
    if (!app.findTemplate(a.text))
        throw CwError(code::NoTemplate, "No template named '" + a.text + "'");
}

template <FieldKind Kind> void captureDevice(S& app, A& a) {
    if (!app.hasKind(Kind))
        throw CwError(code::NoDevice, method(a) + ": the design has no " + kindName(Kind) +
                                          " field to capture into");
}

template <FieldKind Kind> Answer capture(S& app, A&) {
    auto id = app.requireCurrent();
    const auto& fields = app.design->fields;
    auto it =
        std::find_if(fields.begin(), fields.end(), [](const auto& f) { return f.kind == Kind; });
    std::random_device rd;
    auto seed = static_cast<std::uint32_t>(rd());
    // The signature's length follows the first text the record holds (a name).
    auto rec = app.roster->get(id);
    std::string name = "signature";
    const auto& data = app.roster->fields();
    for (std::size_t i = 0; rec && i < data.size(); ++i)
        if (!isPicture(data[i]->kind) && !rec->values[i].empty()) {
            name = rec->values[i];
            break;
        }
    QImage img = Kind == FieldKind::Photo       ? drawPhoto(seed)
                 : Kind == FieldKind::Signature ? drawSignature(seed, name)
                                                : drawFingerprint(seed);
    app.roster->setPicture(id, it->name, toPng(img));
    ++app.editCount;
    return {};
}

Answer print(S& app, A&) {
    auto id = app.requireCurrent();
    std::filesystem::path dir = app.options.printDir.empty()
                                    ? app.design->roster.parent_path() / "prints"
                                    : std::filesystem::path(app.options.printDir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        throw CwError(code::Output,
                      "Cannot create print folder " + dir.string() + ": " + ec.message());
    auto stamp = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    std::string printed;
    for (const std::string side : {"front", "back"}) {
        bool hasSide =
            side == "front" || std::any_of(app.design->fields.begin(), app.design->fields.end(),
                                           [](const auto& f) { return f.side == "back"; });
        if (!hasSide)
            continue;
        auto file = dir / ("badge-" + std::to_string(id) + "-" + side + "-" +
                           std::to_string(stamp) + ".png");
        auto png = app.renderBadge(id, side);
        std::ofstream out(file, std::ios::binary);
        out.write(png.data(), static_cast<std::streamsize>(png.size()));
        out.close();
        if (!out)
            throw CwError(code::Output, "Cannot write " + file.string());
        printed = file.string();
    }
    app.lastPrint = printed;
    return {};
}

Answer importCsv(S& app, A&) {
    const auto& design = *app.design;
    std::string path = app.linkCsv.empty() ? design.linkCsv.string() : app.linkCsv;
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec)
        throw CwError(code::Import, "Cannot read " + path + ": " + ec.message());
    if (size > kMaxCsvBytes)
        throw CwError(code::Import, path + " is larger than 64 MiB");
    std::ifstream in(path, std::ios::binary);
    std::stringstream buf;
    buf << in.rdbuf();
    std::vector<CsvRow> rows;
    try {
        rows = parseCsv(buf.str());
    } catch (const CsvError& e) {
        throw CwError(code::Import, path + ": " + e.what());
    }
    if (rows.empty())
        throw CwError(code::Import, path + " is empty: it needs a header row naming the fields");
    const auto& header = rows.front();
    for (const auto& col : header) {
        const auto* f = design.field(col);
        if (!f || isPicture(f->kind))
            throw CwError(code::Import, path + ": column '" + col +
                                            "' is not a text field of the design (" +
                                            fieldList(design) + ")");
    }
    auto keyCol = std::find(header.begin(), header.end(), design.linkKey);
    app.roster->transaction([&] {
        for (std::size_t r = 1; r < rows.size(); ++r) {
            if (app.cancel)
                throw CwError(code::ShuttingDown, "The import was cut short by shut-down");
            Pairs values;
            for (std::size_t c = 0; c < header.size(); ++c)
                values.emplace_back(header[c], rows[r][c]);
            std::optional<std::int64_t> existing;
            if (!design.linkKey.empty() && keyCol != header.end())
                existing = app.roster->findExact(
                    design.linkKey, rows[r][static_cast<std::size_t>(keyCol - header.begin())]);
            if (existing)
                app.roster->update(*existing, values);
            else
                app.roster->add(values);
        }
    });
    app.refreshSelection(app.current());
    return {};
}

constexpr unsigned kDesignCommand = kCommand | kNeedsDesign;
constexpr unsigned kWriting = kCommand | kNeedsDesign | kWrites;
constexpr auto Photo = FieldKind::Photo;

} // namespace

const std::vector<MethodRow>& commandRows() {
    static const std::vector<MethodRow> rows = {
        {"Open",
         {"File|Design|Path|FileName"},
         Others::Ignored,
         kCommand | kOnWorker | kOpens,
         [](S&, A& a) {
             const auto& path = a["File"];
             if (!path || path->empty())
                 throw CwError(code::BadArgument, "Open needs the design file: File=PATH");
             try {
                 a.design = loadDesign(*path);
             } catch (const NotADesignFile& e) {
                 throw CwError(code::BadArgument, e.what());
             } catch (const DesignError& e) {
                 throw CwError(code::DesignFile, e.what());
             }
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             app.openDesign(std::move(*a.design));
             a.design.reset();
             return "Open finished: " + app.design->file.string() + ", " +
                    std::to_string(app.roster->total()) + " records";
         }},
        {"Close",
         {},
         Others::None,
         kDesignCommand | kCloses,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             app.closeDesign();
             return {};
         }},
        {"First",
         {},
         Others::None,
         kDesignCommand,
         nullptr,
         needSelection,
         [](S& app, A&) -> Answer {
             app.position = 0;
             return {};
         }},
        {"Next",
         {},
         Others::None,
         kDesignCommand,
         nullptr,
         needSelection,
         [](S& app, A&) -> Answer {
             if (app.position + 1 >= app.selection.size())
                 throw CwError(code::EndOfSelection, "Already at the last record of the selection");
             ++app.position;
             return {};
         }},
        {"Previous",
         {},
         Others::None,
         kDesignCommand,
         nullptr,
         needSelection,
         [](S& app, A&) -> Answer {
             if (app.position == 0)
                 throw CwError(code::EndOfSelection,
                               "Already at the first record of the selection");
             --app.position;
             return {};
         }},
        {"Last",
         {},
         Others::None,
         kDesignCommand,
         nullptr,
         needSelection,
         [](S& app, A&) -> Answer {
             app.position = app.selection.size() - 1;
             return {};
         }},
        {"Select",
         {},
         Others::Criteria,
         kDesignCommand,
         nullptr,
         nullptr,
         [](S& app, A& a) -> Answer {
             app.criteria = a.others();
             app.position = 0;
             app.refreshSelection(std::nullopt);
             return {};
         }},
        {"Delete",
         {},
         Others::Criteria,
         kWriting,
         nullptr,
         [](S& app, A& a) {
             if (a.others().empty())
                 app.requireCurrent();
         },
         [](S& app, A& a) -> Answer {
             std::vector<std::int64_t> ids;
             if (a.others().empty())
                 ids.push_back(app.requireCurrent());
             else
                 ids = app.roster->select(a.others());
             auto cur = app.current();
             int removed = ids.empty() ? 0 : app.roster->remove(ids);
             if (removed == 0)
                 throw CwError(code::NotFound, "No record matches the Delete criteria");
             app.editCount += removed;
             app.refreshSelection(cur);
             return {};
         }},
        {"Revise",
         {"Id"},
         Others::Values,
         kWriting,
         [](S& app, A& a) {
             const auto& id = a["Id"];
             if (!id)
                 throw CwError(code::BadArgument,
                               "Revise needs the record: Id=N, then Field=Value pairs");
             a.number = number("Revise", "Id", *id);
             needValues(app, a);
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             if (!app.roster->get(a.number))
                 throw CwError(code::NotFound, "Record " + *a["Id"] + " does not exist");
             app.roster->update(a.number, a.values);
             ++app.editCount;
             return {};
         }},
        {"Add",
         {},
         Others::Values,
         kWriting,
         needValues,
         nullptr,
         [](S& app, A& a) -> Answer {
             auto id = app.roster->add(a.values);
             app.refreshSelection(id);
             if (!std::binary_search(app.selection.begin(), app.selection.end(), id)) {
                 // The new record is made current, so it must be in the selection.
                 app.criteria.clear();
                 app.refreshSelection(id);
             }
             ++app.editCount;
             return {};
         }},
        {"Update",
         {},
         Others::Values,
         kWriting,
         needValues,
         needCurrent,
         [](S& app, A& a) -> Answer {
             app.roster->update(app.requireCurrent(), a.values);
             ++app.editCount;
             return {};
         }},
        {"Exit",
         {},
         Others::None,
         kCommand,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             app.exiting = true;
             return {};
         }},
        {"Startlog",
         {},
         Others::None,
         kCommand,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             app.logging = true;
             return {};
         }},
        {"Stoplog",
         {},
         Others::None,
         kCommand,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             app.logging = false;
             return {};
         }},
        {"Restore",
         {},
         Others::None,
         kCommand,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             ++app.restoreRequests;
             return {};
         }},
        {"Focus",
         {"Field"},
         Others::None,
         kDesignCommand,
         [](S& app, A& a) {
             const auto& f = a["Field"];
             if (!f)
                 throw CwError(code::BadArgument, "Focus needs Field=NAME");
             a.text = app.requireField(*f).name;
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             app.focusField = a.text;
             ++app.focusRequests;
             return {};
         }},
        {"Video", {}, Others::None, kWriting, captureDevice<Photo>, needCurrent, capture<Photo>},
        {"Print", {}, Others::None, kDesignCommand, nullptr, needCurrent, print},
        {"Twain", {}, Others::None, kWriting, captureDevice<Photo>, needCurrent, capture<Photo>},
        {"Signature",
         {},
         Others::None,
         kWriting,
         captureDevice<FieldKind::Signature>,
         needCurrent,
         capture<FieldKind::Signature>},
        {"Bitmap", {}, Others::None, kWriting, captureDevice<Photo>, needCurrent, capture<Photo>},
        {"Preview",
         {},
         Others::None,
         kDesignCommand,
         nullptr,
         needCurrent,
         [](S& app, A&) -> Answer {
             ++app.previewRequests;
             return {};
         }},
        {"ServerMode",
         {"Mode|Enabled|On"},
         Others::Ignored,
         kDesignCommand,
         [](S&, A& a) {
             const auto& m = a["Mode"];
             if (!m)
                 throw CwError(code::BadArgument, "ServerMode needs Mode=On or Mode=Off");
             a.flag = truthy("ServerMode", "Mode", *m);
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             app.serverMode = a.flag;
             return {};
         }},
        {"Goto",
         {"Record|Position", "Id"},
         Others::None,
         kDesignCommand,
         [](S&, A& a) {
             const auto& rec = a["Record"];
             const auto& id = a["Id"];
             if (!rec && !id)
                 throw CwError(code::BadArgument,
                               "Goto needs Record=N (position in the selection) or Id=N");
             if (id)
                 a.number = number("Goto", "Id", *id);
             if (rec) { // a position wins over an Id
                 a.number = number("Goto", "Record", *rec);
                 if (a.number < 1)
                     throw CwError(code::BadArgument, "Goto: Record counts from 1");
                 a.flag = true;
             }
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             if (a.flag) {
                 if (static_cast<std::size_t>(a.number) > app.selection.size())
                     throw CwError(code::NotFound, "Goto: there is no record " + *a["Record"] +
                                                       " in a selection of " +
                                                       std::to_string(app.selection.size()));
                 app.position = static_cast<std::size_t>(a.number - 1);
                 return {};
             }
             auto it = std::lower_bound(app.selection.begin(), app.selection.end(), a.number);
             if (it == app.selection.end() || *it != a.number)
                 throw CwError(code::NotFound,
                               "Goto: record " + *a["Id"] + " is not in the selection");
             app.position = static_cast<std::size_t>(it - app.selection.begin());
             return {};
         }},
        {"Edit",
         {},
         Others::Values,
         kWriting,
         needValues,
         needCurrent,
         [](S& app, A& a) -> Answer {
             app.roster->update(app.requireCurrent(), a.values);
             ++app.editCount;
             return {};
         }},
        {"CreateTemplate",
         {"Name|Template", "Title", "Background", "Fields"},
         Others::None,
         kWriting,
         templateSettings,
         [](S& app, A& a) {
             if (app.findTemplate(a.text))
                 throw CwError(code::Exists, "Template '" + a.text + "' already exists");
         },
         [](S& app, A& a) -> Answer {
             TemplateDef t;
             t.name = a.text;
             if (const auto& v = a["Title"])
                 t.title = *v;
             if (const auto& v = a["Background"])
                 t.background = QColor(QString::fromStdString(*v)).name().toStdString();
             if (a["Fields"])
                 t.fields = a.list;
             app.roster->saveTemplate({t.name, t.title, t.background, joinList(t.fields)});
             app.templates.push_back(t);
             return {};
         }},
        {"ReviseTemplate",
         {"Name|Template", "Title", "Background", "Fields"},
         Others::None,
         kWriting,
         templateSettings,
         templateKnown,
         [](S& app, A& a) -> Answer {
             TemplateDef t = *app.findTemplate(a.text);
             if (const auto& v = a["Title"])
                 t.title = *v;
             if (const auto& v = a["Background"])
                 t.background = QColor(QString::fromStdString(*v)).name().toStdString();
             if (a["Fields"])
                 t.fields = a.list;
             app.roster->saveTemplate({t.name, t.title, t.background, joinList(t.fields)});
             *app.findTemplate(a.text) = t;
             return {};
         }},
        {"ManageTemplates",
         {},
         Others::None,
         kDesignCommand,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             ++app.previewRequests; // the window shows the badge with its template
             return {};
         }},
        {"ReviseAssignments",
         {"Template"},
         Others::Assignments,
         kWriting,
         [](S&, A& a) {
             if (a.others().empty())
                 throw CwError(code::BadArgument,
                               "ReviseAssignments needs Field=Yes|No pairs (and Template=NAME)");
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             auto name = a["Template"].value_or(app.activeTemplate);
             auto* t = app.findTemplate(name);
             if (!t)
                 throw CwError(code::NoTemplate, "No template named '" + name + "'");
             std::vector<std::string> shown = t->fields;
             if (shown.empty())
                 for (const auto* f : app.roster->fields())
                     shown.push_back(f->name);
             for (const auto& [k, v] : a.others()) {
                 bool on = truthy(a.method(), k, v);
                 auto pos = std::find(shown.begin(), shown.end(), k);
                 if (on && pos == shown.end())
                     shown.push_back(k);
                 if (!on && pos != shown.end())
                     shown.erase(pos);
             }
             app.roster->saveTemplate({t->name, t->title, t->background, joinList(shown)});
             t->fields = shown;
             return {};
         }},
        {"Fingerprint",
         {},
         Others::None,
         kWriting,
         captureDevice<FieldKind::Fingerprint>,
         needCurrent,
         capture<FieldKind::Fingerprint>},
        {"Template",
         {"Name|Template"},
         Others::None,
         kWriting,
         templateName,
         templateKnown,
         [](S& app, A& a) -> Answer {
             app.roster->setSetting("template", a.text);
             app.activeTemplate = a.text;
             return {};
         }},
        {"ReviseUserData",
         {},
         Others::Anything,
         kWriting,
         [](S&, A& a) {
             if (a.others().empty())
                 throw CwError(code::BadArgument, "ReviseUserData needs Key=Value pairs");
             for (const auto& [k, v] : a.others())
                 if (k.empty() || k.size() > 64 || v.size() > 4096)
                     throw CwError(
                         code::BadArgument,
                         "ReviseUserData: keys of 1 to 64 bytes, values up to 4096 bytes");
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             app.roster->setUserData(a.others());
             return {};
         }},
        {"FlipBadge",
         {"Side"},
         Others::None,
         kDesignCommand,
         [](S&, A& a) {
             if (const auto& s = a["Side"]) {
                 a.text = asciiLower(*s);
                 if (a.text != "front" && a.text != "back")
                     throw CwError(code::BadArgument,
                                   "FlipBadge: Side must be Front or Back, not '" + *s + "'");
             }
         },
         nullptr,
         [](S& app, A& a) -> Answer {
             app.side = !a.text.empty() ? a.text : (app.side == "front" ? "back" : "front");
             return {};
         }},
        {"RosterLinkConfig",
         {},
         Others::None,
         kWriting,
         nullptr,
         nullptr,
         [](S& app, A&) -> Answer {
             auto csv = app.design->linkCsv.string();
             app.roster->setSetting("rosterlink.csv", csv);
             app.linkCsv = std::move(csv);
             return {};
         }},
        {"RosterLink", {}, Others::None, kWriting, nullptr, nullptr, importCsv},
    };
    return rows;
}

} // namespace cwsim
