// The library against servers that misbehave on purpose (raw_server.h), and
// against answers of the wrong shape.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "cwxmlclient.h"
#include "raw_server.h"

// Allocation failure on demand, in the thread that arms it: while
// fail_new_from is set, operator new refuses every request of that many
// bytes or more (the library and libstdc++ allocate through this one).
namespace {
thread_local std::size_t fail_new_from = 0;
} // namespace

void* operator new(std::size_t size) {
    if (fail_new_from != 0 && size >= fail_new_from)
        throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
// Not inlined: g++ -O3 would otherwise see new's pointer reach free() and
// warn of a mismatch (-Wmismatched-new-delete) that these pairs rule out.
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using cwtest::RawRequest;
using cwtest::RawServer;
using Clock = std::chrono::steady_clock;

std::string text() {
    return GetErrorText();
}

// The process's peak resident memory so far.
long peak_memory_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Sets an environment variable for the length of a test; the library reads
// it when it opens its connection, hence the CloseXML.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        setenv(name, value, 1);
        CloseXML();
    }
    ~ScopedEnv() {
        unsetenv(name_);
        CloseXML();
    }

  private:
    const char* name_;
};

RawServer::Handler answer_with(std::string response) {
    return [response](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, response);
        return false;
    };
}

RawServer::Handler answer_xml(const std::string& value_xml) {
    return answer_with(RawServer::http_response(cwtest::xmlrpc_answer(value_xml)));
}

class Misbehaving : public ::testing::Test {
  protected:
    void SetUp() override {
        CloseXML();
        SetHostName("127.0.0.1");
        EnableXMLAccess(1);
        SetXMLAccessKey("");
    }
    void TearDown() override { CloseXML(); }
    void use(const RawServer& server) { SetXMLPort(server.port()); }
    std::string where(const RawServer& server) {
        return "127.0.0.1:" + std::to_string(server.port());
    }
};

TEST_F(Misbehaving, RefusedConnection) {
    const int port = cwtest::unused_port();
    SetXMLPort(port);
    EXPECT_EQ(Close(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_CONNECT);
    EXPECT_EQ(text(),
              "Cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
    EXPECT_EQ(GetMethods(), nullptr);
    EXPECT_EQ(IsBusy(), 255);
    EXPECT_EQ(GetCWHandle(), -1);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_CONNECT);
}

TEST_F(Misbehaving, SilentServerTimesOutAndTheNextCallWorks) {
    ScopedEnv timeout("CWXML_TIMEOUT_MS", "300");
    RawServer silent([](int fd, const RawRequest&, RawServer& s) {
        s.wait_for_close(fd);
        return false;
    });
    use(silent);
    const auto start = Clock::now();
    EXPECT_EQ(Close(), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TIMEOUT);
    EXPECT_EQ(text(), "No answer from " + where(silent) + " within 300 ms");
    EXPECT_GE(elapsed, std::chrono::milliseconds(250));
    EXPECT_LT(elapsed, std::chrono::milliseconds(900)); // on time, not at the next check

    RawServer good(answer_xml("<boolean>1</boolean>"));
    use(good);
    EXPECT_EQ(Close(), 1) << text();
    EXPECT_EQ(GetErrorCode(), 0);
}

TEST_F(Misbehaving, HangOnAReusedConnectionIsATimeOut) {
    ScopedEnv timeout("CWXML_TIMEOUT_MS", "300");
    RawServer server([](int fd, const RawRequest&, RawServer& s) {
        if (s.requests() == 1) {
            s.send_all(fd, RawServer::http_response(cwtest::xmlrpc_answer("<boolean>1</boolean>"),
                                                    "200 OK", "text/xml", true));
            return true;
        }
        s.wait_for_close(fd);
        return false;
    });
    use(server);
    ASSERT_EQ(Next(), 1) << text();
    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TIMEOUT) << text();
    EXPECT_EQ(server.connections(), 1);
}

// Counts steps of one side (calls made, answers received), for the other to
// wait on.
class Counter {
  public:
    void step() {
        const std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    // False when `count` steps were not made within 5 s.
    bool wait_for(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return count_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

// Waits (up to 5 s) until the peer has acknowledged every byte sent on `fd`:
// they are then in its socket, waiting to be read.
bool wait_until_received(int fd) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int unacknowledged = 0;
    while (ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return unacknowledged == 0;
}

TEST_F(Misbehaving, StrayAnswersAreNeverTakenForTheNextCall) {
    ScopedEnv timeout("CWXML_TIMEOUT_MS", "300");
    const std::string forged = RawServer::http_response(
        cwtest::xmlrpc_answer("<string>FORGED</string>"), "200 OK", "text/xml", true);
    struct Row {
        const char* label;
        bool first_call_times_out;
        int forged_after_call; // sent on its connection once that call is over
        int connections;
    };
    const Row rows[] = {
        {"unsolicited answer on the idle connection", false, 1, 2},
        // The first call's answer, late: it comes on the connection that
        // took the second call, while the client is between calls.
        {"late answer after a time-out", true, 2, 3},
    };
    for (const Row& row : rows) {
        Counter calls;
        Counter forged_received;
        RawServer server([&](int fd, const RawRequest&, RawServer& s) {
            const int call = s.requests();
            if (call == 1 && row.first_call_times_out) {
                s.wait_for_close(fd);
                return false;
            }
            const bool open = s.send_all(
                fd, RawServer::http_response(
                        cwtest::xmlrpc_answer("<string>" + std::to_string(call) + "</string>"),
                        "200 OK", "text/xml", true));
            if (open && call == row.forged_after_call && calls.wait_for(call) &&
                s.send_all(fd, forged))
                if (wait_until_received(fd))
                    forged_received.step();
            return open;
        });
        use(server);
        for (int call = 1; call <= row.forged_after_call; ++call) {
            const char* answer = GetMethodHelp("x");
            if (call == 1 && row.first_call_times_out)
                EXPECT_EQ(GetErrorCode(), CWX_ERR_TIMEOUT) << row.label << ": " << text();
            else
                EXPECT_STREQ(answer, std::to_string(call).c_str()) << row.label << ": " << text();
            calls.step();
        }
        ASSERT_TRUE(forged_received.wait_for(1)) << row.label;
        const std::string next = std::to_string(row.forged_after_call + 1);
        EXPECT_STREQ(GetMethodHelp("x"), next.c_str()) << row.label << ": " << text();
        EXPECT_EQ(server.connections(), row.connections) << row.label;
    }
}

TEST_F(Misbehaving, ConnectThatNeverCompletesIsAConnectionFailure) {
    // A listener whose backlog is full: the kernel drops further SYNs, so a
    // connect neither succeeds nor fails until the client gives up.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    // For a listening socket, Linux reports the accept queue's length and
    // limit as tcpi_unacked and tcpi_sacked; it is full past the limit.
    const auto backlog_full = [listener] {
        tcp_info info{};
        socklen_t size = sizeof info;
        return getsockopt(listener, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
               info.tcpi_unacked > info.tcpi_sacked;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!backlog_full() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(backlog_full());
    const int port = ntohs(address.sin_port);
    struct Row {
        const char* timeout;
        const char* connect_timeout;
        const char* within;
    };
    const Row rows[] = {
        {"2000", "300", "300 ms"},
        {"300", "5000", "300 ms"}, // the connect time is capped by the call's
    };
    for (const Row& row : rows) {
        ScopedEnv timeout("CWXML_TIMEOUT_MS", row.timeout);
        ScopedEnv connect_timeout("CWXML_CONNECT_TIMEOUT_MS", row.connect_timeout);
        SetXMLPort(port);
        const auto start = Clock::now();
        EXPECT_EQ(First(), 0);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(GetErrorCode(), CWX_ERR_CONNECT) << row.connect_timeout << ": " << text();
        EXPECT_EQ(text(), "Cannot connect to 127.0.0.1:" + std::to_string(port) +
                              ": no connection within " + row.within);
    }
    for (const int fd : fillers)
        close(fd);
    close(listener);
}

TEST_F(Misbehaving, TricklingAnswerIsReadWhole) {
    const std::string response =
        RawServer::http_response(cwtest::xmlrpc_answer("<string>slow but sure</string>"));
    RawServer trickle([response](int fd, const RawRequest&, RawServer& s) {
        for (char c : response) {
            if (!s.send_all(fd, std::string(1, c)))
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    });
    use(trickle);
    EXPECT_STREQ(GetErrorMessage(nullptr), "slow but sure") << text();

    // Again while a signal interrupts the library's waits every 2 ms (a
    // handler without SA_RESTART, as a GUI toolkit's or a profiler's may
    // be), sent to this thread only: the server's threads keep their sends.
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    sigemptyset(&quiet.sa_mask);
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGALRM, &quiet, &before), 0);
    sigevent to_me{};
    to_me.sigev_notify = SIGEV_THREAD_ID;
    to_me.sigev_signo = SIGALRM;
    to_me._sigev_un._tid = static_cast<pid_t>(gettid());
    timer_t timer{};
    ASSERT_EQ(timer_create(CLOCK_MONOTONIC, &to_me, &timer), 0);
    const itimerspec every{{0, 2'000'000}, {0, 2'000'000}};
    ASSERT_EQ(timer_settime(timer, 0, &every, nullptr), 0);
    EXPECT_STREQ(GetErrorMessage(nullptr), "slow but sure") << text();
    timer_delete(timer);
    sigaction(SIGALRM, &before, nullptr);
}

TEST_F(Misbehaving, EndlessTrickleCannotStretchTheTimeOut) {
    ScopedEnv timeout("CWXML_TIMEOUT_MS", "300");
    RawServer trickle([](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<?xml");
        while (!s.stopping() && s.send_all(fd, " "))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return false;
    });
    use(trickle);
    const auto start = Clock::now();
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TIMEOUT) << text();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

// CPU time of the calling thread.
std::chrono::microseconds thread_cpu_time() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// A wait polls for at most CWXML_SPIN_US before it sleeps, and only while
// answers come that quickly and another processor can answer meanwhile.
TEST_F(Misbehaving, WaitingForAnAnswerBurnsLittleCpu) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    using std::chrono::milliseconds;
    using Delays = std::vector<milliseconds>;
    struct Row {
        const char* label;
        const char* spin_us;
        bool one_cpu;
        Delays answers; // after each request, one call each
        milliseconds least_cpu, most_cpu;
    };
    const Delays quick(10, milliseconds(5));
    const Row rows[] = {
        {"quick answers are polled for", "10000", false, quick, milliseconds(10),
         milliseconds(1000)},
        // A new connection, made at once, tells nothing of how soon answers
        // come, nor does what an earlier connection learnt.
        {"the first answer is slept for", "10000", false, Delays{milliseconds(20)}, milliseconds(0),
         milliseconds(5)},
        {"slow answers are slept for", "10000", false, Delays(5, milliseconds(40)), milliseconds(0),
         milliseconds(20)},
        // The third answer comes 5 ms after the polling gave up: the rest
        // are slept for. (Polling each: 10 ms a call.)
        {"an answer past the limit stops the polling", "10000", false,
         Delays{milliseconds(5), milliseconds(5), milliseconds(15), milliseconds(15),
                milliseconds(15), milliseconds(15), milliseconds(15), milliseconds(15)},
         milliseconds(0), milliseconds(35)},
        {"one processor: never polls", "10000", true, quick, milliseconds(0), milliseconds(20)},
        {"CWXML_SPIN_US=0: never polls", "0", false, quick, milliseconds(0), milliseconds(20)},
    };
    for (const Row& row : rows) {
        if (!row.one_cpu && CPU_COUNT(&all) < 2) {
            std::printf("skipped \"%s\": one processor\n", row.label);
            continue;
        }
        ScopedEnv spin("CWXML_SPIN_US", row.spin_us);
        RawServer server([&](int fd, const RawRequest&, RawServer& s) {
            const auto n = static_cast<std::size_t>(s.requests());
            std::this_thread::sleep_for(row.answers[std::min(n, row.answers.size()) - 1]);
            return s.send_all(fd, RawServer::http_response(cwtest::xmlrpc_answer("<int>1</int>"),
                                                           "200 OK", "text/xml", true));
        });
        use(server);
        if (row.one_cpu) {
            cpu_set_t one;
            CPU_ZERO(&one);
            for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
                if (CPU_ISSET(cpu, &all)) {
                    CPU_SET(cpu, &one);
                    break;
                }
            ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        }
        const auto before = thread_cpu_time();
        for (std::size_t call = 0; call < row.answers.size(); ++call)
            EXPECT_EQ(GetEditCount(), 1) << row.label << ": " << text();
        const auto used = thread_cpu_time() - before;
        sched_setaffinity(0, sizeof all, &all);
        EXPECT_GE(used, row.least_cpu) << row.label;
        EXPECT_LE(used, row.most_cpu) << row.label;
        EXPECT_EQ(server.connections(), 1) << row.label;
    }
}

TEST_F(Misbehaving, ChunkedAnswerIsReassembled) {
    const std::string body = cwtest::xmlrpc_answer("<string>in three pieces</string>");
    RawServer chunked([body](int fd, const RawRequest&, RawServer& s) {
        std::string out = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                          "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
        const std::size_t third = body.size() / 3;
        for (std::size_t at = 0; at < body.size(); at += third) {
            const std::string piece = body.substr(at, third);
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            out += size + piece + "\r\n";
        }
        s.send_all(fd, out + "0\r\n\r\n");
        return false;
    });
    use(chunked);
    EXPECT_STREQ(GetErrorMessage(nullptr), "in three pieces") << text();
}

TEST_F(Misbehaving, ConnectionClosedEarly) {
    struct Row {
        const char* label;
        std::string sent;
        int code;
        const char* text_part;
    };
    const std::string full = cwtest::xmlrpc_answer("<boolean>1</boolean>");
    const Row rows[] = {
        {"nothing at all", "", CWX_ERR_TRANSPORT, "closed without an answer"},
        {"mid-body with length",
         "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + full.substr(0, 40), CWX_ERR_TRANSPORT,
         "closed before the answer was complete"},
        {"mid-body without length",
         "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + full.substr(0, 40), CWX_ERR_BAD_RESPONSE,
         "not well-formed XML"},
        {"mid-headers", "HTTP/1.1 200 OK\r\nContent-Le", CWX_ERR_BAD_RESPONSE, "the body is empty"},
    };
    for (const Row& row : rows) {
        RawServer server(answer_with(row.sent));
        use(server);
        EXPECT_EQ(Close(), 0) << row.label;
        EXPECT_EQ(GetErrorCode(), row.code) << row.label << ": " << text();
        EXPECT_NE(text().find(row.text_part), std::string::npos) << row.label << ": " << text();
        EXPECT_NE(text().find(where(server)), std::string::npos) << row.label << ": " << text();
    }
}

TEST_F(Misbehaving, HttpErrorsAndForeignBodies) {
    struct Row {
        const char* label;
        std::string response;
        int code;
        std::string text_part;
    };
    const std::string html = "<html><body><h1>Oops</h1></body></html>";
    const Row rows[] = {
        {"404 html", RawServer::http_response(html, "404 Not Found", "text/html"), CWX_ERR_HTTP,
         ": 404 Not Found"},
        {"500 html", RawServer::http_response(html, "500 Internal Server Error", "text/html"),
         CWX_ERR_HTTP, ": 500 Internal Server Error"},
        {"200 html", RawServer::http_response(html, "200 OK", "text/html"), CWX_ERR_BAD_RESPONSE,
         "is not XML-RPC: root element is <html>, expected <methodResponse>"},
        {"200 plain text", RawServer::http_response("hello, world", "200 OK", "text/plain"),
         CWX_ERR_BAD_RESPONSE, "is not XML-RPC: not well-formed XML"},
        {"empty 200", RawServer::http_response("", "200 OK"), CWX_ERR_BAD_RESPONSE,
         "is not XML-RPC: the body is empty"},
        {"not http", "SSH-2.0-OpenSSH_9.2\r\n\r\n", CWX_ERR_BAD_RESPONSE, "is not XML-RPC"},
        {"escapes in the reason phrase",
         RawServer::http_response(html, "404 Not \x1b[31mFound\xff", "text/html"), CWX_ERR_HTTP,
         ": 404 Not \uFFFD[31mFound\uFFFD"},
        {"10 MB header line",
         "HTTP/1.1 200 OK\r\nX-Long: " + std::string(10u << 20, 'a') + "\r\n\r\n",
         CWX_ERR_BAD_RESPONSE, "is not XML-RPC: a header line is too long"},
        {"endless header lines",
         "HTTP/1.1 200 OK\r\n" +
             [] {
                 std::string lines;
                 while (lines.size() < (4u << 20))
                     lines += "X-Filler: " + std::string(1000, 'b') + "\r\n";
                 return lines;
             }(),
         CWX_ERR_BAD_RESPONSE, "is not XML-RPC: its header is larger than 65536 bytes"},
    };
    for (const Row& row : rows) {
        RawServer server(answer_with(row.response));
        use(server);
        EXPECT_EQ(Exit(), 0) << row.label;
        EXPECT_EQ(GetErrorCode(), row.code) << row.label << ": " << text();
        EXPECT_NE(text().find(row.text_part), std::string::npos) << row.label << ": " << text();
        const char* prefix = row.code == CWX_ERR_HTTP ? "HTTP error from " : "Response from ";
        EXPECT_EQ(text().find(prefix + where(server)), 0u) << text();
    }
}

TEST_F(Misbehaving, DoctypeWithEntitiesIsRefusedAtOnce) {
    // The classic "billion laughs": nine levels of ten references each.
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            bomb += "&lol" + std::to_string(i - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<methodResponse><params><param><value><string>&lol9;</string></value></param>"
            "</params></methodResponse>";
    RawServer server(answer_with(RawServer::http_response(bomb)));
    use(server);
    const auto start = Clock::now();
    const long peak_before_kib = peak_memory_kib();
    EXPECT_EQ(GetCurrent(), nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    // Expanded, the entities would take about 3 GB; the peak does not move.
    EXPECT_LT(peak_memory_kib() - peak_before_kib, 16 * 1024);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_BAD_RESPONSE);
    EXPECT_EQ(text(), "Response from " + where(server) + " is not XML-RPC: it has a DOCTYPE");
}

TEST_F(Misbehaving, ResponseOverTheCapStopsReadingAtTheCap) {
    ScopedEnv cap("CWXML_MAX_RESPONSE_BYTES", "65536");
    constexpr std::size_t kOffered = 64u << 20;
    RawServer endless([](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const std::string chunk(64 * 1024, 'x');
        for (std::size_t sent = 0; sent < kOffered && !s.stopping(); sent += chunk.size())
            if (!s.send_all(fd, chunk))
                break;
        return false;
    });
    use(endless);
    EXPECT_EQ(GetCurrent(), nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TOO_LARGE);
    EXPECT_EQ(text(), "Response larger than 65536 bytes");
    EXPECT_LE(std::string(GetReceivedXML()).size(), 65536u);
    // Only what the socket buffers hold went out beyond the cap, not 64 MiB.
    EXPECT_LT(endless.sent(), kOffered / 4);

    // A Content-Length over the cap is refused before the body is read.
    RawServer announced([](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n<?xml");
        s.wait_for_close(fd);
        return false;
    });
    use(announced);
    EXPECT_EQ(GetCurrent(), nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TOO_LARGE);
}

TEST_F(Misbehaving, RefusingAnEndlessBodyKeepsMemoryNearTheCap) {
    constexpr std::size_t kCap = 32u << 20;
    ScopedEnv cap("CWXML_MAX_RESPONSE_BYTES", std::to_string(kCap).c_str());
    RawServer endless([](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const std::string chunk(256 * 1024, 'x');
        for (std::size_t sent = 0; sent < 3 * kCap && !s.stopping(); sent += chunk.size())
            if (!s.send_all(fd, chunk))
                break;
        return false;
    });
    use(endless);
    const long peak_before_kib = peak_memory_kib();
    EXPECT_EQ(GetCurrent(), nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TOO_LARGE);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer adds shadow memory and holds freed blocks in quarantine.
    constexpr std::size_t kSlack = 32u << 20;
#else
    constexpr std::size_t kSlack = 16u << 20;
#endif
    EXPECT_LT(peak_memory_kib() - peak_before_kib, static_cast<long>((kCap + kSlack) / 1024));
}

TEST_F(Misbehaving, NoMemoryForTheAnswerFailsTheCall) {
    struct Row {
        const char* label;
        const char* cap;
        std::size_t answer_bytes;
        std::size_t fail_from; // bytes
    };
    const Row rows[] = {
        // The body's storage cannot grow while it is read.
        {"growing the body", "67108864", 1u << 20, 256u << 10},
        // The part of an answer over the cap that fits cannot be kept.
        {"keeping what fits under the cap", "1000", 5000, 1001},
    };
    for (const Row& row : rows) {
        ScopedEnv cap("CWXML_MAX_RESPONSE_BYTES", row.cap);
        // No Content-Length: the cap is met while the body is read.
        RawServer server(answer_with(
            "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
            cwtest::xmlrpc_answer("<string>" + std::string(row.answer_bytes, 'x') + "</string>")));
        use(server);
        fail_new_from = row.fail_from;
        const char* help = GetMethodHelp("x");
        fail_new_from = 0;
        EXPECT_EQ(help, nullptr) << row.label;
        EXPECT_EQ(GetErrorCode(), CWX_ERR_NO_MEMORY) << row.label << ": " << text();
        // Said by the transfer, not by the guard that would catch an
        // exception thrown through libcurl.
        EXPECT_EQ(text(), "Out of memory while reading the answer from " + where(server))
            << row.label;
        RawServer good(answer_xml("<string>fine</string>"));
        use(good);
        EXPECT_STREQ(GetMethodHelp("x"), "fine") << row.label << ": " << text();
    }
}

TEST_F(Misbehaving, DefaultCapIsNamedInMiB) {
    RawServer announced([](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
        s.wait_for_close(fd);
        return false;
    });
    use(announced);
    EXPECT_EQ(GetCurrent(), nullptr);
    EXPECT_EQ(text(), "Response larger than 64 MiB");
}

TEST_F(Misbehaving, DeepNestingAndHugeStructs) {
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "<struct><member><name>a</name><value>";
    deep += "x";
    for (int i = 0; i < 10000; ++i)
        deep += "</value></member></struct>";
    RawServer deep_server(answer_xml(deep));
    use(deep_server);
    EXPECT_EQ(GetCurrent(), nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_BAD_RESPONSE);
    EXPECT_NE(text().find("nested deeper than 64 levels"), std::string::npos) << text();

    std::string members;
    for (int i = 0; i < 100000; ++i)
        members += "<member><name>F" + std::to_string(i) + "</name><value>v" + std::to_string(i) +
                   "</value></member>";
    RawServer wide(answer_xml("<struct>" + members + "</struct>"));
    use(wide);
    const NameValueList* list = GetCurrent();
    ASSERT_NE(list, nullptr) << text();
    ASSERT_EQ(list->count, 100000);
    EXPECT_STREQ(list->names[0], "F0");
    EXPECT_STREQ(list->values[54321], "v54321");
    EXPECT_STREQ(list->names[99999], "F99999");
}

std::string be32(uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
}

// One PNG chunk with its length and CRC-32.
std::string png_chunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : body) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return be32(static_cast<uint32_t>(data.size())) + body + be32(~crc);
}

// A PNG whose header says w x h (RGBA, 8 bits) followed by `idat` as its
// (usually wrong) image data; no IDAT at all when `idat` is empty.
std::string png_claiming(uint32_t w, uint32_t h, const std::string& idat) {
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) +
                      png_chunk("IHDR", be32(w) + be32(h) + std::string("\x08\x06\x00\x00\x00", 5));
    if (!idat.empty())
        png += png_chunk("IDAT", idat) + png_chunk("IEND", "");
    return png;
}

std::string base64(const std::string& bytes) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], a[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {a[v >> 18], a[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], '='};
    }
    return out;
}

TEST_F(Misbehaving, BadPicturesFailWithClearTexts) {
    struct Row {
        const char* label;
        std::string value_xml;
        int code;
        std::string text_part;
    };
    const Row rows[] = {
        {"corrupt base64", "<base64>iVBORw0K*GgoAAAA</base64>", CWX_ERR_IMAGE,
         "Picture from GetPhotoImage is not valid base64: bad character '*' at offset 8"},
        {"not a png", "<base64>" + base64("GIF89a not at all a png") + "</base64>", CWX_ERR_IMAGE,
         "Picture from GetPhotoImage is not a PNG image"},
        {"truncated png", "<base64>" + base64(png_claiming(4, 4, "")) + "</base64>", CWX_ERR_IMAGE,
         "Picture from GetPhotoImage cannot be decoded: "},
        {"corrupt png data", "<base64>" + base64(png_claiming(4, 4, "not zlib data")) + "</base64>",
         CWX_ERR_IMAGE, "Picture from GetPhotoImage cannot be decoded: "},
        {"huge header", "<base64>" + base64(png_claiming(100000, 100000, "x")) + "</base64>",
         CWX_ERR_IMAGE,
         "Picture from GetPhotoImage is 100000 x 100000 pixels, more than the limit"},
        {"wide header", "<base64>" + base64(png_claiming(40000, 1, "x")) + "</base64>",
         CWX_ERR_IMAGE, "is 40000 x 1 pixels"},
        {"a string instead", "<string>iVBORw0KGgo=</string>", CWX_ERR_UNEXPECTED_TYPE,
         "GetPhotoImage answered a string, expected a base64 picture"},
    };
    for (const Row& row : rows) {
        RawServer server(answer_xml(row.value_xml));
        use(server);
        EXPECT_EQ(GetPhotoImage(nullptr), 0u) << row.label;
        EXPECT_EQ(GetErrorCode(), row.code) << row.label << ": " << text();
        EXPECT_NE(text().find(row.text_part), std::string::npos) << row.label << ": " << text();
    }
}

TEST_F(Misbehaving, AnswersOfTheWrongType) {
    struct Row {
        const char* label;
        std::string value_xml;
        int (*call)();
        int failure;
        int code;
        const char* text;
    };
    const Row rows[] = {
        {"command gets a string", "<string>yes</string>", [] { return int(Print()); }, 0,
         CWX_ERR_UNEXPECTED_TYPE, "Print answered a string, expected a boolean"},
        {"number gets 64 bits", "<i8>4294967296</i8>", [] { return int(GetCWHandle()); }, -1,
         CWX_ERR_UNEXPECTED_TYPE, "GetCWHandle answered 4294967296, which does not fit 32 bits"},
        {"number gets a double", "<double>1.5</double>", [] { return int(GetEditCount()); }, -1,
         CWX_ERR_UNEXPECTED_TYPE, "GetEditCount answered a double, expected an int"},
        {"busy gets a struct", "<struct></struct>", [] { return int(IsBusy()); }, 255,
         CWX_ERR_UNEXPECTED_TYPE, "IsBusy answered a struct, expected a boolean"},
        {"methods gets a struct", "<struct></struct>", [] { return GetMethods() ? 1 : 0; }, 0,
         CWX_ERR_UNEXPECTED_TYPE, "system.listMethods answered a struct, expected an array"},
        {"help gets an int", "<int>1</int>", [] { return GetMethodHelp("x") ? 1 : 0; }, 0,
         CWX_ERR_UNEXPECTED_TYPE, "system.methodHelp answered an int, expected a string"},
        {"bad boolean", "<boolean>2</boolean>", [] { return int(Print()); }, 0,
         CWX_ERR_BAD_RESPONSE, "<boolean> holds \"2\", not 0 or 1"},
        {"nul in a text", "<string>nul&#0;after</string>",
         [] { return GetMethodHelp("x") ? 1 : 0; }, 0, CWX_ERR_BAD_RESPONSE,
         "is not XML-RPC: it holds a NUL character (a reference to character 0) at byte "},
        {"reference that wraps to nul in a text", "<string>abc&#x100000000;def</string>",
         [] { return GetMethodHelp("x") ? 1 : 0; }, 0, CWX_ERR_BAD_RESPONSE,
         "is not XML-RPC: it holds a reference to a character past U+10FFFF at byte "},
    };
    for (const Row& row : rows) {
        RawServer server(answer_xml(row.value_xml));
        use(server);
        EXPECT_EQ(row.call(), row.failure) << row.label;
        EXPECT_EQ(GetErrorCode(), row.code) << row.label;
        EXPECT_NE(text().find(row.text), std::string::npos) << row.label << ": " << text();
    }
    RawServer busy(answer_xml("<boolean>1</boolean>"));
    use(busy);
    EXPECT_EQ(IsBusy(), 1);
    RawServer fault(answer_with(RawServer::http_response(cwtest::xmlrpc_fault(0, "zero"))));
    use(fault);
    EXPECT_EQ(IsBusy(), 255);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_REMOTE_FAULT);
}

TEST_F(Misbehaving, TextsComeBackAsCleanUtf8) {
    // A terminal escape, a byte that is not UTF-8 and the C1 control CSI.
    const std::string dirty = "a\x1b[2J\xff\xc2\x9b";
    const std::string clean = "a\uFFFD[2J\uFFFD\uFFFD";
    struct Row {
        const char* label;
        std::string body;
        std::string (*read)();
        std::string expected;
    };
    const Row rows[] = {
        {"list name and value",
         cwtest::xmlrpc_answer("<struct><member><name>" + dirty + "</name><value>" + dirty +
                               "</value></member></struct>"),
         [] {
             const NameValueList* list = GetCurrent();
             return list && list->count == 1 ? std::string(list->names[0]) + "=" + list->values[0]
                                             : "failed: " + text();
         },
         clean + "=" + clean},
        {"help text", cwtest::xmlrpc_answer("<string>" + dirty + "</string>"),
         [] {
             const char* help = GetMethodHelp("x");
             return help ? std::string(help) : "failed: " + text();
         },
         clean},
        {"fault string", cwtest::xmlrpc_fault(3, dirty),
         [] {
             GetFeatures();
             return text();
         },
         clean},
    };
    for (const Row& row : rows) {
        RawServer server(answer_with(RawServer::http_response(row.body)));
        use(server);
        EXPECT_EQ(row.read(), row.expected) << row.label;
        const std::string received = GetReceivedXML();
        EXPECT_EQ(received.find_first_of("\x1b\xff"), std::string::npos) << row.label;
        EXPECT_NE(received.find(clean), std::string::npos) << row.label;
    }
}

TEST_F(Misbehaving, SignaturesReadLikePrototypes) {
    struct Row {
        const char* label;
        std::string value_xml;
        std::vector<std::string> values;
    };
    auto sig = [](std::initializer_list<const char*> words) {
        std::string s = "<value><array><data>";
        for (const char* w : words)
            s += std::string("<value><string>") + w + "</string></value>";
        return s + "</data></array></value>";
    };
    const Row rows[] = {
        {"two signatures",
         "<array><data>" + sig({"boolean", "struct"}) + sig({"boolean", "string", "int"}) +
             "</data></array>",
         {"boolean Open(struct)", "boolean Open(string, int)"}},
        {"no parameters", "<array><data>" + sig({"array"}) + "</data></array>", {"array Open()"}},
        {"xmlrpc-c undef", "<string>undef</string>", {}},
        {"no signatures at all", "<array><data></data></array>", {}},
    };
    for (const Row& row : rows) {
        RawServer server(answer_xml(row.value_xml));
        use(server);
        const NameValueList* list = GetMethodProtoType("Open");
        ASSERT_NE(list, nullptr) << row.label << ": " << text();
        ASSERT_EQ(list->count, static_cast<int32_t>(row.values.size())) << row.label;
        for (int32_t i = 0; i < list->count; ++i) {
            EXPECT_EQ(list->names[i], std::to_string(i));
            EXPECT_EQ(list->values[i], row.values[static_cast<std::size_t>(i)]) << row.label;
        }
        EXPECT_NE(server.last_request().body.find(
                      "<methodName>system.methodSignature</methodName><params><param><value>"
                      "<string>Open</string>"),
                  std::string::npos);
    }
}

TEST_F(Misbehaving, RefusedArgumentsSendNothing) {
    struct Row {
        const char* label;
        std::string name;
        std::string value;
        const char* text;
    };
    const Row rows[] = {
        {"control in value", "Name", std::string("a\x01", 2),
         "Argument entry 1 (\"Name\"): the value holds control character 0x01 at byte 1"},
        {"control in name", "Na\x1fme", "v",
         "Argument entry 1 (\"Na\\x1fme\"): the name holds control character 0x1f"},
        {"invalid utf-8", "Name", "caf\xe9",
         "the value is not valid UTF-8 (byte 0xe9 at offset 3)"},
        {"non-character", "Name", "\xef\xbf\xbf", "the value holds U+FFFF"},
    };
    RawServer server(answer_xml("<boolean>1</boolean>"));
    use(server);
    for (const Row& row : rows) {
        std::string n0 = "Ok", v0 = "fine", n1 = row.name, v1 = row.value;
        char* names[] = {n0.data(), n1.data()};
        char* values[] = {v0.data(), v1.data()};
        const NameValueList list{2, names, values};
        EXPECT_EQ(Add(&list), 0) << row.label;
        EXPECT_EQ(GetErrorCode(), CWX_ERR_BAD_ARGUMENT) << row.label;
        EXPECT_NE(text().find(row.text), std::string::npos) << row.label << ": " << text();
    }
    EXPECT_EQ(GetMethodHelp("bad\x02name"), nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_BAD_ARGUMENT);
    EXPECT_EQ(server.requests(), 0);
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(Misbehaving, SettingsAreCheckedAtTheNextCall) {
    RawServer server(answer_xml("<boolean>1</boolean>"));
    SetXMLPort(0);
    EXPECT_EQ(GetErrorCode(), 0);
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_SETTINGS);
    EXPECT_EQ(text(), "Port 0 is outside 1..65535");
    SetXMLPort(70000);
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(text(), "Port 70000 is outside 1..65535");
    use(server);
    SetHostName("");
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_SETTINGS);
    EXPECT_EQ(text(), "No host name set");
    SetHostName(nullptr);
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(server.requests(), 0);
    SetHostName("127.0.0.1/RPC2?");
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_SETTINGS);
    // A key that would add header lines is refused before anything is sent.
    SetHostName("127.0.0.1");
    SetXMLAccessKey("k\r\nX-Injected: 1");
    EXPECT_EQ(First(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_SETTINGS);
    EXPECT_EQ(server.requests(), 0);
    SetXMLAccessKey("");
    EXPECT_EQ(First(), 1) << text();
}

TEST_F(Misbehaving, ConnectionPersistsAcrossCalls) {
    const auto keepAlive = [](int fd, const RawRequest&, RawServer& s) {
        s.send_all(fd, RawServer::http_response(cwtest::xmlrpc_answer("<boolean>1</boolean>"),
                                                "200 OK", "text/xml", true));
        return true;
    };
    RawServer server(keepAlive);
    use(server);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Next(), 1) << text();
    EXPECT_EQ(server.requests(), 5);
    EXPECT_EQ(server.connections(), 1);
    const RawRequest request = server.last_request();
    EXPECT_EQ(request.head.rfind("POST /RPC2 HTTP/1.1\r\n", 0), 0u) << request.head;
    // Each header line of the wire contract once, on a reused connection too.
    const std::string head = request.head + "\r\n";
    for (const std::string& line :
         {"Host: " + where(server), std::string("Content-Type: text/xml"),
          std::string("User-Agent: cwxmlclient/1.0"), std::string("Accept: text/xml"),
          "Content-Length: " + std::to_string(request.body.size())}) {
        const std::size_t at = head.find("\r\n" + line + "\r\n");
        EXPECT_NE(at, std::string::npos) << line << " in\n" << request.head;
        EXPECT_EQ(head.find("\r\n" + line.substr(0, line.find(':') + 1), at + 1), std::string::npos)
            << line << " twice in\n"
            << request.head;
    }
    EXPECT_EQ(request.head.find("Expect:"), std::string::npos);
    EXPECT_EQ(request.head.find("X-Cardwright-Access-Key"), std::string::npos);
    SetXMLAccessKey("k 1");
    ASSERT_EQ(Next(), 1);
    EXPECT_NE(server.last_request().head.find("\r\nX-Cardwright-Access-Key: k 1"),
              std::string::npos);
    CloseXML();
    ASSERT_EQ(Next(), 1);
    EXPECT_EQ(server.connections(), 2);
    // Another port: the next call goes there and names it, and back.
    RawServer other(keepAlive);
    use(other);
    ASSERT_EQ(Next(), 1) << text();
    EXPECT_EQ(other.requests(), 1);
    EXPECT_NE(other.last_request().head.find("\r\nHost: " + where(other) + "\r\n"),
              std::string::npos)
        << other.last_request().head;
    use(server);
    ASSERT_EQ(Next(), 1) << text();
    EXPECT_EQ(server.requests(), 8);
    EXPECT_EQ(other.requests(), 1);
}

} // namespace
