// argument_list.cpp - the Name=Value parser and the malloc'ed argument list.
#include "argument_list.h"

#include "vcl.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace arguments {

QString structureMustBeSelected() { return QStringLiteral("Structure must be selected"); }

QString invalidStructureFormat()
{
    return QStringLiteral("Invalid structure format.\nEach line must be Name=Value");
}

QString nulCharacterInLine(int lineNumber)
{
    return QStringLiteral("Invalid structure format.\nLine %1 holds a NUL character, which cannot be passed")
        .arg(lineNumber);
}

namespace {

// Cuts after at most `length` code units without splitting a surrogate pair:
// half a character would reach the library as a replacement character.
QString cutValue(const QString& line, qsizetype from, qsizetype length)
{
    QString part = line.mid(from, length);
    if (part.size() == length && part.back().isHighSurrogate() && from + length < line.size()
        && line.at(from + length).isLowSurrogate())
        part.chop(1);
    return part;
}

} // namespace

std::vector<Argument> parse(const QStringList& lines)
{
    std::vector<Argument> entries;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (vcl::Trim(line).isEmpty())
            continue;
        const int p = vcl::AnsiPos(QStringLiteral("="), line);
        if (p == 0)
            throw vcl::Exception(invalidStructureFormat());
        const QString name = vcl::Trim(line.left(p - 1));
        const QString value = vcl::Trim(cutValue(line, p, MaxValueLength));
        // A NUL would silently cut the string handed to the library, so a
        // criterion such as a Delete key could reach it shortened.
        if (name.contains(QChar(u'\0')) || value.contains(QChar(u'\0')))
            throw vcl::Exception(nulCharacterInLine(static_cast<int>(i + 1)));
        entries.push_back({name.toUtf8(), value.toUtf8()});
    }
    return entries;
}

void release(NameValueList& list)
{
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

void freeStrings(char** strings, size_t count)
{
    if (strings == nullptr)
        return;
    for (size_t i = 0; i < count; ++i)
        std::free(strings[i]);
    std::free(static_cast<void*>(strings));
}

} // namespace

void assign(NameValueList& list, const std::vector<Argument>& entries)
{
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
        for (size_t j = 0; ok && j < count; ++j) {
            names[j] = ::strdup(entries[j].name.constData());
            values[j] = ::strdup(entries[j].value.constData());
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
