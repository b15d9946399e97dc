#include "request_gate.h"

#include "text.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace cwsim {
namespace {

constexpr const char* kAccepted = "send UTF-8, ASCII or ISO-8859-1";

GateVerdict refuse(std::string why) {
    GateVerdict v;
    v.refusal = "Bad request: " + std::move(why);
    return v;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

enum class Encoding { Utf8, Latin1 };

// The bytes that end an element's name.
constexpr auto kEndsName = [] {
    std::array<bool, 256> ends{};
    for (unsigned char c : std::string_view(" \t\r\n/>"))
        ends[c] = true;
    return ends;
}();

bool endsName(char c) {
    return kEndsName[static_cast<unsigned char>(c)];
}

// Where the encoding name of an XML declaration sits: [begin, end) of the
// text between its quotes; begin == end when none is declared.
std::pair<std::size_t, std::size_t> declaredEncoding(std::string_view body) {
    if (!startsWith(body, "<?xml") || body.size() < 6 || !std::strchr(" \t\r\n", body[5]))
        return {0, 0};
    auto close = body.find("?>");
    if (close == std::string_view::npos)
        return {0, 0};
    std::string_view decl = body.substr(0, close);
    auto at = decl.find("encoding");
    if (at == std::string_view::npos)
        return {0, 0};
    auto eq = decl.find('=', at);
    if (eq == std::string_view::npos)
        return {0, 0};
    auto open = decl.find_first_of("\"'", eq);
    if (open == std::string_view::npos)
        return {0, 0};
    auto shut = decl.find(decl[open], open + 1);
    if (shut == std::string_view::npos)
        return {0, 0};
    return {open + 1, shut};
}

// Settles the encoding and leaves `body` as UTF-8 (or says why it cannot).
std::string toUtf8(std::string& body) {
    std::string_view view = body;
    if (startsWith(view, "\xFE\xFF") || startsWith(view, "\xFF\xFE"))
        return std::string("the call is UTF-16 or UTF-32 (byte order mark); ") + kAccepted;
    bool utf8Mark = startsWith(view, "\xEF\xBB\xBF");
    if (utf8Mark)
        body.erase(0, 3);
    // No text in these encodings holds a NUL byte; UTF-16 and UTF-32 without
    // a byte order mark do.
    if (auto nul = body.find('\0'); nul != std::string::npos)
        return "a NUL byte at byte " + std::to_string(nul) + " (UTF-16 or UTF-32?); " + kAccepted;
    auto [from, to] = declaredEncoding(body);
    Encoding encoding = Encoding::Utf8;
    if (from != to) {
        std::string name = asciiLower(body.substr(from, to - from));
        if (name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1" || name == "latin-1" ||
            name == "l1")
            encoding = Encoding::Latin1;
        else if (name != "utf-8" && name != "utf8" && name != "us-ascii" && name != "ascii")
            return "the encoding '" +
                   carriedText(body.substr(from, std::min<std::size_t>(to - from, 40))) +
                   "' is not accepted; " + kAccepted;
        if (utf8Mark && encoding != Encoding::Utf8)
            return "the call declares " + name + " but starts with a UTF-8 byte order mark";
    }
    if (encoding == Encoding::Latin1) {
        body.replace(from, to - from, "UTF-8");
        std::size_t high = static_cast<std::size_t>(
            std::count_if(body.begin(), body.end(), [](char c) { return c & 0x80; }));
        if (high > 0) {
            std::string out;
            out.reserve(body.size() + high);
            for (char ch : body) {
                auto c = static_cast<unsigned char>(ch);
                if (c < 0x80) {
                    out.push_back(ch);
                } else {
                    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                }
            }
            body.swap(out);
        }
    }
    return {};
}

// What one pass over the markup finds.
struct Scan {
    std::string refusal;
    // The method named, when it is plain text directly inside the root's one
    // <methodName> (no reference, comment or section a parser would resolve).
    std::optional<std::string_view> method;
};

// Depth, values and elements counted in one pass over the markup, without
// recursion and without building anything, so that a hostile call is refused
// before it costs memory. Unterminated constructs end the scan: the parser
// that follows reports them.
Scan scanMarkup(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    auto find = [&end](const char* from, std::string_view what) -> const char* {
        std::string_view rest(from, static_cast<std::size_t>(end - from));
        auto at = rest.find(what);
        return at == std::string_view::npos ? nullptr : from + at;
    };
    // Markup mostly follows markup: look at the next byte before searching.
    auto seek = [&end](const char* from, char c) -> const char* {
        if (from < end && *from == c)
            return from;
        return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
    };
    Scan scan;
    int depth = 0;
    std::size_t values = 0, elements = 0;
    const char* methodText = nullptr; // just inside <methodName>
    int methodNames = 0;              // <methodName> elements under the root
    while (p < end) {
        p = seek(p, '<');
        if (!p || end - p < 2)
            break;
        if (methodText) {
            std::string_view name(methodText, static_cast<std::size_t>(p - methodText));
            if (p[1] == '/' && name.find('&') == std::string_view::npos)
                scan.method = name;
            methodText = nullptr;
        }
        std::string_view here(p, static_cast<std::size_t>(end - p));
        const char* next = nullptr;
        if (p[1] == '?') {
            next = find(p + 2, "?>");
            next = next ? next + 2 : nullptr;
        } else if (p[1] == '!') {
            if (startsWith(here, "<!--")) {
                next = find(p + 4, "-->");
                next = next ? next + 3 : nullptr;
            } else if (startsWith(here, "<![CDATA[")) {
                next = find(p + 9, "]]>");
                next = next ? next + 3 : nullptr;
            } else {
                // Entities are declared there; XML-RPC has no use for them.
                scan.refusal = "XML-RPC calls may not contain a DOCTYPE or other declaration";
                return scan;
            }
        } else if (p[1] == '/') {
            // An end tag is its name and '>'; a short look finds it.
            next = p + 2;
            while (next < end && *next != '>' && next - p < 64)
                ++next;
            next = next < end && *next == '>' ? next : seek(next, '>');
            next = next ? next + 1 : nullptr;
            --depth;
        } else {
            const char* name = p + 1;
            const char* nameEnd = name;
            while (nameEnd < end && !endsName(*nameEnd))
                ++nameEnd;
            std::string_view tag(name, static_cast<std::size_t>(nameEnd - name));
            if (++elements > gate::kMaxElements) {
                scan.refusal = "more than " + std::to_string(gate::kMaxElements) + " elements";
                return scan;
            }
            if (tag == "value" && ++values > gate::kMaxValues) {
                scan.refusal = "more than " + std::to_string(gate::kMaxValues) + " values";
                return scan;
            }
            char quote = 0;
            const char* q = nameEnd;
            for (; q < end; ++q) {
                if (quote) {
                    if (*q == quote)
                        quote = 0;
                } else if (*q == '"' || *q == '\'') {
                    quote = *q;
                } else if (*q == '>') {
                    break;
                }
            }
            if (q == end)
                break;
            bool empty = q[-1] == '/';
            if (!empty && ++depth > gate::kMaxDepth) {
                scan.refusal =
                    "elements nested deeper than " + std::to_string(gate::kMaxDepth) + " levels";
                return scan;
            }
            if (tag == "methodName" && depth == (empty ? 1 : 2) && ++methodNames == 1 && !empty)
                methodText = q + 1;
            next = q + 1;
        }
        if (!next)
            break;
        p = next;
    }
    if (methodNames != 1) // which one a parser takes is its own affair
        scan.method.reset();
    return scan;
}

// Well-formed XML with <methodCall> at its root, or why not; `doc` holds the
// call when it is.
std::string parseCall(pugi::xml_document& doc, const std::string& body) {
    auto parsed =
        doc.load_buffer(body.data(), body.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed)
        return std::string("not well-formed XML (") + parsed.description() + ") at byte " +
               std::to_string(parsed.offset);
    const char* root = doc.document_element().name();
    if (std::strcmp(root, "methodCall") != 0)
        return "the root element is <" + carriedText(std::string(root).substr(0, 40)) +
               ">, expected <methodCall>";
    return {};
}

} // namespace

GateVerdict checkCall(std::string& body) {
    if (auto why = toUtf8(body); !why.empty())
        return refuse(why);
    Scan scan = scanMarkup(body);
    if (!scan.refusal.empty())
        return refuse(scan.refusal);
    GateVerdict verdict;
    if (scan.method)
        verdict.method = carriedText(std::string(scan.method->substr(0, 100)));
    // A multicall's calls are counted on the parsed call; so is any call
    // whose method the scan could not read plainly, which may be one.
    if (!scan.method || *scan.method == "system.multicall") {
        pugi::xml_document doc;
        if (auto why = parseCall(doc, body); !why.empty())
            return refuse(why);
        pugi::xml_node call = doc.document_element();
        // The name as xmlrpc-c reads it: its text around comments too.
        std::string name;
        for (pugi::xml_node part : call.child("methodName").children())
            if (part.type() == pugi::node_pcdata || part.type() == pugi::node_cdata)
                name += part.value();
        verdict.method = carriedText(name.substr(0, 100));
        if (verdict.method == "system.multicall") {
            std::size_t calls = 0;
            for (pugi::xml_node v : call.child("params")
                                        .child("param")
                                        .child("value")
                                        .child("array")
                                        .child("data")
                                        .children("value"))
                (void)v, ++calls;
            if (calls > gate::kMaxMulticalls) {
                verdict.refusal = "Bad request: system.multicall takes at most " +
                                  std::to_string(gate::kMaxMulticalls) + " calls, this one has " +
                                  std::to_string(calls);
                return verdict;
            }
        }
    }
    // xmlrpc-c refuses characters above U+FFFF with a garbled message; say
    // plainly what is wrong. Most calls are ASCII: one pass without a branch
    // per byte says so.
    unsigned char seen = 0;
    for (char c : body)
        seen |= static_cast<unsigned char>(c);
    if (seen >= 0xF0) {
        auto wide = std::find_if(body.begin(), body.end(),
                                 [](char c) { return static_cast<unsigned char>(c) >= 0xF0; });
        if (wide != body.end()) {
            verdict.refusal = "Bad request: characters above U+FFFF (such as emoji) cannot be "
                              "carried by this server; the first (or a byte that is not UTF-8) "
                              "is at byte " +
                              std::to_string(wide - body.begin());
            return verdict;
        }
    }
    verdict.passed = true;
    return verdict;
}

std::string malformedCall(const std::string& body) {
    pugi::xml_document doc;
    std::string why = parseCall(doc, body);
    return why.empty() ? why : "Bad request: " + why;
}

} // namespace cwsim
