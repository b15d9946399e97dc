#include "text.h"

#include <algorithm>
#include <cstdio>

namespace cwsim {
namespace {

bool continuation(std::string_view s, std::size_t i) {
    return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
}

// Length of the carried character at s[i], or 0 when it is not carried.
std::size_t carriedAt(std::string_view s, std::size_t i) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char lead = b(0);
    if (lead < 0x80)
        return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(s, i + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF && continuation(s, i + 1) && continuation(s, i + 2)) {
        if (lead == 0xE0 && b(1) < 0xA0)
            return 0; // overlong
        if (lead == 0xED && b(1) >= 0xA0)
            return 0; // surrogate
        if (lead == 0xEF && b(1) == 0xBF && (b(2) == 0xBE || b(2) == 0xBF))
            return 0; // U+FFFE, U+FFFF
        return 3;
    }
    return 0; // stray continuation, bad lead byte, truncated, or above U+FFFF
}

} // namespace

std::size_t firstUncarried(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        auto n = carriedAt(text, i);
        if (n == 0)
            return i;
        i += n;
    }
    return std::string_view::npos;
}

std::string carriedText(std::string_view text) {
    auto bad = firstUncarried(text);
    if (bad == std::string_view::npos)
        return std::string(text);
    std::string out(text.substr(0, bad));
    for (std::size_t i = bad; i < text.size();) {
        if (auto n = carriedAt(text, i)) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        out += "\xEF\xBF\xBD";
        // One replacement for a whole (if unusable) multi-byte sequence.
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        std::size_t k = 1;
        while (k < len && continuation(text, i + k))
            ++k;
        i += k;
    }
    return out;
}

std::string asciiLower(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string placeOf(std::string_view text, std::size_t offset) {
    auto before = text.substr(0, offset);
    auto line = 1 + std::count(before.begin(), before.end(), '\n');
    char buf[96];
    std::snprintf(buf, sizeof buf, "line %lld, byte %zu (0x%02x)", static_cast<long long>(line),
                  offset, static_cast<unsigned>(static_cast<unsigned char>(text[offset])));
    return buf;
}

} // namespace cwsim
