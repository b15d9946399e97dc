#include "response.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "clean_text.h"

namespace cwx {
namespace {

// In place; whitespace-only text is kept only where it is a value's whole
// content (an untyped or string value of blanks). No DOCTYPE, no PIs, no
// comments; CDATA is text. Line ends are not normalised: servers that do not
// escape CR (Python's) send it raw, and it is part of the value.
constexpr unsigned kParseFlags =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_ws_pcdata_single;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return s;
}

// strcmp for the short element names of XML-RPC, without the call.
inline bool same(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool named(pugi::xml_node node, const char* name) {
    return same(node.name(), name);
}

pugi::xml_node first_element(pugi::xml_node node) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return c;
    return {};
}

pugi::xml_node next_element(pugi::xml_node node) {
    for (pugi::xml_node c = node.next_sibling(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return c;
    return {};
}

pugi::xml_node element_child(pugi::xml_node node, const char* name) {
    for (pugi::xml_node c = first_element(node); c; c = next_element(c))
        if (named(c, name))
            return c;
    return {};
}

ValueType classify(const char* n) {
    switch (n[0]) {
    case 's':
        if (same(n, "string"))
            return ValueType::String;
        if (same(n, "struct"))
            return ValueType::Struct;
        break;
    case 'i':
        if (same(n, "int") || same(n, "i4") || same(n, "i8"))
            return ValueType::Int;
        break;
    case 'b':
        if (same(n, "boolean"))
            return ValueType::Boolean;
        if (same(n, "base64"))
            return ValueType::Base64;
        break;
    case 'd':
        if (same(n, "double"))
            return ValueType::Double;
        if (same(n, "dateTime.iso8601"))
            return ValueType::DateTime;
        break;
    case 'a':
        if (same(n, "array"))
            return ValueType::Array;
        break;
    case 'n':
        if (same(n, "nil"))
            return ValueType::Nil;
        break;
    case 'e':
        if (same(n, "ex:i8"))
            return ValueType::Int;
        if (same(n, "ex:nil"))
            return ValueType::Nil;
        break;
    default:
        break;
    }
    return ValueType::Unknown;
}

bool parse_int64(std::string_view text, std::int64_t& value) {
    text = trim(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// A character reference that would hand over something no text can carry.
struct BadReference {
    enum Kind { Nul, Surrogate, PastUnicode } kind = Nul;
    std::uint32_t value = 0;
};

// Reads the character reference that starts at `at` ("&#") the way pugixml
// decodes it: digits up to ';', hexadecimal after an 'x', anything else
// leaves the text as written. pugixml adds the digits up in 32 bits, so that
// "&#x100000000;" becomes U+0000 and "&#4294967361;" becomes 'A': the value
// is read here without wrapping, and whatever XML has no character for is
// refused, never decoded. An 'X' counts as hexadecimal too, so that a parser
// that reads it so can hand over nothing unchecked.
bool bad_reference_at(std::string_view body, std::size_t at, BadReference& bad) {
    constexpr std::uint32_t kPastUnicode = 0x110000;
    std::size_t p = at + 2;
    if (p >= body.size() || body[at + 1] != '#')
        return false;
    const bool hex = body[p] == 'x' || body[p] == 'X';
    if (hex)
        ++p;
    const std::size_t digits = p;
    std::uint32_t value = 0;
    for (; p < body.size(); ++p) {
        const char c = body[p];
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
            digit = static_cast<std::uint32_t>((c | 0x20) - 'a' + 10);
        else
            break;
        value = value * (hex ? 16 : 10) + digit;
        if (value >= kPastUnicode)
            value = kPastUnicode; // stays past, however many digits follow
    }
    if (p == digits || p >= body.size() || body[p] != ';')
        return false; // not a reference: kept as written
    if (value == 0)
        bad = {BadReference::Nul, 0};
    else if (value >= 0xD800 && value <= 0xDFFF)
        bad = {BadReference::Surrogate, value};
    else if (value >= kPastUnicode)
        bad = {BadReference::PastUnicode, value};
    else
        return false;
    return true;
}

// The offset of the first character reference that XML has no character for
// (U+0000, a surrogate, past U+10FFFF), or npos: pugixml would end the text
// at U+0000, handing over a shortened value as if it were whole, and write
// the others as invalid UTF-8. References count where pugixml decodes them,
// in text and attribute values; in comments, CDATA sections and processing
// instructions they are literal text. One pass over the body, whatever it
// holds: `has_sections` is false when the body has no "<!" and no "<?" past
// the declaration, and then every reference counts.
std::size_t bad_reference(std::string_view body, bool has_sections, BadReference& bad) {
    constexpr std::size_t npos = std::string_view::npos;
    if (!has_sections) {
        for (std::size_t at = 0; (at = body.find("&#", at)) != npos; at += 2)
            if (bad_reference_at(body, at, bad))
                return at;
        return npos;
    }
    // Follows pugixml's reading of markup: a '<' in text opens a comment, a
    // CDATA section, a processing instruction or a tag; in a tag, quotes
    // delimit attribute values, where '<' and "<!--" are plain characters.
    bool in_tag = false;
    char quote = '\0';
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '&') {
            if (bad_reference_at(body, i, bad))
                return i;
            continue;
        }
        if (quote != '\0') {
            if (c == quote)
                quote = '\0';
            continue;
        }
        if (in_tag) {
            if (c == '"' || c == '\'')
                quote = c;
            else if (c == '>')
                in_tag = false;
            continue;
        }
        if (c != '<')
            continue;
        const std::string_view rest = body.substr(i);
        std::string_view close;
        std::size_t open = 0;
        if (rest.starts_with("<!--")) {
            close = "-->";
            open = 4;
        } else if (rest.starts_with("<![CDATA[")) {
            close = "]]>";
            open = 9;
        } else if (rest.starts_with("<?")) {
            close = "?>";
            open = 2;
        } else {
            in_tag = true;
            continue;
        }
        const std::size_t end = body.find(close, i + open);
        if (end == npos)
            return npos; // unterminated: the parser refuses the body
        i = end + close.size() - 1;
    }
    return npos;
}

} // namespace

const char* describe(ValueType type) {
    switch (type) {
    case ValueType::String:
        return "a string";
    case ValueType::Int:
        return "an int";
    case ValueType::Boolean:
        return "a boolean";
    case ValueType::Double:
        return "a double";
    case ValueType::DateTime:
        return "a dateTime.iso8601";
    case ValueType::Base64:
        return "a base64";
    case ValueType::Nil:
        return "a nil";
    case ValueType::Struct:
        return "a struct";
    case ValueType::Array:
        return "an array";
    case ValueType::Unknown:
        break;
    }
    return "a value of unknown type";
}

void ResponseReader::reset() {
    doc_.reset();
    value_ = {};
    fault_code_ = 0;
    fault_string_ = "";
    problem_.clear();
    single_piece_texts_ = false;
    arena_.reset();
}

void ResponseReader::release() {
    reset();
    arena_.release();
    std::string().swap(problem_);
    std::string().swap(path_);
}

bool ResponseReader::fail(std::string why) {
    problem_ = std::move(why);
    return false;
}

ResponseReader::Outcome ResponseReader::parse(std::string& body) {
    reset();
    if (body.empty()) {
        fail("the body is empty");
        return Outcome::Invalid;
    }
    // Entity declarations live in a DOCTYPE; XML-RPC has none. Without any
    // "<!" (DOCTYPE, CDATA, comment) or "<?" past the declaration, every text
    // is one piece, which lets node_text() take pugixml's child_value().
    // '!' and '?' are rare, so memchr on them beats memmem on "<!".
    const char* begin = body.data();
    const std::size_t size = body.size();
    std::size_t prolog = 0;
    if (size > 5 && std::memcmp(begin, "<?xml", 5) == 0) {
        const void* end = memmem(begin, size, "?>", 2);
        prolog = end ? static_cast<std::size_t>(static_cast<const char*>(end) - begin) + 2 : size;
    }
    bool markup = false;
    for (const char* p = begin + 1;
         (p = static_cast<const char*>(
              std::memchr(p, '!', size - static_cast<std::size_t>(p - begin)))) != nullptr;
         ++p) {
        if (p[-1] != '<')
            continue;
        markup = true;
        if (static_cast<std::size_t>(begin + size - p) >= 8 &&
            std::memcmp(p + 1, "DOCTYPE", 7) == 0) {
            fail("it has a DOCTYPE");
            return Outcome::Invalid;
        }
    }
    for (const char* p = begin + prolog; !markup && p < begin + size; ++p) {
        p = static_cast<const char*>(
            std::memchr(p, '?', size - static_cast<std::size_t>(p - begin)));
        if (!p)
            break;
        markup = p > begin && p[-1] == '<';
    }
    single_piece_texts_ = !markup;
    // A NUL would cut a text short without a trace: refused, not shortened.
    if (const void* nul = std::memchr(begin, '\0', size)) {
        fail("it holds a NUL byte at byte " +
             std::to_string(static_cast<const char*>(nul) - begin) + ", which a text cannot carry");
        return Outcome::Invalid;
    }
    BadReference bad;
    const std::size_t bad_at = bad_reference(std::string_view(begin, size), markup, bad);
    if (bad_at != std::string_view::npos) {
        std::string what;
        if (bad.kind == BadReference::Nul) {
            what = "a NUL character (a reference to character 0)";
        } else if (bad.kind == BadReference::Surrogate) {
            char code[8];
            std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(bad.value));
            what = std::string("a reference to U+") + code + ", a surrogate,";
        } else {
            what = "a reference to a character past U+10FFFF";
        }
        fail("it holds " + what + " at byte " + std::to_string(bad_at) +
             ", which a text cannot carry");
        return Outcome::Invalid;
    }
    const pugi::xml_parse_result parsed =
        doc_.load_buffer_inplace(body.data(), body.size(), kParseFlags, pugi::encoding_utf8);
    if (!parsed) {
        fail(std::string("not well-formed XML (") + parsed.description() + ") at byte " +
             std::to_string(parsed.offset));
        return Outcome::Invalid;
    }
    const pugi::xml_node root = doc_.document_element();
    if (!named(root, "methodResponse")) {
        fail(std::string("root element is <") + root.name() + ">, expected <methodResponse>");
        return Outcome::Invalid;
    }
    const pugi::xml_node body_node = first_element(root);
    if (body_node && named(body_node, "params")) {
        const pugi::xml_node param = first_element(body_node);
        if (!param || !named(param, "param") || next_element(param)) {
            fail("<params> must hold exactly one <param>");
            return Outcome::Invalid;
        }
        value_ = element_child(param, "value");
        if (!value_) {
            fail("<param> without <value>");
            return Outcome::Invalid;
        }
        return Outcome::Value;
    }
    if (body_node && named(body_node, "fault")) {
        pugi::xml_node typed;
        const pugi::xml_node value = element_child(body_node, "value");
        if (!value || type_of(value, typed) != ValueType::Struct) {
            fail("<fault> without a struct value");
            return Outcome::Invalid;
        }
        bool have_code = false;
        bool have_string = false;
        for (pugi::xml_node m = first_element(typed); m; m = next_element(m)) {
            const pugi::xml_node name = element_child(m, "name");
            const pugi::xml_node member_value = element_child(m, "value");
            if (!name || !member_value)
                continue;
            pugi::xml_node member_typed;
            const ValueType t = type_of(member_value, member_typed);
            const std::string_view member = node_text(name);
            if (member == "faultCode" && t == ValueType::Int) {
                std::int64_t code = 0;
                if (!parse_int64(node_text(member_typed), code) || code < INT32_MIN ||
                    code > INT32_MAX) {
                    fail("faultCode is not a 32-bit integer");
                    return Outcome::Invalid;
                }
                fault_code_ = static_cast<std::int32_t>(code);
                have_code = true;
            } else if (member == "faultString" && t == ValueType::String) {
                fault_string_ = clean(node_text(member_typed ? member_typed : member_value));
                have_string = true;
            }
        }
        if (!have_code || !have_string) {
            fail("<fault> without an int faultCode and a string faultString");
            return Outcome::Invalid;
        }
        return Outcome::Fault;
    }
    fail("<methodResponse> holds neither <params> nor <fault>");
    return Outcome::Invalid;
}

ValueType ResponseReader::type_of(pugi::xml_node value, pugi::xml_node& typed) {
    typed = first_element(value);
    return typed ? classify(typed.name()) : ValueType::String;
}

const char* ResponseReader::node_text(pugi::xml_node node) {
    if (single_piece_texts_)
        return node.child_value();
    const pugi::xml_node first = node.first_child();
    if (!first)
        return "";
    if (!first.next_sibling() &&
        (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
        return first.value();
    // Text split by CDATA sections or comments: join the pieces.
    std::string joined;
    for (pugi::xml_node c = first; c; c = c.next_sibling())
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            joined += c.value();
    return arena_.copy(joined);
}

const char* ResponseReader::clean(const char* text) {
    const std::string_view whole(text);
    const std::size_t good = clean_prefix(whole);
    if (good == whole.size())
        return text;
    std::string cleaned(whole.substr(0, good));
    append_clean(cleaned, whole.substr(good));
    return arena_.copy(cleaned);
}

const char* ResponseReader::trimmed(const char* text) {
    const std::string_view whole(text);
    const std::string_view inner = trim(whole);
    return inner.size() == whole.size() ? text : arena_.copy(inner);
}

const char* ResponseReader::scalar_text(pugi::xml_node value) {
    pugi::xml_node typed;
    const ValueType type = type_of(value, typed);
    return scalar_text(value, type, typed);
}

const char* ResponseReader::scalar_text(pugi::xml_node value, ValueType type,
                                        pugi::xml_node typed) {
    switch (type) {
    case ValueType::String:
        return clean(node_text(typed ? typed : value));
    case ValueType::Int: {
        const char* text = node_text(typed);
        std::int64_t number = 0;
        if (!parse_int64(text, number)) {
            std::string why = "<";
            why.append(typed.name()).append("> holds \"");
            why.append(std::string_view(text).substr(0, 40)).append("\", not an integer");
            fail(std::move(why));
            return nullptr;
        }
        char buf[24];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, number);
        const std::string_view canonical(buf, static_cast<std::size_t>(end - buf));
        return canonical == text ? text : arena_.copy(canonical);
    }
    case ValueType::Boolean: {
        const std::string_view text = trim(node_text(typed));
        if (text == "1" || text == "true")
            return "1";
        if (text == "0" || text == "false")
            return "0";
        fail("<boolean> holds \"" + std::string(text.substr(0, 40)) + "\", not 0 or 1");
        return nullptr;
    }
    case ValueType::Double:
    case ValueType::DateTime:
        return clean(trimmed(node_text(typed)));
    case ValueType::Base64: {
        const char* text = node_text(typed);
        const std::size_t length = std::strlen(text);
        if (std::strpbrk(text, " \t\r\n") == nullptr)
            return clean(text);
        std::string packed;
        packed.reserve(length);
        for (const char* p = text; *p; ++p)
            if (!is_space(*p))
                packed += *p;
        return clean(arena_.copy(packed));
    }
    case ValueType::Nil:
        return "";
    case ValueType::Struct:
    case ValueType::Array:
        fail(std::string("expected a scalar, found ") + describe(type));
        return nullptr;
    case ValueType::Unknown:
        break;
    }
    fail("unknown value type <" + std::string(typed.name()) + ">");
    return nullptr;
}

const char* ResponseReader::path_name(const std::string& path) {
    path_bytes_ += path.size() + 1;
    if (path_bytes_ > kMaxPathBytes) {
        fail("the names of its nested values take more than " +
             std::to_string(kMaxPathBytes >> 20) + " MiB");
        return nullptr;
    }
    return arena_.copy(path);
}

bool ResponseReader::flatten(pugi::xml_node value, Entries& out) {
    path_.clear();
    path_bytes_ = 0;
    pugi::xml_node typed;
    const ValueType type = type_of(value, typed);
    if (type == ValueType::Struct)
        return walk_struct(typed, path_, true, 1, out);
    if (type == ValueType::Array)
        return walk_array(typed, path_, true, 1, out);
    const char* text = scalar_text(value);
    if (!text)
        return false;
    out.add("0", text);
    return true;
}

bool ResponseReader::walk_value(pugi::xml_node value, std::string& path, const char* direct_name,
                                int depth, Entries& out) {
    if (depth > kMaxDepth)
        return fail("values nested deeper than " + std::to_string(kMaxDepth) + " levels");
    pugi::xml_node typed;
    const ValueType type = type_of(value, typed);
    if (type == ValueType::Struct || type == ValueType::Array) {
        const bool empty = type == ValueType::Struct ? !first_element(typed)
                                                     : !first_element(element_child(typed, "data"));
        if (!empty)
            return type == ValueType::Struct ? walk_struct(typed, path, false, depth, out)
                                             : walk_array(typed, path, false, depth, out);
        const char* name = direct_name ? direct_name : path_name(path);
        if (!name)
            return false;
        out.add(name, type == ValueType::Struct ? "{}" : "[]");
        return true;
    }
    const char* text = scalar_text(value, type, typed);
    if (!text)
        return false;
    const char* name = direct_name ? direct_name : path_name(path);
    if (!name)
        return false;
    out.add(name, text);
    return true;
}

bool ResponseReader::walk_struct(pugi::xml_node node, std::string& path, bool top, int depth,
                                 Entries& out) {
    // Few pugixml calls per member: a GetRecord answer is mostly members.
    for (pugi::xml_node member = node.first_child(); member; member = member.next_sibling()) {
        if (!named(member, "member")) {
            if (member.type() != pugi::node_element)
                continue; // stray text between members
            return fail("<struct> holds <" + std::string(member.name()) + ">, expected <member>");
        }
        const pugi::xml_node name = member.child("name");
        const pugi::xml_node value = member.child("value");
        if (!name || !value)
            return fail("a struct <member> without <name> or <value>");
        const char* member_name = clean(node_text(name));
        if (top) {
            // Top-level scalars, the common case, need no path at all.
            pugi::xml_node typed;
            const ValueType type = type_of(value, typed);
            if (type != ValueType::Struct && type != ValueType::Array) {
                const char* text = scalar_text(value, type, typed);
                if (!text)
                    return false;
                out.add(member_name, text);
                continue;
            }
        }
        const std::size_t mark = path.size();
        if (!top)
            path += '.';
        path += member_name;
        if (!walk_value(value, path, top ? member_name : nullptr, depth + 1, out))
            return false;
        path.resize(mark);
    }
    return true;
}

bool ResponseReader::walk_array(pugi::xml_node node, std::string& path, bool top, int depth,
                                Entries& out) {
    const pugi::xml_node data = element_child(node, "data");
    if (!data)
        return fail("<array> without <data>");
    std::size_t index = 0;
    char digits[24];
    for (pugi::xml_node value = first_element(data); value; value = next_element(value), ++index) {
        if (!named(value, "value"))
            return fail("<data> holds <" + std::string(value.name()) + ">, expected <value>");
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, index);
        const std::string_view number(digits, static_cast<std::size_t>(end - digits));
        const std::size_t mark = path.size();
        if (top) {
            path.append(number);
        } else {
            path += '[';
            path.append(number);
            path += ']';
        }
        if (!walk_value(value, path, nullptr, depth + 1, out))
            return false;
        path.resize(mark);
    }
    return true;
}

} // namespace cwx
