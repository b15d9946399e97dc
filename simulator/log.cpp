#include "log.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace cwsim::log {
namespace {

constexpr std::string_view kPrefix = "cardwright-sim: ";
constexpr std::size_t kMaxWaiting = 1u << 20;
// How long the writer lets lines gather after a write.
constexpr auto kGather = std::chrono::milliseconds(50);

// A stderr that takes nothing for this long (a pipe nobody reads) loses
// what was to be written instead of holding up the server.
constexpr int kStuckMs = 1000;

// Writes `text`; returns how many of its lines were lost.
std::size_t writeAll(std::string_view text) {
    while (!text.empty()) {
        pollfd out{STDERR_FILENO, POLLOUT, 0};
        int ready = ::poll(&out, 1, kStuckMs);
        if (ready < 0 && errno == EINTR)
            continue;
        // In pieces a pipe takes whole once it has room for one.
        ssize_t n = ready > 0 ? ::write(STDERR_FILENO, text.data(),
                                        std::min<std::size_t>(text.size(), PIPE_BUF))
                              : -1;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) // closed, unwritable or stuck
            return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

class Sink {
  public:
    void line(std::string_view text) {
        std::lock_guard writing(writeMutex_);
        {
            std::lock_guard lock(mutex_);
            append(text);
        }
        writeWaiting();
    }

    void soon(std::string_view text) {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.size() + kPrefix.size() + text.size() + 1 > kMaxWaiting) {
                ++dropped_;
                return;
            }
            wake = waiting_.empty() && writerIdle_;
            append(text);
        }
        std::call_once(started_, [this] { std::thread([this] { writer(); }).detach(); });
        if (wake)
            wakeWriter_.notify_one();
    }

    void flush() {
        std::lock_guard writing(writeMutex_);
        writeWaiting();
    }

  private:
    void append(std::string_view text) {
        waiting_ += kPrefix;
        waiting_ += text;
        waiting_ += '\n';
    }

    // With writeMutex_ held, so that lines leave in the order they came.
    void writeWaiting() {
        std::string out;
        unsigned long reported = 0;
        {
            std::lock_guard lock(mutex_);
            out.swap(waiting_);
            reported = std::exchange(dropped_, 0);
        }
        if (reported > 0)
            out += std::string(kPrefix) + std::to_string(reported) +
                   " log lines dropped: stderr took nothing for a second\n";
        if (std::size_t lost = writeAll(out)) {
            // The note, last, went with them: its count is still owed.
            std::lock_guard lock(mutex_);
            dropped_ += reported > 0 ? lost - 1 + reported : lost;
        }
    }

    void writer() {
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                writerIdle_ = true;
                wakeWriter_.wait(lock, [this] { return !waiting_.empty() || dropped_ > 0; });
                writerIdle_ = false;
            }
            flush();
            std::this_thread::sleep_for(kGather);
        }
    }

    std::mutex writeMutex_;
    std::mutex mutex_; // guards what follows
    std::string waiting_;
    unsigned long dropped_ = 0;
    bool writerIdle_ = false;
    std::condition_variable wakeWriter_;
    std::once_flag started_;
};

// Never destroyed: the writer thread may be waiting on it while the process
// exits.
Sink& sink() {
    static Sink* s = new Sink;
    return *s;
}

} // namespace

void line(std::string_view text) {
    sink().line(text);
}

void soon(std::string_view text) {
    sink().soon(text);
}

void flush() {
    sink().flush();
}

} // namespace cwsim::log
