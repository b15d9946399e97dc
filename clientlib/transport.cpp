#include "transport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "clean_text.h"
#include "cwxmlclient.h"
#include "request.h"

namespace cwx {
namespace {

std::int64_t env_number(const char* name, std::int64_t fallback, std::int64_t low,
                        std::int64_t high) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return fallback;
    return value;
}

} // namespace

std::string endpoint_text(const std::string& host, std::int32_t port) {
    const bool bare_ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    return (bare_ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool check_host(const std::string& host, std::string& why) {
    if (host.empty()) {
        why = "No host name set";
        return false;
    }
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const std::string bare = bracketed ? host.substr(1, host.size() - 2) : host;
    bool ok = true;
    if (bracketed || bare.find(':') != std::string::npos) {
        in6_addr address{};
        ok = inet_pton(AF_INET6, bare.c_str(), &address) == 1;
    } else {
        for (const char c : bare) {
            const auto u = static_cast<unsigned char>(c);
            if (u <= ' ' || u == 0x7F || std::strchr("/?#@%[]\\", c) != nullptr)
                ok = false;
        }
        ok = ok && is_clean(bare); // names beyond ASCII are UTF-8
    }
    if (!ok)
        why = "Host name \"" + printable(host) + "\" is not a host name or IP address";
    return ok;
}

bool check_access_key(const std::string& key, std::string& why) {
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto u = static_cast<unsigned char>(key[i]);
        if ((u < ' ' && u != '\t') || u == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", u);
            why = std::string("The access key holds control character ") + code + " at byte " +
                  std::to_string(i) + ", which an HTTP header cannot carry";
            return false;
        }
    }
    return true;
}

std::string duration_text(std::int64_t ms) {
    if (ms >= 1000 && ms % 1000 == 0)
        return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

std::string size_text(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1ull << 20;
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

namespace {

curl_socket_t on_open_socket(void* log, curlsocktype, curl_sockaddr* address) noexcept {
    const curl_socket_t fd =
        socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd == CURL_SOCKET_BAD)
        return fd;
    auto* sockets = static_cast<SocketLog*>(log);
    try {
        sockets->open.push_back(fd);
    } catch (...) {
        ::close(fd); // an untracked connection could not be checked before reuse
        return CURL_SOCKET_BAD;
    }
    ++sockets->opened;
    return fd;
}

int on_close_socket(void* log, curl_socket_t fd) noexcept {
    auto& open = static_cast<SocketLog*>(log)->open;
    for (std::size_t i = 0; i < open.size(); ++i) {
        if (open[i] == fd) {
            open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    return ::close(fd);
}

int on_socket(CURL*, curl_socket_t fd, int what, void* watches, void*) noexcept {
    auto& sockets = static_cast<Watches*>(watches)->sockets;
    auto it =
        std::find_if(sockets.begin(), sockets.end(), [fd](const pollfd& p) { return p.fd == fd; });
    if (what == CURL_POLL_REMOVE) {
        if (it != sockets.end())
            sockets.erase(it);
        return 0;
    }
    const short events = static_cast<short>(((what & CURL_POLL_IN) ? POLLIN : 0) |
                                            ((what & CURL_POLL_OUT) ? POLLOUT : 0));
    if (it != sockets.end()) {
        it->events = events;
        return 0;
    }
    try {
        sockets.push_back({fd, events, 0});
    } catch (...) {
        return -1; // libcurl fails the transfer
    }
    return 0;
}

int on_timer(CURLM*, long ms, void* watches) noexcept {
    auto* w = static_cast<Watches*>(watches);
    w->timer = ms >= 0;
    if (w->timer)
        w->due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    return 0;
}

// What poll() saw, in libcurl's terms, as its own socket check reads it.
int ready_mask(const pollfd& p) {
    int mask = 0;
    if (p.events & POLLIN) {
        if (p.revents & (POLLIN | POLLERR | POLLHUP))
            mask |= CURL_CSELECT_IN;
        if (p.revents & (POLLPRI | POLLNVAL))
            mask |= CURL_CSELECT_ERR;
    }
    if (p.events & POLLOUT) {
        if (p.revents & POLLOUT)
            mask |= CURL_CSELECT_OUT;
        if (p.revents & (POLLERR | POLLHUP | POLLPRI | POLLNVAL))
            mask |= CURL_CSELECT_ERR;
    }
    return mask;
}

// The longest single wait: libcurl is asked again at least this often, even
// when it has set no timer.
constexpr int kLongestWaitMs = 1000;

// How long a wait polls before it sleeps (CWXML_SPIN_US). A process that
// sleeps in poll() must be woken when the answer lands, and on a virtual
// machine waking an idle processor takes tens of microseconds, about as long
// as cardwright-sim takes to answer a call on the same machine.
constexpr std::int64_t kDefaultSpinUs = 100;

bool has_other_cpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
}

// Body storage grows by doubling up to this size, then in one step to the
// cap: doubling near the cap would hold the old and the new buffer at once
// (about 1.5 times the cap), while a reserved but unwritten buffer costs
// address space only.
constexpr std::size_t kDoublingLimit = 8u << 20;

} // namespace

bool Transport::open(TransportError& error) {
    timeout_ms_ = env_number("CWXML_TIMEOUT_MS", 30000, 1, 86400000);
    connect_timeout_ms_ = env_number("CWXML_CONNECT_TIMEOUT_MS", 2000, 1, 86400000);
    if (connect_timeout_ms_ > timeout_ms_)
        connect_timeout_ms_ = timeout_ms_;
    max_response_ = static_cast<std::uint64_t>(
        env_number("CWXML_MAX_RESPONSE_BYTES", 64ll << 20, 1, 4ll << 30));
    // With one processor, polling would keep the server from answering.
    spin_ = std::chrono::microseconds(
        has_other_cpu() ? env_number("CWXML_SPIN_US", kDefaultSpinUs, 0, 10000) : 0);
    spinning_ = false; // until an answer comes that quickly
    return make_handle(error);
}

bool Transport::make_handle(TransportError& error) {
    curl_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!curl_ || !multi_) {
        drop_handle();
        error = {CWX_ERR_NO_MEMORY, "Out of memory"};
        return false;
    }
    // Driven by the sockets and timer libcurl names, so that it reads what a
    // wait found without asking the system again.
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &on_socket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, &watches_);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &on_timer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, &watches_);
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_PROXY, "");
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl_, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms_));
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms_));
    curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_response_));
    curl_easy_setopt(curl_, CURLOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Transport::on_body);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &Transport::on_header);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl_, CURLOPT_OPENSOCKETFUNCTION, &on_open_socket);
    curl_easy_setopt(curl_, CURLOPT_OPENSOCKETDATA, &sockets_);
    curl_easy_setopt(curl_, CURLOPT_CLOSESOCKETFUNCTION, &on_close_socket);
    curl_easy_setopt(curl_, CURLOPT_CLOSESOCKETDATA, &sockets_);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_buffer_);
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    url_target_.clear();
    headers_built_ = false;
    return true;
}

void Transport::drop_handle() {
    if (multi_) {
        curl_multi_cleanup(multi_); // closes the connection through on_close_socket
        multi_ = nullptr;
    }
    if (curl_) {
        curl_easy_cleanup(curl_);
        curl_ = nullptr;
    }
    sockets_.open.clear();
}

int Transport::perform() {
    watches_.sockets.clear();
    watches_.timer = false;
    if (curl_multi_add_handle(multi_, curl_) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    int running = 0;
    CURLMcode mc = curl_multi_socket_action(multi_, CURL_SOCKET_TIMEOUT, 0, &running);
    while (mc == CURLM_OK && running > 0) {
        int wait_ms = kLongestWaitMs;
        if (watches_.timer) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                watches_.due - std::chrono::steady_clock::now());
            wait_ms = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, kLongestWaitMs));
        }
        const int seen = wait_ms == 0 ? 0 : wait(wait_ms);
        if (seen < 0) {
            if (errno == EINTR)
                continue;
            std::snprintf(error_buffer_, sizeof error_buffer_, "poll: %s", std::strerror(errno));
            mc = CURLM_INTERNAL_ERROR;
            break;
        }
        if (seen == 0) {
            mc = curl_multi_socket_action(multi_, CURL_SOCKET_TIMEOUT, 0, &running);
            continue;
        }
        // Acting on one socket may change the list libcurl keeps; any ready
        // beyond these few are still ready at the next wait.
        std::array<pollfd, 4> ready{};
        std::size_t count = 0;
        for (const pollfd& p : watches_.sockets)
            if (p.revents != 0 && count < ready.size())
                ready[count++] = p;
        for (std::size_t i = 0; i < count && mc == CURLM_OK; ++i)
            mc = curl_multi_socket_action(multi_, ready[i].fd, ready_mask(ready[i]), &running);
    }
    int rc = CURLE_OK;
    if (mc == CURLM_OUT_OF_MEMORY)
        rc = CURLE_OUT_OF_MEMORY;
    else if (mc != CURLM_OK)
        rc = CURLE_RECV_ERROR;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == curl_ && rc == CURLE_OK)
            rc = message->data.result;
    curl_multi_remove_handle(multi_, curl_);
    return rc;
}

int Transport::wait(int wait_ms) {
    pollfd* fds = watches_.sockets.data();
    const auto count = static_cast<nfds_t>(watches_.sockets.size());
    // Only a wait for the answer tells how quickly the server answers: a
    // connection being made or a request still going out is no guide.
    const bool for_answer =
        count > 0 && std::all_of(watches_.sockets.begin(), watches_.sockets.end(),
                                 [](const pollfd& p) { return p.events == POLLIN; });
    if (!for_answer)
        return poll(fds, count, wait_ms);
    const auto start = std::chrono::steady_clock::now();
    if (!spinning_)
        return timed_poll(fds, count, wait_ms, start);
    // Poll without sleeping for a while: a server on this machine usually
    // answers within it. Polling stops as soon as a wait outlasts it, and
    // starts again after a wait that did not.
    const auto until = start + std::min<std::chrono::steady_clock::duration>(
                                   spin_, std::chrono::milliseconds(wait_ms));
    do {
        const int seen = poll(fds, count, 0);
        if (seen != 0)
            return seen;
    } while (std::chrono::steady_clock::now() < until);
    const auto spent_ms =
        std::chrono::ceil<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    return spent_ms >= wait_ms
               ? 0
               : timed_poll(fds, count, static_cast<int>(wait_ms - spent_ms), start);
}

int Transport::timed_poll(pollfd* fds, nfds_t count, int wait_ms,
                          std::chrono::steady_clock::time_point start) {
    const int seen = poll(fds, count, wait_ms);
    if (seen > 0) // a timer that fell due says nothing of the server
        spinning_ = spin_.count() > 0 && std::chrono::steady_clock::now() - start <= spin_;
    return seen;
}

bool Transport::set_url(const std::string& target, TransportError& error) {
    // Parsed once: libcurl reads a URL given as text anew for every transfer.
    CURLU* parsed = curl_url();
    if (!parsed) {
        error = {CWX_ERR_NO_MEMORY, "Out of memory"};
        return false;
    }
    // With the flags libcurl itself parses a URL text with.
    const std::string url = "http://" + target + "/RPC2";
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(),
                     CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        curl_easy_setopt(curl_, CURLOPT_CURLU, parsed);
    } else {
        // As text, so that the transfer fails in libcurl's own words.
        curl_url_cleanup(parsed);
        parsed = nullptr;
        curl_easy_setopt(curl_, CURLOPT_CURLU, nullptr);
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    }
    curl_url_cleanup(url_); // no longer named by curl_
    url_ = parsed;
    url_target_ = target;
    return true;
}

void Transport::close() {
    drop_handle();
    curl_url_cleanup(url_);
    url_ = nullptr;
    if (headers_) {
        curl_slist_free_all(headers_);
        headers_ = nullptr;
    }
    headers_built_ = false;
    std::string().swap(url_target_);
    std::string().swap(header_key_);
    std::string().swap(status_line_);
}

bool Transport::stray_bytes_waiting() const {
    for (const int fd : sockets_.open) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && p.revents != 0)
            return true;
    }
    return false;
}

// No exception may cross libcurl's C frames: each callback catches
// everything, and a failure ends the transfer with a short count and becomes
// the call's error (classify_failure).
std::size_t Transport::on_body(char* data, std::size_t size, std::size_t count,
                               void* self) noexcept {
    auto* t = static_cast<Transport*>(self);
    try {
        return t->store_body(data, size * count);
    } catch (const std::bad_alloc&) {
        t->out_of_memory_ = true;
    } catch (...) {
        t->callback_failed_ = true;
    }
    return 0;
}

std::size_t Transport::store_body(const char* data, std::size_t n) {
    std::string& body = *body_;
    const std::uint64_t room = max_response_ - body.size();
    if (n > room) {
        // Keep what fits, then stop reading: the cap holds while downloading.
        too_large_ = true;
        body.append(data, static_cast<std::size_t>(room));
        return 0;
    }
    const std::size_t needed = body.size() + n;
    if (needed > body.capacity()) {
        std::size_t grown = std::max(needed, body.capacity() * 2);
        if (grown > kDoublingLimit)
            grown = std::max(needed, static_cast<std::size_t>(max_response_));
        body.reserve(grown);
    }
    body.append(data, n);
    return n;
}

std::size_t Transport::on_header(char* data, std::size_t size, std::size_t count,
                                 void* self) noexcept {
    auto* t = static_cast<Transport*>(self);
    try {
        return t->store_header(data, size * count);
    } catch (const std::bad_alloc&) {
        t->out_of_memory_ = true;
    } catch (...) {
        t->callback_failed_ = true;
    }
    return 0;
}

std::size_t Transport::store_header(const char* data, std::size_t n) {
    head_bytes_ += n;
    if (head_bytes_ > kMaxHeadBytes) {
        head_too_large_ = true;
        return 0;
    }
    if (n > 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        status_line_.assign(data, n);
        while (!status_line_.empty() &&
               (status_line_.back() == '\r' || status_line_.back() == '\n'))
            status_line_.pop_back();
    }
    return n;
}

bool Transport::post(const std::string& host, std::int32_t port, const std::string& access_key,
                     const std::string& request, std::string& response, TransportError& error) {
    if (!curl_ && !open(error))
        return false;
    if (stray_bytes_waiting()) {
        // An answer nobody asked for (or the server's close) waits on the
        // kept-alive connection: drop it, with the handle, and connect anew.
        drop_handle();
        if (!make_handle(error))
            return false;
    }
    const bool had_connection = !sockets_.open.empty();
    const std::string target = endpoint_text(host, port);
    if (target != url_target_ && !set_url(target, error))
        return false;
    if (!headers_built_ || access_key != header_key_) {
        curl_slist_free_all(headers_);
        headers_ = nullptr;
        for (const char* h : {"Content-Type: text/xml", "User-Agent: cwxmlclient/1.0",
                              "Accept: text/xml", "Expect:"})
            headers_ = curl_slist_append(headers_, h);
        if (!access_key.empty())
            headers_ =
                curl_slist_append(headers_, ("X-Cardwright-Access-Key: " + access_key).c_str());
        if (!headers_) {
            error = {CWX_ERR_NO_MEMORY, "Out of memory"};
            return false;
        }
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        header_key_ = access_key;
        headers_built_ = true;
    }
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
    response.clear();
    body_ = &response;
    too_large_ = false;
    head_too_large_ = false;
    out_of_memory_ = false;
    callback_failed_ = false;
    head_bytes_ = 0;
    sockets_.opened = 0;
    status_line_.clear();
    error_buffer_[0] = '\0';

    const auto rc = static_cast<CURLcode>(perform());
    body_bytes_ = response.size();
    body_ = nullptr;
    if (rc != CURLE_OK) {
        // A connection that was there before and not replaced counts as made.
        const bool reused = had_connection && sockets_.opened == 0;
        classify_failure(rc, reused, target, error);
        return false;
    }
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        // "HTTP/1.1 404 Not Found" -> "404 Not Found"
        std::string shown = std::to_string(status);
        const std::size_t space = status_line_.find(' ');
        if (space != std::string::npos && status_line_.compare(space + 1, 3, shown) == 0)
            shown = status_line_.substr(space + 1);
        error = {CWX_ERR_HTTP, "HTTP error from " + target + ": " + shown};
        return false;
    }
    return true;
}

void Transport::classify_failure(int code, bool reused, const std::string& where,
                                 TransportError& error) {
    const auto rc = static_cast<CURLcode>(code);
    long os_errno = 0;
    curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &os_errno);
    const std::string detail = error_buffer_[0] ? error_buffer_ : curl_easy_strerror(rc);
    const std::string not_xmlrpc = "Response from " + where + " is not XML-RPC: ";
    if (out_of_memory_) {
        error = {CWX_ERR_NO_MEMORY, "Out of memory while reading the answer from " + where};
        return;
    }
    if (callback_failed_) {
        error = {CWX_ERR_TRANSPORT, "Call to " + where + " failed: the answer could not be stored"};
        return;
    }
    if (head_too_large_) {
        error = {CWX_ERR_BAD_RESPONSE,
                 not_xmlrpc + "its header is larger than " + size_text(kMaxHeadBytes)};
        return;
    }
    switch (rc) {
    case CURLE_COULDNT_CONNECT:
        error = {
            CWX_ERR_CONNECT,
            "Cannot connect to " + where + ": " +
                (os_errno ? std::generic_category().message(static_cast<int>(os_errno)) : detail)};
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        error = {CWX_ERR_CONNECT, "Cannot connect to " + where + ": host name not found"};
        break;
    case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected_us = 0;
        curl_easy_getinfo(curl_, CURLINFO_CONNECT_TIME_T, &connected_us);
        if (!reused && connected_us == 0)
            error = {CWX_ERR_CONNECT, "Cannot connect to " + where + ": no connection within " +
                                          duration_text(connect_timeout_ms_)};
        else
            error = {CWX_ERR_TIMEOUT,
                     "No answer from " + where + " within " + duration_text(timeout_ms_)};
        break;
    }
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        if (too_large_ || rc == CURLE_FILESIZE_EXCEEDED)
            error = {CWX_ERR_TOO_LARGE, "Response larger than " + size_text(max_response_)};
        else
            error = {CWX_ERR_TRANSPORT, "Call to " + where + " failed: " + detail};
        break;
    case CURLE_GOT_NOTHING:
        error = {CWX_ERR_TRANSPORT, "Connection to " + where + " closed without an answer"};
        break;
    case CURLE_PARTIAL_FILE:
        error = {CWX_ERR_TRANSPORT,
                 "Connection to " + where + " closed before the answer was complete"};
        break;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
        error = {CWX_ERR_BAD_RESPONSE, not_xmlrpc + "not an HTTP answer (" + detail + ")"};
        break;
    case CURLE_OUT_OF_MEMORY: {
        // libcurl refuses a header line longer than its buffer (100 KiB) as
        // "out of memory", without a message. Once the request is out and
        // before any body, that is what it means: a bad answer.
        long request_bytes = 0;
        curl_easy_getinfo(curl_, CURLINFO_REQUEST_SIZE, &request_bytes);
        if (request_bytes > 0 && body_bytes_ == 0)
            error = {CWX_ERR_BAD_RESPONSE, not_xmlrpc + "a header line is too long"};
        else
            error = {CWX_ERR_NO_MEMORY, "Out of memory"};
        break;
    }
    default:
        error = {CWX_ERR_TRANSPORT, "Call to " + where + " failed: " + detail};
        break;
    }
}

} // namespace cwx
