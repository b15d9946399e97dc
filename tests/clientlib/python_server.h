// Starts tests/clientlib/xmlrpc_server.py (Python's standard xmlrpc.server) on
// a free loopback port for the length of a test, and stops it afterwards.
#pragma once

#include <string>

#include <sys/types.h>

namespace cwtest {

class PythonServer {
public:
    PythonServer();
    ~PythonServer();
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace cwtest
