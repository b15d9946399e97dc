#include "clean_text.h"

namespace cwx {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the allowed character at the start of `p`, or 0 when it is
// to be replaced; `bad` is then the number of bytes one U+FFFD stands for.
std::size_t allowed_length(const unsigned char* p, std::size_t left, std::size_t& bad) {
    const unsigned c = p[0];
    if (c < 0x80) {
        if ((c >= 0x20 && c != 0x7F) || c == '\t' || c == '\n' || c == '\r')
            return 1;
        bad = 1;
        return 0;
    }
    // Well-formed sequences (Unicode, table 3-7): the lead byte fixes the
    // length and the range of the second byte.
    std::size_t need = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 2;
    } else if (c == 0xE0) {
        need = 3;
        low = 0xA0;
    } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
        need = 3;
    } else if (c == 0xED) {
        need = 3;
        high = 0x9F; // no surrogates
    } else if (c == 0xF0) {
        need = 4;
        low = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3) {
        need = 4;
    } else if (c == 0xF4) {
        need = 4;
        high = 0x8F; // nothing above U+10FFFF
    } else {
        bad = 1;
        return 0;
    }
    std::size_t have = 1;
    for (; have < need && have < left; ++have) {
        const unsigned b = p[have];
        if (b < (have == 1 ? low : 0x80u) || b > (have == 1 ? high : 0xBFu))
            break;
    }
    if (have < need) {
        bad = have;
        return 0;
    }
    if (c == 0xC2 && p[1] <= 0x9F) { // U+0080..U+009F, the C1 controls
        bad = 2;
        return 0;
    }
    return need;
}

} // namespace

std::size_t clean_prefix(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Printable ASCII, the common case, without the call.
        if (p[i] >= 0x20 && p[i] < 0x7F) {
            ++i;
            continue;
        }
        std::size_t bad = 0;
        const std::size_t length = allowed_length(p + i, n - i, bad);
        if (length == 0)
            return i;
        i += length;
    }
    return n;
}

void append_clean(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t good = clean_prefix(text.substr(i));
        out.append(text.substr(i, good));
        i += good;
        if (i >= n)
            break;
        std::size_t bad = 1;
        allowed_length(p + i, n - i, bad);
        out.append(kReplacement);
        i += bad;
    }
}

void make_clean(std::string& text) {
    const std::size_t good = clean_prefix(text);
    if (good == text.size())
        return;
    std::string cleaned(text, 0, good);
    append_clean(cleaned, std::string_view(text).substr(good));
    text.swap(cleaned);
}

} // namespace cwx
