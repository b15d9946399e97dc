#include "engine.h"

#include "csv.h"
#include "pictures.h"
#include "sample.h"
#include "text.h"

#include <QColor>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace cwsim {
namespace {

constexpr std::size_t kMaxQueued = 1000;
constexpr std::size_t kRecentCalls = 50;
constexpr std::uintmax_t kMaxCsvBytes = 64u << 20;

// The value of the first of `names` present in `args`, or nullopt.
std::optional<std::string> argOf(const Pairs& args, std::initializer_list<const char*> names) {
    for (const char* n : names)
        for (const auto& [k, v] : args)
            if (asciiLower(k) == asciiLower(n))
                return v;
    return std::nullopt;
}

bool truthy(const std::string& method, const std::string& name, const std::string& value) {
    auto v = asciiLower(value);
    if (v == "on" || v == "yes" || v == "true" || v == "1")
        return true;
    if (v == "off" || v == "no" || v == "false" || v == "0")
        return false;
    throw CwError(code::BadArgument,
                  method + ": " + name + " must be On or Off, not '" + value + "'");
}

std::int64_t number(const std::string& method, const std::string& name, const std::string& value) {
    std::int64_t n = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || ptr != value.data() + value.size())
        throw CwError(code::BadArgument,
                      method + ": " + name + " must be a whole number, not '" + value + "'");
    return n;
}

std::string fieldList(const Design& d) {
    std::string out;
    for (const auto* f : d.dataFields())
        out += (out.empty() ? "" : ", ") + f->name;
    return out;
}

// "A, B ,C" -> {"A", "B", "C"}; empty items dropped.
std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        item.erase(0, item.find_first_not_of(' '));
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        if (!item.empty())
            out.push_back(item);
    }
    return out;
}

// Refuses a member that the method would otherwise ignore (a mistyped name),
// for the methods whose arguments are not field names.
void onlyKnownKeys(const std::string& method, const Pairs& args) {
    static const std::map<std::string, std::vector<std::string>> known = {
        {"Goto", {"Record", "Position", "Id"}},
        {"Focus", {"Field"}},
        {"FlipBadge", {"Side"}},
        {"Template", {"Name", "Template"}},
        {"CreateTemplate", {"Name", "Template", "Title", "Background", "Fields"}},
        {"ReviseTemplate", {"Name", "Template", "Title", "Background", "Fields"}},
        {"GetBadgeImage", {"Side", "Id"}},
        {"GetPhotoImage", {"Id", "Field"}},
        {"GetSignatureImage", {"Id", "Field"}},
        {"GetFingerprintImage", {"Id", "Field"}}};
    auto it = known.find(method);
    if (it == known.end())
        return;
    for (const auto& [k, v] : args) {
        if (std::any_of(it->second.begin(), it->second.end(),
                        [&](const std::string& n) { return asciiLower(k) == asciiLower(n); }))
            continue;
        std::string names;
        for (const auto& n : it->second)
            names += (names.empty() ? "" : ", ") + n;
        throw CwError(code::BadArgument,
                      method + " does not take '" + k + "' (it takes " + names + ")");
    }
}

// {"A", "B"} -> "A,B": the form templates keep their fields in.
std::string joinList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : ",") + item;
    return out;
}

std::string onOff(bool b) {
    return b ? "On" : "Off";
}

} // namespace

std::string codeText(int errorCode) {
    switch (errorCode) {
    case 0:
        return "No error";
    case code::NoDesign:
        return "No design is open";
    case code::UnknownField:
        return "Unknown field";
    case code::BadArgument:
        return "Bad argument";
    case code::WrongRole:
        return "Not available in this program";
    case code::NoRecord:
        return "No current record";
    case code::NotFound:
        return "Record not found";
    case code::DesignFile:
        return "The design file cannot be used";
    case code::Database:
        return "Roster database error";
    case code::NoTemplate:
        return "Template not found";
    case code::Exists:
        return "Already exists";
    case code::NoPicture:
        return "No picture stored";
    case code::Import:
        return "Roster import failed";
    case code::Output:
        return "Cannot write output file";
    case code::AccessKey:
        return "Access key missing or wrong";
    case code::EndOfSelection:
        return "No further record in the selection";
    case code::ShuttingDown:
        return "The program is shutting down";
    case code::QueueFull:
        return "Too many commands pending";
    case code::NoDevice:
        return "The design has no field for this capture";
    case code::Internal:
        return "Internal error";
    default:
        return {};
    }
}

Engine::Engine(const Options& options) : options_(options) {}

Engine::~Engine() {
    stop();
}

void Engine::start() {
    worker_ = std::thread([this] { workerLoop(); });
    if (!options_.design.empty()) {
        // Opening may create and fill the roster; the server listens meanwhile
        // and IsBusy says so.
        command("Open", {{"File", options_.design}});
    }
}

void Engine::stop() {
    cancel_ = true; // before the lock, which a long command may hold
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !worker_.joinable())
            return;
        stopping_ = true;
        pending_ -= static_cast<int>(queue_.size());
        queue_.clear();
    }
    queueCv_.notify_all();
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
    std::lock_guard lock(mutex_);
    roster_.reset();
}

void Engine::workerLoop() {
    for (;;) {
        Job job;
        std::string report; // a failure, or what an Open found: for the log
        {
            std::unique_lock lock(mutex_);
            queueCv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                break;
            job = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
            if (options_.busyMs > 0) {
                // Simulated work; a stop cuts it short.
                queueCv_.wait_for(lock, std::chrono::milliseconds(options_.busyMs),
                                  [&] { return stopping_; });
                if (stopping_) {
                    running_ = false;
                    break;
                }
            }
            try {
                run(job);
                if (job.method == "Open")
                    report = "Open finished: " + design_->file.string() + ", " +
                             std::to_string(roster_->total()) + " records";
                lastError_ = 0;
                lastErrorText_.clear();
            } catch (const CwError& e) {
                lastError_ = e.code();
                lastErrorText_ = e.what();
            } catch (const RosterError& e) {
                lastError_ = code::Database;
                lastErrorText_ = e.what();
            } catch (const std::exception& e) {
                lastError_ = code::Internal;
                lastErrorText_ = e.what();
            }
            if (lastError_ != 0)
                report = job.method + " finished with error " + std::to_string(lastError_) + ": " +
                         lastErrorText_;
            // Logged before the command counts as finished, so that whoever
            // sees IsBusy turn false finds the line already there.
            if (!report.empty()) {
                std::fprintf(stderr, "cardwright-sim: %s\n", report.c_str());
                recordCall(report);
            }
            running_ = false;
            --pending_;
            changed();
        }
        idleCv_.notify_all();
        bool exitNow = false;
        {
            std::lock_guard lock(mutex_);
            exitNow = exiting_ && !exitAnnounced_;
            exitAnnounced_ = exitAnnounced_ || exitNow;
        }
        if (exitNow && onExit)
            onExit();
    }
    idleCv_.notify_all();
}

bool Engine::waitIdle(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return idleCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return queue_.empty() && !running_; });
}

// ---------------------------------------------------------------- checks

void Engine::requireDesign() const {
    if (!design_)
        throw CwError(code::NoDesign, "No design is open: call Open with File=PATH first");
}

const FieldDef& Engine::requireField(const std::string& name) const {
    requireDesign();
    const auto* f = design_->field(name);
    if (!f)
        throw CwError(code::UnknownField, "Unknown field '" + name + "' (the design's fields: " +
                                              fieldList(*design_) + ")");
    return *f;
}

std::optional<std::int64_t> Engine::current() const {
    if (!design_ || position_ >= selection_.size())
        return std::nullopt;
    return selection_[position_];
}

std::int64_t Engine::requireCurrent() const {
    requireDesign();
    auto id = current();
    if (!id)
        throw CwError(code::NoRecord, "No current record: the selection is empty");
    return *id;
}

std::int64_t Engine::recordArg(const Pairs& args) const {
    if (auto id = argOf(args, {"Id"})) {
        auto n = number("Record", "Id", *id);
        if (!roster_->get(n))
            throw CwError(code::NotFound, "Record " + *id + " does not exist");
        return n;
    }
    return requireCurrent();
}

Pairs Engine::dataValues(const Pairs& args, bool allowId) const {
    Pairs out;
    for (const auto& [k, v] : args) {
        if (allowId && k == "Id")
            continue;
        const auto& f = requireField(k);
        if (isPicture(f.kind))
            throw CwError(code::BadArgument,
                          "Field '" + k + "' holds a picture; use the capture commands to fill it");
        if (v.size() > 4096)
            throw CwError(code::BadArgument, "The value of '" + k + "' is longer than 4096 bytes");
        out.emplace_back(k, v);
    }
    return out;
}

// Accept-time checks. A command queued behind others is checked against the
// design it will find (an Open still in the queue counts), but not against the
// current record, which the commands ahead of it may change.
void Engine::validate(const std::string& method, const Pairs& args) {
    if (stopping_ || exiting_)
        throw CwError(code::ShuttingDown, "The program is shutting down");
    if (queue_.size() >= kMaxQueued)
        throw CwError(code::QueueFull,
                      "Too many commands pending (" + std::to_string(kMaxQueued) + ")");
    onlyKnownKeys(method, args);
    bool settled = queue_.empty() && !running_;
    bool designPending = false;
    for (const auto& j : queue_) {
        if (j.method == "Open")
            designPending = true;
        if (j.method == "Close")
            designPending = false;
    }
    if (method == "Open") {
        auto path = argOf(args, {"File", "Design", "Path", "FileName"});
        if (!path && args.size() == 1)
            path = args.front().second;
        if (!path || path->empty())
            throw CwError(code::BadArgument, "Open needs the design file: File=PATH");
        try {
            loadDesign(*path);
        } catch (const DesignError& e) {
            throw CwError(code::DesignFile, e.what());
        }
        return;
    }
    static const std::vector<std::string> noDesignNeeded = {"Exit", "Startlog", "Stoplog",
                                                            "Restore"};
    if (std::find(noDesignNeeded.begin(), noDesignNeeded.end(), method) != noDesignNeeded.end())
        return;
    if (designPending)
        return; // fields and records are checked when it runs
    requireDesign();
    auto needCurrent = [&] {
        if (settled)
            requireCurrent();
    };
    if (method == "Select") {
        for (const auto& [k, v] : args)
            if (k != "Id")
                requireField(k);
    } else if (method == "Delete") {
        for (const auto& [k, v] : args)
            if (k != "Id")
                requireField(k);
        if (args.empty())
            needCurrent();
    } else if (method == "Revise") {
        auto id = argOf(args, {"Id"});
        if (!id)
            throw CwError(code::BadArgument,
                          "Revise needs the record: Id=N, then Field=Value pairs");
        number(method, "Id", *id);
        if (dataValues(args, true).empty())
            throw CwError(code::BadArgument, "Revise needs at least one Field=Value");
    } else if (method == "Add") {
        if (dataValues(args, false).empty())
            throw CwError(code::BadArgument, "Add needs at least one Field=Value");
    } else if (method == "Update" || method == "Edit") {
        if (dataValues(args, false).empty())
            throw CwError(code::BadArgument, method + " needs at least one Field=Value");
        needCurrent();
    } else if (method == "Goto") {
        auto rec = argOf(args, {"Record", "Position"});
        auto id = argOf(args, {"Id"});
        if (!rec && !id)
            throw CwError(code::BadArgument,
                          "Goto needs Record=N (position in the selection) or Id=N");
        if (rec && number(method, "Record", *rec) < 1)
            throw CwError(code::BadArgument, "Goto: Record counts from 1");
        if (id)
            number(method, "Id", *id);
    } else if (method == "Focus") {
        auto f = argOf(args, {"Field"});
        if (!f)
            throw CwError(code::BadArgument, "Focus needs Field=NAME");
        requireField(*f);
    } else if (method == "ServerMode") {
        auto m = argOf(args, {"Mode", "Enabled", "On"});
        if (!m && args.size() == 1)
            m = args.front().second;
        if (!m)
            throw CwError(code::BadArgument, "ServerMode needs Mode=On or Mode=Off");
        truthy(method, "Mode", *m);
    } else if (method == "FlipBadge") {
        if (auto s = argOf(args, {"Side"});
            s && asciiLower(*s) != "front" && asciiLower(*s) != "back")
            throw CwError(code::BadArgument,
                          "FlipBadge: Side must be Front or Back, not '" + *s + "'");
    } else if (method == "CreateTemplate" || method == "ReviseTemplate" || method == "Template") {
        auto n = argOf(args, {"Name", "Template"});
        if (!n)
            throw CwError(code::BadArgument, method + " needs Name=TEMPLATE");
        if (!isValidName(*n))
            throw CwError(code::BadArgument,
                          "'" + *n + "' is not a valid template name (letters, digits, _)");
        bool exists = std::any_of(templates_.begin(), templates_.end(),
                                  [&](const auto& t) { return t.name == *n; });
        if (settled && method == "CreateTemplate" && exists)
            throw CwError(code::Exists, "Template '" + *n + "' already exists");
        if (settled && method != "CreateTemplate" && !exists)
            throw CwError(code::NoTemplate, "No template named '" + *n + "'");
        if (auto bg = argOf(args, {"Background"});
            bg && !QColor(QString::fromStdString(*bg)).isValid())
            throw CwError(code::BadArgument,
                          method + ": Background must be a colour such as #ffcc00");
        if (auto fl = argOf(args, {"Fields"}))
            for (const auto& name : splitList(*fl))
                requireField(name);
    } else if (method == "ReviseAssignments") {
        bool any = false;
        for (const auto& [k, v] : args) {
            if (k == "Template")
                continue;
            requireField(k);
            truthy(method, k, v);
            any = true;
        }
        if (!any)
            throw CwError(code::BadArgument,
                          "ReviseAssignments needs Field=Yes|No pairs (and Template=NAME)");
    } else if (method == "ReviseUserData") {
        if (args.empty())
            throw CwError(code::BadArgument, "ReviseUserData needs Key=Value pairs");
        for (const auto& [k, v] : args)
            if (k.empty() || k.size() > 64 || v.size() > 4096)
                throw CwError(code::BadArgument,
                              "ReviseUserData: keys of 1 to 64 bytes, values up to 4096 bytes");
    } else if (method == "Video" || method == "Twain" || method == "Bitmap" ||
               method == "Signature" || method == "Fingerprint") {
        auto kind = method == "Signature"     ? FieldKind::Signature
                    : method == "Fingerprint" ? FieldKind::Fingerprint
                                              : FieldKind::Photo;
        bool has = std::any_of(design_->fields.begin(), design_->fields.end(),
                               [&](const auto& f) { return f.kind == kind; });
        if (!has)
            throw CwError(code::NoDevice, method + ": the design has no " + kindName(kind) +
                                              " field to capture into");
        needCurrent();
    } else if (method == "Print" || method == "Preview") {
        needCurrent();
    } else if (method == "First" || method == "Last" || method == "Next" || method == "Previous") {
        if (settled && selection_.empty())
            throw CwError(code::NoRecord, "No records selected");
    }
}

// ---------------------------------------------------------------- commands

void Engine::command(const std::string& method, const Pairs& args) {
    {
        std::lock_guard lock(mutex_);
        validate(method, args);
        queue_.push_back(Job{method, args});
        ++pending_;
    }
    queueCv_.notify_one();
}

void Engine::openDesign(const std::string& path) {
    Design d;
    try {
        d = loadDesign(path);
    } catch (const DesignError& e) {
        throw CwError(code::DesignFile, e.what());
    }
    closeDesign();
    design_ = std::move(d);
    try {
        roster_ = std::make_unique<Roster>(*design_);
        // Marked done in the same transaction, so a first open that was cut
        // short (killed, stopped) generates again next time instead of
        // leaving an empty roster.
        if (design_->generate > 0 && roster_->setting("generated").empty() && roster_->total() == 0)
            roster_->transaction([&] {
                generatePeople(*design_, *roster_, design_->generate,
                               [this] { return cancel_.load(); });
                roster_->setSetting("generated", std::to_string(design_->generate));
            });
    } catch (...) {
        roster_.reset();
        design_.reset();
        throw;
    }
    loadTemplates();
    linkCsv_ = roster_->setting("rosterlink.csv");
    refreshSelection(std::nullopt);
    std::lock_guard lock(recentMutex_);
    designLabel_ = design_->file.filename().string();
}

void Engine::closeDesign() {
    {
        std::lock_guard lock(recentMutex_);
        designLabel_ = "no design";
    }
    roster_.reset();
    design_.reset();
    criteria_.clear();
    selection_.clear();
    position_ = 0;
    templates_.clear();
    activeTemplate_.clear();
    side_ = "front";
    focusField_.clear();
    editCount_ = 0;
}

void Engine::loadTemplates() {
    templates_ = design_->templates;
    for (const auto& row : roster_->templates()) {
        TemplateDef t;
        t.name = row.name;
        t.title = row.title;
        t.background = row.background;
        for (const auto& f : splitList(row.fields))
            if (design_->field(f))
                t.fields.push_back(f);
        auto it = std::find_if(templates_.begin(), templates_.end(),
                               [&](const auto& x) { return x.name == t.name; });
        if (it != templates_.end()) {
            t.accent = it->accent;
            *it = t;
        } else {
            templates_.push_back(t);
        }
    }
    if (templates_.empty()) {
        TemplateDef standard;
        standard.name = "Standard";
        templates_.push_back(standard);
    }
    activeTemplate_ = roster_->setting("template");
    if (std::none_of(templates_.begin(), templates_.end(),
                     [&](const auto& t) { return t.name == activeTemplate_; }))
        activeTemplate_ = templates_.front().name;
}

const TemplateDef& Engine::activeTemplate() const {
    for (const auto& t : templates_)
        if (t.name == activeTemplate_)
            return t;
    return templates_.front();
}

void Engine::refreshSelection(std::optional<std::int64_t> keep) {
    selection_ = roster_->select(criteria_);
    if (keep) {
        auto it = std::lower_bound(selection_.begin(), selection_.end(), *keep);
        position_ = static_cast<std::size_t>(it - selection_.begin());
    }
    if (position_ >= selection_.size())
        position_ = selection_.empty() ? 0 : selection_.size() - 1;
}

void Engine::run(const Job& job) {
    const auto& m = job.method;
    const auto& args = job.args;
    if (m == "Open") {
        auto path = argOf(args, {"File", "Design", "Path", "FileName"});
        openDesign(path ? *path : args.front().second);
        return;
    }
    if (m == "Exit") {
        exiting_ = true;
        return;
    }
    if (m == "Startlog" || m == "Stoplog") {
        logging_ = m == "Startlog";
        return;
    }
    if (m == "Restore") {
        ++restoreRequests_;
        return;
    }
    requireDesign();
    if (m == "Close") {
        closeDesign();
    } else if (m == "First" || m == "Last" || m == "Next" || m == "Previous") {
        if (selection_.empty())
            throw CwError(code::NoRecord, "No records selected");
        if (m == "First")
            position_ = 0;
        else if (m == "Last")
            position_ = selection_.size() - 1;
        else if (m == "Next") {
            if (position_ + 1 >= selection_.size())
                throw CwError(code::EndOfSelection, "Already at the last record of the selection");
            ++position_;
        } else {
            if (position_ == 0)
                throw CwError(code::EndOfSelection, "Already at the first record of the selection");
            --position_;
        }
    } else if (m == "Select") {
        for (const auto& [k, v] : args)
            if (k != "Id")
                requireField(k);
        criteria_ = args;
        position_ = 0;
        refreshSelection(std::nullopt);
    } else if (m == "Delete") {
        std::vector<std::int64_t> ids;
        if (args.empty())
            ids.push_back(requireCurrent());
        else {
            for (const auto& [k, v] : args)
                if (k != "Id")
                    requireField(k);
            ids = roster_->select(args);
        }
        if (ids.empty())
            throw CwError(code::NotFound, "No record matches the Delete criteria");
        auto cur = current();
        int removed = roster_->remove(ids);
        if (removed == 0)
            throw CwError(code::NotFound, "No record matches the Delete criteria");
        editCount_ += removed;
        refreshSelection(cur);
    } else if (m == "Revise") {
        auto idText = argOf(args, {"Id"});
        if (!idText)
            throw CwError(code::BadArgument, "Revise needs Id=N");
        auto id = number(m, "Id", *idText);
        auto values = dataValues(args, true);
        if (!roster_->get(id))
            throw CwError(code::NotFound, "Record " + *idText + " does not exist");
        roster_->update(id, values);
        ++editCount_;
    } else if (m == "Add") {
        auto id = roster_->add(dataValues(args, false));
        refreshSelection(id);
        if (!std::binary_search(selection_.begin(), selection_.end(), id)) {
            // The new record is made current, so it must be in the selection.
            criteria_.clear();
            refreshSelection(id);
        }
        ++editCount_;
    } else if (m == "Update" || m == "Edit") {
        auto values = dataValues(args, false);
        roster_->update(requireCurrent(), values);
        ++editCount_;
    } else if (m == "Goto") {
        if (auto rec = argOf(args, {"Record", "Position"})) {
            auto n = number(m, "Record", *rec);
            if (n < 1 || static_cast<std::size_t>(n) > selection_.size())
                throw CwError(code::NotFound, "Goto: there is no record " + *rec +
                                                  " in a selection of " +
                                                  std::to_string(selection_.size()));
            position_ = static_cast<std::size_t>(n - 1);
        } else {
            auto idText = argOf(args, {"Id"}).value_or("");
            auto id = number(m, "Id", idText);
            auto it = std::lower_bound(selection_.begin(), selection_.end(), id);
            if (it == selection_.end() || *it != id)
                throw CwError(code::NotFound,
                              "Goto: record " + idText + " is not in the selection");
            position_ = static_cast<std::size_t>(it - selection_.begin());
        }
    } else if (m == "Focus") {
        auto f = argOf(args, {"Field"}).value_or("");
        focusField_ = requireField(f).name;
        ++focusRequests_;
    } else if (m == "ServerMode") {
        auto v = argOf(args, {"Mode", "Enabled", "On"});
        serverMode_ = truthy(m, "Mode", v ? *v : args.front().second);
    } else if (m == "FlipBadge") {
        auto s = argOf(args, {"Side"});
        side_ = s ? asciiLower(*s) : (side_ == "front" ? "back" : "front");
    } else if (m == "CreateTemplate" || m == "ReviseTemplate") {
        auto name = argOf(args, {"Name", "Template"}).value_or("");
        auto it = std::find_if(templates_.begin(), templates_.end(),
                               [&](const auto& t) { return t.name == name; });
        if (m == "CreateTemplate" && it != templates_.end())
            throw CwError(code::Exists, "Template '" + name + "' already exists");
        if (m == "ReviseTemplate" && it == templates_.end())
            throw CwError(code::NoTemplate, "No template named '" + name + "'");
        TemplateDef t;
        t.name = name;
        if (it != templates_.end())
            t = *it;
        if (auto v = argOf(args, {"Title"}))
            t.title = *v;
        if (auto v = argOf(args, {"Background"}))
            t.background = QColor(QString::fromStdString(*v)).name().toStdString();
        if (auto v = argOf(args, {"Fields"})) {
            t.fields.clear();
            for (const auto& f : splitList(*v))
                t.fields.push_back(requireField(f).name);
        }
        roster_->saveTemplate({t.name, t.title, t.background, joinList(t.fields)});
        if (it != templates_.end())
            *it = t;
        else
            templates_.push_back(t);
    } else if (m == "ReviseAssignments") {
        auto name = argOf(args, {"Template"}).value_or(activeTemplate_);
        auto it = std::find_if(templates_.begin(), templates_.end(),
                               [&](const auto& t) { return t.name == name; });
        if (it == templates_.end())
            throw CwError(code::NoTemplate, "No template named '" + name + "'");
        std::vector<std::string> shown = it->fields;
        if (shown.empty())
            for (const auto* f : design_->dataFields())
                shown.push_back(f->name);
        for (const auto& [k, v] : args) {
            if (k == "Template")
                continue;
            requireField(k);
            bool on = truthy(m, k, v);
            auto pos = std::find(shown.begin(), shown.end(), k);
            if (on && pos == shown.end())
                shown.push_back(k);
            if (!on && pos != shown.end())
                shown.erase(pos);
        }
        roster_->saveTemplate({it->name, it->title, it->background, joinList(shown)});
        it->fields = shown;
    } else if (m == "Template") {
        auto name = argOf(args, {"Name", "Template"}).value_or("");
        if (std::none_of(templates_.begin(), templates_.end(),
                         [&](const auto& t) { return t.name == name; }))
            throw CwError(code::NoTemplate, "No template named '" + name + "'");
        activeTemplate_ = name;
        roster_->setSetting("template", name);
    } else if (m == "ManageTemplates") {
        ++previewRequests_; // the window shows the badge with its template
    } else if (m == "ReviseUserData") {
        roster_->setUserData(args);
    } else if (m == "Preview") {
        requireCurrent();
        ++previewRequests_;
    } else if (m == "Video" || m == "Twain" || m == "Bitmap") {
        capture(FieldKind::Photo);
    } else if (m == "Signature") {
        capture(FieldKind::Signature);
    } else if (m == "Fingerprint") {
        capture(FieldKind::Fingerprint);
    } else if (m == "Print") {
        print();
    } else if (m == "RosterLinkConfig") {
        linkCsv_ = design_->linkCsv.string();
        roster_->setSetting("rosterlink.csv", linkCsv_);
    } else if (m == "RosterLink") {
        importCsv();
    } else {
        throw CwError(code::Internal, "No command named " + m);
    }
}

void Engine::capture(FieldKind kind) {
    auto id = requireCurrent();
    auto it = std::find_if(design_->fields.begin(), design_->fields.end(),
                           [&](const auto& f) { return f.kind == kind; });
    if (it == design_->fields.end())
        throw CwError(code::NoDevice,
                      std::string("The design has no ") + kindName(kind) + " field");
    std::random_device rd;
    auto seed = static_cast<std::uint32_t>(rd());
    // The signature's length follows the first text the record holds (a name).
    auto rec = roster_->get(id);
    std::string name = "signature";
    auto fields = design_->dataFields();
    for (std::size_t i = 0; rec && i < fields.size(); ++i)
        if (!isPicture(fields[i]->kind) && !rec->values[i].empty()) {
            name = rec->values[i];
            break;
        }
    QImage img = kind == FieldKind::Photo       ? drawPhoto(seed)
                 : kind == FieldKind::Signature ? drawSignature(seed, name)
                                                : drawFingerprint(seed);
    roster_->setPicture(id, it->name, toPng(img));
    ++editCount_;
}

void Engine::print() {
    auto id = requireCurrent();
    std::filesystem::path dir = options_.printDir.empty()
                                    ? design_->roster.parent_path() / "prints"
                                    : std::filesystem::path(options_.printDir);
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
            side == "front" || std::any_of(design_->fields.begin(), design_->fields.end(),
                                           [](const auto& f) { return f.side == "back"; });
        if (!hasSide)
            continue;
        auto file = dir / ("badge-" + std::to_string(id) + "-" + side + "-" +
                           std::to_string(stamp) + ".png");
        auto png = renderBadge(id, side);
        std::ofstream out(file, std::ios::binary);
        out.write(png.data(), static_cast<std::streamsize>(png.size()));
        out.close();
        if (!out)
            throw CwError(code::Output, "Cannot write " + file.string());
        printed = file.string();
    }
    lastPrint_ = printed;
}

void Engine::importCsv() {
    std::string path = linkCsv_.empty() ? design_->linkCsv.string() : linkCsv_;
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
        const auto* f = design_->field(col);
        if (!f || isPicture(f->kind))
            throw CwError(code::Import, path + ": column '" + col +
                                            "' is not a text field of the design (" +
                                            fieldList(*design_) + ")");
    }
    auto keyCol = std::find(header.begin(), header.end(), design_->linkKey);
    roster_->transaction([&] {
        for (std::size_t r = 1; r < rows.size(); ++r) {
            if (cancel_)
                throw CwError(code::ShuttingDown, "The import was cut short by shut-down");
            Pairs values;
            for (std::size_t c = 0; c < header.size(); ++c)
                values.emplace_back(header[c], rows[r][c]);
            std::optional<std::int64_t> existing;
            if (!design_->linkKey.empty() && keyCol != header.end())
                existing = roster_->findExact(
                    design_->linkKey, rows[r][static_cast<std::size_t>(keyCol - header.begin())]);
            if (existing)
                roster_->update(*existing, values);
            else
                roster_->add(values);
        }
    });
    refreshSelection(current());
}

// ---------------------------------------------------------------- queries

Members Engine::recordMembers(std::int64_t id) {
    auto rec = roster_->get(id);
    if (!rec)
        throw CwError(code::NotFound, "Record " + std::to_string(id) + " does not exist");
    Members out;
    out.emplace_back("Id", static_cast<int>(rec->id));
    auto fields = design_->dataFields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        out.emplace_back(fields[i]->name, rec->values[i]);
    return out;
}

Members Engine::query(const std::string& method, const Pairs& args) {
    std::lock_guard lock(mutex_);
    Members out;
    auto toolbar = [&](bool on) { return std::string(on ? "Enabled" : "Disabled"); };
    if (method == "GetFeatures") {
        bool link = options_.role == Role::RosterLink;
        out = {{"Roster", "Yes"},
               {"Templates", link ? "No" : "Yes"},
               {"Photo", link ? "No" : "Yes"},
               {"Signature", link ? "No" : "Yes"},
               {"Fingerprint", link ? "No" : "Yes"},
               {"Print", link ? "No" : "Yes"},
               {"RosterLink", link ? "Yes" : "No"},
               {"AccessKey", options_.accessKey.empty() ? "Not required" : "Required"}};
        return out;
    }
    if (method == "GetProgramInfo") {
        out = {{"Product", options_.role == Role::Cardwright ? "Cardwright" : "RosterLink"},
               {"Version", "1.0.0 (cardwright-sim)"},
               {"Role", roleName(options_.role)},
               {"Design", design_ ? design_->file.string() : ""},
               {"Roster", design_ ? design_->roster.string() : ""},
               {"Port", listenPort_ ? listenPort_.load() : options_.port},
               {"ProcessId", static_cast<int>(getpid())},
               {"Window", showName(options_.show)}};
        return out;
    }
    if (method == "GetStatus") {
        // Answers without a design too: a status is what one asks when unsure.
        auto id = current();
        bool open = design_.has_value();
        out = {{"Design", open ? design_->name : ""},
               {"File", open ? design_->file.string() : ""},
               {"Records", open ? static_cast<int>(roster_->total()) : 0},
               {"Selected", static_cast<int>(selection_.size())},
               {"Position", id ? static_cast<int>(position_ + 1) : 0},
               {"Side", side_ == "front" ? "Front" : "Back"},
               {"Template", activeTemplate_},
               {"ServerMode", onOff(serverMode_)},
               {"Logging", onOff(logging_)},
               {"Busy", pending_ > 0 ? "Yes" : "No"},
               {"LastCommandError", lastError_.load()},
               {"EditCount", editCount_},
               {"Focus", focusField_},
               {"LastPrint", lastPrint_},
               {"RosterLinkFile", linkCsv_}};
        return out;
    }
    requireDesign();
    if (method == "GetRecord") {
        if (args.empty())
            return recordMembers(requireCurrent());
        for (const auto& [k, v] : args)
            if (k != "Id")
                requireField(k);
        auto ids = roster_->select(args);
        if (ids.empty())
            throw CwError(code::NotFound, "No record matches the GetRecord criteria");
        return recordMembers(ids.front());
    }
    if (method == "GetCurrent") {
        auto id = current();
        out = {{"Position", id ? static_cast<int>(position_ + 1) : 0},
               {"Selected", static_cast<int>(selection_.size())},
               {"Id", id ? static_cast<int>(*id) : 0}};
    } else if (method == "GetCount") {
        out = {{"Total", static_cast<int>(roster_->total())},
               {"Selected", static_cast<int>(selection_.size())}};
    } else if (method == "GetFields") {
        for (const auto* f : design_->dataFields())
            out.emplace_back(f->name, kindName(f->kind));
    } else if (method == "GetTemplates") {
        for (const auto& t : templates_)
            out.emplace_back(t.name, t.name == activeTemplate_ ? "Active" : "Available");
    } else if (method == "GetToolbarStatus") {
        auto id = current();
        bool any = !selection_.empty();
        auto hasKind = [&](FieldKind k) {
            return std::any_of(design_->fields.begin(), design_->fields.end(),
                               [&](const auto& f) { return f.kind == k; });
        };
        out = {{"First", toolbar(any && position_ > 0)},
               {"Previous", toolbar(any && position_ > 0)},
               {"Next", toolbar(any && position_ + 1 < selection_.size())},
               {"Last", toolbar(any && position_ + 1 < selection_.size())},
               {"Add", toolbar(true)},
               {"Delete", toolbar(id.has_value())},
               {"Print", toolbar(id.has_value())},
               {"Video", toolbar(id.has_value() && hasKind(FieldKind::Photo))},
               {"Signature", toolbar(id.has_value() && hasKind(FieldKind::Signature))},
               {"Fingerprint", toolbar(id.has_value() && hasKind(FieldKind::Fingerprint))},
               {"FlipBadge", toolbar(true)}};
    } else if (method == "GetUserData") {
        for (auto& [k, v] : roster_->userData())
            out.emplace_back(k, v);
    } else {
        throw CwError(code::Internal, "No query named " + method);
    }
    return out;
}

int Engine::integer(const std::string& method) {
    if (method == "GetLastCommandError")
        return lastError_;
    if (method == "GetCWHandle")
        return windowId_ ? static_cast<int>(windowId_) : static_cast<int>(getpid());
    std::lock_guard lock(mutex_);
    if (method == "GetEditCount") {
        requireDesign();
        return editCount_;
    }
    throw CwError(code::Internal, "No integer getter named " + method);
}

bool Engine::isBusy() {
    return pending_ > 0;
}

std::string Engine::errorMessage(const Pairs& args) {
    auto c = argOf(args, {"Code", "Error"});
    if (!c && args.size() == 1)
        c = args.front().second;
    if (!c)
        throw CwError(code::BadArgument, "GetErrorMessage needs Code=N");
    auto n = number("GetErrorMessage", "Code", *c);
    if (n < INT32_MIN || n > INT32_MAX)
        throw CwError(code::BadArgument, "Unknown error code " + *c);
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& [method, f] : options_.failures)
        if (f.code == n)
            text = f.text;
    if (text.empty())
        text = codeText(static_cast<int>(n));
    if (text.empty())
        throw CwError(code::BadArgument, "Unknown error code " + *c);
    // The last command's own words, when it is the code being asked about.
    if (n != 0 && n == lastError_ && !lastErrorText_.empty())
        text += ": " + lastErrorText_;
    return text;
}

QImage Engine::badgeImage(std::int64_t id, const std::string& side) {
    auto rec = roster_->get(id);
    if (!rec)
        throw CwError(code::NotFound, "Record " + std::to_string(id) + " does not exist");
    const auto& tpl = activeTemplate();
    BadgeContent content;
    content.title = tpl.title;
    content.accent = tpl.accent;
    content.background = side == "back"
                             ? design_->backBackground
                             : (tpl.background.empty() ? design_->background : tpl.background);
    content.shown = tpl.fields;
    auto fields = design_->dataFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (isPicture(fields[i]->kind)) {
            if (rec->hasPicture[i])
                if (auto png = roster_->picture(id, fields[i]->name))
                    content.png[fields[i]->name] = *png;
        } else {
            content.text[fields[i]->name] = rec->values[i];
        }
    }
    return cwsim::renderBadge(*design_, content, side);
}

std::string Engine::renderBadge(std::int64_t id, const std::string& side) {
    auto png = toPng(badgeImage(id, side));
    if (png.empty())
        throw CwError(code::Internal, "Cannot encode the badge as PNG");
    return png;
}

std::string Engine::picture(const std::string& method, const Pairs& args) {
    onlyKnownKeys(method, args);
    std::lock_guard lock(mutex_);
    requireDesign();
    if (method == "GetBadgeImage") {
        std::string side = side_;
        if (auto s = argOf(args, {"Side"})) {
            side = asciiLower(*s);
            if (side != "front" && side != "back")
                throw CwError(code::BadArgument,
                              "GetBadgeImage: Side must be Front or Back, not '" + *s + "'");
        }
        return renderBadge(recordArg(args), side);
    }
    FieldKind kind = method == "GetPhotoImage"       ? FieldKind::Photo
                     : method == "GetSignatureImage" ? FieldKind::Signature
                                                     : FieldKind::Fingerprint;
    const FieldDef* field = nullptr;
    if (auto f = argOf(args, {"Field"})) {
        field = &requireField(*f);
        if (field->kind != kind)
            throw CwError(code::BadArgument,
                          method + ": field '" + *f + "' is not a " + kindName(kind) + " field");
    } else {
        for (const auto& candidate : design_->fields)
            if (candidate.kind == kind && !field)
                field = &candidate;
        if (!field)
            throw CwError(code::NoPicture,
                          std::string("The design has no ") + kindName(kind) + " field");
    }
    auto id = recordArg(args);
    auto png = roster_->picture(id, field->name);
    if (!png)
        throw CwError(code::NoPicture, "Record " + std::to_string(id) + " has no " +
                                           kindName(kind) + " (capture one first)");
    return *png;
}

// ---------------------------------------------------------------- window

void Engine::setListenPort(int port) {
    listenPort_ = port;
    changed(); // the window shows the port taken (--port 0 after --start-delay)
}

void Engine::setWindowId(long long id) {
    windowId_ = id;
}

bool Engine::badgeForWindow(QImage& badge) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    badge = QImage();
    auto id = current();
    if (!design_ || !id)
        return true;
    try {
        badge = badgeImage(*id, side_);
    } catch (const std::exception&) {
        badge = QImage();
    }
    return true;
}

std::string Engine::designName() {
    std::lock_guard lock(recentMutex_);
    return designLabel_;
}

void Engine::recordCall(const std::string& line) {
    {
        std::lock_guard lock(recentMutex_);
        recent_.push_back(line);
        if (recent_.size() > kRecentCalls)
            recent_.pop_front();
    }
    changed();
    if (logging_) {
        std::lock_guard lock(logMutex_);
        std::ofstream out(options_.callLog, std::ios::app);
        out << line << '\n';
    }
}

std::vector<std::string> Engine::recentCalls() {
    std::lock_guard lock(recentMutex_);
    return {recent_.begin(), recent_.end()};
}

Engine::WindowRequests Engine::windowRequests() {
    return {restoreRequests_.load(), focusRequests_.load(), previewRequests_.load()};
}

} // namespace cwsim
