// HTTP transport: one libcurl handle and the multi handle that drives it and
// holds the connection, both reused so that the connection persists
// (docs/protocol.md, section 1).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <poll.h>

typedef void CURL;
typedef void CURLM;
struct curl_slist;
typedef struct Curl_URL CURLU;

namespace cwx {

struct TransportError {
    std::int32_t code = 0;
    std::string text;
};

// The sockets a handle has open, kept by its open and close callbacks: the
// library's own view of the kept-alive connection.
struct SocketLog {
    std::vector<int> open;
    int opened = 0; // during the current transfer
};

// What libcurl asked to be woken for during a transfer: its sockets, with
// the events of each, and the moment its next timeout falls due.
struct Watches {
    std::vector<pollfd> sockets;
    bool timer = false;
    std::chrono::steady_clock::time_point due;
};

class Transport {
  public:
    Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;
    ~Transport() { close(); }

    // POSTs `request` to http://host:port/RPC2 and fills `response` with the
    // body of a 200 answer. False with `error` set otherwise; `response` then
    // holds whatever body arrived (up to the cap). A kept-alive connection is
    // reused only when nothing is waiting on it: bytes that arrived unasked
    // are no answer to this request.
    bool post(const std::string& host, std::int32_t port, const std::string& access_key,
              const std::string& request, std::string& response, TransportError& error);

    // Closes the connection and frees the handle; the next post() reopens.
    void close();

    std::int64_t timeout_ms() const { return timeout_ms_; }
    std::uint64_t max_response_bytes() const { return max_response_; }

    // Largest response head (status line and headers) accepted.
    static constexpr std::size_t kMaxHeadBytes = 64 * 1024;

  private:
    bool open(TransportError& error);
    bool make_handle(TransportError& error); // a new handle with the limits read by open()
    void drop_handle();
    bool stray_bytes_waiting() const;
    bool set_url(const std::string& target, TransportError& error);
    int perform();         // the transfer set up on curl_, to its end; a CURLcode
    int wait(int wait_ms); // for the sockets in watches_, as poll() would
    // Sleeps in poll(); when the answer is there, notes whether the wait
    // begun at `start` was quick.
    int timed_poll(pollfd* fds, nfds_t count, int wait_ms,
                   std::chrono::steady_clock::time_point start);
    void classify_failure(int code, bool reused, const std::string& where, TransportError& error);
    static std::size_t on_body(char* data, std::size_t size, std::size_t count,
                               void* self) noexcept;
    static std::size_t on_header(char* data, std::size_t size, std::size_t count,
                                 void* self) noexcept;
    std::size_t store_body(const char* data, std::size_t n);   // may throw
    std::size_t store_header(const char* data, std::size_t n); // may throw

    CURL* curl_ = nullptr;
    CURLM* multi_ = nullptr; // holds the kept-alive connection
    Watches watches_;
    curl_slist* headers_ = nullptr;
    CURLU* url_ = nullptr;   // the URL, parsed, that curl_ is set to
    std::string url_target_; // host:port the URL was built for
    std::string header_key_; // access key the headers were built for
    bool headers_built_ = false;
    std::string* body_ = nullptr;
    bool too_large_ = false;
    bool head_too_large_ = false;
    bool out_of_memory_ = false;
    bool callback_failed_ = false; // by an exception other than bad_alloc
    std::size_t head_bytes_ = 0;
    std::size_t body_bytes_ = 0; // of the last transfer
    SocketLog sockets_;
    std::string status_line_;
    std::int64_t timeout_ms_ = 30000;
    std::int64_t connect_timeout_ms_ = 2000;
    std::uint64_t max_response_ = 64ull << 20;
    std::chrono::microseconds spin_{0}; // 0: every wait sleeps at once
    bool spinning_ = false;             // the last wait for an answer ended within spin_
    char error_buffer_[256] = {};
};

// "localhost:8080"; an IPv6 literal in brackets (unless given in brackets).
std::string endpoint_text(const std::string& host, std::int32_t port);

// Settings that would not reach the right server, or would change the
// request's headers: false with `why` set to the whole error text.
// A host is a name or an IPv4 literal (no blanks, controls or URL delimiters,
// no ':'), or an IPv6 literal, with or without its brackets.
bool check_host(const std::string& host, std::string& why);
// The access key travels in a header line: no control character but TAB.
bool check_access_key(const std::string& key, std::string& why);

// "30 s" or "250 ms"; "64 MiB" or "1000 bytes".
std::string duration_text(std::int64_t ms);
std::string size_text(std::uint64_t bytes);

} // namespace cwx
