// result_text.cpp - list lines, numbers, the busy answer and the help split.
#include "result_text.h"

#include "vcl_text.h"

namespace resulttext {

QString commandAccepted() {
    return QStringLiteral("Pending command accepted");
}

QString busyText(unsigned char busy) {
    return busy == 1 ? QStringLiteral("True") : QStringLiteral("False");
}

QString number(int32_t value) {
    return QString::number(value);
}

QString fromLibrary(const char* text) {
    return QString::fromUtf8(text != nullptr ? text : "");
}

namespace {

const char* entry(char* const* strings, int32_t i) {
    return strings != nullptr ? strings[i] : nullptr;
}

} // namespace

QString listLines(const NameValueList& list) {
    QString lines;
    if (list.count <= 0)
        return lines;
    // Built in one piece so the memo takes the whole list in one append:
    // appending line by line is far too slow for large lists.
    lines.reserve(static_cast<qsizetype>(list.count) * 24);
    const QString separator = QStringLiteral(" = ");
    for (int32_t i = 0; i < list.count; ++i) {
        if (i > 0)
            lines += u'\n';
        lines += fromLibrary(entry(list.names, i));
        lines += separator;
        lines += fromLibrary(entry(list.values, i));
    }
    return lines;
}

QStringList helpLines(const char* help) {
    QStringList lines;
    // The split drops empty strings, so blank lines and CR LF pairs vanish.
    vcl::ExtractStrings(QString(), QString(),
                        QStringLiteral("-----------\nHELP:\n") + fromLibrary(help), lines);
    return lines;
}

QString prototypesHeading() {
    return QStringLiteral("PROTOTYPE(S):");
}

QString noHelpAvailable() {
    return QStringLiteral("No help available");
}

} // namespace resulttext
