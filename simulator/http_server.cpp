#include "http_server.h"

#include "methods.h"
#include "text.h"

#include <xmlrpc-c/abyss.h>
#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/server_abyss.hpp>
#include <xmlrpc-c/xml.hpp>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace cwsim {

namespace {

constexpr const char* kKeyHeader = "x-cardwright-access-key";
constexpr std::size_t kMaxDrain = 16u << 20;

// Reads and drops the request body so that a persistent connection stays in
// step for the next request.
void drainBody(TSession* session) {
    const char* lengthText = RequestHeaderValue(session, "content-length");
    if (!lengthText)
        return;
    std::size_t remaining = std::strtoull(lengthText, nullptr, 10);
    if (remaining > kMaxDrain)
        return;
    for (int rounds = 0; remaining > 0 && rounds < 100000; ++rounds) {
        if (SessionReadDataAvail(session) == 0 && !SessionRefillBuffer(session))
            return;
        const char* data = nullptr;
        std::size_t got = 0;
        SessionGetReadData(session, remaining, &data, &got);
        remaining -= std::min(got, remaining);
    }
}

void respond(TSession* session, int status, const std::string& contentType,
             const std::string& body) {
    ResponseStatus(session, static_cast<xmlrpc_uint16_t>(status));
    ResponseContentType(session, contentType.c_str());
    ResponseContentLength(session, body.size());
    ResponseWriteStart(session);
    ResponseWriteBody(session, body.data(), static_cast<xmlrpc_uint32_t>(body.size()));
    ResponseWriteEnd(session);
}

void answerFault(TSession* session, int faultCode, const std::string& text) {
    std::string body;
    xmlrpc_c::xml::generateResponse(xmlrpc_c::rpcOutcome(xmlrpc_c::fault(
                                        text, static_cast<xmlrpc_c::fault::code_t>(faultCode))),
                                    &body);
    respond(session, 200, "text/xml; charset=utf-8", body);
}

// One log line for a call that no method logged: the method named in the
// call (or "(request)" when there is none) and the fault, if any.
void logUnlogged(Engine& engine, const std::string& body, const std::string& response,
                 double milliseconds) {
    std::string method = "(request)";
    auto open = body.find("<methodName>");
    auto close = body.find("</methodName>");
    if (open != std::string::npos && close != std::string::npos && close > open + 12)
        method = carriedText(body.substr(open + 12, std::min<std::size_t>(close - open - 12, 100)));
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
    logCall(engine, method, milliseconds, outcome);
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

// Serves POST /RPC2: checks the access key, reads the body and hands it to
// the registry, which parses, dispatches (introspection included) and
// encodes. (xmlrpc-c 1.33's own C++ Abyss glue, server_abyss_set_handlers,
// writes a corrupted copy of every response ahead of the real one, so this
// small handler takes its place.)
struct HttpServer::KeyCheck {
    std::string key;
    Engine* engine;
    const xmlrpc_c::registry* registry;

    static void handle(void* userdata, TSession* session, abyss_bool* handled) {
        auto* self = static_cast<KeyCheck*>(userdata);
        const TRequestInfo* request = nullptr;
        SessionGetRequestInfo(session, &request);
        *handled = true;
        if (!request || std::strcmp(request->uri, "/RPC2") != 0) {
            respond(session, 404, "text/plain", "Not found: XML-RPC is served at /RPC2\n");
            return;
        }
        if (request->method != m_post) {
            ResponseAddField(session, "Allow", "POST");
            respond(session, 405, "text/plain", "XML-RPC calls are POSTed to /RPC2\n");
            return;
        }
        if (!self->key.empty()) {
            const char* given = RequestHeaderValue(session, kKeyHeader);
            if (!given || !sameKey(given, self->key)) {
                drainBody(session);
                std::string why =
                    given ? "Access key wrong: the X-Cardwright-Access-Key header does not match"
                          : "Access key missing: this server requires the X-Cardwright-Access-Key "
                            "header";
                logCall(*self->engine, "(request)", 0.0,
                        "fault " + std::to_string(code::AccessKey) + ": " + why);
                answerFault(session, code::AccessKey, why);
                return;
            }
        }
        const char* lengthText = RequestHeaderValue(session, "content-length");
        if (!lengthText) {
            respond(session, 411, "text/plain", "Content-Length is required\n");
            return;
        }
        char* end = nullptr;
        unsigned long long length = std::strtoull(lengthText, &end, 10);
        if (end == lengthText || *end != '\0' || *lengthText == '-') {
            respond(session, 400, "text/plain", "Content-Length is not a number\n");
            return;
        }
        if (length > kMaxDrain) {
            respond(session, 413, "text/plain", "The request body is larger than 16 MiB\n");
            return;
        }
        std::string body;
        body.reserve(length);
        while (body.size() < length) {
            // Abyss's read time-out bounds each refill.
            if (SessionReadDataAvail(session) == 0 && !SessionRefillBuffer(session)) {
                respond(session, 408, "text/plain", "The request body did not arrive in time\n");
                return;
            }
            const char* data = nullptr;
            std::size_t got = 0;
            SessionGetReadData(session, length - body.size(), &data, &got);
            body.append(data, got);
        }
        // XML-RPC has no use for document types; refusing them keeps entity
        // expansion tricks (billion laughs) away from the parser.
        if (body.find("<!DOCTYPE") != std::string::npos) {
            logCall(*self->engine, "(request)", 0.0, "fault 3: DOCTYPE refused");
            answerFault(session, code::BadArgument,
                        "Bad request: XML-RPC calls may not contain a DOCTYPE");
            return;
        }
        // xmlrpc-c refuses characters above U+FFFF with a garbled message;
        // say plainly what is wrong.
        if (auto wide = std::find_if(body.begin(), body.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0xF0; });
            wide != body.end()) {
            std::string why = "Bad request: characters above U+FFFF (such as emoji) cannot be "
                              "carried by this server; the first (or a byte that is not UTF-8) "
                              "is at byte " +
                              std::to_string(wide - body.begin());
            logCall(*self->engine, "(request)", 0.0, "fault 3: " + why);
            answerFault(session, code::BadArgument, why);
            return;
        }
        std::string response;
        auto logged = callsLoggedOnThisThread();
        auto start = std::chrono::steady_clock::now();
        try {
            self->registry->processCall(body, &response);
        } catch (const std::exception& e) {
            respond(session, 500, "text/plain",
                    std::string("Cannot process the call: ") + e.what() + "\n");
            return;
        }
        if (callsLoggedOnThisThread() == logged)
            logUnlogged(
                *self->engine, body, response,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        respond(session, 200, "text/xml; charset=utf-8", response);
    }
};

struct HttpServer::Impl {
    TServer server{};
    bool created = false;
    KeyCheck keyCheck;
    xmlrpc_c::registryPtr registry;
};

HttpServer::HttpServer(const Options& options, xmlrpc_c::registryPtr registry, Engine& engine)
    : impl_(std::make_unique<Impl>()) {
    impl_->keyCheck.key = options.accessKey;
    impl_->keyCheck.engine = &engine;
    impl_->registry = registry;
    port_ = options.port;
    bind_ = options.bind;
}

HttpServer::~HttpServer() {
    // The Abyss server and its threads live until the process ends: the
    // program leaves with _Exit after closing the roster.
}

void HttpServer::listen() {
    const char* error = nullptr;
    // xmlrpc-c's own cap on a call (512 KiB) would otherwise undercut ours.
    xmlrpc_limit_set(XMLRPC_XML_SIZE_LIMIT_ID, kMaxDrain);
    AbyssInit(&error);
    if (error)
        throw std::runtime_error(std::string("Cannot start the HTTP server: ") + error);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string portText = std::to_string(port_);
    if (int rc = getaddrinfo(bind_.c_str(), portText.c_str(), &hints, &found); rc != 0)
        throw std::runtime_error("Cannot listen on " + bind_ + ":" + portText + ": " +
                                 gai_strerror(rc));
    int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    int one = 1;
    bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
              ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
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

    TChanSwitch* chanSwitch = nullptr;
    ChanSwitchUnixCreateFd(fd, &chanSwitch, &error);
    if (error) {
        close(fd);
        throw std::runtime_error(std::string("Cannot serve the socket: ") + error);
    }
    ServerCreateSwitch(&impl_->server, chanSwitch, &error);
    if (error)
        throw std::runtime_error(std::string("Cannot create the HTTP server: ") + error);
    impl_->created = true;
    ServerSetName(&impl_->server, "cardwright-sim");
    ServerSetAdvertise(&impl_->server, false);
    // More than Abyss's default of 15 simultaneous connections, and time-outs so
    // that a client that stalls mid-request or idles on a kept-alive
    // connection gives its slot back.
    ServerSetMaxConn(&impl_->server, 64);
    ServerSetTimeout(&impl_->server, 15);
    ServerSetKeepaliveTimeout(&impl_->server, 15);
    ServerSetKeepaliveMaxConn(&impl_->server, 100000);

    // Badge rendering (Qt, PNG) runs on the connection threads: give them room.
    ServerReqHandler3 keyHandler{};
    impl_->keyCheck.registry = impl_->registry.get();
    keyHandler.handleReq = &KeyCheck::handle;
    keyHandler.userdata = &impl_->keyCheck;
    keyHandler.handleReqStackSize = 8u << 20;
    abyss_bool added = false;
    ServerAddHandler3(&impl_->server, &keyHandler, &added);
    if (!added)
        throw std::runtime_error("Cannot install the XML-RPC handler");
    ServerInit2(&impl_->server, &error);
    if (error)
        throw std::runtime_error(std::string("Cannot start the HTTP server: ") + error);
}

void HttpServer::run() {
    if (impl_->created)
        ServerRun(&impl_->server);
}

void HttpServer::terminate() {
    if (impl_->created)
        ServerTerminate(&impl_->server);
}

} // namespace cwsim
