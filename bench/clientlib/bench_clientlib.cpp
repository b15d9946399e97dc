// The client library's own cost per call, measured beside a raw libcurl POST
// of the same request bytes to the same in-process xmlrpc-c Abyss server, and
// the decode cost of large answers (10,000 method names, a 2 MB PNG, a
// million comments).
//
//   bench_clientlib                 run the benchmarks
//   bench_clientlib --serve         only serve (prints the port; stops at EOF
//                                   on stdin) for bench/clientlib/python_client.py
//   bench_clientlib --work-loop N   the library's work for one GetRecord, N
//                                   times (to count instructions with callgrind)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <png.h>
#include <sys/socket.h>
#include <unistd.h>

#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/registry.hpp>
#include <xmlrpc-c/server_abyss.hpp>

#include "cwxmlclient.h"
#include "picture.h"
#include "request.h"
#include "response.h"

namespace {

// ---- the server -------------------------------------------------------------

// The 20 fields of one roster record, as cardwright-sim would answer them.
std::map<std::string, xmlrpc_c::value> record_fields() {
    const char* names[20] = {"RecordId", "FirstName", "LastName",  "Company",   "Department",
                             "Title",    "Email",     "Phone",     "Street",    "City",
                             "Zip",      "Country",   "BadgeType", "ValidFrom", "ValidTo",
                             "Photo",    "Signature", "Notes",     "Printed",   "Template"};
    const char* values[20] = {"10042",
                              "Ann",
                              "Lee",
                              "Acme Corp",
                              "Engineering",
                              "Senior Engineer",
                              "ann.lee@example.com",
                              "+47 22 33 44 55",
                              "Storgata 1",
                              "Oslo",
                              "0150",
                              "Norway",
                              "Employee",
                              "2024-01-01",
                              "2026-12-31",
                              "photos/10042.png",
                              "signatures/10042.png",
                              "Access to lab & workshop <B2>",
                              "3",
                              "Default front"};
    std::map<std::string, xmlrpc_c::value> fields;
    for (int i = 0; i < 20; ++i)
        fields[names[i]] = xmlrpc_c::value_string(values[i]);
    return fields;
}

class GetRecordMethod : public xmlrpc_c::method {
  public:
    GetRecordMethod() : fields_(record_fields()) { _signature = "S:S"; }
    void execute(const xmlrpc_c::paramList& params, xmlrpc_c::value* result) override {
        params.getStruct(0);
        *result = xmlrpc_c::value_struct(fields_);
    }

  private:
    std::map<std::string, xmlrpc_c::value> fields_;
};

class PictureMethod : public xmlrpc_c::method {
  public:
    explicit PictureMethod(std::vector<unsigned char> png) : png_(std::move(png)) {
        _signature = "6:S";
    }
    void execute(const xmlrpc_c::paramList&, xmlrpc_c::value* result) override {
        *result = xmlrpc_c::value_bytestring(png_);
    }

  private:
    std::vector<unsigned char> png_;
};

class NopMethod : public xmlrpc_c::method {
  public:
    void execute(const xmlrpc_c::paramList&, xmlrpc_c::value* result) override {
        *result = xmlrpc_c::value_boolean(true);
    }
};

// A PNG of random RGBA pixels (noise does not compress: about 2 MB).
std::vector<unsigned char> noise_png(int side) {
    std::vector<uint32_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    std::mt19937 random(42);
    for (uint32_t& p : pixels)
        p = static_cast<uint32_t>(random());
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(side);
    image.height = static_cast<png_uint_32>(side);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
    std::vector<unsigned char> png(size);
    png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr);
    png.resize(size);
    return png;
}

// An Abyss server on 127.0.0.1 with a free port, running on its own thread
// until the process ends.
class AbyssServer {
  public:
    explicit AbyssServer(xmlrpc_c::registry& registry) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::perror("bind");
            std::exit(1);
        }
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        server_ = std::make_unique<xmlrpc_c::serverAbyss>(xmlrpc_c::serverAbyss::constrOpt()
                                                              .registryP(&registry)
                                                              .socketFd(fd)
                                                              .keepaliveTimeout(60)
                                                              .keepaliveMaxConn(1000000)
                                                              .maxConn(8)
                                                              .logFileName("/dev/null"));
        std::thread([this] { server_->run(); }).detach();
    }
    int port() const { return port_; }

  private:
    std::unique_ptr<xmlrpc_c::serverAbyss> server_;
    int port_ = 0;
};

struct Servers {
    xmlrpc_c::registry main_registry;
    xmlrpc_c::registry big_registry;
    std::unique_ptr<AbyssServer> main_server;
    std::unique_ptr<AbyssServer> big_server;
    std::size_t png_size = 0;

    Servers() {
        main_registry.addMethod("GetRecord", xmlrpc_c::methodPtr(new GetRecordMethod));
        std::vector<unsigned char> png = noise_png(724);
        png_size = png.size();
        main_registry.addMethod("GetBadgeImage", xmlrpc_c::methodPtr(new PictureMethod(png)));
        // system.listMethods of 10,000 names, on a registry of its own so that
        // the other methods are not looked up among them.
        char name[32];
        for (int i = 0; i < 10000; ++i) { // and xmlrpc-c's system.* methods
            std::snprintf(name, sizeof name, "Method%05d", i);
            big_registry.addMethod(name, xmlrpc_c::methodPtr(new NopMethod));
        }
        main_server = std::make_unique<AbyssServer>(main_registry);
        big_server = std::make_unique<AbyssServer>(big_registry);
    }
};

Servers& servers() {
    static Servers s;
    return s;
}

int main_port() {
    if (const char* port = std::getenv("CW_BENCH_PORT"))
        return std::atoi(port);
    return servers().main_server->port();
}

// ---- the calls ----------------------------------------------------------------

class RecordArgs {
  public:
    RecordArgs() : list_{2, names_, values_} {}
    const NameValueList* get() const { return &list_; }

  private:
    char n0_[16] = "Field", v0_[16] = "RecordId", n1_[16] = "Value", v1_[16] = "10042";
    char* names_[2] = {n0_, n1_};
    char* values_[2] = {v0_, v1_};
    NameValueList list_;
};

void use_port(int port) {
    CloseXML();
    SetHostName("127.0.0.1");
    SetXMLPort(port);
}

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// A persistent libcurl handle POSTing fixed bytes: the transport floor.
class RawPost {
  public:
    RawPost(int port, std::string body) : body_(std::move(body)) {
        curl_ = curl_easy_init();
        url_ = "http://127.0.0.1:" + std::to_string(port) + "/RPC2";
        headers_ = curl_slist_append(headers_, "Content-Type: text/xml");
        headers_ = curl_slist_append(headers_, "Expect:");
        curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body_.data());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body_.size()));
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &on_body);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &response_);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_TCP_NODELAY, 1L);
    }
    ~RawPost() {
        curl_easy_cleanup(curl_);
        curl_slist_free_all(headers_);
    }
    const std::string& post() {
        response_.clear();
        if (curl_easy_perform(curl_) != CURLE_OK)
            std::abort();
        return response_;
    }

  private:
    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_;
    std::string body_;
    std::string response_;
};

void GetRecord_Library(benchmark::State& state) {
    use_port(main_port());
    RecordArgs args;
    for (auto _ : state) {
        const NameValueList* list = GetRecord(args.get());
        if (!list || list->count != 20) {
            state.SkipWithError(GetErrorText());
            break;
        }
        benchmark::DoNotOptimize(list->values[19][0]);
    }
    CloseXML();
}

void GetRecord_RawCurl(benchmark::State& state) {
    use_port(main_port());
    RecordArgs args;
    GetRecord(args.get()); // for the exact request bytes
    RawPost raw(main_port(), GetSentXML());
    CloseXML();
    for (auto _ : state)
        benchmark::DoNotOptimize(raw.post().size());
}

// The library's work alone, without the network: encode the request, parse
// the recorded answer in place and flatten it.
class RecordWork {
  public:
    RecordWork() {
        use_port(main_port());
        GetRecord(args_.get());
        answer_ = GetReceivedXML();
        CloseXML();
    }
    std::size_t run() {
        cwx::build_call(request_, "GetRecord", cwx::CallParams{args_.get(), true}, error_);
        body_.assign(answer_);
        reader_.parse(body_);
        entries_.clear();
        reader_.flatten(reader_.value(), entries_);
        return entries_.values.size();
    }
    std::size_t answer_size() const { return answer_.size(); }

  private:
    RecordArgs args_;
    std::string answer_, request_, body_, error_;
    cwx::ResponseReader reader_;
    cwx::Entries entries_;
};

void GetRecord_LibraryWorkOnly(benchmark::State& state) {
    RecordWork work;
    for (auto _ : state)
        benchmark::DoNotOptimize(work.run());
    state.counters["answer_bytes"] = static_cast<double>(work.answer_size());
}

void GetMethods10k_Library(benchmark::State& state) {
    use_port(servers().big_server->port());
    for (auto _ : state) {
        const NameValueList* list = GetMethods();
        if (!list || list->count < 10000) {
            state.SkipWithError(list ? "fewer than 10,000 names" : GetErrorText());
            break;
        }
        benchmark::DoNotOptimize(list->values[9999][0]);
        state.counters["names"] = list->count;
    }
    CloseXML();
}

void GetMethods10k_RawCurl(benchmark::State& state) {
    use_port(servers().big_server->port());
    GetMethods();
    RawPost raw(servers().big_server->port(), GetSentXML());
    CloseXML();
    for (auto _ : state)
        benchmark::DoNotOptimize(raw.post().size());
}

void GetMethods10k_DecodeOnly(benchmark::State& state) {
    use_port(servers().big_server->port());
    GetMethods();
    const std::string answer = GetReceivedXML();
    CloseXML();
    std::string body;
    cwx::ResponseReader reader;
    cwx::Entries entries;
    for (auto _ : state) {
        body.assign(answer);
        reader.parse(body);
        entries.clear();
        reader.flatten(reader.value(), entries);
        benchmark::DoNotOptimize(entries.values.data());
    }
    state.counters["answer_bytes"] = static_cast<double>(answer.size());
}

void Picture2MB_Library(benchmark::State& state) {
    use_port(main_port());
    for (auto _ : state) {
        const CWBitmap bitmap = GetBadgeImage(nullptr);
        if (!bitmap) {
            state.SkipWithError(GetErrorText());
            break;
        }
        cw_bitmap_delete(bitmap);
    }
    state.counters["png_bytes"] = static_cast<double>(servers().png_size);
    CloseXML();
}

void Picture2MB_RawCurl(benchmark::State& state) {
    use_port(main_port());
    cw_bitmap_delete(GetBadgeImage(nullptr));
    RawPost raw(main_port(), GetSentXML());
    CloseXML();
    for (auto _ : state)
        benchmark::DoNotOptimize(raw.post().size());
}

void Picture2MB_DecodeOnly(benchmark::State& state) {
    use_port(main_port());
    cw_bitmap_delete(GetBadgeImage(nullptr));
    const std::string answer = GetReceivedXML();
    CloseXML();
    std::string body;
    cwx::ResponseReader reader;
    std::vector<unsigned char> png;
    std::string why;
    for (auto _ : state) {
        body.assign(answer);
        reader.parse(body);
        pugi::xml_node typed;
        cwx::ResponseReader::type_of(reader.value(), typed);
        cwx::decode_base64(reader.node_text(typed), png, why);
        cw_bitmap_delete(cwx::decode_png(png, why));
    }
    state.counters["png_bytes"] = static_cast<double>(png.size());
}

// Literal "&#0;" in N comments: the checks before parsing stay linear in the
// body (20,000 of them took 2.4 s when each rescanned the body from its start).
void LiteralNulReferences_DecodeOnly(benchmark::State& state) {
    std::string value = "<string>";
    for (std::int64_t i = 0; i < state.range(0); ++i)
        value += "<!--&#0;-->";
    value += "x</string>";
    const std::string answer = "<?xml version=\"1.0\"?><methodResponse><params><param><value>" +
                               value + "</value></param></params></methodResponse>";
    std::string body;
    cwx::ResponseReader reader;
    for (auto _ : state) {
        body.assign(answer);
        if (reader.parse(body) != cwx::ResponseReader::Outcome::Value) {
            state.SkipWithError(reader.problem().c_str());
            break;
        }
        benchmark::DoNotOptimize(reader.scalar_text(reader.value()));
    }
    state.counters["answer_bytes"] = static_cast<double>(answer.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer.size()));
}

BENCHMARK(GetRecord_Library)->Unit(benchmark::kMicrosecond);
BENCHMARK(GetRecord_RawCurl)->Unit(benchmark::kMicrosecond);
BENCHMARK(GetRecord_LibraryWorkOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(GetMethods10k_Library)->Unit(benchmark::kMillisecond);
BENCHMARK(GetMethods10k_RawCurl)->Unit(benchmark::kMillisecond);
BENCHMARK(GetMethods10k_DecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(Picture2MB_Library)->Unit(benchmark::kMillisecond);
BENCHMARK(Picture2MB_RawCurl)->Unit(benchmark::kMillisecond);
BENCHMARK(Picture2MB_DecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(LiteralNulReferences_DecodeOnly)->Arg(20000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--serve") == 0) {
        std::cout << servers().main_server->port() << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        std::_Exit(0); // the Abyss threads would chatter on their way down
    }
    if (argc > 2 && std::strcmp(argv[1], "--work-loop") == 0) {
        RecordWork work;
        std::size_t entries = 0;
        for (long i = std::atol(argv[2]); i > 0; --i)
            entries += work.run();
        std::printf("%zu entries\n", entries);
        std::fflush(stdout);
        std::_Exit(0);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}
