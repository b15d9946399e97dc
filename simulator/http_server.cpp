#include "http_server.h"

#include "methods.h"
#include "request_gate.h"
#include "text.h"

#include <microhttpd.h>
#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/xml.hpp>

#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <stdexcept>
#include <thread>
#include <unordered_set>

namespace cwsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kKeyHeader = "X-Cardwright-Access-Key";
constexpr const char* kXml = "text/xml; charset=utf-8";
// Each connection's buffer for its request head and the body being read (the
// body is handed on in pieces). The daemon clears it for every request, so
// its default of 32 KiB (48 KiB cleared per call) cost more than the head of
// any XML-RPC client needs; larger heads are refused with 431.
constexpr std::size_t kConnectionMemory = http::kSmallCall;

// jemalloc's control entry when the program runs on it (cardwright-sim does;
// sanitizer builds and test programs run on glibc's malloc).
extern "C" int mallctl(const char*, void*, size_t*, void*, size_t) __attribute__((weak));

void releaseFreeMemory() {
    if (mallctl) // "arena.<MALLCTL_ARENAS_ALL>.purge": every arena's unused pages
        mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0);
    else
        malloc_trim(0);
}

long long ticksNow() {
    return Clock::now().time_since_epoch().count();
}

long long ticksIn(int seconds) {
    return ticksNow() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds)).count();
}

// One TCP connection. `deadline` (steady-clock ticks, 0: none) is when the
// request being received must be complete; the watchdog closes it if not.
struct Connection {
    int fd = -1;
    std::atomic<long long> deadline{0};
};

// One HTTP request. Refused requests still read (and drop) their body, so
// that the answer is not lost to a reset and the connection stays in step.
struct Request {
    int status = 0;       // decided before or while the body arrives: answer this
    std::string refusal;  // decided before the body: an XML-RPC fault 14
    bool keep = false;    // the body goes to the gate and the registry
    std::size_t held = 0; // of the body, counted in the bytes held
    std::size_t length = 0;
    std::string body;
};

Connection* connectionOf(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Connection*>(info->socket_context) : nullptr;
}

// An answer's text, counted in the bytes held until the daemon lets it go
// (sent, or its connection closed).
struct HeldAnswer {
    std::string text;
    std::atomic<std::size_t>* held;
};

void releaseAnswer(void* answer) {
    auto* owned = static_cast<HeldAnswer*>(answer);
    owned->held->fetch_sub(owned->text.size());
    delete owned;
}

MHD_Result answer(std::atomic<std::size_t>& held, MHD_Connection* c, unsigned status,
                  const char* contentType, std::string body, const char* extraName = nullptr,
                  const char* extraValue = nullptr) {
    auto* owned = new HeldAnswer{std::move(body), &held};
    held.fetch_add(owned->text.size());
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        owned->text.size(), owned->text.data(), &releaseAnswer, owned);
    if (!response) {
        releaseAnswer(owned);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    if (extraName)
        MHD_add_response_header(response, extraName, extraValue);
    MHD_Result queued = MHD_queue_response(c, status, response);
    MHD_destroy_response(response);
    return queued;
}

std::string faultAnswer(int faultCode, const std::string& text) {
    std::string body;
    xmlrpc_c::xml::generateResponse(xmlrpc_c::rpcOutcome(xmlrpc_c::fault(
                                        text, static_cast<xmlrpc_c::fault::code_t>(faultCode))),
                                    &body);
    return body;
}

// Our own short texts for every refusal: nothing of the request echoed.
const char* statusText(int status) {
    switch (status) {
    case MHD_HTTP_NOT_FOUND:
        return "Not found: XML-RPC is served at /RPC2\n";
    case MHD_HTTP_METHOD_NOT_ALLOWED:
        return "XML-RPC calls are POSTed to /RPC2\n";
    case MHD_HTTP_LENGTH_REQUIRED:
        return "Content-Length is required\n";
    case MHD_HTTP_BAD_REQUEST:
        return "Content-Length is not a number\n";
    case MHD_HTTP_CONTENT_TOO_LARGE:
        return "The request body is larger than 16 MiB\n";
    case MHD_HTTP_SERVICE_UNAVAILABLE:
        return "Too many large requests or answers at once; try again shortly\n";
    default:
        return "Cannot process the call\n";
    }
}

constexpr const char* kAmbiguousLength = "Give one Content-Length and no Transfer-Encoding\n";

unsigned headerCount(MHD_Connection* c, const char* name) {
    struct Count {
        const char* name;
        unsigned n;
    } count{name, 0};
    MHD_get_connection_values(
        c, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char*) -> MHD_Result {
            auto* counted = static_cast<Count*>(cls);
            if (strcasecmp(key, counted->name) == 0)
                ++counted->n;
            return MHD_YES;
        },
        &count);
    return count.n;
}

// One log line for a call that no method logged: the method named in the
// call (or "(request)" when there is none) and the fault, if any.
void logUnlogged(Engine& engine, const std::string& method, const std::string& response,
                 double milliseconds) {
    std::string outcome = "ok";
    try {
        xmlrpc_c::rpcOutcome result;
        xmlrpc_c::xml::parseResponse(response, &result);
        if (!result.succeeded())
            outcome = "fault " + std::to_string(result.getFault().getCode()) + ": " +
                      result.getFault().getDescription();
    } catch (const std::exception& e) {
        outcome = std::string("unreadable answer: ") + e.what();
    }
    logCall(engine, method.empty() ? "(request)" : method, milliseconds, outcome);
}

} // namespace

bool sameKey(const std::string& given, const std::string& expected) {
    unsigned diff = given.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        diff |= static_cast<unsigned>(g ^ static_cast<unsigned char>(expected[i]));
    }
    return diff == 0;
}

struct HttpServer::Impl {
    std::string key;
    Engine* engine = nullptr;
    xmlrpc_c::registryPtr registry;
    MHD_Daemon* daemon = nullptr;
    // Bytes of bodies received and of answers not yet sent (http::kMaxBytesHeld).
    std::atomic<std::size_t> held{0};
    std::binary_semaphore largeCalls{1};
    static constexpr std::size_t kLargeCall = 1u << 20;

    // Every open connection, for the watchdog. The set changes only when a
    // connection opens or closes; a request touches only its own deadline.
    std::mutex mutex;
    std::unordered_set<Connection*> connections;
    std::condition_variable wake;
    bool stopping = false;
    std::thread watchdog;

    // libmicrohttpd's time-outs count idle time, so a client trickling a
    // byte now and then would never time out: close what is overdue.
    void watch() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            wake.wait_for(lock, std::chrono::milliseconds(200));
            long long now = ticksNow();
            for (Connection* conn : connections) {
                long long due = conn->deadline.load(std::memory_order_relaxed);
                if (due != 0 && now > due) {
                    conn->deadline.store(0, std::memory_order_relaxed);
                    // The daemon sees the end of the stream and closes it; the
                    // descriptor stays ours until the close notification, which
                    // waits for this lock.
                    ::shutdown(conn->fd, SHUT_RDWR);
                }
            }
        }
    }

    static void onConnection(void* cls, MHD_Connection* c, void** context,
                             MHD_ConnectionNotificationCode what) {
        auto* self = static_cast<Impl*>(cls);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* conn = new Connection;
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            conn->fd = info ? info->connect_fd : -1;
            // The first request is timed from the connect, which is no later
            // than its first byte.
            conn->deadline.store(ticksIn(http::kRequestSeconds));
            std::lock_guard lock(self->mutex);
            self->connections.insert(conn);
            *context = conn;
        } else if (what == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto* conn = static_cast<Connection*>(*context);
            if (!conn)
                return;
            {
                std::lock_guard lock(self->mutex);
                self->connections.erase(conn);
            }
            delete conn;
            *context = nullptr;
        }
    }

    // Called once the request line of a request has arrived.
    static void* onRequestLine(void*, const char*, MHD_Connection* c) {
        if (Connection* conn = connectionOf(c)) {
            long long limit = ticksIn(http::kRequestSeconds);
            long long due = conn->deadline.load(std::memory_order_relaxed);
            if (due == 0 || due > limit)
                conn->deadline.store(limit, std::memory_order_relaxed);
        }
        return nullptr;
    }

    static void onCompleted(void* cls, MHD_Connection* c, void** context,
                            MHD_RequestTerminationCode) {
        auto* self = static_cast<Impl*>(cls);
        if (auto* request = static_cast<Request*>(*context)) {
            self->held.fetch_sub(request->held);
            delete request;
            *context = nullptr;
        }
        // A kept-alive connection idles at most kIdleSeconds (the daemon's
        // own time-out); its next request then has kRequestSeconds.
        if (Connection* conn = connectionOf(c))
            conn->deadline.store(ticksIn(http::kIdleSeconds + http::kRequestSeconds),
                                 std::memory_order_relaxed);
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                const char*, const char* data, size_t* size, void** context) {
        // Nothing thrown may cross the daemon's C frames: a call that cannot
        // be carried on (memory ran out) closes its connection instead.
        try {
            return static_cast<Impl*>(cls)->handle(c, url, method, data, size, context);
        } catch (...) {
            return MHD_NO;
        }
    }

    MHD_Result handle(MHD_Connection* c, const char* url, const char* method, const char* data,
                      size_t* size, void** context) {
        auto* request = static_cast<Request*>(*context);
        if (!request) {
            request = new Request;
            *context = request;
            return begin(c, url, method, *request);
        }
        if (*size > 0) {
            if (request->keep)
                receive(*request, data, *size);
            *size = 0;
            return MHD_YES;
        }
        Connection* conn = connectionOf(c);
        if (conn)
            conn->deadline.store(0, std::memory_order_relaxed);
        // What is answered must be taken within kAnswerSeconds.
        auto reply = [&](unsigned status, const char* type, std::string body,
                         const char* extraName = nullptr, const char* extraValue = nullptr) {
            if (conn)
                conn->deadline.store(ticksIn(http::kAnswerSeconds), std::memory_order_relaxed);
            return answer(held, c, status, type, std::move(body), extraName, extraValue);
        };
        if (request->status == MHD_HTTP_METHOD_NOT_ALLOWED)
            return reply(MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain",
                         statusText(MHD_HTTP_METHOD_NOT_ALLOWED), MHD_HTTP_HEADER_ALLOW,
                         MHD_HTTP_METHOD_POST);
        if (request->status == MHD_HTTP_SERVICE_UNAVAILABLE)
            return reply(MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain",
                         statusText(MHD_HTTP_SERVICE_UNAVAILABLE), MHD_HTTP_HEADER_RETRY_AFTER,
                         "1");
        if (request->status != 0)
            return reply(static_cast<unsigned>(request->status), "text/plain",
                         statusText(request->status));
        if (!request->refusal.empty()) {
            logCall(*engine, "(request)", 0.0,
                    "fault " + std::to_string(code::AccessKey) + ": " + request->refusal);
            return reply(MHD_HTTP_OK, kXml, faultAnswer(code::AccessKey, request->refusal));
        }
        std::string response = call(request->body);
        // The body is gone: another may come in (the request's own end is
        // noticed a little after the client has the answer).
        std::string().swap(request->body);
        held.fetch_sub(request->held);
        request->held = 0;
        if (response.size() > http::kSmallCall &&
            held.load() + response.size() > http::kMaxBytesHeld) {
            logCall(*engine, "(answer)", 0.0,
                    "refused with 503: an answer of " + std::to_string(response.size()) +
                        " bytes beside " + std::to_string(held.load()) + " held");
            return reply(MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain",
                         statusText(MHD_HTTP_SERVICE_UNAVAILABLE), MHD_HTTP_HEADER_RETRY_AFTER,
                         "1");
        }
        return reply(MHD_HTTP_OK, kXml, std::move(response));
    }

    // A piece of a body kept for the registry, counted as it arrives. A large
    // body that would take the bytes held past the budget is dropped and
    // answered 503 once it has all arrived. (Threads checking at once may
    // each go a piece, at most kConnectionMemory, beyond.)
    void receive(Request& request, const char* data, std::size_t size) {
        if (request.length > http::kSmallCall && held.load() + size > http::kMaxBytesHeld) {
            held.fetch_sub(request.held);
            request.held = 0;
            std::string().swap(request.body);
            request.keep = false;
            request.status = MHD_HTTP_SERVICE_UNAVAILABLE;
            return;
        }
        // Grown as it arrives, never past its length: an announced length
        // costs nothing until its bytes come.
        std::string& body = request.body;
        if (body.size() + size > body.capacity())
            body.reserve(
                std::min(request.length, std::max(2 * body.capacity(), body.size() + size)));
        body.append(data, size);
        held.fetch_add(size);
        request.held += size;
    }

    // The head has arrived: decide what the request gets before its body.
    MHD_Result begin(MHD_Connection* c, const char* url, const char* method, Request& request) {
        const char* lengthText =
            MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        std::size_t length = 0;
        if (lengthText) {
            const char* end = lengthText + std::strlen(lengthText);
            auto [ptr, ec] = std::from_chars(lengthText, end, length);
            if (ec != std::errc() || ptr != end || ptr == lengthText)
                return answer(held, c, MHD_HTTP_BAD_REQUEST, "text/plain",
                              statusText(MHD_HTTP_BAD_REQUEST));
        }
        // Two lengths, or a length beside chunked coding, are how requests
        // are smuggled past proxies: refuse both outright.
        const char* coding =
            MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
        if (lengthText && (coding || headerCount(c, MHD_HTTP_HEADER_CONTENT_LENGTH) > 1))
            return answer(held, c, MHD_HTTP_BAD_REQUEST, "text/plain", kAmbiguousLength);
        request.length = length;
        // Refusals that need no body are answered before it is read (the
        // daemon then closes the connection); the others read and drop it.
        if (length > http::kMaxBody)
            return answer(held, c, MHD_HTTP_CONTENT_TOO_LARGE, "text/plain",
                          statusText(MHD_HTTP_CONTENT_TOO_LARGE));
        if (std::strcmp(url, "/RPC2") != 0) {
            request.status = MHD_HTTP_NOT_FOUND;
            return MHD_YES;
        }
        if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0) {
            if (lengthText || coding)
                request.status = MHD_HTTP_METHOD_NOT_ALLOWED;
            else
                return answer(held, c, MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain",
                              statusText(MHD_HTTP_METHOD_NOT_ALLOWED), MHD_HTTP_HEADER_ALLOW,
                              MHD_HTTP_METHOD_POST);
            return MHD_YES;
        }
        if (!lengthText)
            return answer(held, c, MHD_HTTP_LENGTH_REQUIRED, "text/plain",
                          statusText(MHD_HTTP_LENGTH_REQUIRED));
        if (!key.empty()) {
            const char* given = MHD_lookup_connection_value(c, MHD_HEADER_KIND, kKeyHeader);
            if (!given || !sameKey(given, key)) {
                request.refusal =
                    given ? "Access key wrong: the X-Cardwright-Access-Key header does not match"
                          : "Access key missing: this server requires the X-Cardwright-Access-Key "
                            "header";
                return MHD_YES;
            }
        }
        // A large body that cannot fit beside what is held now is refused
        // before it is sent; nothing is set aside for one that is taken.
        if (length > http::kSmallCall && held.load() + length > http::kMaxBytesHeld)
            return answer(held, c, MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain",
                          statusText(MHD_HTTP_SERVICE_UNAVAILABLE), MHD_HTTP_HEADER_RETRY_AFTER,
                          "1");
        request.keep = true;
        request.body.reserve(std::min(length, http::kSmallCall));
        return MHD_YES;
    }

    // The gate, then the registry; the answer as XML.
    std::string call(std::string& body) {
        auto logged = callsLoggedOnThisThread();
        auto start = Clock::now();
        auto elapsed = [&] {
            return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        };
        // Parsing costs up to ten times a call's size: calls of more than a
        // MiB go one at a time, which bounds what several of them take.
        struct Turn {
            std::binary_semaphore* taken = nullptr;
            ~Turn() {
                if (taken) {
                    releaseFreeMemory(); // give back what the parse took
                    taken->release();
                }
            }
        } turn;
        if (body.size() > kLargeCall) {
            largeCalls.acquire();
            turn.taken = &largeCalls;
        }
        GateVerdict verdict = checkCall(body);
        if (!verdict.passed) {
            logCall(*engine, verdict.method.empty() ? "(request)" : verdict.method, elapsed(),
                    "fault " + std::to_string(code::BadArgument) + ": " + verdict.refusal);
            return faultAnswer(code::BadArgument, verdict.refusal);
        }
        std::string response;
        try {
            if (verdict.method != "GetRecord" || !answerRecordCall(*registry.get(), body, response))
                registry->processCall(body, &response);
        } catch (const std::exception& e) {
            response =
                faultAnswer(code::Internal, std::string("Cannot process the call: ") + e.what());
        }
        // Nothing ran and the answer is a fault: the registry refused the
        // call itself. One that is not XML-RPC at all is told so plainly.
        if (callsLoggedOnThisThread() == logged &&
            std::string_view(response).substr(0, 128).find("<fault>") != std::string_view::npos) {
            if (auto why = malformedCall(body); !why.empty()) {
                logCall(*engine, "(request)", elapsed(),
                        "fault " + std::to_string(code::BadArgument) + ": " + why);
                return faultAnswer(code::BadArgument, why);
            }
        }
        std::string().swap(body);
        if (response.size() > http::kMaxAnswer) {
            std::string why = "The answer would be " + std::to_string(response.size() >> 20) +
                              " MiB, more than the 64 MiB a client takes; ask for less per call";
            std::string().swap(response);
            logCall(*engine, verdict.method, elapsed(),
                    "fault " + std::to_string(code::BadArgument) + ": " + why);
            return faultAnswer(code::BadArgument, why);
        }
        if (callsLoggedOnThisThread() == logged)
            logUnlogged(*engine, verdict.method, response, elapsed());
        return response;
    }
};

HttpServer::HttpServer(const Options& options, xmlrpc_c::registryPtr registry, Engine& engine)
    : impl_(std::make_unique<Impl>()) {
    impl_->key = options.accessKey;
    impl_->engine = &engine;
    impl_->registry = registry;
    port_ = options.port;
    bind_ = options.bind;
}

HttpServer::~HttpServer() {
    terminate();
}

void HttpServer::listen() {
    // xmlrpc-c's own cap on a call (512 KiB) would otherwise undercut ours.
    xmlrpc_limit_set(XMLRPC_XML_SIZE_LIMIT_ID, http::kMaxBody);
    // Many idle connections are allowed; each holds a descriptor.
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
        setrlimit(RLIMIT_NOFILE, &files);
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string portText = std::to_string(port_);
    if (int rc = getaddrinfo(bind_.c_str(), portText.c_str(), &hints, &found); rc != 0)
        throw std::runtime_error("Cannot listen on " + bind_ + ":" + portText + ": " +
                                 gai_strerror(rc));
    int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    found->ai_protocol);
    int one = 1;
    bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
              ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 1024) == 0;
    int err = errno;
    freeaddrinfo(found);
    if (!ok) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("Cannot listen on " + bind_ + ":" + portText + ": " +
                                 std::strerror(err));
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        char host[NI_MAXHOST], serv[NI_MAXSERV];
        if (getnameinfo(reinterpret_cast<sockaddr*>(&addr), len, host, sizeof host, serv,
                        sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) == 0)
            port_ = std::atoi(serv);
    }

    // Calls run on the daemon's threads, each serving its share of the
    // connections; a call that waits (badge rendering, a query behind an Open)
    // holds up only its thread's share. Idle threads cost nothing, and more of
    // them measured no slower.
    unsigned threads = std::max(16u, 4 * std::thread::hardware_concurrency());
    Impl* impl = impl_.get();
    impl->daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_USE_SUPPRESS_DATE_NO_CLOCK, 0, nullptr,
        nullptr, &Impl::onRequest, impl, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_THREAD_POOL_SIZE,
        threads, MHD_OPTION_CONNECTION_LIMIT, http::kMaxConnections, MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(http::kIdleSeconds), MHD_OPTION_THREAD_STACK_SIZE,
        static_cast<size_t>(8u << 20), MHD_OPTION_NOTIFY_CONNECTION, &Impl::onConnection, impl,
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, impl, MHD_OPTION_URI_LOG_CALLBACK,
        &Impl::onRequestLine, impl, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
        MHD_OPTION_END);
    if (!impl->daemon) {
        close(fd);
        throw std::runtime_error("Cannot start the HTTP server on " + bind_ + ":" + portText);
    }
    impl->watchdog = std::thread([impl] { impl->watch(); });
}

void HttpServer::terminate() {
    if (!impl_->daemon)
        return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    if (impl_->watchdog.joinable())
        impl_->watchdog.join();
    MHD_stop_daemon(impl_->daemon);
    impl_->daemon = nullptr;
}

} // namespace cwsim
