// report.cpp - the four ways `cwcall test` reports a run.
#include "report.h"

#include "scenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

namespace cwcall {

namespace {

// printf's fixed notation, without a locale's; "1.2".
std::string_view millisecondDigits(int64_t micros, int decimals, std::array<char, 48>& room) {
    const auto end =
        std::to_chars(room.data(), room.data() + room.size(), static_cast<double>(micros) / 1000.0,
                      std::chars_format::fixed, decimals)
            .ptr;
    return {room.data(), static_cast<size_t>(end - room.data())};
}

QString milliseconds(int64_t micros, int decimals = 1) {
    std::array<char, 48> room;
    const std::string_view digits = millisecondDigits(micros, decimals, room);
    return QLatin1StringView(digits.data(), static_cast<qsizetype>(digits.size())) +
           QLatin1StringView(" ms");
}

// ASCII, the common case, is copied as it stands.
void appendUtf8(std::string& out, QStringView text) {
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(text.size()));
    const char16_t* from = text.utf16();
    char* to = out.data() + at;
    qsizetype ascii = 0;
    for (; ascii < text.size() && from[ascii] < 0x80; ++ascii)
        to[ascii] = static_cast<char>(from[ascii]);
    if (ascii == text.size())
        return;
    out.resize(at + static_cast<size_t>(ascii));
    const QByteArray rest = text.sliced(ascii).toUtf8();
    out.append(rest.constData(), static_cast<size_t>(rest.size()));
}

// Appends FILE:LINE METHOD WORDS; a method name (the catalogue's) needs no quoting.
void appendTitle(std::string& text, const RunResult& run, const CallResult& call) {
    if (call.file >= 0 && call.file < run.files.size())
        appendUtf8(text, run.files[call.file]);
    text += ':';
    std::array<char, 16> digits;
    text.append(digits.data(),
                std::to_chars(digits.data(), digits.data() + digits.size(), call.line).ptr);
    text += ' ';
    appendUtf8(text, call.method);
    if (!call.words.isEmpty()) {
        text += ' ';
        appendUtf8(text, scenario::joinWords(call.words));
    }
}

QString title(const RunResult& run, const CallResult& call) {
    std::string text;
    appendTitle(text, run, call);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// XML 1.0 cannot carry most control characters, even escaped.
QString xmlSafe(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            c = QChar::ReplacementCharacter;
    return out;
}

QString seconds(int64_t micros) {
    return QString::number(static_cast<double>(micros) / 1e6, 'f', 6);
}

size_t failedCount(const RunResult& run) {
    return static_cast<size_t>(std::count_if(run.calls.begin(), run.calls.end(),
                                             [](const CallResult& c) { return !c.passed(); }));
}

} // namespace

int64_t percentile(const std::vector<int64_t>& sorted, double p) {
    if (sorted.empty())
        return 0;
    const auto rank =
        static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

std::string plainCall(const RunResult& run, const CallResult& call) {
    std::string text;
    text.reserve(120); // a passing call's line, in one piece
    text += call.passed() ? "ok " : "FAIL ";
    appendTitle(text, run, call);
    if (call.sent) {
        std::array<char, 48> room;
        text += " (";
        text += millisecondDigits(call.micros, 1, room);
        text += " ms)";
    }
    text += '\n';
    for (const QString& failure : call.failures) {
        text += "  ";
        appendUtf8(text, failure);
        text += '\n';
    }
    for (const QString& line : call.diff) {
        text += "    ";
        appendUtf8(text, line);
        text += '\n';
    }
    return text;
}

QString plainSummary(const RunResult& run) {
    const size_t total = run.calls.size();
    const size_t failed = failedCount(run);
    QString text = QStringLiteral("%1 calls, %2 passed, %3 failed in %4 s\n")
                       .arg(total)
                       .arg(total - failed)
                       .arg(failed)
                       .arg(run.seconds, 0, 'f', 3);
    if (run.jobs == 1 && run.repeat == 1)
        return text;
    text += QStringLiteral("%1 calls per second (%2 jobs, %3 rounds each)\n")
                .arg(run.seconds > 0 ? static_cast<double>(total) / run.seconds : 0.0, 0, 'f', 0)
                .arg(run.jobs)
                .arg(run.repeat);
    QMap<QString, std::vector<int64_t>> times;
    for (const CallResult& call : run.calls)
        if (call.sent)
            times[call.method].push_back(call.micros);
    for (auto it = times.begin(); it != times.end(); ++it) {
        std::vector<int64_t>& t = it.value();
        std::sort(t.begin(), t.end());
        text += QStringLiteral("  %1: %2 calls, p50 %3, p90 %4, p99 %5, max %6\n")
                    .arg(it.key())
                    .arg(t.size())
                    .arg(milliseconds(percentile(t, 50), 2), milliseconds(percentile(t, 90), 2),
                         milliseconds(percentile(t, 99), 2), milliseconds(t.back(), 2));
    }
    return text;
}

QString tapReport(const RunResult& run) {
    QString text = QStringLiteral("TAP version 14\n1..%1\n").arg(run.calls.size());
    int n = 0;
    for (const CallResult& call : run.calls) {
        // "#" starts a directive in a description; "\" escapes it.
        QString description = title(run, call);
        description.replace(u'\\', QStringLiteral("\\\\")).replace(u'#', QStringLiteral("\\#"));
        description.replace(u'\n', u' ');
        text += QStringLiteral("%1 %2 - %3\n")
                    .arg(call.passed() ? QStringLiteral("ok") : QStringLiteral("not ok"))
                    .arg(++n)
                    .arg(description);
        if (call.passed())
            continue;
        // A YAML diagnostic block; JSON strings are YAML flow scalars.
        const auto quoted = [](const QString& s) {
            return QString::fromUtf8(QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact))
                .chopped(1)
                .sliced(1);
        };
        text += QStringLiteral("  ---\n");
        text += QStringLiteral("  message: ") + quoted(call.failures.value(0)) + u'\n';
        text += QStringLiteral("  failures:\n");
        for (const QString& failure : call.failures)
            text += QStringLiteral("    - ") + quoted(failure) + u'\n';
        if (!call.diff.isEmpty()) {
            text += QStringLiteral("  diff:\n");
            for (const QString& line : call.diff)
                text += QStringLiteral("    - ") + quoted(line) + u'\n';
        }
        text += QStringLiteral("  duration_ms: %1\n")
                    .arg(static_cast<double>(call.micros) / 1000.0, 0, 'f', 3);
        text += QStringLiteral("  ...\n");
    }
    return text;
}

QString junitReport(const RunResult& run) {
    QString xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("cwcall test"));
    w.writeAttribute(QStringLiteral("tests"), QString::number(run.calls.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failedCount(run)));
    w.writeAttribute(QStringLiteral("time"), QString::number(run.seconds, 'f', 6));
    for (int32_t f = 0; f < run.files.size(); ++f) {
        std::vector<const CallResult*> calls;
        int64_t micros = 0;
        size_t failed = 0;
        for (const CallResult& call : run.calls) {
            if (call.file != f)
                continue;
            calls.push_back(&call);
            micros += call.micros;
            failed += call.passed() ? 0 : 1;
        }
        w.writeStartElement(QStringLiteral("testsuite"));
        w.writeAttribute(QStringLiteral("name"), xmlSafe(run.files[f]));
        w.writeAttribute(QStringLiteral("tests"), QString::number(calls.size()));
        w.writeAttribute(QStringLiteral("failures"), QString::number(failed));
        w.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        w.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
        w.writeAttribute(QStringLiteral("time"), seconds(micros));
        for (const CallResult* call : calls) {
            w.writeStartElement(QStringLiteral("testcase"));
            w.writeAttribute(QStringLiteral("name"), xmlSafe(title(run, *call)));
            w.writeAttribute(QStringLiteral("classname"), xmlSafe(run.files[f]));
            w.writeAttribute(QStringLiteral("file"), xmlSafe(run.files[f]));
            w.writeAttribute(QStringLiteral("line"), QString::number(call->line));
            w.writeAttribute(QStringLiteral("time"), seconds(call->micros));
            if (!call->passed()) {
                w.writeStartElement(QStringLiteral("failure"));
                w.writeAttribute(QStringLiteral("message"), xmlSafe(call->failures.value(0)));
                w.writeAttribute(QStringLiteral("type"), QStringLiteral("expectation"));
                QStringList body = call->failures;
                body += call->diff;
                w.writeCharacters(xmlSafe(body.join(u'\n')));
                w.writeEndElement();
            }
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

QString jsonReport(const RunResult& run) {
    QJsonArray calls;
    for (const CallResult& call : run.calls) {
        QJsonObject o;
        o.insert(QStringLiteral("file"), run.files.value(call.file));
        o.insert(QStringLiteral("line"), call.line);
        o.insert(QStringLiteral("method"), call.method);
        o.insert(QStringLiteral("words"), QJsonArray::fromStringList(call.words));
        o.insert(QStringLiteral("sent"), call.sent);
        o.insert(QStringLiteral("outcome"), call.outcome);
        o.insert(QStringLiteral("passed"), call.passed());
        o.insert(QStringLiteral("failures"), QJsonArray::fromStringList(call.failures));
        o.insert(QStringLiteral("diff"), QJsonArray::fromStringList(call.diff));
        o.insert(QStringLiteral("duration_us"), static_cast<qint64>(call.micros));
        o.insert(QStringLiteral("process"), call.process);
        o.insert(QStringLiteral("round"), call.round);
        calls.append(o);
    }
    const size_t failed = failedCount(run);
    QJsonObject summary{{QStringLiteral("calls"), static_cast<qint64>(run.calls.size())},
                        {QStringLiteral("passed"), static_cast<qint64>(run.calls.size() - failed)},
                        {QStringLiteral("failed"), static_cast<qint64>(failed)},
                        {QStringLiteral("seconds"), run.seconds},
                        {QStringLiteral("jobs"), run.jobs},
                        {QStringLiteral("repeat"), run.repeat}};
    const QJsonObject root{{QStringLiteral("files"), QJsonArray::fromStringList(run.files)},
                           {QStringLiteral("calls"), calls},
                           {QStringLiteral("summary"), summary}};
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

} // namespace cwcall
