// HTTP transport: one libcurl handle, reused so that the connection persists
// (docs/protocol.md, section 1).
#pragma once

#include <cstdint>
#include <string>

typedef void CURL;
struct curl_slist;

namespace cwx {

struct TransportError {
    std::int32_t code = 0;
    std::string text;
};

class Transport {
public:
    Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;
    ~Transport() { close(); }

    // POSTs `request` to http://host:port/RPC2 and fills `response` with the
    // body of a 200 answer. False with `error` set otherwise; `response` then
    // holds whatever body arrived (up to the cap).
    bool post(const std::string& host, std::int32_t port, const std::string& access_key,
              const std::string& request, std::string& response, TransportError& error);

    // Closes the connection and frees the handle; the next post() reopens.
    void close();

    std::int64_t timeout_ms() const { return timeout_ms_; }
    std::uint64_t max_response_bytes() const { return max_response_; }

private:
    bool open(TransportError& error);
    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self);

    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_target_;   // host:port the URL was built for
    std::string header_key_;   // access key the headers were built for
    bool headers_built_ = false;
    std::string* body_ = nullptr;
    bool too_large_ = false;
    std::string status_line_;
    std::int64_t timeout_ms_ = 30000;
    std::int64_t connect_timeout_ms_ = 2000;
    std::uint64_t max_response_ = 64ull << 20;
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
