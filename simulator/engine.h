// The simulated application: the open design and its roster, the current
// record and selection, templates, user data, pictures, and the queue on
// which accepted commands run one after another.
//
// Thread model: XML-RPC calls arrive on many server threads; every public
// member that reads or changes the application's state locks one mutex, and
// queued commands run on one worker thread under that same mutex, so callers
// always see a consistent state. IsBusy and GetLastCommandError read atomics
// instead, so they answer at once while a long command runs.
#pragma once

#include "design.h"
#include "options.h"
#include "roster.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace cwsim {

// Application error codes: numbered once, never renumbered.
namespace code {
constexpr int NoDesign = 1;
constexpr int UnknownField = 2;
constexpr int BadArgument = 3;
constexpr int WrongRole = 4;
constexpr int NoRecord = 5;
constexpr int NotFound = 6;
constexpr int DesignFile = 7;
constexpr int Database = 8;
constexpr int NoTemplate = 9;
constexpr int Exists = 10;
constexpr int NoPicture = 11;
constexpr int Import = 12;
constexpr int Output = 13;
constexpr int AccessKey = 14;
constexpr int EndOfSelection = 15;
constexpr int ShuttingDown = 16;
constexpr int QueueFull = 17;
constexpr int NoDevice = 18;
constexpr int Internal = 19;
} // namespace code

// The fixed text of an application error code; empty for an unknown code.
std::string codeText(int errorCode);

class CwError : public std::runtime_error {
  public:
    CwError(int errorCode, const std::string& text) : std::runtime_error(text), code_(errorCode) {}
    int code() const { return code_; }

  private:
    int code_;
};

using Value = std::variant<std::string, int>;
using Members = std::vector<std::pair<std::string, Value>>;

class Engine {
  public:
    explicit Engine(const Options& options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Starts the worker and, with --design, queues the design's opening.
    void start();
    // Finishes the running command, drops the queue, closes the roster.
    void stop();

    // A command: refused at once (CwError) when plainly invalid, else queued.
    void command(const std::string& method, const Pairs& args);
    // List getters and GetRecord.
    Members query(const std::string& method, const Pairs& args);
    int integer(const std::string& method);
    bool isBusy();
    std::string errorMessage(const Pairs& args);
    // GetBadgeImage, GetPhotoImage, GetSignatureImage, GetFingerprintImage: PNG bytes.
    std::string picture(const std::string& method, const Pairs& args);

    // Blocks until no command is queued or running, or the time is up.
    bool waitIdle(int timeoutMs);

    // For the window and the server.
    void setWindowId(long long id);
    void setListenPort(int port);
    int listenPort() const { return listenPort_.load(); } // 0 until it listens
    std::uint64_t generation() const { return generation_.load(); }
    // False while a command holds the state: the window tries again later.
    bool badgeForWindow(QImage& badge);
    std::string designName();
    void recordCall(const std::string& line); // recent calls + the Startlog file
    std::vector<std::string> recentCalls();
    struct WindowRequests {
        int restore = 0, focus = 0, preview = 0;
    };
    WindowRequests windowRequests();
    std::function<void()> onExit; // runs on the worker once Exit has finished

  private:
    struct Job {
        std::string method;
        Pairs args;
    };

    void workerLoop();
    void run(const Job& job);
    void validate(const std::string& method, const Pairs& args);

    void requireDesign() const;
    const FieldDef& requireField(const std::string& name) const;
    std::int64_t requireCurrent() const;
    std::optional<std::int64_t> current() const;
    std::int64_t recordArg(const Pairs& args) const; // Id=N or the current record
    void refreshSelection(std::optional<std::int64_t> keep);
    void openDesign(const std::string& path);
    void closeDesign();
    void loadTemplates();
    const TemplateDef& activeTemplate() const;
    void capture(FieldKind kind);
    void print();
    void importCsv();
    Pairs dataValues(const Pairs& args, bool allowId) const;
    Members recordMembers(std::int64_t id);
    std::string renderBadge(std::int64_t id, const std::string& side);
    QImage badgeImage(std::int64_t id, const std::string& side);
    void changed() { ++generation_; }

    Options options_;
    mutable std::mutex mutex_;
    std::condition_variable queueCv_, idleCv_;
    std::deque<Job> queue_;
    bool running_ = false, stopping_ = false, exiting_ = false, exitAnnounced_ = false;
    std::thread worker_;
    std::atomic<std::uint64_t> generation_{0};

    std::optional<Design> design_;
    std::unique_ptr<Roster> roster_;
    Pairs criteria_;
    std::vector<std::int64_t> selection_;
    std::size_t position_ = 0; // index into selection_
    std::vector<TemplateDef> templates_;
    std::string activeTemplate_;
    std::string side_ = "front";
    bool serverMode_ = false;
    std::atomic<bool> logging_{false};
    std::string focusField_, lastPrint_, linkCsv_;
    int editCount_ = 0;
    // Read without the lock, so IsBusy and GetLastCommandError answer at once
    // even while a long command (an import, a first open) holds it.
    std::atomic<int> lastError_{0};
    std::atomic<int> pending_{0};     // commands queued or running
    std::atomic<bool> cancel_{false}; // stop() asks long work to give up
    std::string lastErrorText_;
    std::atomic<long long> windowId_{0};
    std::atomic<int> listenPort_{0};
    std::atomic<int> restoreRequests_{0}, focusRequests_{0}, previewRequests_{0};
    std::mutex recentMutex_; // guards recent_ and designLabel_, never held for long
    std::deque<std::string> recent_;
    std::string designLabel_ = "no design";
    std::mutex logMutex_;
};

} // namespace cwsim
