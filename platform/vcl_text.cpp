// vcl_text.cpp - the framework's text routines: Trim, AnsiPos, StrToInt,
// ExtractStrings. Plain Qt Core; no widgets.
#include "vcl_text.h"

#include <limits>

namespace vcl {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

bool isLineBreak(QChar c) {
    return c == u'\r' || c == u'\n';
}

// Value of an ASCII digit in `base`, or -1. Other scripts' digits are refused:
// a port or a count typed with them is almost certainly a mistake.
int digitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int v = -1;
    if (u >= u'0' && u <= u'9')
        v = u - u'0';
    else if (u >= u'a' && u <= u'f')
        v = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        v = u - u'A' + 10;
    return v < base ? v : -1;
}

} // namespace

QStringView Trim(QStringView s) {
    qsizetype first = 0;
    qsizetype last = s.size();
    while (first < last && s[first].unicode() <= 32)
        ++first;
    while (last > first && s[last - 1].unicode() <= 32)
        --last;
    return s.sliced(first, last - first);
}

int AnsiPos(QStringView sub, QStringView s) {
    if (sub.isEmpty())
        return 0;
    const qsizetype at = s.indexOf(sub, 0, Qt::CaseSensitive);
    if (at < 0 || at >= std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(at) + 1;
}

int32_t StrToInt(const QString& s) {
    const auto refuse = [&s]() -> EConvertError {
        return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(s));
    };

    qsizetype i = 0;
    qsizetype end = s.size();
    while (i < end && isBlank(s.at(i)))
        ++i;
    while (end > i && isBlank(s.at(end - 1)))
        --end;

    bool negative = false;
    if (i < end && (s.at(i) == u'+' || s.at(i) == u'-')) {
        negative = s.at(i) == u'-';
        ++i;
    }

    int base = 10;
    if (i < end && s.at(i) == u'$') {
        base = 16;
        ++i;
    } else if (end - i >= 2 && s.at(i) == u'0' && (s.at(i + 1) == u'x' || s.at(i + 1) == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == end)
        throw refuse();

    // Accumulate the magnitude; the most negative value has one more unit
    // than the most positive.
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t magnitude = 0;
    for (; i < end; ++i) {
        const int d = digitValue(s.at(i), base);
        if (d < 0)
            throw refuse();
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            throw refuse();
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int ExtractStrings(const QString& separators, const QString& whitespace, const QString& content,
                   QStringList& strings) {
    int added = 0;
    const qsizetype n = content.size();
    qsizetype i = 0;
    while (i < n) {
        // Leading white space (and the breaks of blank lines) is skipped.
        while (i < n && (isLineBreak(content.at(i)) || whitespace.contains(content.at(i))))
            ++i;
        const qsizetype head = i;
        while (i < n && !isLineBreak(content.at(i)) && !separators.contains(content.at(i)))
            ++i;
        if (i > head) {
            strings.append(content.mid(head, i - head));
            ++added;
        }
        ++i; // past the separator
    }
    return added;
}

QString DialogFilter(const QString& filter) {
    if (filter.isEmpty())
        return {};
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString patterns = i + 1 < parts.size() ? parts.at(i + 1) : QString();
        patterns.replace(u';', u' ');
        patterns = patterns.simplified();
        if (patterns.isEmpty())
            patterns = QStringLiteral("*");
        filters.append(QStringLiteral("%1 (%2)").arg(parts.at(i).trimmed(), patterns));
    }
    return filters.join(QStringLiteral(";;"));
}

} // namespace vcl
