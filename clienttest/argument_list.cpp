// argument_list.cpp - the Name=Value parser and the malloc'ed argument list.
//
// Works on views of the memo's text and converts each part to UTF-8 once,
// straight into the copies the library gets: 10,000 lines take a few
// milliseconds.
#include "argument_list.h"

#include "vcl_text.h"

#include <QStringEncoder>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace arguments {

QString structureMustBeSelected() {
    return QStringLiteral("Structure must be selected");
}

QString invalidStructureFormat() {
    return QStringLiteral("Invalid structure format.\nEach line must be Name=Value");
}

QString nulCharacterInLine(int lineNumber) {
    return QStringLiteral(
               "Invalid structure format.\nLine %1 holds a NUL character, which cannot be passed")
        .arg(lineNumber);
}

namespace {

bool isLineEnd(QChar c) {
    return c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

// At most `length` code units, without splitting a surrogate pair: half a
// character would reach the library as a replacement character.
QStringView cut(QStringView s, qsizetype length) {
    if (s.size() <= length)
        return s;
    QStringView part = s.first(length);
    if (part.back().isHighSurrogate() && s[length].isLowSurrogate())
        part.chop(1);
    return part;
}

} // namespace

std::vector<Argument> parse(QStringView text) {
    std::vector<Argument> entries;
    int lineNumber = 0;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && !isLineEnd(text[end]))
            ++end;
        const QStringView line = text.sliced(start, end - start);
        start = end + 1;
        ++lineNumber;

        if (vcl::Trim(line).isEmpty())
            continue;
        const int equals = vcl::AnsiPos(u"=", line); // the first "=", counted from 1
        if (equals == 0)
            throw vcl::Exception(invalidStructureFormat());
        const QStringView name = vcl::Trim(line.first(equals - 1));
        const QStringView value = vcl::Trim(cut(line.sliced(equals), MaxValueLength));
        // A NUL would silently cut the string handed to the library, so a
        // criterion such as a Delete key could reach it shortened.
        if (name.contains(QChar(u'\0')) || value.contains(QChar(u'\0')))
            throw vcl::Exception(nulCharacterInLine(lineNumber));
        entries.push_back({name, value});
    }
    return entries;
}

void release(NameValueList& list) {
    for (int32_t i = 0; i < list.count; ++i) {
        if (list.names != nullptr)
            std::free(list.names[i]);
        if (list.values != nullptr)
            std::free(list.values[i]);
    }
    if (list.count > 0) {
        std::free(static_cast<void*>(list.names));
        std::free(static_cast<void*>(list.values));
    }
    list.count = 0;
    list.names = nullptr;
    list.values = nullptr;
}

namespace {

void freeStrings(char** strings, size_t count) {
    if (strings == nullptr)
        return;
    for (size_t i = 0; i < count; ++i)
        std::free(strings[i]);
    std::free(static_cast<void*>(strings));
}

// UTF-8 copies through one reused buffer. The encoder is stateless: a
// stateful one keeps a surrogate that ends one text for the next: the text
// lost it, and the next one started with a replacement character.
class Utf8Copier {
  public:
    char* copy(QStringView text) {
        const qsizetype room = encoder.requiredSpace(text.size()) + 1;
        if (buffer.size() < static_cast<size_t>(room))
            buffer.resize(static_cast<size_t>(room));
        char* end = encoder.appendToBuffer(buffer.data(), text);
        *end = '\0';
        return ::strdup(buffer.data());
    }

  private:
    QStringEncoder encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    std::string buffer;
};

} // namespace

void assign(NameValueList& list, const std::vector<Argument>& entries) {
    if (entries.size() > static_cast<size_t>(INT32_MAX))
        throw std::bad_alloc();
    const size_t count = entries.size();
    char** names = nullptr;
    char** values = nullptr;
    if (count > 0) {
        names = static_cast<char**>(std::malloc(count * sizeof(char*)));
        values = static_cast<char**>(std::malloc(count * sizeof(char*)));
        bool ok = names != nullptr && values != nullptr;
        // Every slot null first, so that a build cut short frees cleanly.
        for (size_t j = 0; ok && j < count; ++j)
            names[j] = values[j] = nullptr;
        Utf8Copier copier;
        for (size_t j = 0; ok && j < count; ++j) {
            names[j] = copier.copy(entries[j].name);
            values[j] = copier.copy(entries[j].value);
            ok = names[j] != nullptr && values[j] != nullptr;
        }
        if (!ok) {
            freeStrings(names, names != nullptr ? count : 0);
            freeStrings(values, values != nullptr ? count : 0);
            throw std::bad_alloc();
        }
    }
    release(list);
    list.count = static_cast<int32_t>(count);
    list.names = names;
    list.values = values;
}

} // namespace arguments
