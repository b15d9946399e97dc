// The HTTP side: xmlrpc-c's Abyss server on a socket we bind ourselves (so
// the address and port 0 work), with an access-key check in front of the
// XML-RPC handler so that it covers every method, introspection included.
#pragma once

#include "engine.h"
#include "options.h"

#include <xmlrpc-c/registry.hpp>

#include <memory>
#include <string>

namespace cwsim {

class HttpServer {
  public:
    HttpServer(const Options& options, xmlrpc_c::registryPtr registry, Engine& engine);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; throws std::runtime_error with a readable reason.
    void listen();
    int port() const { return port_; }
    // Serves until terminate(); call on a thread of its own.
    void run();
    void terminate();

    struct KeyCheck;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
    std::string bind_;
};

// Equal length and content, in time that does not depend on where they differ.
bool sameKey(const std::string& given, const std::string& expected);

} // namespace cwsim
