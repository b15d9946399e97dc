// The main flows through our own client library against the real simulator,
// which the library launches itself: open, select, navigate, add, update,
// delete, pictures, faults, introspection, exit. Then faults between and
// during calls: the simulator killed, stopped, or its answer cut short.
#include "cwxmlclient.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

class Args {
  public:
    Args(std::initializer_list<std::pair<std::string, std::string>> entries) {
        for (const auto& [n, v] : entries) {
            names_.push_back(n);
            values_.push_back(v);
        }
        for (std::size_t i = 0; i < names_.size(); ++i) {
            namePtrs_.push_back(names_[i].data());
            valuePtrs_.push_back(values_[i].data());
        }
        list_.count = static_cast<int32_t>(names_.size());
        list_.names = namePtrs_.data();
        list_.values = valuePtrs_.data();
    }
    const NameValueList* operator&() const { return &list_; }

  private:
    std::vector<std::string> names_, values_;
    std::vector<char*> namePtrs_, valuePtrs_;
    NameValueList list_{};
};

std::string valueOf(const NameValueList* list, const std::string& name) {
    if (!list)
        return "<null list: " + std::to_string(GetErrorCode()) + " " + GetErrorText() + ">";
    for (int32_t i = 0; i < list->count; ++i)
        if (name == list->names[i])
            return list->values[i];
    return "<absent>";
}

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

template <typename Pred> bool waitFor(Pred pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool idle() {
    return waitFor([] { return IsBusy() == 0; }, 20000);
}

TEST(LibraryFlow, AgainstTheSimulator) {
    const char* samples = std::getenv("CW_SAMPLES");
    ASSERT_NE(samples, nullptr) << "CW_SAMPLES must name the samples folder";
    ASSERT_NE(std::getenv("CWXML_CARDWRIGHT"), nullptr)
        << "CWXML_CARDWRIGHT must name cardwright-sim";
    auto dir = fs::temp_directory_path() / ("cwsim-lib-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    fs::copy_file(fs::path(samples) / "visitors.idc", dir / "visitors.idc");
    auto design = (dir / "visitors.idc").string();

    SetHostName("127.0.0.1");
    SetXMLPort(freePort());
    ASSERT_EQ(LaunchCW(design.c_str(), CWX_SHOW_HIDDEN), 1) << GetErrorText();
    const NameValueList* methods = nullptr;
    ASSERT_TRUE(waitFor([&] { return (methods = GetMethods()) != nullptr; }, 15000))
        << GetErrorText();
    bool hasGetRecord = false;
    for (int32_t i = 0; i < methods->count; ++i)
        hasGetRecord = hasGetRecord || std::string(methods->values[i]) == "GetRecord";
    EXPECT_TRUE(hasGetRecord);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetCount(), "Total"), "300");

    // Select and navigate.
    ASSERT_EQ(Select(&Args{{"FirstName", "A*"}}), 1) << GetErrorText();
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetRecord(&Args{}), "FirstName").substr(0, 1), "A");
    ASSERT_EQ(First(), 1);
    ASSERT_EQ(Next(), 1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetCurrent(), "Position"), "2");
    EXPECT_EQ(GetLastCommandError(), 0);

    // Add, update, delete.
    ASSERT_EQ(Add(&Args{{"FirstName", "Lib"},
                        {"LastName", "Flow"},
                        {"Company", "Tab\tand <tags> & \"quotes\""}}),
              1)
        << GetErrorText();
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetRecord(&Args{}), "Company"), "Tab\tand <tags> & \"quotes\"");
    ASSERT_EQ(Update(&Args{{"Company", "Lib Co"}}), 1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetRecord(&Args{{"LastName", "Flow"}}), "Company"), "Lib Co");
    ASSERT_EQ(Delete(&Args{}), 1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(GetRecord(&Args{{"LastName", "Flow"}}), nullptr);
    EXPECT_EQ(GetErrorCode(), 6);
    EXPECT_NE(std::string(GetErrorText()).find("No record matches"), std::string::npos);

    // Pictures arrive as bitmaps of the right size.
    CWBitmap badge = GetBadgeImage(&Args{});
    ASSERT_NE(badge, 0u) << GetErrorText();
    EXPECT_EQ(cw_bitmap_width(badge), 540);
    EXPECT_EQ(cw_bitmap_height(badge), 860);
    cw_bitmap_delete(badge);
    CWBitmap photo = GetPhotoImage(&Args{});
    ASSERT_NE(photo, 0u) << GetErrorText();
    EXPECT_EQ(cw_bitmap_width(photo), 180);
    cw_bitmap_delete(photo);
    EXPECT_EQ(GetSignatureImage(&Args{}), 0u);
    EXPECT_EQ(GetErrorCode(), 11);

    // Refusals arrive as the server's code and text.
    EXPECT_EQ(Select(&Args{{"Shoe", "42"}}), 0);
    EXPECT_EQ(GetErrorCode(), 2);
    EXPECT_NE(std::string(GetErrorText()).find("Unknown field 'Shoe'"), std::string::npos);
    const char* text = GetErrorMessage(&Args{{"Code", "2"}});
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "Unknown field");

    // Introspection.
    const NameValueList* proto = GetMethodProtoType("Open");
    ASSERT_NE(proto, nullptr) << GetErrorText();
    ASSERT_EQ(proto->count, 1);
    EXPECT_EQ(std::string(proto->values[0]), "boolean Open(struct)");
    const char* help = GetMethodHelp("Open");
    ASSERT_NE(help, nullptr);
    EXPECT_NE(std::string(help).find("File=PATH"), std::string::npos);

    // Exit answers, then the program goes away.
    EXPECT_EQ(Exit(), 1);
    EXPECT_TRUE(
        waitFor([] { return GetMethods() == nullptr && GetErrorCode() == CWX_ERR_CONNECT; }, 10000))
        << GetErrorCode() << " " << GetErrorText();
    CloseXML();
    fs::remove_all(dir);
}

// ---- Faults between and during calls ---------------------------------------

// A cardwright-sim this test starts and signals itself, on a port it chooses,
// serving a copy of the sample design; its stderr goes to a file.
class Sim {
  public:
    Sim() {
        const char* samples = std::getenv("CW_SAMPLES");
        dir_ =
            fs::temp_directory_path() / ("cwsim-fault-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        if (samples)
            for (const char* name : {"visitors.idc", "visitors.csv"})
                fs::copy_file(fs::path(samples) / name, dir_ / name);
    }
    ~Sim() {
        kill(SIGKILL);
        fs::remove_all(dir_);
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // Starts it on `port` and waits (bounded) until it says it listens; after
    // a kill, it starts again on the same roster.
    bool start(int port) {
        const char* program = std::getenv("CWXML_CARDWRIGHT");
        if (!program)
            return false;
        const std::string logPath = (dir_ / "sim.log").string();
        const std::vector<std::string> words = {program,
                                                "--design",
                                                (dir_ / "visitors.idc").string(),
                                                "--show",
                                                "hidden",
                                                "--bind",
                                                "127.0.0.1",
                                                "--port",
                                                std::to_string(port),
                                                "--print-dir",
                                                (dir_ / "prints").string()};
        std::vector<char*> argv;
        for (const std::string& word : words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        const int spawned = posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = 0;
            return false;
        }
        const std::string announced = ":" + std::to_string(port) + "/RPC2";
        return waitFor([&] { return log().find(announced) != std::string::npos; }, 20000);
    }

    // Sends `signal`; SIGKILL also collects the process.
    void kill(int signal) {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        if (signal == SIGKILL) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = 0;
        }
    }

    std::string log() const {
        std::ifstream in(dir_ / "sim.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // True once every thread of it has stopped: a signal stops the threads
    // one by one, and one still running could answer.
    bool stopped() const {
        std::error_code ec;
        int threads = 0;
        for (const auto& task :
             fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
            std::ifstream in(task.path() / "stat");
            std::string stat;
            std::getline(in, stat);
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos || stat.compare(close + 2, 1, "T") != 0)
                return false;
            ++threads;
        }
        return threads > 0;
    }

  private:
    fs::path dir_;
    pid_t pid_ = 0;
};

// Points the library at 127.0.0.1:port with the limits now in the
// environment (read when the connection opens), and waits until the design
// is open there.
bool connectTo(int port) {
    CloseXML();
    SetHostName("127.0.0.1");
    SetXMLPort(port);
    return waitFor([] { return GetCount() != nullptr && IsBusy() == 0; }, 20000);
}

std::string endpoint(int port) {
    return "127.0.0.1:" + std::to_string(port);
}

// Killed between two calls: the next call says where and why it failed, and
// once the simulator is back on its port the call after that works, on the
// roster it left.
TEST(LibraryFaults, KilledBetweenCallsThenRestarted) {
    const int port = freePort();
    Sim sim;
    ASSERT_TRUE(sim.start(port)) << sim.log();
    ASSERT_TRUE(connectTo(port)) << GetErrorText();
    ASSERT_EQ(Add(&Args{{"FirstName", "Kept"}, {"LastName", "Across"}}), 1) << GetErrorText();
    ASSERT_EQ(valueOf(GetCount(), "Total"), "301");

    sim.kill(SIGKILL);
    EXPECT_EQ(GetCount(), nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_CONNECT);
    EXPECT_EQ(std::string(GetErrorText()),
              "Cannot connect to " + endpoint(port) + ": Connection refused");
    EXPECT_EQ(GetEditCount(), -1) << "a number call fails as well";
    EXPECT_EQ(GetErrorCode(), CWX_ERR_CONNECT);

    ASSERT_TRUE(sim.start(port)) << sim.log();
    const NameValueList* methods = GetMethods();
    ASSERT_NE(methods, nullptr) << GetErrorText();
    EXPECT_GT(methods->count, 50);
    EXPECT_EQ(GetErrorCode(), 0);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetCount(), "Total"), "301") << "what was answered was kept";
    EXPECT_EQ(valueOf(GetRecord(&Args{{"LastName", "Across"}}), "FirstName"), "Kept");
    CloseXML();
}

// A loopback proxy in front of the simulator that takes each request whole,
// runs `onRequest` (when given), passes the request on, takes the whole
// answer, and passes on only its first bytes (how many: `keep` of the head
// and body) before closing the connection.
class CuttingProxy {
  public:
    using Keep = std::size_t (*)(std::size_t head, std::size_t body);

    CuttingProxy(int target, Keep keep, std::function<void()> onRequest = {})
        : target_(target), keep_(keep), onRequest_(std::move(onRequest)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CuttingProxy() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        close(listener_);
    }
    CuttingProxy(const CuttingProxy&) = delete;
    CuttingProxy& operator=(const CuttingProxy&) = delete;

    int port() const { return port_; }
    std::size_t answersPassed() const { return cut_; }

  private:
    // Reads one HTTP message (head and Content-Length body) from `fd`;
    // `headLength` gets the length of the head. Empty when it did not come.
    static std::string readMessage(int fd, std::size_t& headLength) {
        std::string data;
        char buffer[65536];
        for (;;) {
            const std::size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos) {
                headLength = end + 4;
                std::string head = data.substr(0, headLength);
                for (char& c : head)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                const std::size_t at = head.find("content-length:");
                const std::size_t length =
                    at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 15, nullptr, 10);
                if (data.size() >= headLength + length)
                    return data;
            }
            pollfd wait{fd, POLLIN, 0};
            if (poll(&wait, 1, 10000) <= 0)
                return {};
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0)
                return {};
            data.append(buffer, static_cast<std::size_t>(got));
        }
    }

    static bool writeAll(int fd, const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }

    void serve() {
        while (!stop_) {
            pollfd wait{listener_, POLLIN, 0};
            if (poll(&wait, 1, 50) <= 0)
                continue;
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0)
                continue;
            std::size_t head = 0;
            const std::string request = readMessage(client, head);
            if (!request.empty() && onRequest_)
                onRequest_();
            const int server = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<std::uint16_t>(target_));
            if (!request.empty() &&
                connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                writeAll(server, request.data(), request.size())) {
                const std::string answer = readMessage(server, head);
                const std::size_t keep = std::min(answer.size(), keep_(head, answer.size() - head));
                writeAll(client, answer.data(), keep);
                ++cut_;
            }
            close(server);
            close(client);
        }
    }

    int target_;
    Keep keep_;
    std::function<void()> onRequest_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> cut_{0};
    std::thread thread_;
};

// Stopped (SIGSTOP) while a call is on its way: a proxy stops the simulator
// once it holds the whole request, then passes it on. The call ends at the
// library's time-out (CWXML_TIMEOUT_MS, shortened here; the proxy gives up
// after 10 s, so a library that does not time out fails rather than hangs),
// and once the simulator runs again the next call gets its own answer.
TEST(LibraryFaults, StoppedDuringACallEndsAtTheTimeOut) {
    constexpr int kTimeoutMs = 1500;
    const int port = freePort();
    Sim sim;
    ASSERT_TRUE(sim.start(port)) << sim.log();
    setenv("CWXML_TIMEOUT_MS", std::to_string(kTimeoutMs).c_str(), 1);
    ASSERT_TRUE(connectTo(port)) << GetErrorText();

    std::atomic<int> requests{0};
    std::atomic<bool> stopped{false};
    CuttingProxy proxy(
        port, [](std::size_t head, std::size_t body) { return head + body; },
        [&] {
            if (requests++ > 0)
                return;
            sim.kill(SIGSTOP);
            // The threads stop one by one; one still running could answer.
            stopped = waitFor([&] { return sim.stopped(); }, 5000);
        });
    ASSERT_NE(proxy.port(), 0);
    SetXMLPort(proxy.port());
    const auto start = std::chrono::steady_clock::now();
    const NameValueList* record = GetRecord(&Args{{"Id", "4"}});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    EXPECT_TRUE(stopped);
    sim.kill(SIGCONT);

    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_TIMEOUT);
    EXPECT_EQ(std::string(GetErrorText()),
              "No answer from " + endpoint(proxy.port()) + " within 1500 ms");
    EXPECT_GE(took, kTimeoutMs - 50);
    EXPECT_LT(took, kTimeoutMs + 3000);

    // Running again, it answers the old call late; the next call gets its own.
    EXPECT_EQ(valueOf(GetRecord(&Args{{"Id", "9"}}), "Id"), "9");
    EXPECT_EQ(valueOf(GetCount(), "Total"), "300");
    EXPECT_EQ(requests.load(), 3);
    unsetenv("CWXML_TIMEOUT_MS");
    CloseXML();
}

// A picture whose connection is cut in its body fails with the transport's
// error, and no bitmap comes back, however much of it arrived.
TEST(LibraryFaults, PictureCutInItsBodyIsAnErrorNeverAPicture) {
    const int port = freePort();
    Sim sim;
    ASSERT_TRUE(sim.start(port)) << sim.log();
    ASSERT_TRUE(connectTo(port)) << GetErrorText();
    const struct {
        const char* label;
        CuttingProxy::Keep keep;
    } cuts[] = {
        {"after the head", [](std::size_t head, std::size_t) { return head; }},
        {"after one body byte", [](std::size_t head, std::size_t) { return head + 1; }},
        {"half the body", [](std::size_t head, std::size_t body) { return head + body / 2; }},
        {"all but the last byte",
         [](std::size_t head, std::size_t body) { return head + body - 1; }},
    };
    for (const auto& cut : cuts) {
        SCOPED_TRACE(cut.label);
        CuttingProxy proxy(port, cut.keep);
        ASSERT_NE(proxy.port(), 0);
        CloseXML();
        SetXMLPort(proxy.port());
        const CWBitmap badge = GetBadgeImage(&Args{});
        EXPECT_EQ(badge, 0u) << "a picture from part of an answer";
        if (badge)
            cw_bitmap_delete(badge);
        EXPECT_EQ(GetErrorCode(), CWX_ERR_TRANSPORT);
        EXPECT_EQ(std::string(GetErrorText()), "Connection to " + endpoint(proxy.port()) +
                                                   " closed before the answer was complete");
        EXPECT_EQ(proxy.answersPassed(), 1u);
    }
    // The whole answer, straight from the simulator, is a badge.
    SetXMLPort(port);
    const CWBitmap badge = GetBadgeImage(&Args{});
    ASSERT_NE(badge, 0u) << GetErrorText();
    EXPECT_EQ(cw_bitmap_width(badge), 540);
    cw_bitmap_delete(badge);
    CloseXML();
}

} // namespace
