// A hand-made HTTP server on 127.0.0.1 for the library's tests: it reads each
// request and lets the test decide, byte by byte, what goes back (or whether
// anything does). One connection at a time, on its own thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace cwtest {

struct RawRequest {
    std::string head; // request line and headers
    std::string body;
};

class RawServer {
public:
    // Answers one request on connection `fd`. Return true to keep the
    // connection open for the next request, false to close it.
    using Handler = std::function<bool(int fd, const RawRequest& request, RawServer& server)>;

    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return port_; }
    int requests() const { return requests_.load(); }
    int connections() const { return connections_.load(); }
    RawRequest last_request();
    bool stopping() const { return stop_.load(); }

    // Helpers for handlers. send_all stops early (returning false) when the
    // peer is gone; sent counts every byte that went out.
    bool send_all(int fd, const std::string& bytes);
    static std::string http_response(const std::string& body, const std::string& status = "200 OK",
                                     const std::string& content_type = "text/xml",
                                     bool keep_alive = false);
    // Waits until the peer closes the connection or the server stops.
    void wait_for_close(int fd);
    std::size_t sent() const { return sent_.load(); }

private:
    void run();
    bool read_request(int fd, std::string& buffer, RawRequest& request);

    Handler handler_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> connections_{0};
    std::atomic<std::size_t> sent_{0};
    std::mutex mutex_;
    RawRequest last_;
    std::thread thread_;
};

// A methodResponse carrying `value_xml` (the inside of <value>...</value>).
std::string xmlrpc_answer(const std::string& value_xml);
// A fault methodResponse.
std::string xmlrpc_fault(int code, const std::string& text);

// A port on 127.0.0.1 where nothing listens (bound, then released).
int unused_port();

} // namespace cwtest
