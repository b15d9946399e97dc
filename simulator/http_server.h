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
constexpr std::size_t kMaxBody = 16u << 20;           // larger: 413 before it is read
constexpr std::size_t kMaxBodiesInFlight = 64u << 20; // beyond: 503 with Retry-After
constexpr std::size_t kMaxAnswer = 64u << 20;         // what a client library takes at most
constexpr int kRequestSeconds = 10;                   // a whole request, from its first byte
constexpr int kIdleSeconds = 15;                      // a kept-alive connection with nothing to do
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
