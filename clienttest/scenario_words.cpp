// scenario_words.cpp - splitting and quoting a statement's words, and the
// check that turns a call's argument words into the library's list.
#include "scenario.h"

#include "argument_list.h"
#include "vcl_text.h"

#include <utility>
#include <vector>

namespace scenario {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// Characters a word may hold without quotes: nothing a shell-like splitter
// would read specially.
bool isPlain(QChar c) {
    if (c.isLetterOrNumber())
        return true;
    switch (c.unicode()) {
    case u'_':
    case u'-':
    case u'+':
    case u'=':
    case u'.':
    case u',':
    case u':':
    case u'/':
    case u'@':
    case u'%':
        return true;
    default:
        return false;
    }
}

} // namespace

QString joinWords(const QStringList& words) {
    QString line;
    for (const QString& word : words) {
        if (!line.isEmpty())
            line += u' ';
        bool plain = !word.isEmpty();
        for (const QChar c : word)
            plain = plain && isPlain(c);
        if (plain) {
            line += word;
            continue;
        }
        line += u'\'';
        for (const QChar c : word) {
            if (c == u'\'')
                line += QStringLiteral("'\\''");
            else
                line += c;
        }
        line += u'\'';
    }
    return line;
}

QStringList splitWords(QStringView line, QString* error) {
    QStringList words;
    QString word;
    bool inWord = false;
    const qsizetype n = line.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = line[i];
        if (isBlank(c)) {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
            continue;
        }
        if (!inWord && c == u'#')
            break; // a comment to the end of the line, as in a shell
        inWord = true;
        if (c == u'\'') {
            const qsizetype close = line.indexOf(u'\'', i + 1);
            if (close < 0) {
                if (error != nullptr)
                    *error = QStringLiteral("unterminated single quote");
                return {};
            }
            word += line.sliced(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            qsizetype j = i + 1;
            for (; j < n && line[j] != u'"'; ++j) {
                if (line[j] == u'\\' && j + 1 < n &&
                    (line[j + 1] == u'$' || line[j + 1] == u'`' || line[j + 1] == u'"' ||
                     line[j + 1] == u'\\'))
                    ++j;
                word += line[j];
            }
            if (j >= n) {
                if (error != nullptr)
                    *error = QStringLiteral("unterminated double quote");
                return {};
            }
            i = j;
        } else if (c == u'\\') {
            if (i + 1 >= n) {
                if (error != nullptr)
                    *error = QStringLiteral("backslash at the end of the line");
                return {};
            }
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

bool buildArguments(const methods::Entry& entry, const QStringList& words, NameValueList& list,
                    QString& error) {
    if (!methods::takesArguments(entry.family)) {
        if (words.isEmpty())
            return true;
        error = QStringLiteral("%1 takes no arguments").arg(QString::fromUtf8(entry.name));
        return false;
    }
    std::vector<arguments::Argument> entries;
    for (const QString& word : words) {
        // One word is one line: a line break inside would make two.
        if (word.contains(u'\n') || word.contains(QChar::ParagraphSeparator) ||
            word.contains(QChar::LineSeparator)) {
            error = QStringLiteral("'%1' holds a line break; give each Name=Value as its own word")
                        .arg(word);
            return false;
        }
        try {
            const std::vector<arguments::Argument> parsed = arguments::parse(word);
            entries.insert(entries.end(), parsed.begin(), parsed.end());
        } catch (const vcl::Exception& e) {
            error = QStringLiteral("'%1': %2").arg(word, e.Message);
            return false;
        }
    }
    arguments::assign(list, entries);
    return true;
}

} // namespace scenario
