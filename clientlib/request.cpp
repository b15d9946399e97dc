#include "request.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace cwx {
namespace {

// What a byte asks of the encoder.
enum ByteClass : std::uint8_t {
    kPlain,   // copied as it is
    kEscape,  // & < > CR
    kControl, // below 32, not TAB/LF/CR
    kLead2,   // C2..DF
    kLead3,   // E0..EF
    kLead4,   // F0..F4
    kInvalid, // 80..BF alone, C0, C1, F5..FF
};

constexpr std::array<std::uint8_t, 256> make_classes() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        std::uint8_t k = kPlain;
        if (c < 32)
            k = (c == '\t' || c == '\n') ? kPlain : (c == '\r' ? kEscape : kControl);
        else if (c == '&' || c == '<' || c == '>')
            k = kEscape;
        else if (c >= 0x80 && c <= 0xC1)
            k = kInvalid;
        else if (c >= 0xC2 && c <= 0xDF)
            k = kLead2;
        else if (c >= 0xE0 && c <= 0xEF)
            k = kLead3;
        else if (c >= 0xF0 && c <= 0xF4)
            k = kLead4;
        else if (c >= 0xF5)
            k = kInvalid;
        table[static_cast<std::size_t>(c)] = k;
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kClasses = make_classes();

const char* escape_of(unsigned char c) {
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return "&#13;";
    }
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::string hex_byte(unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", c);
    return buf;
}

// Length of the valid UTF-8 sequence at p[0..n), or 0 when it is not one.
std::size_t utf8_length(const unsigned char* p, std::size_t n, std::uint8_t cls) {
    const unsigned char c = p[0];
    if (cls == kLead2)
        return (n >= 2 && continuation(p[1])) ? 2 : 0;
    if (cls == kLead3) {
        if (n < 3 || !continuation(p[1]) || !continuation(p[2]))
            return 0;
        if (c == 0xE0 && p[1] < 0xA0) // overlong
            return 0;
        if (c == 0xED && p[1] > 0x9F) // surrogates
            return 0;
        return 3;
    }
    if (n < 4 || !continuation(p[1]) || !continuation(p[2]) || !continuation(p[3]))
        return 0;
    if (c == 0xF0 && p[1] < 0x90) // overlong
        return 0;
    if (c == 0xF4 && p[1] > 0x8F) // above U+10FFFF
        return 0;
    return 4;
}

} // namespace

bool append_xml_text(std::string& out, std::string_view text, std::string& why) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t cls = kClasses[p[i]];
        if (cls == kPlain) {
            ++i;
            continue;
        }
        if (cls == kEscape) {
            out.append(text.data() + start, i - start);
            out.append(escape_of(p[i]));
            start = ++i;
            continue;
        }
        if (cls == kControl) {
            why = "holds control character " + hex_byte(p[i]) + " at byte " + std::to_string(i) +
                  ", which XML cannot carry";
            return false;
        }
        const std::size_t len = cls == kInvalid ? 0 : utf8_length(p + i, n - i, cls);
        if (len == 0) {
            why = "is not valid UTF-8 (byte " + hex_byte(p[i]) + " at offset " + std::to_string(i) +
                  ")";
            return false;
        }
        if (len == 3 && p[i] == 0xEF && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF)) {
            why = std::string("holds U+") + (p[i + 2] == 0xBE ? "FFFE" : "FFFF") + " at byte " +
                  std::to_string(i) + ", which XML cannot carry";
            return false;
        }
        i += len;
    }
    out.append(text.data() + start, n - start);
    return true;
}

std::string printable(std::string_view text) {
    constexpr std::size_t kMax = 60;
    std::string shown;
    for (std::size_t i = 0; i < text.size() && i < kMax; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 32 || c == 0x7F || c >= 0x80) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            shown += buf;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (text.size() > kMax)
        shown += "...";
    return shown;
}

namespace {

std::string_view view_of(const char* s) { return s ? std::string_view(s) : std::string_view(); }

} // namespace

bool build_call(std::string& out, std::string_view method, const CallParams& params,
                std::string& error) {
    out.clear();
    out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<methodCall><methodName>");
    out.append(method); // our own method names: plain ASCII
    out.append("</methodName><params>");
    std::string why;
    if (params.with_struct) {
        out.append("<param><value><struct>");
        const NameValueList* args = params.args;
        const std::int32_t count = args ? args->count : 0;
        for (std::int32_t i = 0; i < count; ++i) {
            const std::string_view name = args->names ? view_of(args->names[i]) : std::string_view();
            const std::string_view value =
                args->values ? view_of(args->values[i]) : std::string_view();
            out.append("<member><name>");
            const char* which = "name";
            bool ok = append_xml_text(out, name, why);
            if (ok) {
                out.append("</name><value><string>");
                which = "value";
                ok = append_xml_text(out, value, why);
            }
            if (!ok) {
                error = "Argument entry " + std::to_string(i) + " (\"" + printable(name) +
                        "\"): the " + which + " " + why;
                return false;
            }
            out.append("</string></value></member>");
        }
        out.append("</struct></value></param>");
    } else if (params.text) {
        out.append("<param><value><string>");
        if (!append_xml_text(out, params.text, why)) {
            error = std::string("The ") + params.text_label + " \"" + printable(params.text) +
                    "\" " + why;
            return false;
        }
        out.append("</string></value></param>");
    }
    out.append("</params></methodCall>\n");
    return true;
}

} // namespace cwx
