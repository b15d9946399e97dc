// The library's response decoder, from the HTTP body to what a caller gets:
// the steps of Client (client.cpp) after the transfer, on one parse: the
// recorded body (GetReceivedXML), the fault, the flattened list (lists,
// methods), the scalar (commands, numbers, texts), the signature arrays
// (prototypes) and a base64 picture.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "clean_text.h"
#include "cw_bitmap.h"
#include "fuzz_support.h"
#include "picture.h"
#include "response.h"

namespace {

using cwx::ResponseReader;
using cwx::ValueType;

// Whether the body holds a character reference whose value pugixml takes as
// 0, outside comments, CDATA sections and processing instructions (where it
// is literal text). pugixml adds up the digits in 32 bits, so
// "&#4294967296;" is such a reference too. One pass, independent of the
// library's own check.
bool has_nul_reference(std::string_view body) {
    std::size_t i = 0;
    auto skip_to = [&](std::string_view end) {
        const std::size_t at = body.find(end, i);
        i = at == std::string_view::npos ? body.size() : at + end.size();
    };
    while (i < body.size()) {
        if (body.compare(i, 4, "<!--") == 0) {
            i += 4;
            skip_to("-->");
        } else if (body.compare(i, 9, "<![CDATA[") == 0) {
            i += 9;
            skip_to("]]>");
        } else if (body.compare(i, 2, "<?") == 0) {
            i += 2;
            skip_to("?>");
        } else if (body.compare(i, 2, "&#") == 0) {
            std::size_t p = i + 2;
            const bool hex = p < body.size() && (body[p] == 'x' || body[p] == 'X');
            if (hex)
                ++p;
            std::uint32_t value = 0;
            const std::size_t digits = p;
            for (; p < body.size(); ++p) {
                const char c = body[p];
                unsigned d = 0;
                if (c >= '0' && c <= '9')
                    d = static_cast<unsigned>(c - '0');
                else if (hex && c >= 'a' && c <= 'f')
                    d = static_cast<unsigned>(c - 'a' + 10);
                else if (hex && c >= 'A' && c <= 'F')
                    d = static_cast<unsigned>(c - 'A' + 10);
                else
                    break;
                value = value * (hex ? 16u : 10u) + d;
            }
            if (p > digits && p < body.size() && body[p] == ';' && value == 0)
                return true;
            i += 2;
        } else {
            ++i;
        }
    }
    return false;
}

void check_int_text(const char* text) {
    // Client::number reads it with from_chars: the canonical decimal form.
    std::int64_t number = 0;
    const std::size_t length = std::strlen(text);
    const auto [end, ec] = std::from_chars(text, text + length, number);
    fuzz::check(ec == std::errc() && end == text + length, "an int's text is not a whole integer",
                text);
}

void check_scalar(ResponseReader& reader, pugi::xml_node value, const char* what) {
    pugi::xml_node typed;
    const ValueType type = ResponseReader::type_of(value, typed);
    const char* text = reader.scalar_text(value);
    if (!text) {
        fuzz::check(!reader.problem().empty(), "a refused scalar without a reason");
        return;
    }
    fuzz::check_caller_text(text, what);
    if (type == ValueType::Int)
        check_int_text(text);
    if (type == ValueType::Boolean)
        fuzz::check(std::strcmp(text, "0") == 0 || std::strcmp(text, "1") == 0,
                    "a boolean is neither 0 nor 1", text);
}

void check_list(ResponseReader& reader, pugi::xml_node value) {
    cwx::Entries entries;
    if (!reader.flatten(value, entries)) {
        fuzz::check(!reader.problem().empty(), "a refused list without a reason");
        return;
    }
    fuzz::check(entries.names.size() == entries.values.size(), "names and values differ in count");
    for (std::size_t i = 0; i < entries.names.size(); ++i) {
        fuzz::check_caller_text(entries.names[i], "a list name");
        fuzz::check_caller_text(entries.values[i], "a list value");
    }
}

// As Client::prototypes: an array of signature arrays of type names.
void check_signatures(ResponseReader& reader, pugi::xml_node typed) {
    for (pugi::xml_node signature = typed.child("data").child("value"); signature;
         signature = signature.next_sibling("value")) {
        pugi::xml_node signature_array;
        if (ResponseReader::type_of(signature, signature_array) != ValueType::Array)
            return;
        for (pugi::xml_node part = signature_array.child("data").child("value"); part;
             part = part.next_sibling("value")) {
            const char* word = reader.scalar_text(part);
            if (!word)
                return;
            fuzz::check_caller_text(word, "a signature's type");
        }
    }
}

// As Client::picture.
void check_picture(ResponseReader& reader, pugi::xml_node typed) {
    std::vector<unsigned char> png;
    std::string why;
    if (!cwx::decode_base64(reader.node_text(typed), png, why)) {
        fuzz::check(!why.empty(), "a refused base64 without a reason");
        return;
    }
    const CWBitmap bitmap = cwx::decode_png(png, why);
    if (!bitmap) {
        fuzz::check(!why.empty(), "a refused picture without a reason");
        return;
    }
    fuzz::check(cw_bitmap_width(bitmap) > 0 && cw_bitmap_height(bitmap) > 0, "an empty bitmap");
    cw_bitmap_delete(bitmap);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    const bool nul_reference = has_nul_reference(body);

    // What GetReceivedXML hands out.
    std::string received = body;
    cwx::make_clean(received);
    fuzz::check_caller_text(received.c_str(), "the recorded response");
    fuzz::check(received.find('\0') == std::string::npos, "the recorded response holds a NUL");

    static ResponseReader reader;
    const ResponseReader::Outcome outcome = reader.parse(body);
    if (outcome == ResponseReader::Outcome::Invalid) {
        fuzz::check(!reader.problem().empty(), "a refused response without a reason");
        std::string text = reader.problem();
        cwx::make_clean(text);
        fuzz::check_caller_text(text.c_str(), "the error text");
        return 0;
    }
    // A reference to character 0 would end a text early: the call must fail.
    fuzz::check(!nul_reference, "a response with a reference to character 0 was taken");
    if (outcome == ResponseReader::Outcome::Fault) {
        fuzz::check_caller_text(reader.fault_string(), "a fault string");
        return 0;
    }
    const pugi::xml_node value = reader.value();
    fuzz::check(bool(value), "an answer without a value");
    pugi::xml_node typed;
    const ValueType type = ResponseReader::type_of(value, typed);
    check_list(reader, value);
    check_scalar(reader, value, "a scalar answer");
    if (type == ValueType::Array)
        check_signatures(reader, typed);
    if (type == ValueType::Base64)
        check_picture(reader, typed);
    fuzz::check(cw_bitmap_live_count() == 0, "a bitmap was leaked");
    return 0;
}
