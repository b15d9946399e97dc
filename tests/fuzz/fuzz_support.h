// What every fuzz target checks of the texts a parser hands on, apart from
// "no crash": a broken invariant aborts, which libFuzzer reports as a finding
// and saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void broken(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "invariant broken: %s", what);
    if (!detail.empty())
        std::fprintf(stderr, " [%.*s]", static_cast<int>(detail.size() > 200 ? 200 : detail.size()),
                     detail.data());
    std::fputc('\n', stderr);
    std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {}) {
    if (!ok)
        broken(what, detail);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. The
// library's own cleaner is not used here, so that its faults show.
inline bool valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p++;
        if (c < 0x80)
            continue;
        int more = 0;
        unsigned cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p < more)
            return false;
        for (int i = 0; i < more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        p += more;
        if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
    }
    return true;
}

// A text the client library hands to its caller (docs/protocol.md, section
// 6): valid UTF-8 without C0 controls other than TAB, LF and CR, without DEL
// and without C1 controls.
inline void check_caller_text(const char* text, const char* what) {
    check(text != nullptr, what, "null text");
    const std::string_view s(text);
    check(valid_utf8(s), what, s);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const bool c0 = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
        const bool c1 = c == 0xC2 && i + 1 < s.size() &&
                        static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(s[i + 1]) <= 0x9F;
        check(!c0 && c != 0x7F && !c1, what, s);
    }
}

} // namespace fuzz
