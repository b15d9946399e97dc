#include "engine.h"

#include "log.h"

#include <chrono>
#include <cstdio>
#include <fstream>

namespace cwsim {
namespace {

constexpr std::size_t kMaxQueued = 1000;
constexpr std::size_t kRecentCalls = 50;

} // namespace

Engine::Engine(const Options& options) : options_(options), app_(options_) {}

Engine::~Engine() {
    stop();
}

void Engine::start() {
    worker_ = std::thread([this] { workerLoop(); });
    if (!options_.design.empty()) {
        // Opening may create and fill the roster; the server listens meanwhile
        // and IsBusy says so.
        call("Open", {{"File", options_.design}});
    }
}

void Engine::stop() {
    app_.cancel = true; // before the lock, which a long command may hold
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !worker_.joinable())
            return;
        stopping_ = true;
        app_.pending -= static_cast<int>(queue_.size());
        queue_.clear();
    }
    queueCv_.notify_all();
    appliedCv_.notify_all();
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
    std::lock_guard lock(mutex_);
    // Calls that still arrive find no design rather than a closed roster.
    app_.closeDesign();
}

Answer Engine::call(std::string_view method, const Pairs& args) {
    const auto* row = findRow(method);
    if (!row)
        throw CwError(code::Internal, "No method named " + std::string(method));
    return call(*row, args);
}

Answer Engine::call(const MethodRow& row, const Pairs& given) {
    Args args(row, given);
    if (row.flags & kCommand) {
        accept(row, std::move(args));
        return true;
    }
    if (row.flags & kLockFree)
        return row.act(app_, args);
    std::unique_lock lock(mutex_);
    // Every command accepted before this call has taken effect (an Open the
    // worker has yet to pick up, and what was accepted behind it).
    appliedCv_.wait(lock, [&] { return applied_ == accepted_ || stopping_; });
    if (row.flags & kNeedsDesign)
        app_.requireDesign();
    checkOthers(row, app_, args);
    if (row.check)
        row.check(app_, args);
    return row.act(app_, args);
}

void Engine::accept(const MethodRow& row, Args args) {
    std::unique_lock lock(mutex_);
    if (stopping_ || app_.exiting)
        throw CwError(code::ShuttingDown, "The program is shutting down");
    if (queue_.size() >= kMaxQueued)
        throw CwError(code::QueueFull,
                      "Too many commands pending (" + std::to_string(kMaxQueued) + ")");
    // Nothing queued or running: the checks of the current record and the
    // templates are final, so they refuse at once.
    bool settled = queue_.empty() && !running_;
    bool behind = false, designPending = false;
    for (const auto& j : queue_) {
        if (j.applied)
            continue;
        behind = true;
        if (j.row->flags & kOpens)
            designPending = true;
        if (j.row->flags & kCloses)
            designPending = false;
    }
    Job job(row, std::move(args));
    // Behind an Open, fields and records are checked when it has run.
    if (!designPending || !(row.flags & kNeedsDesign)) {
        if (row.flags & kNeedsDesign)
            app_.requireDesign();
        checkOthers(row, app_, job.args);
        if (row.check)
            row.check(app_, job.args);
        job.checked = true;
        if (settled && row.checkSettled) {
            row.checkSettled(app_, job.args);
            job.settledChecked = true;
        }
    }
    job.seq = ++accepted_;
    ++app_.pending;
    bool later = behind || (row.flags & kOnWorker);
    if (!later)
        apply(job);
    int error = job.error;
    std::uint64_t seq = job.seq;
    queue_.push_back(std::move(job));
    queueCv_.notify_one();
    if (!later) {
        // A stop cut the work short: that is no answer to give true.
        if (error == code::ShuttingDown && app_.cancel)
            throw CwError(code::ShuttingDown, "The program is shutting down");
        return;
    }
    if (row.flags & kWrites) {
        appliedCv_.wait(lock, [&] { return applied_ >= seq || stopping_; });
        if (applied_ < seq)
            throw CwError(code::ShuttingDown, "The program is shutting down");
    }
}

// Runs the checks not yet run and the action, under the lock. What fails
// here is the command's error, not a fault: its caller may have its answer.
void Engine::apply(Job& job) {
    const auto& row = *job.row;
    try {
        if (row.flags & kNeedsDesign)
            app_.requireDesign();
        if (!job.checked) {
            checkOthers(row, app_, job.args);
            if (row.check)
                row.check(app_, job.args);
        }
        if (!job.settledChecked && row.checkSettled)
            row.checkSettled(app_, job.args);
        auto answer = row.act(app_, job.args);
        if (auto* line = std::get_if<std::string>(&answer))
            job.note = std::move(*line);
    } catch (const CwError& e) {
        job.error = e.code();
        job.errorText = e.what();
    } catch (const RosterError& e) {
        job.error = code::Database;
        job.errorText = e.what();
    } catch (const std::exception& e) {
        job.error = code::Internal;
        job.errorText = e.what();
    }
    job.applied = true;
    applied_ = job.seq;
    changed();
}

// The command's busy time is over: its outcome becomes the last command's.
void Engine::finish(Job& job) {
    app_.lastError = job.error;
    app_.lastErrorText = job.errorText;
    std::string report = job.error == 0 ? job.note
                                        : std::string(job.row->name) + " finished with error " +
                                              std::to_string(job.error) + ": " + job.errorText;
    // Logged before the command counts as finished, so that whoever sees
    // IsBusy turn false finds the line already there.
    if (!report.empty()) {
        log::line(report);
        recordCall(report);
    }
    running_ = false;
    --app_.pending;
    changed();
}

void Engine::workerLoop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            queueCv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                break;
            Job job = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
            if (!job.applied) {
                // Long work, and everything accepted behind it, in order, so
                // that the callers waiting for their change are answered.
                apply(job);
                for (auto& later : queue_)
                    if (!later.applied)
                        apply(later);
                appliedCv_.notify_all();
            }
            if (options_.busyMs > 0) {
                // Simulated work; a stop cuts it short.
                queueCv_.wait_for(lock, std::chrono::milliseconds(options_.busyMs),
                                  [&] { return stopping_; });
                if (stopping_) {
                    running_ = false;
                    break;
                }
            }
            finish(job);
        }
        idleCv_.notify_all();
        bool exitNow = false;
        {
            std::lock_guard lock(mutex_);
            // Exit refuses what follows it, so an empty queue means Exit is done.
            exitNow = app_.exiting && !exitAnnounced_ && queue_.empty();
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

// ---------------------------------------------------------------- window

void Engine::setListenPort(int port) {
    app_.listenPort = port;
    changed(); // the window shows the port taken (--port 0 after --start-delay)
}

void Engine::setWindowId(long long id) {
    app_.windowId = id;
}

bool Engine::badgeForWindow(QImage& badge) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    badge = QImage();
    auto id = app_.current();
    if (!app_.design || !id)
        return true;
    try {
        badge = app_.badgeImage(*id, app_.side);
    } catch (const std::exception&) {
        badge = QImage();
    }
    return true;
}

std::string Engine::designName() {
    std::lock_guard lock(app_.labelMutex);
    return app_.designLabel;
}

void Engine::recordCall(std::string line) {
    if (app_.logging) {
        std::lock_guard lock(logMutex_);
        std::ofstream out(options_.callLog, std::ios::app);
        out << line << '\n';
    }
    {
        std::lock_guard lock(recentMutex_);
        recent_.push_back(std::move(line));
        if (recent_.size() > kRecentCalls)
            recent_.pop_front();
    }
    changed();
}

std::vector<std::string> Engine::recentCalls() {
    std::lock_guard lock(recentMutex_);
    return {recent_.begin(), recent_.end()};
}

Engine::WindowRequests Engine::windowRequests() {
    return {app_.restoreRequests.load(), app_.focusRequests.load(), app_.previewRequests.load()};
}

} // namespace cwsim
