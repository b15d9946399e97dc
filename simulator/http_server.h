// The HTTP side: libmicrohttpd on a socket we bind ourselves (so the address
// and port 0 work), with the access-key check and the request gate in front
// of xmlrpc-c's registry, so that they cover every method, introspection
// included.
#pragma once

#include "engine.h"
#include "options.h"

#include <xmlrpc-c/registry.hpp>

#include <cstddef>
#include <memory>
#include <string>

namespace cwsim {

namespace http {
constexpr std::size_t kMaxBody = 16u << 20; // larger: 413 before it is read
// What requests and answers hold in all: the bytes of bodies received and of
// answers not yet sent, never lengths only announced, so idle connections
// hold nothing. A body or answer larger than kSmallCall that would go beyond
// gets 503 with Retry-After instead.
constexpr std::size_t kMaxBytesHeld = 64u << 20;
// A call or answer no larger than a connection's own buffer is always taken:
// however much slow clients hold, a small call is answered, and all
// kMaxConnections of them together hold at most another 64 MiB.
constexpr std::size_t kSmallCall = 16u << 10;
constexpr std::size_t kMaxAnswer = 64u << 20; // what a client library takes at most
constexpr int kRequestSeconds = 10;           // a whole request, from its first byte
// An answer not taken within this time closes its connection, returning what
// it held; loopback takes 64 MiB in well under a second.
constexpr int kAnswerSeconds = 10;
constexpr int kIdleSeconds = 15; // a kept-alive connection with nothing to do
constexpr unsigned kMaxConnections = 4000;
} // namespace http

class HttpServer {
  public:
    HttpServer(const Options& options, xmlrpc_c::registryPtr registry, Engine& engine);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and serves on threads of its own until terminate(); throws
    // std::runtime_error with a readable reason.
    void listen();
    int port() const { return port_; }
    void terminate();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    std::string bind_;
};

// Equal length and content, in time that does not depend on where they differ.
bool sameKey(const std::string& given, const std::string& expected);

} // namespace cwsim
