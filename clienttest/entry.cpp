// entry.cpp - the program's options, and the guard around start-up and the
// message loop.
#include "entry.h"

#include "vcl_text.h"

namespace entry {

namespace {

QString FRecordFile;

} // namespace

bool readCommandLine(const QStringList& words, Options& options, QString& error) {
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words.at(i);
        QString file;
        if (word == u"--record") {
            if (i + 1 >= words.size()) {
                error = QStringLiteral("option --record needs a file name");
                return false;
            }
            file = words.at(++i);
        } else if (word.startsWith(QStringLiteral("--record="))) {
            file = word.sliced(9);
        } else {
            continue;
        }
        if (file.isEmpty()) {
            error = QStringLiteral("option --record needs a file name");
            return false;
        }
        options.recordFile = file;
    }
    return true;
}

void setRecordFile(const QString& path) {
    FRecordFile = path;
}

QString recordFile() {
    return FRecordFile;
}

int run(const std::function<void()>& steps,
        const std::function<void(const QString&)>& showException) {
    try {
        steps();
    } catch (const vcl::Exception& e) {
        showException(e.Message);
    } catch (...) {
        // Anything else is shown as an exception with no message.
        showException(QString());
    }
    return 0;
}

} // namespace entry
