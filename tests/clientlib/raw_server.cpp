#include "raw_server.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cwtest {
namespace {

int listen_on_loopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
        close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = listen_on_loopback(port_);
    thread_ = std::thread([this] { run(); });
}

RawServer::~RawServer() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
}

RawRequest RawServer::last_request() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

bool RawServer::send_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
        sent_ += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RawServer::http_response(const std::string& body, const std::string& status,
                                     const std::string& content_type, bool keep_alive) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + content_type +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           (keep_alive ? "\r\n" : "\r\nConnection: close\r\n") + "\r\n" + body;
}

void RawServer::wait_for_close(int fd) {
    char buf[4096];
    while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
        }
    }
}

bool RawServer::read_request(int fd, std::string& buffer, RawRequest& request) {
    char chunk[65536];
    std::size_t head_end = std::string::npos;
    std::size_t content_length = 0;
    while (!stop_) {
        if (head_end == std::string::npos) {
            head_end = buffer.find("\r\n\r\n");
            if (head_end != std::string::npos) {
                request.head = buffer.substr(0, head_end);
                std::string lower = request.head;
                for (char& c : lower)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                const std::size_t at = lower.find("content-length:");
                if (at != std::string::npos)
                    content_length = std::stoul(lower.substr(at + 15));
            }
        }
        if (head_end != std::string::npos && buffer.size() >= head_end + 4 + content_length) {
            request.body = buffer.substr(head_end + 4, content_length);
            buffer.erase(0, head_end + 4 + content_length);
            return true;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return false;
}

void RawServer::run() {
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        std::string buffer;
        RawRequest request;
        while (!stop_ && read_request(fd, buffer, request)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                last_ = request;
            }
            ++requests_;
            if (!handler_(fd, request, *this))
                break;
        }
        close(fd);
    }
}

std::string xmlrpc_answer(const std::string& value_xml) {
    return "<?xml version=\"1.0\"?>\n<methodResponse><params><param><value>" + value_xml +
           "</value></param></params></methodResponse>\n";
}

std::string xmlrpc_fault(int code, const std::string& text) {
    return "<?xml version=\"1.0\"?>\n<methodResponse><fault><value><struct>"
           "<member><name>faultCode</name><value><int>" +
           std::to_string(code) +
           "</int></value></member><member><name>faultString</name><value><string>" + text +
           "</string></value></member></struct></value></fault></methodResponse>\n";
}

int unused_port() {
    int port = 0;
    const int fd = listen_on_loopback(port);
    close(fd);
    return port;
}

} // namespace cwtest
