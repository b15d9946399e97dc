// soak: many mixed calls through the client library against a cardwright-sim
// started fresh on a copy of the sample design, counting every outcome that
// differs from what the call should give, and the resident memory of both
// processes at a checkpoint and at the end.
//
//   soak --sim PATH --samples DIR [--calls N] [--checkpoint N] [--rss-growth PERCENT]
//
// The mix repeats every 100 calls: list getters, commands (a record added,
// changed and deleted again, so the roster ends as it began), one picture,
// faults the server must answer (unknown field, no match, no signature),
// and, sent with libcurl as raw POSTs because the library never sends them,
// system.multicall requests and calls the request gate must refuse.
// Exit status: 0 when nothing unexpected happened and both processes grew by
// at most --rss-growth percent (default 5; 0 leaves memory unchecked) from
// the checkpoint (default: a fifth of the calls) to the end; 1 otherwise;
// 2 for a bad command line or a simulator that does not start.
#include "cwxmlclient.h"

#include <curl/curl.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kCycle = 100;           // the mix repeats every this many calls
constexpr int kStartSeconds = 30;     // for the simulator to listen and open the design
constexpr long kRawTimeoutMs = 30000; // one raw POST, as the library's default
constexpr int kMaxReported = 20;      // unexpected outcomes printed in full
constexpr int kMaxUnexpected = 1000;  // then the run stops: each may have waited a time-out
constexpr int kSampleRecords = 300;   // the sample design's roster

// ---- The simulator ----------------------------------------------------------

class Simulator {
  public:
    ~Simulator() { stop(); }

    bool start(const std::string& program, const fs::path& samples, std::string& error) {
        dir_ = fs::temp_directory_path() / ("cw-soak-" + std::to_string(getpid()));
        std::error_code ec;
        fs::remove_all(dir_, ec);
        fs::create_directories(dir_, ec);
        for (const char* name : {"visitors.idc", "visitors.csv"}) {
            fs::copy_file(samples / name, dir_ / name, ec);
            if (ec) {
                error = "cannot copy " + (samples / name).string() + ": " + ec.message();
                return false;
            }
        }
        const std::string logPath = (dir_ / "sim.log").string();
        const std::vector<std::string> words = {program,
                                                "--design",
                                                (dir_ / "visitors.idc").string(),
                                                "--show",
                                                "hidden",
                                                "--port",
                                                "0",
                                                "--bind",
                                                "127.0.0.1",
                                                "--print-dir",
                                                (dir_ / "prints").string(),
                                                "--call-log",
                                                (dir_ / "calls.log").string()};
        std::vector<char*> argv;
        for (const std::string& word : words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        if (access(program.c_str(), X_OK) != 0) {
            error = "cannot start " + program + ": " + std::strerror(errno);
            return false;
        }
        const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
        const int logFile = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (devNull < 0 || logFile < 0) {
            error = "cannot write " + logPath + ": " + std::strerror(errno);
            return false;
        }
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // Ends with the soak, even when the soak itself crashes.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            dup2(devNull, 1);
            dup2(logFile, 2);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(devNull);
        close(logFile);
        if (pid_ < 0) {
            pid_ = 0;
            error = "cannot start " + program + ": " + std::strerror(errno);
            return false;
        }
        static const std::regex announced("listening on http://[^ ]*:([0-9]+)/RPC2");
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            std::smatch match;
            const std::string text = this->log();
            if (std::regex_search(text, match, announced)) {
                port_ = std::stoi(match[1]);
                return true;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        error = "cardwright-sim did not announce a port; its log:\n" + log();
        return false;
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            int status = 0;
            while (waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(pid_, SIGKILL);
                    waitpid(pid_, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            pid_ = 0;
        }
        if (!dir_.empty()) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
            dir_.clear();
        }
    }

    std::string log() const {
        std::ifstream in(dir_ / "sim.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    pid_t pid() const { return pid_; }
    // False once the process has ended (it is then collected).
    bool running() {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_)
            pid_ = 0;
        return pid_ > 0;
    }
    int port() const { return port_; }

  private:
    fs::path dir_;
    pid_t pid_ = 0;
    int port_ = 0;
};

// VmRSS of /proc/PID/status in KiB; 0 when it cannot be read.
long residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// ---- Raw POSTs, for what the library does not send ----------------------------

class RawClient {
  public:
    explicit RawClient(int port) : url_("http://127.0.0.1:" + std::to_string(port) + "/RPC2") {
        curl_ = curl_easy_init();
        headers_ = curl_slist_append(headers_, "Content-Type: text/xml");
    }
    ~RawClient() {
        curl_slist_free_all(headers_);
        if (curl_)
            curl_easy_cleanup(curl_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // The body of a 200 answer; false with `why` set otherwise.
    bool post(const std::string& body, std::string& answer, std::string& why) {
        answer.clear();
        if (!curl_) {
            why = "no curl handle";
            return false;
        }
        curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, kRawTimeoutMs);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &RawClient::onBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &answer);
        const CURLcode code = curl_easy_perform(curl_);
        if (code != CURLE_OK) {
            why = curl_easy_strerror(code);
            return false;
        }
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        if (status != 200) {
            why = "HTTP status " + std::to_string(status);
            return false;
        }
        return true;
    }

    // The HTTP status of a POST of `body` to `path` (0 when none came), sent
    // chunked (without a length) when asked; the connection is then reused or
    // opened again as libcurl sees fit.
    long status(const std::string& path, const std::string& body, bool chunked, std::string& why) {
        const std::string url = url_.substr(0, url_.rfind('/')) + path;
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml");
        if (chunked)
            headers = curl_slist_append(headers, "Transfer-Encoding: chunked");
        std::string answer;
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE,
                         chunked ? curl_off_t{-1} : static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, kRawTimeoutMs);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &RawClient::onBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &answer);
        const CURLcode code = curl_easy_perform(curl_);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_slist_free_all(headers);
        long got = 0;
        if (code != CURLE_OK)
            why = curl_easy_strerror(code);
        else
            curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &got);
        return got;
    }

  private:
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    }

    std::string url_;
    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
};

std::string methodCall(const std::string& name, const std::string& params) {
    return "<?xml version=\"1.0\"?><methodCall><methodName>" + name + "</methodName><params>" +
           params + "</params></methodCall>";
}

// One call of a multicall: {methodName, params: [struct of string members]}.
std::string multicallEntry(const std::string& name,
                           const std::vector<std::pair<std::string, std::string>>& members) {
    std::string params = "<value><array><data>";
    if (!members.empty()) {
        params += "<value><struct>";
        for (const auto& [n, v] : members)
            params +=
                "<member><name>" + n + "</name><value><string>" + v + "</string></value></member>";
        params += "</struct></value>";
    }
    params += "</data></array></value>";
    return "<value><struct><member><name>methodName</name><value><string>" + name +
           "</string></value></member><member><name>params</name>" + params +
           "</member></struct></value>";
}

std::string multicall(const std::vector<std::string>& entries) {
    std::string data;
    for (const std::string& entry : entries)
        data += entry;
    return methodCall("system.multicall",
                      "<param><value><array><data>" + data + "</data></array></value></param>");
}

// The faultCode of a top-level fault answer; 0 when the answer is no fault.
int faultCode(const std::string& answer) {
    static const std::regex code("<methodResponse>\\s*<fault>[\\s\\S]*?<name>faultCode</"
                                 "name>\\s*<value>\\s*<(?:int|i4)>(-?[0-9]+)<");
    std::smatch match;
    return std::regex_search(answer, match, code) ? std::stoi(match[1]) : 0;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Calls the request gate refuses with fault 3 before the registry sees them.
std::vector<std::string> gateRefusals() {
    std::string deep;
    for (int i = 0; i < 70; ++i)
        deep += "<value><array><data>";
    deep += "<value><string>x</string></value>";
    for (int i = 0; i < 70; ++i)
        deep += "</data></array></value>";
    std::vector<std::string> tooMany(101, multicallEntry("GetCount", {}));
    return {
        "<?xml version=\"1.0\"?><!DOCTYPE methodCall [<!ENTITY a \"b\">]>" +
            methodCall("GetCount", ""),
        methodCall("GetRecord", "<param>" + deep + "</param>"),
        multicall(tooMany),
        "<?xml version=\"1.0\" encoding=\"EBCDIC\"?>" +
            methodCall("GetCount", "").substr(std::strlen("<?xml version=\"1.0\"?>")),
    };
}

// ---- Library calls -------------------------------------------------------------

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
    const NameValueList* get() const { return &list_; }

  private:
    std::vector<std::string> names_, values_;
    std::vector<char*> namePtrs_, valuePtrs_;
    NameValueList list_{};
};

std::string valueOf(const NameValueList* list, const std::string& name) {
    if (!list)
        return {};
    for (int32_t i = 0; i < list->count; ++i)
        if (name == list->names[i])
            return list->values[i];
    return {};
}

std::string lastError() {
    return "error " + std::to_string(GetErrorCode()) + ": " + GetErrorText();
}

// Each step makes one call and returns "" when it gave what it should, else
// what it gave instead.
using Step = std::function<std::string(long call)>;

std::string listHas(const NameValueList* list, const std::string& name, const std::string& value) {
    if (!list)
        return lastError();
    const std::string got = valueOf(list, name);
    if (!value.empty() && got != value)
        return name + " = '" + got + "', expected '" + value + "'";
    if (value.empty() && list->count <= 0)
        return "an empty list";
    return {};
}

std::string accepted(unsigned char answer) {
    return answer == 1 ? std::string() : lastError();
}

std::string faults(bool failed, int32_t code) {
    if (!failed)
        return "succeeded; expected error " + std::to_string(code);
    return GetErrorCode() == code ? std::string()
                                  : lastError() + "; expected " + std::to_string(code);
}

std::string picture(CWBitmap bitmap, int width) {
    if (bitmap == 0)
        return lastError();
    const int got = cw_bitmap_width(bitmap);
    cw_bitmap_delete(bitmap);
    return got == width ? std::string() : "a picture " + std::to_string(got) + " wide";
}

struct Counts {
    long calls = 0;
    long expectedFaults = 0;
    long unexpected = 0;
    long pictures = 0;
    long multicalls = 0;
    long refusals = 0;
    long records = kSampleRecords; // in the roster, as the commands accepted leave it
};

std::vector<Step> makeCycle(RawClient& raw, Counts& counts) {
    const std::vector<std::string> refusals = gateRefusals();
    const std::string fineMulticall =
        multicall({multicallEntry("GetCount", {}), multicallEntry("GetRecord", {{"Id", "7"}}),
                   multicallEntry("GetRecord", {{"LastName", "Nobody"}}),
                   multicallEntry("NoSuchMethod", {})});
    std::vector<Step> lists = {
        [&counts](long) { return listHas(GetCount(), "Total", std::to_string(counts.records)); },
        [](long call) {
            const std::string id = std::to_string(1 + call % kSampleRecords);
            return listHas(GetRecord(Args{{"Id", id}}.get()), "Id", id);
        },
        [](long) { return listHas(GetCurrent(), "Position", ""); },
        [](long) { return listHas(GetStatus(), "Design", ""); },
        [](long) { return listHas(GetFields(), "", ""); },
        [](long) { return listHas(GetFeatures(), "", ""); },
        [](long) { return listHas(GetProgramInfo(), "", ""); },
        [](long) { return listHas(GetMethods(), "", ""); },
        [](long) { return listHas(GetMethodProtoType("GetRecord"), "", ""); },
        [](long) {
            const char* help = GetMethodHelp("Select");
            return help && *help ? std::string() : lastError();
        },
        [](long) {
            const char* text = GetErrorMessage(Args{{"Code", "6"}}.get());
            return text && *text ? std::string() : lastError();
        },
        [](long) { return GetEditCount() >= 0 ? std::string() : lastError(); },
        [](long) { return IsBusy() != 255 ? std::string() : lastError(); },
        [](long) {
            const int32_t code = GetLastCommandError();
            return code == 0 || code == 15 ? std::string()
                                           : "command error " + std::to_string(code);
        },
    };
    std::vector<Step> commands = {
        [](long) { return accepted(First()); },
        [](long) { return accepted(Next()); },
        [](long) { return accepted(Next()); },
        [](long) { return accepted(Previous()); },
        [](long) { return accepted(Last()); },
        [](long) {
            return accepted(Select(Args{{"FirstName", "A*"}}.get()));
        },
        [](long) { return accepted(Next()); },
        [](long) { return accepted(Select(Args{}.get())); },
        [&counts](long call) {
            ++counts.records;
            return accepted(Add(Args{{"FirstName", "Soak"},
                                     {"LastName", "Run " + std::to_string(call)},
                                     {"Company", "<Tabs>\tand & \"quotes\""}}
                                    .get()));
        },
        [](long) {
            return accepted(Update(Args{{"Company", "Soak & Co"}}.get()));
        },
        [](long) { return listHas(GetRecord(Args{}.get()), "Company", "Soak & Co"); },
        [&counts](long) {
            --counts.records;
            return accepted(Delete(Args{}.get()));
        },
        [](long) { return accepted(First()); },
    };
    std::vector<Step> expectedFaults = {
        [](long) {
            return faults(GetRecord(Args{{"LastName", "Nobody"}}.get()) == nullptr, 6);
        },
        [](long) {
            return faults(Select(Args{{"Shoe", "42"}}.get()) == 0, 2);
        },
        [](long) {
            const CWBitmap bitmap = GetSignatureImage(Args{}.get());
            if (bitmap != 0)
                cw_bitmap_delete(bitmap);
            return faults(bitmap == 0, 11);
        },
        [](long) {
            return faults(Goto(Args{{"Position", "nowhere"}}.get()) == 0, 3);
        },
        [](long) {
            return faults(GetErrorMessage(Args{{"Code", "99999"}}.get()) == nullptr, 3);
        },
    };
    std::vector<Step> raws = {
        [&raw, fineMulticall](long) -> std::string {
            std::string answer, why;
            if (!raw.post(fineMulticall, answer, why))
                return "multicall: " + why;
            // Two answers, each an array of one value, and two fault structs.
            if (faultCode(answer) != 0 || count(answer, "<name>faultCode</name>") != 2 ||
                answer.find("<name>Total</name>") == std::string::npos)
                return "multicall answered: " + answer.substr(0, 400);
            return {};
        },
    };
    for (const std::string& refused : refusals)
        raws.push_back([&raw, refused](long) -> std::string {
            std::string answer, why;
            if (!raw.post(refused, answer, why))
                return "refused call: " + why;
            const int code = faultCode(answer);
            return code == 3 ? std::string() : "gate answered: " + answer.substr(0, 400);
        });
    // Refused by the HTTP server before the gate: another path, no length.
    const struct {
        const char* path;
        bool chunked;
        long status;
    } httpRefusals[] = {{"/other", false, 404}, {"/RPC2", true, 411}};
    for (const auto& refusal : httpRefusals)
        raws.push_back([&raw, refusal](long) -> std::string {
            std::string why;
            const long got =
                raw.status(refusal.path, methodCall("GetCount", ""), refusal.chunked, why);
            return got == refusal.status
                       ? std::string()
                       : std::string(refusal.path) + " answered " + std::to_string(got) + " " + why;
        });

    // One cycle of kCycle steps. Commands keep their order (the record added
    // is the one changed and deleted); the rest fill in between.
    std::vector<Step> cycle;
    auto wrap = [&counts](Step step, long Counts::*tally) -> Step {
        return [step = std::move(step), &counts, tally](long call) {
            if (tally)
                ++(counts.*tally);
            return step(call);
        };
    };
    cycle.push_back(wrap(
        [](long call) {
            return call % (2 * kCycle) == 0 ? picture(GetBadgeImage(Args{}.get()), 540)
                                            : picture(GetPhotoImage(Args{}.get()), 180);
        },
        &Counts::pictures));
    for (const Step& step : commands)
        cycle.push_back(wrap(step, nullptr));
    for (const Step& step : expectedFaults)
        cycle.push_back(wrap(step, &Counts::expectedFaults));
    cycle.push_back(wrap(raws.front(), &Counts::multicalls));
    cycle.push_back(wrap(raws.front(), &Counts::multicalls));
    for (std::size_t i = 1; i < raws.size(); ++i)
        cycle.push_back(wrap(raws[i], &Counts::refusals));
    for (std::size_t i = 0; cycle.size() < kCycle; ++i)
        cycle.push_back(wrap(lists[i % lists.size()], nullptr));
    // Spread the commands out between the getters, keeping their order.
    std::vector<Step> mixed;
    std::size_t next = 0;
    const std::size_t fixed = 1 + commands.size() + expectedFaults.size() + raws.size() + 1;
    std::size_t getter = fixed;
    for (std::size_t i = 0; i < fixed; ++i) {
        mixed.push_back(cycle[next++]);
        for (int k = 0; k < 3 && getter < cycle.size(); ++k)
            mixed.push_back(cycle[getter++]);
    }
    while (getter < cycle.size())
        mixed.push_back(cycle[getter++]);
    return mixed;
}

bool waitIdle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (IsBusy() == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int usage(const char* why) {
    std::cerr << "soak: " << why
              << "\nusage: soak --sim PATH --samples DIR [--calls N] [--checkpoint N] "
                 "[--rss-growth PERCENT]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string sim;
    fs::path samples;
    long calls = 100000;
    long checkpoint = -1;
    double growthPercent = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage(("'" + arg + "' needs a value").c_str());
        const std::string value = argv[++i];
        char* end = nullptr;
        if (arg == "--sim")
            sim = value;
        else if (arg == "--samples")
            samples = value;
        else if (arg == "--calls")
            calls = std::strtol(value.c_str(), &end, 10);
        else if (arg == "--checkpoint")
            checkpoint = std::strtol(value.c_str(), &end, 10);
        else if (arg == "--rss-growth")
            growthPercent = std::strtod(value.c_str(), &end);
        else
            return usage(("unknown option '" + arg + "'").c_str());
        if (end && *end)
            return usage(("'" + value + "' is not a number").c_str());
    }
    if (sim.empty() || samples.empty())
        return usage("--sim and --samples are needed");
    if (calls < kCycle || calls > 100000000)
        return usage("--calls must be from 100 to 100000000");
    if (checkpoint < 0)
        checkpoint = calls / 5;
    if (checkpoint <= 0 || checkpoint >= calls)
        return usage("--checkpoint must lie between 0 and --calls");

    Simulator simulator;
    std::string error;
    if (!simulator.start(sim, samples, error)) {
        std::cerr << "soak: " << error << '\n';
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    SetHostName("127.0.0.1");
    SetXMLPort(simulator.port());
    if (!waitIdle() || GetCount() == nullptr) {
        std::cerr << "soak: the simulator did not open the design: " << lastError() << '\n';
        CloseXML();
        curl_global_cleanup();
        return 2;
    }

    int status = 0;
    {
        Counts counts;
        RawClient raw(simulator.port());
        const std::vector<Step> cycle = makeCycle(raw, counts);
        long clientAtCheckpoint = 0, simAtCheckpoint = 0;
        const auto started = std::chrono::steady_clock::now();
        auto checkpointTime = started;
        for (long call = 0; call < calls; ++call) {
            const std::string outcome = cycle[static_cast<std::size_t>(call % kCycle)](call);
            ++counts.calls;
            if (!outcome.empty() && ++counts.unexpected <= kMaxReported)
                std::cerr << "soak: call " << call << " (step " << call % kCycle << "): " << outcome
                          << '\n';
            if (!outcome.empty() && !simulator.running()) {
                const std::string log = simulator.log();
                std::cerr << "soak: cardwright-sim ended at call " << call
                          << "; the end of its log:\n"
                          << log.substr(log.size() > 4096 ? log.size() - 4096 : 0) << '\n';
                break;
            }
            if (counts.unexpected >= kMaxUnexpected) {
                std::cerr << "soak: " << kMaxUnexpected << " unexpected outcomes; stopping\n";
                break;
            }
            if (counts.calls == checkpoint) {
                clientAtCheckpoint = residentKiB(getpid());
                simAtCheckpoint = residentKiB(simulator.pid());
                checkpointTime = std::chrono::steady_clock::now();
            }
        }
        const auto ended = std::chrono::steady_clock::now();
        const long clientAtEnd = residentKiB(getpid());
        const long simAtEnd = residentKiB(simulator.pid());
        const double seconds = std::chrono::duration<double>(ended - started).count();
        const double lateSeconds = std::chrono::duration<double>(ended - checkpointTime).count();

        auto growth = [](long before, long after) {
            return before > 0
                       ? 100.0 * static_cast<double>(after - before) / static_cast<double>(before)
                       : 0.0;
        };
        std::printf("calls %ld in %.1f s (%.0f per second", counts.calls, seconds,
                    static_cast<double>(counts.calls) / seconds);
        if (counts.calls > checkpoint)
            std::printf("; after the checkpoint %.0f per second",
                        static_cast<double>(counts.calls - checkpoint) / lateSeconds);
        std::printf(
            ")\n  of which pictures %ld, multicalls %ld, gate refusals %ld, expected faults "
            "%ld\nunexpected outcomes %ld\n",
            counts.pictures, counts.multicalls, counts.refusals, counts.expectedFaults,
            counts.unexpected);
        const bool reachedCheckpoint = counts.calls >= checkpoint;
        if (!reachedCheckpoint) {
            std::printf("stopped before the checkpoint (%ld calls): no memory figures\n",
                        checkpoint);
        } else {
            std::printf(
                "VmRSS client        after %ld calls %ld KiB, after %ld calls %ld KiB (%+.1f%%)\n",
                checkpoint, clientAtCheckpoint, counts.calls, clientAtEnd,
                growth(clientAtCheckpoint, clientAtEnd));
            std::printf(
                "VmRSS cardwright-sim after %ld calls %ld KiB, after %ld calls %ld KiB (%+.1f%%)\n",
                checkpoint, simAtCheckpoint, counts.calls, simAtEnd,
                growth(simAtCheckpoint, simAtEnd));
        }
        if (counts.unexpected > 0)
            status = 1;
        if (reachedCheckpoint && growthPercent > 0 &&
            (growth(clientAtCheckpoint, clientAtEnd) > growthPercent ||
             growth(simAtCheckpoint, simAtEnd) > growthPercent)) {
            std::printf("resident memory grew by more than %.1f%%\n", growthPercent);
            status = 1;
        }
    }
    CloseXML();
    curl_global_cleanup();
    simulator.stop();
    return status;
}
