// The scenario (.cwt) parser that `cwcall test` reads files with, and the
// write-back (--update) that rewrites them. A file is kept byte for byte
// where nothing changes, so parse and write-back must give the input back.
#include <cstdint>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "fuzz_support.h"
#include "scenario.h"

namespace {

void check_words(QStringView line) {
    QString error;
    const QStringList words = scenario::splitWords(line, &error);
    if (!error.isEmpty()) {
        fuzz::check(words.isEmpty(), "words and an error at once");
        return;
    }
    // Quoting the words gives a line that splits back into them.
    QString again;
    const QStringList back = scenario::splitWords(scenario::joinWords(words), &again);
    fuzz::check(again.isEmpty() && back == words, "joined words do not split back",
                scenario::joinWords(words).toStdString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString path = QStringLiteral("t.cwt");

    for (const QString& line : QString::fromUtf8(content).split(u'\n'))
        if (!line.contains(u'\r'))
            check_words(line);

    scenario::Scenario parsed;
    QStringList errors;
    const bool ok = scenario::parse(path, content, {QStringLiteral("given")}, parsed, errors);
    fuzz::check(ok == errors.isEmpty(), "parse's answer and its errors disagree");
    for (const QString& error : errors)
        fuzz::check(error.startsWith(path + u':'), "an error that does not name file and line",
                    error.toStdString());
    if (!ok)
        return 0;

    const std::vector<QByteArrayView> lines = scenario::linesOf(parsed.content);
    QByteArray joined;
    for (const QByteArrayView line : lines)
        joined += line;
    fuzz::check(joined == content, "the lines kept are not the file");
    for (const scenario::Call& call : parsed.calls) {
        fuzz::check(call.entry != nullptr, "a call without its catalogue entry");
        fuzz::check(call.line >= 1 && call.line <= static_cast<int>(lines.size()),
                    "a call's line is outside the file");
        fuzz::check(call.templated || call.arguments != nullptr,
                    "a call without its argument list");
        for (const scenario::Expectation& e : call.expectations)
            fuzz::check(e.line > call.line, "an expectation above its call");
    }
    // Writing back with nothing new changes nothing.
    const std::vector<QString> fresh(parsed.calls.size());
    fuzz::check(scenario::updated(parsed, fresh) == content,
                "a write-back without news changed the file");
    return 0;
}
