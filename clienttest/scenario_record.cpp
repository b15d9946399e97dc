// scenario_record.cpp - the expect lines that describe what a call came back
// with, and appending a recording to its file.
#include "scenario.h"

#include "result_text.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace scenario {

namespace {

// A value on one line: values with a line break become an anchored regular
// expression with \n and \r spelt out.
QString valueExpectation(const QString& subject, const QString& value) {
    const QString trimmed = value.trimmed();
    if (!trimmed.contains(u'\n') && !trimmed.contains(u'\r'))
        return trimmed.isEmpty() ? subject + QStringLiteral(" =")
                                 : subject + QStringLiteral(" = ") + trimmed;
    QString pattern = QRegularExpression::escape(trimmed);
    pattern.replace(QStringLiteral("\\\n"), QStringLiteral("\\n"));
    pattern.replace(QStringLiteral("\\\r"), QStringLiteral("\\r"));
    return subject + QStringLiteral(" ~ ^") + pattern + u'$';
}

} // namespace

QString pictureSha256(CWBitmap bitmap) {
    const int32_t width = cw_bitmap_width(bitmap);
    const int32_t height = cw_bitmap_height(bitmap);
    const uint32_t* pixels = cw_bitmap_pixels(bitmap);
    if (width <= 0 || height <= 0 || pixels == nullptr)
        return {};
    const int32_t rowPixels = cw_bitmap_stride(bitmap) / 4;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> row(static_cast<size_t>(width) * 4);
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* source = pixels + static_cast<size_t>(y) * static_cast<size_t>(rowPixels);
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t argb = source[x];
            char* rgba = row.data() + static_cast<size_t>(x) * 4;
            rgba[0] = static_cast<char>((argb >> 16) & 0xff);
            rgba[1] = static_cast<char>((argb >> 8) & 0xff);
            rgba[2] = static_cast<char>(argb & 0xff);
            rgba[3] = static_cast<char>((argb >> 24) & 0xff);
        }
        hash.addData(QByteArrayView(row.data(), static_cast<qsizetype>(row.size())));
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString expectLines(const methods::Outcome& outcome) {
    using Kind = methods::Outcome::Kind;
    const QString expect = QStringLiteral("expect ");
    QString lines;
    switch (outcome.kind) {
    case Kind::List: {
        const NameValueList* list = outcome.list;
        const int32_t count = list != nullptr && list->count > 0 ? list->count : 0;
        for (int32_t i = 0; i < count; ++i) {
            const QString name =
                resulttext::fromLibrary(list->names != nullptr ? list->names[i] : nullptr);
            const QString value =
                resulttext::fromLibrary(list->values != nullptr ? list->values[i] : nullptr);
            // An entry without a name cannot be written as NAME = VALUE;
            // `entries N` still counts it.
            if (!name.trimmed().isEmpty())
                lines += expect + valueExpectation(name.trimmed(), value) + u'\n';
        }
        lines += expect + QStringLiteral("entries %1\n").arg(count);
        break;
    }
    case Kind::Accepted:
        lines += expect + QStringLiteral("accepted\n");
        break;
    case Kind::Number:
        lines += expect + QStringLiteral("= %1\n").arg(outcome.number);
        break;
    case Kind::Boolean:
        lines += expect + (outcome.flag ? QStringLiteral("true\n") : QStringLiteral("false\n"));
        break;
    case Kind::Text:
        lines += expect + valueExpectation(QStringLiteral("text"), outcome.text) + u'\n';
        break;
    case Kind::Picture:
        lines += expect + QStringLiteral("picture %1 x %2\n")
                              .arg(cw_bitmap_width(outcome.bitmap))
                              .arg(cw_bitmap_height(outcome.bitmap));
        lines += expect + QStringLiteral("picture sha256 ") + pictureSha256(outcome.bitmap) + u'\n';
        break;
    case Kind::Failed:
        lines += expect + QStringLiteral("error %1\n").arg(outcome.errorCode);
        break;
    }
    return lines;
}

QString recordedCall(const QString& method, const QStringList& words,
                     const methods::Outcome& outcome) {
    QStringList all{method};
    all += words;
    return QStringLiteral("call ") + joinWords(all) + u'\n' + expectLines(outcome) + u'\n';
}

bool appendRecording(const QString& path, const QString& text, QString& error) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = QStringLiteral("cannot open %1: %2")
                    .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = QStringLiteral("cannot write %1: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            return false;
        }
        done += n;
    }
    if (::close(fd) != 0) {
        error = QStringLiteral("cannot write %1: %2")
                    .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace scenario
