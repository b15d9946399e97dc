#include "python_server.h"

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cwtest {

PythonServer::PythonServer() {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string python = CW_PYTHON;
    std::string script = CW_XMLRPC_SERVER_PY;
    char* argv[] = {python.data(), script.data(), nullptr};
    const int rc = posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start " + python);
    }
    // The first line is the port; reading it also waits until it listens.
    FILE* in = fdopen(out[0], "r");
    if (!in || std::fscanf(in, "%d", &port_) != 1 || port_ <= 0) {
        if (in)
            std::fclose(in);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("xmlrpc_server.py did not report its port");
    }
    std::fclose(in);
}

PythonServer::~PythonServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

} // namespace cwtest
