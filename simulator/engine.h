// The simulated application's lifecycle and command queue. The methods
// themselves are rows (method_row.h): the engine runs each the same way.
//
// Thread model: XML-RPC calls arrive on many server threads; every call that
// reads or changes the state locks one mutex. IsBusy and GetLastCommandError
// read atomics instead, so they answer at once while a long command runs.
//
// A command is checked, then changes the state and the roster at once, under
// the lock, on the caller's thread: once it is answered true its change is
// committed and no later call sees the state from before it. It then stays
// queued for the application's busy time (--busy-ms): IsBusy is true until
// the queue has drained, and GetLastCommandError gives a command's outcome
// once its busy time is over. Long work (opening a design, which may create a
// roster) runs on the worker instead; commands accepted behind it wait their
// turn, those that change the roster are answered only after it, and queries
// wait for it: no call sees the state from before a command accepted earlier.
#pragma once

#include "method_row.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace cwsim {

class Engine {
  public:
    explicit Engine(const Options& options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Starts the worker and, with --design, queues the design's opening.
    void start();
    // Finishes the running command, drops the queue, closes the design.
    void stop();

    // One call: a command answers true once accepted (CwError when refused at
    // once), a query its answer.
    Answer call(const MethodRow& row, const Pairs& args);
    // The same by the method's name; CwError (Internal) for an unknown one.
    Answer call(std::string_view method, const Pairs& args);

    // Blocks until no command is queued or running, or the time is up.
    bool waitIdle(int timeoutMs);

    // For the window and the server.
    void setWindowId(long long id);
    void setListenPort(int port);
    int listenPort() const { return app_.listenPort.load(); } // 0 until it listens
    std::uint64_t generation() const { return generation_.load(); }
    // False while a command holds the state: the window tries again later.
    bool badgeForWindow(QImage& badge);
    std::string designName();
    void recordCall(std::string line); // recent calls + the Startlog file
    std::vector<std::string> recentCalls();
    struct WindowRequests {
        int restore = 0, focus = 0, preview = 0;
    };
    WindowRequests windowRequests();
    std::function<void()> onExit; // runs on the worker once Exit has finished

  private:
    struct Job {
        Job(const MethodRow& r, Args a) : row(&r), args(std::move(a)) {}
        const MethodRow* row;
        Args args;
        std::uint64_t seq = 0;
        bool checked = false;        // row.check passed at accept
        bool settledChecked = false; // row.checkSettled passed at accept
        bool applied = false;
        int error = 0;
        std::string errorText, note; // note: a line for the log
    };

    void accept(const MethodRow& row, Args args);
    void apply(Job& job);
    void finish(Job& job);
    void workerLoop();
    void changed() { ++generation_; }

    Options options_;
    AppState app_;
    mutable std::mutex mutex_;
    std::condition_variable queueCv_, idleCv_, appliedCv_;
    std::deque<Job> queue_;
    std::uint64_t accepted_ = 0, applied_ = 0; // sequence numbers, in order
    bool running_ = false, stopping_ = false, exitAnnounced_ = false;
    std::thread worker_;
    std::atomic<std::uint64_t> generation_{0};
    std::mutex recentMutex_; // guards recent_, never held for long
    std::deque<std::string> recent_;
    std::mutex logMutex_;
};

} // namespace cwsim
