#include "sim_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace e2e {

SampleCopy::SampleCopy() {
    if (!FDir.isValid())
        return;
    FOk = true;
    for (const char* name : {"visitors.idc", "visitors.csv"}) {
        const QString from = QStringLiteral(CW_SAMPLES "/") + QString::fromLatin1(name);
        FOk = FOk && QFile::copy(from, FDir.filePath(QString::fromLatin1(name)));
    }
}

bool SimProcess::start(const QStringList& extraArguments, QString& error) {
    const QDir dir(FSample.dir());
    QStringList arguments = {
        QStringLiteral("--show"),      QStringLiteral("hidden"),
        QStringLiteral("--port"),      QStringLiteral("0"),
        QStringLiteral("--bind"),      QStringLiteral("127.0.0.1"),
        QStringLiteral("--print-dir"), dir.filePath(QStringLiteral("prints")),
        QStringLiteral("--call-log"),  dir.filePath(QStringLiteral("calls.log"))};
    arguments += extraArguments;
    // A file, not a pipe: nobody has to keep reading while the window blocks.
    FProcess.setStandardErrorFile(dir.filePath(QStringLiteral("sim.log")));
    FProcess.setStandardOutputFile(QProcess::nullDevice());
    FProcess.start(QStringLiteral(CW_SIM), arguments);
    if (!FProcess.waitForStarted(10000)) {
        error = QStringLiteral("cardwright-sim did not start: ") + FProcess.errorString();
        return false;
    }
    static const QRegularExpression announced(
        QStringLiteral("listening on http://[^ ]*:(\\d+)/RPC2"));
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        const QRegularExpressionMatch match = announced.match(log());
        if (match.hasMatch()) {
            FPort = match.captured(1).toInt();
            return true;
        }
        if (FProcess.waitForFinished(20))
            break; // it ended without listening
    }
    error = QStringLiteral("cardwright-sim did not announce a port; its log:\n") + log();
    return false;
}

QString SimProcess::log() const {
    QFile file(QDir(FSample.dir()).filePath(QStringLiteral("sim.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void SimProcess::stop() {
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(10000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

void SimProcess::kill() {
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.kill();
    FProcess.waitForFinished(5000);
}

int freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool listening(int port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return socket.waitForConnected(200);
}

QStringList commandLine(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList words = QString::fromLocal8Bit(file.readAll()).split(QChar(0));
    if (!words.isEmpty() && words.last().isEmpty())
        words.removeLast();
    return words;
}

namespace {

// A zombie has finished; only its parent (init, after the launch's double
// fork) has yet to collect it.
bool isZombie(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray stat = file.readAll();
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) == "Z";
}

} // namespace

QList<qint64> processesWith(const QString& word) {
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QStringList words = commandLine(pid);
        if (words.join(u' ').contains(word) && !isZombie(pid))
            found.append(pid);
    }
    return found;
}

} // namespace e2e
