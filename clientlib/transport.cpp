#include "transport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <arpa/inet.h>
#include <curl/curl.h>

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

bool Transport::open(TransportError& error) {
    curl_ = curl_easy_init();
    if (!curl_) {
        error = {CWX_ERR_NO_MEMORY, "Out of memory"};
        return false;
    }
    timeout_ms_ = env_number("CWXML_TIMEOUT_MS", 30000, 1, 86400000);
    connect_timeout_ms_ = env_number("CWXML_CONNECT_TIMEOUT_MS", 2000, 1, 86400000);
    if (connect_timeout_ms_ > timeout_ms_)
        connect_timeout_ms_ = timeout_ms_;
    max_response_ = static_cast<std::uint64_t>(
        env_number("CWXML_MAX_RESPONSE_BYTES", 64ll << 20, 1, 4ll << 30));

    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_PROXY, "");
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl_, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms_));
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms_));
    curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_response_));
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Transport::on_body);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &Transport::on_header);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, error_buffer_);
    curl_easy_setopt(curl_, CURLOPT_USERAGENT, "cwxmlclient/1.0");
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    url_target_.clear();
    headers_built_ = false;
    return true;
}

void Transport::close() {
    if (curl_) {
        curl_easy_cleanup(curl_);
        curl_ = nullptr;
    }
    if (headers_) {
        curl_slist_free_all(headers_);
        headers_ = nullptr;
    }
    headers_built_ = false;
    std::string().swap(url_target_);
    std::string().swap(header_key_);
    std::string().swap(status_line_);
}

std::size_t Transport::on_body(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transport*>(self);
    const std::size_t n = size * count;
    const std::uint64_t room = t->max_response_ - t->body_->size();
    if (n > room) {
        // Keep what fits, then stop reading: the cap holds while downloading.
        t->body_->append(data, static_cast<std::size_t>(room));
        t->too_large_ = true;
        return 0;
    }
    t->body_->append(data, n);
    return n;
}

std::size_t Transport::on_header(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transport*>(self);
    const std::size_t n = size * count;
    if (n > 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        t->status_line_.assign(data, n);
        while (!t->status_line_.empty() &&
               (t->status_line_.back() == '\r' || t->status_line_.back() == '\n'))
            t->status_line_.pop_back();
    }
    return n;
}

bool Transport::post(const std::string& host, std::int32_t port, const std::string& access_key,
                     const std::string& request, std::string& response, TransportError& error) {
    if (!curl_ && !open(error))
        return false;
    const std::string target = endpoint_text(host, port);
    if (target != url_target_) {
        const std::string url = "http://" + target + "/RPC2";
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        url_target_ = target;
    }
    if (!headers_built_ || access_key != header_key_) {
        curl_slist_free_all(headers_);
        headers_ = nullptr;
        for (const char* h : {"Content-Type: text/xml", "Accept: text/xml", "Expect:"})
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
    status_line_.clear();
    error_buffer_[0] = '\0';

    const CURLcode rc = curl_easy_perform(curl_);
    body_ = nullptr;
    const std::string& where = target;
    if (rc != CURLE_OK) {
        long os_errno = 0;
        curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &os_errno);
        const std::string detail = error_buffer_[0] ? error_buffer_ : curl_easy_strerror(rc);
        switch (rc) {
        case CURLE_COULDNT_CONNECT:
            error = {CWX_ERR_CONNECT,
                     "Cannot connect to " + where + ": " +
                         (os_errno ? std::generic_category().message(static_cast<int>(os_errno))
                                   : detail)};
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
            error = {CWX_ERR_CONNECT, "Cannot connect to " + where + ": host name not found"};
            break;
        case CURLE_OPERATION_TIMEDOUT: {
            // A reused connection reports no connect time, so "was connected"
            // also counts a request that went out, and a call that lasted the
            // whole time-out.
            curl_off_t connected_us = 0;
            curl_off_t sending_us = 0;
            curl_off_t total_us = 0;
            curl_easy_getinfo(curl_, CURLINFO_CONNECT_TIME_T, &connected_us);
            curl_easy_getinfo(curl_, CURLINFO_PRETRANSFER_TIME_T, &sending_us);
            curl_easy_getinfo(curl_, CURLINFO_TOTAL_TIME_T, &total_us);
            const bool connected = connected_us > 0 || sending_us > 0 ||
                                   total_us >= static_cast<curl_off_t>(timeout_ms_) * 1000;
            if (!connected)
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
            error = {CWX_ERR_TRANSPORT,
                     "Connection to " + where + " closed without an answer"};
            break;
        case CURLE_PARTIAL_FILE:
            error = {CWX_ERR_TRANSPORT,
                     "Connection to " + where + " closed before the answer was complete"};
            break;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
            error = {CWX_ERR_BAD_RESPONSE,
                     "Response from " + where + " is not XML-RPC: not an HTTP answer (" + detail +
                         ")"};
            break;
        case CURLE_OUT_OF_MEMORY:
            error = {CWX_ERR_NO_MEMORY, "Out of memory"};
            break;
        default:
            error = {CWX_ERR_TRANSPORT, "Call to " + where + " failed: " + detail};
            break;
        }
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
        error = {CWX_ERR_HTTP, "HTTP error from " + where + ": " + shown};
        return false;
    }
    return true;
}

} // namespace cwx
