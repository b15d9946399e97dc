// sim_process.h - a cardwright-sim of the build, started on a free loopback
// port in a temporary folder that holds a copy of the sample design, so its
// roster, prints and logs never land in the source tree.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace e2e {

// The folder of a fresh copy of samples/visitors.idc (and its CSV).
class SampleCopy {
  public:
    SampleCopy();
    bool ok() const { return FOk; }
    QString dir() const { return FDir.path(); }
    QString design() const { return FDir.filePath(QStringLiteral("visitors.idc")); }

  private:
    QTemporaryDir FDir;
    bool FOk = false;
};

class SimProcess {
  public:
    explicit SimProcess(const SampleCopy& sample) : FSample(sample) {}
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it hidden with no design open and waits (bounded) until it says
    // which port it took. False (with `error`) when it did not.
    bool start(const QStringList& extraArguments, QString& error);
    int port() const { return FPort; }
    qint64 pid() const { return FProcess.processId(); }
    // Everything it wrote to stderr so far.
    QString log() const;
    // SIGTERM, a bounded wait, then SIGKILL.
    void stop();
    // SIGKILL at once, as a crash would end it, and collects it.
    void kill();

  private:
    const SampleCopy& FSample;
    QProcess FProcess;
    int FPort = 0;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int freePort();
// True when something accepts connections on 127.0.0.1:port.
bool listening(int port);
// Live (not zombie) processes whose command line holds `word`.
QList<qint64> processesWith(const QString& word);
// A process's command-line words, empty when it is gone.
QStringList commandLine(qint64 pid);

} // namespace e2e
