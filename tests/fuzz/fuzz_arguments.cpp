// The core's Name=Value argument parser (the window's argument memo and
// cwcall's arguments) and the list it builds for the library. The input is
// the memo's text as UTF-16 code units, unpaired surrogates included.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>

#include "argument_list.h"
#include "fuzz_support.h"
#include "vcl_text.h"

namespace {

bool is_line_end(QChar c) {
    return c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

void check_part(QStringView part, const char* what) {
    fuzz::check(!part.contains(QChar(u'\0')), what, "holds a NUL");
    if (!part.isEmpty())
        fuzz::check(part.front().unicode() > 32 && part.back().unicode() > 32, what,
                    "is not trimmed");
    for (QChar c : part)
        fuzz::check(!is_line_end(c), what, "runs over a line end");
}

// The text as the library should get it: a surrogate without its partner
// cannot be UTF-8 and becomes U+FFFD.
QString expected_text(QStringView part) {
    QString out;
    for (qsizetype i = 0; i < part.size(); ++i) {
        const QChar c = part[i];
        if (c.isHighSurrogate() && i + 1 < part.size() && part[i + 1].isLowSurrogate()) {
            out += c;
            out += part[++i];
        } else if (c.isSurrogate()) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    const QStringView text(units.data(), static_cast<qsizetype>(units.size()));

    std::vector<arguments::Argument> entries;
    try {
        entries = arguments::parse(text);
    } catch (const vcl::Exception& e) {
        fuzz::check(!e.Message.isEmpty(), "an argument error without a message");
        return 0;
    }
    qsizetype lines = 1;
    for (QChar c : text)
        lines += is_line_end(c);
    fuzz::check(static_cast<qsizetype>(entries.size()) <= lines, "more arguments than lines");
    for (const arguments::Argument& entry : entries) {
        check_part(entry.name, "a name");
        check_part(entry.value, "a value");
        fuzz::check(entry.value.size() <= arguments::MaxValueLength, "a value over the limit");
        // Views into the text, not copies.
        fuzz::check(entry.name.data() >= text.data() &&
                        entry.name.data() + entry.name.size() <= text.data() + text.size(),
                    "a name outside the text");
    }

    NameValueList list{0, nullptr, nullptr};
    arguments::assign(list, entries);
    fuzz::check(list.count == static_cast<std::int32_t>(entries.size()),
                "the list's count differs from the arguments'");
    for (std::int32_t i = 0; i < list.count; ++i) {
        const arguments::Argument& entry = entries[static_cast<std::size_t>(i)];
        // Bytes compared: QString::fromUtf8 would drop a leading U+FEFF.
        fuzz::check(expected_text(entry.name).toUtf8() == list.names[i] &&
                        expected_text(entry.value).toUtf8() == list.values[i],
                    "the list does not hold the arguments as UTF-8", list.values[i]);
        fuzz::check(fuzz::valid_utf8(list.names[i]) && fuzz::valid_utf8(list.values[i]),
                    "the list holds invalid UTF-8");
    }
    arguments::release(list);
    fuzz::check(list.count == 0 && list.names == nullptr && list.values == nullptr,
                "a released list is not empty");
    return 0;
}
