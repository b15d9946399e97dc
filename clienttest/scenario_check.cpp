// scenario_check.cpp - checking what a call came back with against its
// expectations, the diff of list results, and writing expectations back.
#include "scenario.h"

#include "result_text.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace scenario {

namespace {

using Kind = Expectation::Kind;
using OutcomeKind = methods::Outcome::Kind;

// Above this many cells the diff is not aligned line by line: the two
// lists are shown whole, one removed, one added.
constexpr size_t MaxDiffCells = 4'000'000;
constexpr qsizetype DiffContext = 3;

struct Entry {
    QString name;  // trimmed
    QString value; // as it came
};

std::vector<Entry> entriesOf(const NameValueList* list) {
    std::vector<Entry> entries;
    if (list == nullptr || list->count <= 0)
        return entries;
    entries.reserve(static_cast<size_t>(list->count));
    for (int32_t i = 0; i < list->count; ++i)
        entries.push_back(
            {resulttext::fromLibrary(list->names != nullptr ? list->names[i] : nullptr).trimmed(),
             resulttext::fromLibrary(list->values != nullptr ? list->values[i] : nullptr)});
    return entries;
}

bool isError(Kind kind) {
    return kind == Kind::AnyError || kind == Kind::ErrorCode || kind == Kind::ErrorMatches;
}

bool compare(int64_t actual, Expectation::Op op, int64_t wanted) {
    switch (op) {
    case Expectation::Op::Eq:
        return actual == wanted;
    case Expectation::Op::Ne:
        return actual != wanted;
    case Expectation::Op::Lt:
        return actual < wanted;
    case Expectation::Op::Le:
        return actual <= wanted;
    case Expectation::Op::Gt:
        return actual > wanted;
    case Expectation::Op::Ge:
        return actual >= wanted;
    }
    return false;
}

QString milliseconds(int64_t micros) {
    return QString::number(static_cast<double>(micros) / 1000.0, 'f', 1) + QStringLiteral(" ms");
}

// One expectation with its variables read: the fields check looks at.
struct Resolved {
    QString name, operand;
    const QRegularExpression* regex = nullptr; // the expectation's own
    int64_t number = 0;
};

bool resolve(const Expectation& e, const Variables& variables, Resolved& r, QString& error) {
    if (!e.templated) {
        r.name = e.name;
        r.operand = e.operand;
        r.regex = &e.regex;
        r.number = e.number;
        return true;
    }
    if (!substitute(e.name, variables, r.name, error) ||
        !substitute(e.operand, variables, r.operand, error))
        return false;
    switch (e.kind) {
    case Kind::EntryMatches:
    case Kind::TextMatches:
    case Kind::ErrorMatches:
        // Compiled again only when the variables give another pattern.
        if (!e.builtRegex || e.builtPattern != r.operand) {
            e.builtPattern = r.operand;
            e.builtRegex.emplace(r.operand);
        }
        r.regex = &*e.builtRegex;
        if (!r.regex->isValid()) {
            error = QStringLiteral("bad regular expression '%1': %2")
                        .arg(r.operand, r.regex->errorString());
            return false;
        }
        break;
    case Kind::Entries:
    case Kind::Compare:
    case Kind::ErrorCode: {
        bool ok = false;
        r.number = r.operand.toLongLong(&ok);
        if (!ok) {
            error = QStringLiteral("'%1' is not a whole number").arg(r.operand);
            return false;
        }
        break;
    }
    default:
        break;
    }
    return true;
}

// ASCII blanks at either end dropped, as trimmed() drops them.
QByteArrayView trimmedBytes(const char* text) {
    QByteArrayView v(text != nullptr ? text : "");
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!v.isEmpty() && blank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && blank(v.back()))
        v.chop(1);
    return v;
}

// Whether an entry expectation holds, judged on the library's UTF-8 bytes
// without making text of the whole list. False means "not shown here": the
// text comparison decides (and words the failure).
bool passesAsBytes(const Expectation& e, const NameValueList* list, int32_t count) {
    if (list == nullptr || list->names == nullptr || list->values == nullptr)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        if (list->names[i] == nullptr || QByteArrayView(list->names[i]) != e.nameBytes)
            continue;
        if (e.kind == Kind::EntryEquals) {
            if (trimmedBytes(list->values[i]) == e.valueBytes)
                return true;
        } else if (e.regex.match(resulttext::fromLibrary(list->values[i]).trimmed()).hasMatch()) {
            return true;
        }
    }
    return false;
}

} // namespace

Verdict check(const QString& path, const Call& call, const methods::Outcome& outcome,
              int64_t micros, Variables& variables) {
    Verdict verdict;
    const auto failure = [&](const Expectation& e, const QString& what) {
        verdict.failures.append(
            QStringLiteral("%1:%2: expect %3: %4").arg(path).arg(e.line).arg(e.source, what));
    };
    const bool failed = outcome.kind == OutcomeKind::Failed;
    const QString errorLine =
        failed ? QStringLiteral("error %1: %2").arg(outcome.errorCode).arg(outcome.errorText)
               : QString();
    bool errorExpected = false;
    for (const Expectation& e : call.expectations)
        errorExpected = errorExpected || isError(e.kind);
    if (failed && !errorExpected)
        verdict.failures.append(
            QStringLiteral("%1:%2: the call failed: %3").arg(path).arg(call.line).arg(errorLine));

    // The list as text, read when a check needs more than a byte comparison.
    const NameValueList* list = outcome.kind == OutcomeKind::List ? outcome.list : nullptr;
    const int32_t listCount = list != nullptr && list->count > 0 ? list->count : 0;
    std::optional<std::vector<Entry>> read;
    const auto entries = [&]() -> const std::vector<Entry>& {
        if (!read)
            read = entriesOf(list);
        return *read;
    };
    QString sha; // computed once, when asked for
    // The expected lines differ from the actual ones where a check failed.
    // expectedLines runs beside the entries (a null line: one expected
    // absent); extraExpected holds what is expected beyond them.
    bool listFailed = false;
    // Built at the first failed list check: a passing call needs none.
    QStringList actualLines, expectedLines, extraExpected;
    const auto startDiff = [&] {
        if (listFailed)
            return;
        listFailed = true;
        for (const Entry& entry : entries())
            actualLines.append(entry.name + QStringLiteral(" = ") + entry.value);
        expectedLines = actualLines;
    };
    const auto firstLineOf = [&entries](const QString& name) -> qsizetype {
        for (size_t i = 0; i < entries().size(); ++i)
            if (entries()[i].name == name)
                return static_cast<qsizetype>(i);
        return -1;
    };

    for (const Expectation& e : call.expectations) {
        Resolved r;
        QString error;
        if (!resolve(e, variables, r, error)) {
            failure(e, error);
            continue;
        }
        if (e.kind == Kind::Time) {
            if (micros >= e.number)
                failure(e, QStringLiteral("took %1").arg(milliseconds(micros)));
            continue;
        }
        if (isError(e.kind)) {
            if (!failed) {
                failure(e, QStringLiteral("the call succeeded"));
            } else if (e.kind == Kind::ErrorCode && outcome.errorCode != r.number) {
                failure(e, QStringLiteral("came back %1").arg(errorLine));
            } else if (e.kind == Kind::ErrorMatches &&
                       !r.regex->match(outcome.errorText).hasMatch()) {
                failure(e, QStringLiteral("came back %1").arg(errorLine));
            }
            continue;
        }
        if (failed)
            continue; // reported once above
        switch (e.kind) {
        case Kind::EntryEquals:
        case Kind::EntryMatches: {
            if (!e.templated && passesAsBytes(e, list, listCount))
                break; // the common case: no text made
            const QString wanted = r.operand.trimmed();
            bool any = false;
            QStringList values;
            for (const Entry& entry : entries()) {
                if (entry.name != r.name)
                    continue;
                const QString value = entry.value.trimmed();
                values.append(value);
                any = any || (e.kind == Kind::EntryEquals ? value == wanted
                                                          : r.regex->match(value).hasMatch());
            }
            if (any)
                break;
            failure(e, values.isEmpty() ? QStringLiteral("no entry %1").arg(r.name)
                                        : QStringLiteral("%1 = %2").arg(
                                              r.name, values.join(QStringLiteral(", "))));
            startDiff();
            const QString line =
                r.name +
                (e.kind == Kind::EntryEquals ? QStringLiteral(" = ") : QStringLiteral(" ~ ")) +
                r.operand.trimmed();
            if (const qsizetype at = firstLineOf(r.name); at >= 0)
                expectedLines[at] = line;
            else
                extraExpected.append(line);
            break;
        }
        case Kind::EntryAbsent:
            if (const qsizetype at = firstLineOf(r.name); at >= 0) {
                failure(e, QStringLiteral("%1 = %2").arg(r.name, entries()[at].value.trimmed()));
                startDiff();
                for (size_t i = 0; i < entries().size(); ++i)
                    if (entries()[i].name == r.name)
                        expectedLines[static_cast<qsizetype>(i)] = QString(); // dropped
            }
            break;
        case Kind::Entries:
            if (listCount != r.number) {
                failure(e, QStringLiteral("%1 entries").arg(listCount));
                startDiff();
                extraExpected.append(QStringLiteral("(entries %1)").arg(r.number));
                actualLines.append(QStringLiteral("(entries %1)").arg(listCount));
            }
            break;
        case Kind::Accepted:
            break; // a status other than accepted is a failure, handled above
        case Kind::Boolean:
            if (outcome.flag != e.flag)
                failure(e, outcome.flag ? QStringLiteral("came back true")
                                        : QStringLiteral("came back false"));
            break;
        case Kind::Compare:
            if (!compare(outcome.number, e.op, r.number))
                failure(e, QStringLiteral("came back %1").arg(outcome.number));
            break;
        case Kind::TextEquals:
        case Kind::TextMatches: {
            const QString text = outcome.text.trimmed();
            const bool ok = e.kind == Kind::TextEquals ? text == r.operand.trimmed()
                                                       : r.regex->match(text).hasMatch();
            if (!ok)
                failure(e, QStringLiteral("came back '%1'").arg(text));
            break;
        }
        case Kind::PictureSize: {
            const int32_t w = cw_bitmap_width(outcome.bitmap);
            const int32_t h = cw_bitmap_height(outcome.bitmap);
            if (w != e.width || h != e.height)
                failure(e, QStringLiteral("came back %1 x %2").arg(w).arg(h));
            break;
        }
        case Kind::PictureSha256:
            if (sha.isEmpty())
                sha = pictureSha256(outcome.bitmap);
            if (sha != r.operand)
                failure(e, QStringLiteral("came back %1").arg(sha));
            break;
        default:
            break;
        }
    }
    if (listFailed) {
        QStringList expected;
        for (const QString& line : std::as_const(expectedLines))
            if (!line.isNull())
                expected.append(line);
        verdict.diff = unifiedDiff(expected + extraExpected, actualLines);
    }

    for (const Capture& c : call.captures) {
        QString value;
        bool taken = false;
        if (!c.entry.isEmpty() && outcome.kind == OutcomeKind::List) {
            for (const Entry& entry : entries()) {
                if (entry.name == c.entry) {
                    value = entry.value.trimmed();
                    taken = true;
                    break;
                }
            }
        } else if (c.entry.isEmpty()) {
            taken = true;
            if (outcome.kind == OutcomeKind::Number)
                value = QString::number(outcome.number);
            else if (outcome.kind == OutcomeKind::Boolean)
                value = outcome.flag ? QStringLiteral("true") : QStringLiteral("false");
            else if (outcome.kind == OutcomeKind::Text)
                value = outcome.text.trimmed();
            else
                taken = false;
        }
        if (taken) {
            variables.insert(c.variable, value);
            continue;
        }
        variables.remove(c.variable); // a later use reports it has no value
        if (!failed)
            verdict.failures.append(QStringLiteral("%1:%2: capture %3 = %4: no entry %4")
                                        .arg(path)
                                        .arg(c.line)
                                        .arg(c.variable, c.entry));
    }
    // In line order: the call's own failure first, then statement by statement.
    std::stable_sort(
        verdict.failures.begin(), verdict.failures.end(),
        [&path](const QString& a, const QString& b) {
            const auto lineOf = [&path](const QString& s) {
                return QStringView(s).sliced(path.size() + 1).split(u':').first().toInt();
            };
            return lineOf(a) < lineOf(b);
        });
    return verdict;
}

QStringList unifiedDiff(const QStringList& expected, const QStringList& actual) {
    if (expected == actual)
        return {};
    const size_t n = static_cast<size_t>(expected.size());
    const size_t m = static_cast<size_t>(actual.size());
    // Edit script: ' ' kept, '-' expected only, '+' actual only.
    std::vector<std::pair<char, QString>> script;
    if ((n + 1) * (m + 1) > MaxDiffCells) {
        for (const QString& s : expected)
            script.emplace_back('-', s);
        for (const QString& s : actual)
            script.emplace_back('+', s);
    } else {
        // Longest common subsequence, from the ends.
        std::vector<uint32_t> lcs((n + 1) * (m + 1), 0);
        const auto at = [&](size_t i, size_t j) -> uint32_t& { return lcs[i * (m + 1) + j]; };
        for (size_t i = n; i-- > 0;)
            for (size_t j = m; j-- > 0;)
                at(i, j) = expected[static_cast<qsizetype>(i)] == actual[static_cast<qsizetype>(j)]
                               ? at(i + 1, j + 1) + 1
                               : std::max(at(i + 1, j), at(i, j + 1));
        size_t i = 0, j = 0;
        while (i < n || j < m) {
            if (i < n && j < m &&
                expected[static_cast<qsizetype>(i)] == actual[static_cast<qsizetype>(j)]) {
                script.emplace_back(' ', expected[static_cast<qsizetype>(i)]);
                ++i, ++j;
            } else if (j < m && (i == n || at(i, j + 1) >= at(i + 1, j))) {
                script.emplace_back('+', actual[static_cast<qsizetype>(j)]);
                ++j;
            } else {
                script.emplace_back('-', expected[static_cast<qsizetype>(i)]);
                ++i;
            }
        }
        // Removals before additions within a run of changes, as diff -u shows them.
        for (size_t k = 0; k < script.size();) {
            size_t end = k;
            while (end < script.size() && script[end].first != ' ')
                ++end;
            std::stable_partition(script.begin() + static_cast<std::ptrdiff_t>(k),
                                  script.begin() + static_cast<std::ptrdiff_t>(end),
                                  [](const auto& p) { return p.first == '-'; });
            k = end == k ? k + 1 : end;
        }
    }
    QStringList out{QStringLiteral("--- expected"), QStringLiteral("+++ actual")};
    const qsizetype total = static_cast<qsizetype>(script.size());
    qsizetype k = 0;
    while (k < total) {
        while (k < total && script[static_cast<size_t>(k)].first == ' ')
            ++k;
        if (k >= total)
            break;
        // A hunk: from DiffContext before the change to DiffContext after the
        // last change that is no more than 2 * DiffContext unchanged lines on.
        qsizetype start = std::max<qsizetype>(0, k - DiffContext);
        qsizetype end = k;
        qsizetype lastChange = k;
        while (end < total) {
            if (script[static_cast<size_t>(end)].first != ' ')
                lastChange = end;
            else if (end - lastChange > 2 * DiffContext)
                break;
            ++end;
        }
        end = std::min(total, lastChange + DiffContext + 1);
        qsizetype oldStart = 0, newStart = 0;
        for (qsizetype x = 0; x < start; ++x) {
            oldStart += script[static_cast<size_t>(x)].first != '+';
            newStart += script[static_cast<size_t>(x)].first != '-';
        }
        qsizetype oldCount = 0, newCount = 0;
        QStringList body;
        for (qsizetype x = start; x < end; ++x) {
            const auto& [mark, text] = script[static_cast<size_t>(x)];
            oldCount += mark != '+';
            newCount += mark != '-';
            body.append(QChar::fromLatin1(mark) + text);
        }
        out.append(QStringLiteral("@@ -%1,%2 +%3,%4 @@")
                       .arg(oldCount ? oldStart + 1 : oldStart)
                       .arg(oldCount)
                       .arg(newCount ? newStart + 1 : newStart)
                       .arg(newCount));
        out += body;
        k = end;
    }
    return out;
}

QByteArray updated(const Scenario& scenario, const std::vector<QString>& fresh) {
    const std::vector<QByteArrayView> lines = linesOf(scenario.content);
    // Per line: what replaces it (kept as it is when absent).
    std::vector<std::optional<QByteArray>> replacement(lines.size());
    for (size_t c = 0; c < scenario.calls.size() && c < fresh.size(); ++c) {
        const Call& call = scenario.calls[c];
        if (fresh[c].isEmpty())
            continue;
        const QByteArrayView callLine = lines[static_cast<size_t>(call.line - 1)];
        const bool crlf = callLine.endsWith("\r\n");
        QByteArray text = fresh[c].toUtf8();
        if (crlf)
            text.replace("\n", "\r\n");
        bool placed = false;
        for (const Expectation& e : call.expectations) {
            if (e.kind == Expectation::Kind::Time)
                continue;
            replacement[static_cast<size_t>(e.line - 1)] = placed ? QByteArray() : text;
            placed = true;
        }
        if (!placed) {
            // Right under the call line (which may be the last, without a break).
            QByteArray line = callLine.toByteArray();
            if (!line.endsWith('\n'))
                line += crlf ? "\r\n" : "\n";
            replacement[static_cast<size_t>(call.line - 1)] = line + text;
        }
    }
    QByteArray out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (replacement[i])
            out += *replacement[i];
        else
            out += lines[i];
    }
    return out;
}

} // namespace scenario
