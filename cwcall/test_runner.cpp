// test_runner.cpp - `cwcall test`: parse every file first, then call,
// check and report; with --jobs, forked processes each with their own
// connection, their results merged.
#include "test_runner.h"

#include "command_line.h"
#include "heap.h"
#include "report.h"
#include "result_text.h"
#include "scenario.h"

#include "cwxmlclient.h"

#include <QDataStream>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

namespace cwcall {

namespace {

enum ExitCode { Passed = 0, CheckFailed = 1, Usage = 2, Unreachable = 3 };

constexpr int32_t MaxRepeat = 1'000'000; // every call's result is kept for the reports
constexpr int32_t MaxJobs = 256;         // processes, each with its own connection
constexpr auto AttemptPause = std::chrono::seconds(1);
// Room for the plain lines of a long run without a write per call.
constexpr size_t OutputBuffer = 1 << 16;

void writeBytes(std::FILE* stream, std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

void write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    writeBytes(stream, {bytes.constData(), static_cast<size_t>(bytes.size())});
}

QString outcomeText(const methods::Outcome& o) {
    using Kind = methods::Outcome::Kind;
    switch (o.kind) {
    case Kind::List:
        return QString::number(o.list != nullptr ? std::max(o.list->count, 0) : 0) +
               QLatin1StringView(" entries");
    case Kind::Accepted:
        return QStringLiteral("accepted");
    case Kind::Number:
        return QStringLiteral("= %1").arg(o.number);
    case Kind::Boolean:
        return o.flag ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Text:
        return QStringLiteral("text ") + o.text.trimmed();
    case Kind::Picture:
        return QStringLiteral("picture %1 x %2")
            .arg(cw_bitmap_width(o.bitmap))
            .arg(cw_bitmap_height(o.bitmap));
    case Kind::Failed:
        break;
    }
    return QStringLiteral("error %1: %2").arg(o.errorCode).arg(o.errorText);
}

QString lastError() {
    const int32_t code = ::GetErrorCode(); // the text belongs to this code
    return QStringLiteral("error %1: %2").arg(code).arg(resulttext::fromLibrary(::GetErrorText()));
}

// What one process does: its settings, the wait, every file `repeat` times.
class Session {
  public:
    Session(const TestOptions& o, const std::vector<scenario::Scenario>& scenarios, int32_t process,
            bool streamPlain, RunResult& run)
        : o_(o), scenarios_(scenarios), process_(process), stream_(streamPlain), run_(run) {
        for (const QString& v : o.variables) {
            const qsizetype eq = v.indexOf(u'=');
            given_.insert(v.first(eq), v.sliced(eq + 1));
        }
    }

    // False when the settings were refused (a usage error) or Cardwright
    // never answered the wait (unreachable); the reason is printed.
    bool connect(int& status) {
        if (::SetXMLPort(o_.port) == 0 || ::SetHostName(o_.host.toUtf8().constData()) == 0 ||
            (!o_.key.isEmpty() && ::SetXMLAccessKey(o_.key.toUtf8().constData()) == 0)) {
            write(stderr, QStringLiteral("cwcall test: ") + lastError() + u'\n');
            status = Usage;
            return false;
        }
        ::EnableXMLAccess(0); // nobody reads the bodies; recording them costs
        if (o_.wait == 0)
            return true;
        for (int32_t left = o_.wait; left > 0; --left) {
            if (::GetMethods() != nullptr)
                return true;
            if (left > 1)
                std::this_thread::sleep_for(AttemptPause);
        }
        write(stderr,
              QStringLiteral("cwcall test: Cardwright did not answer: ") + lastError() + u'\n');
        status = Unreachable;
        return false;
    }

    void runAll(std::vector<QString>* fresh) {
        for (int32_t round = 0; round < o_.repeat; ++round)
            for (size_t f = 0; f < scenarios_.size(); ++f)
                runFile(static_cast<int32_t>(f), round, fresh != nullptr ? &fresh[f] : nullptr);
    }

  private:
    void runFile(int32_t file, int32_t round, std::vector<QString>* fresh) {
        const scenario::Scenario& s = scenarios_[static_cast<size_t>(file)];
        scenario::Variables variables = given_;
        if (fresh != nullptr)
            fresh->assign(s.calls.size(), QString());
        for (size_t i = 0; i < s.calls.size(); ++i) {
            const scenario::Call& call = s.calls[i];
            CallResult r;
            r.file = file;
            r.line = call.line;
            r.method = call.method;
            r.process = process_;
            r.round = round;
            std::shared_ptr<NameValueList> list;
            QString error;
            if (!scenario::argumentsFor(call, variables, r.words, list, error)) {
                r.words = call.words;
                r.outcome = QStringLiteral("not sent");
                r.failures.append(
                    QStringLiteral("%1:%2: not sent: %3").arg(s.path).arg(call.line).arg(error));
            } else {
                const auto start = std::chrono::steady_clock::now();
                methods::Outcome outcome = methods::callChecked(*call.entry, *list);
                const auto end = std::chrono::steady_clock::now();
                r.sent = true;
                r.micros =
                    std::chrono::duration_cast<std::chrono::microseconds>(end - start).count();
                r.failedCall = outcome.kind == methods::Outcome::Kind::Failed;
                r.errorCode = outcome.errorCode;
                if (o_.json) // only the JSON report shows it
                    r.outcome = outcomeText(outcome);
                scenario::Verdict verdict =
                    scenario::check(s.path, call, outcome, r.micros, variables);
                r.failures = std::move(verdict.failures);
                r.diff = std::move(verdict.diff);
                if (fresh != nullptr)
                    (*fresh)[i] = scenario::expectLines(outcome);
                cw_bitmap_delete(outcome.bitmap);
            }
            if (stream_ && (o_.repeat == 1 || !r.passed()))
                writeBytes(stdout, plainCall(run_, r));
            run_.calls.push_back(std::move(r));
        }
    }

    const TestOptions& o_;
    const std::vector<scenario::Scenario>& scenarios_;
    int32_t process_;
    bool stream_;
    RunResult& run_;
    scenario::Variables given_;
};

// ---- Results across processes ---------------------------------------------------------

QDataStream& operator<<(QDataStream& s, const CallResult& r) {
    return s << r.file << r.line << r.method << r.words << r.sent << r.outcome << r.errorCode
             << r.failedCall << r.failures << r.diff << static_cast<qint64>(r.micros) << r.process
             << r.round;
}

QDataStream& operator>>(QDataStream& s, CallResult& r) {
    qint64 micros = 0;
    s >> r.file >> r.line >> r.method >> r.words >> r.sent >> r.outcome >> r.errorCode >>
        r.failedCall >> r.failures >> r.diff >> micros >> r.process >> r.round;
    r.micros = micros;
    return s;
}

// A job's results and its status, as it leaves them in its file.
bool saveJob(const QString& path, const RunResult& run, int status) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out << static_cast<qint32>(status) << static_cast<quint64>(run.calls.size());
    for (const CallResult& r : run.calls)
        out << r;
    return out.status() == QDataStream::Ok && file.flush();
}

bool loadJob(const QString& path, RunResult& run, int& status) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    qint32 s = 0;
    quint64 count = 0;
    in >> s >> count;
    status = s;
    for (quint64 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        CallResult r;
        in >> r;
        run.calls.push_back(std::move(r));
    }
    return in.status() == QDataStream::Ok;
}

// The library's code when every sent call failed with the same one (and
// there was one), else 0: CWX_ERR_CONNECT means nobody answered at all,
// CWX_ERR_SETTINGS that the host, port or key given cannot be used.
int32_t sharedFailure(const RunResult& run) {
    int32_t code = 0;
    for (const CallResult& r : run.calls) {
        if (!r.sent)
            continue;
        if (!r.failedCall || (code != 0 && r.errorCode != code))
            return 0;
        code = r.errorCode;
    }
    return code;
}

bool writeReport(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const QByteArray bytes = text.toUtf8();
        if (file.write(bytes) == bytes.size() && file.commit())
            return true;
    }
    write(stderr,
          QStringLiteral("cwcall test: cannot write %1: %2\n").arg(path, file.errorString()));
    return false;
}

int usageFailure(const QString& reason) {
    QString line = reason;
    line.replace(u'\n', u' ');
    write(stderr, QStringLiteral("cwcall test: ") + line + u'\n');
    write(stderr, QStringLiteral("Try 'cwcall test --help' for more information.\n"));
    return Usage;
}

} // namespace

TestOptions parseTestCommandLine(int argc, char** argv) {
    QStringList words;
    for (int i = 2; i < argc; ++i)
        words.append(decodeWord(argv[i]));
    TestOptions o;
    OptionReader options(words);
    while (options.next(o.files)) {
        const QString& name = options.name();
        if (connectionOption(options, o))
            continue;
        if (name == u"--var") {
            const QString v = options.value();
            const qsizetype eq = v.indexOf(u'=');
            const QString var = eq < 0 ? v : v.first(eq);
            bool identifier = !var.isEmpty() && (var[0].isLetter() || var[0] == u'_');
            for (const QChar c : var)
                identifier = identifier && (c.isLetterOrNumber() || c == u'_');
            if (eq < 0 || !identifier)
                throw UsageError(QStringLiteral("--var needs VAR=VALUE with VAR of letters, "
                                                "digits and _, not '%1'")
                                     .arg(v));
            o.variables.append(v);
        } else if (name == u"--junit") {
            o.junit = options.fileValue();
        } else if (name == u"--json") {
            o.json = options.fileValue();
        } else if (name == u"--tap") {
            options.noValue();
            o.tap = true;
        } else if (name == u"--update") {
            options.noValue();
            o.update = true;
        } else if (name == u"--repeat") {
            o.repeat = integerOption(name, options.value(), 1, MaxRepeat);
        } else if (name == u"--jobs") {
            o.jobs = integerOption(name, options.value(), 1, MaxJobs);
        } else if (name == u"--help") {
            options.noValue();
            o.help = true;
            return o;
        } else {
            throw UsageError(QStringLiteral("unknown option '%1'").arg(name));
        }
    }
    if (o.files.isEmpty())
        throw UsageError(QStringLiteral("no scenario file given"));
    if (o.update && (o.repeat > 1 || o.jobs > 1))
        throw UsageError(QStringLiteral("--update runs each file once: no --repeat or --jobs"));
    return o;
}

QString testUsageText() {
    return QStringLiteral(
        "Usage: cwcall test [OPTION]... FILE...\n"
        "Replay scenario files (.cwt): make each call, check what came back against\n"
        "its expectations and report. See docs/scenarios.md for the format.\n"
        "\n"
        "Options:\n"
        "  --host H, --port P, --key K, --wait N   as for cwcall\n"
        "  --var VAR=VALUE     set {{VAR}} for every file (may be repeated)\n"
        "  --tap               print TAP version 14 instead of the plain lines\n"
        "  --junit FILE        also write a JUnit XML report to FILE\n"
        "  --json FILE         also write every call's result as JSON to FILE\n"
        "  --update            rewrite each file's expect lines from what came back\n"
        "                      (expect time lines and everything else stay as they are)\n"
        "  --repeat N          run every file N times\n"
        "  --jobs J            run J processes side by side, each with its own connection;\n"
        "                      the summary adds calls per second and per-method times\n"
        "  --help              show this help and exit\n"
        "\n"
        "Exit status:\n"
        "  0  every check passed\n"
        "  1  a check failed\n"
        "  2  usage or scenario error (nothing was sent), a host, port or key that\n"
        "     cannot be used, or a report that could not be written\n"
        "  3  Cardwright could not be reached at all\n");
}

int runTests(int argc, char** argv) {
    TestOptions o;
    std::vector<scenario::Scenario> scenarios;
    try {
        o = parseTestCommandLine(argc, argv);
    } catch (const UsageError& e) {
        return usageFailure(e.Reason);
    }
    if (o.help) {
        write(stdout, testUsageText());
        return Passed;
    }
    QStringList given;
    for (const QString& v : o.variables)
        given.append(v.first(v.indexOf(u'=')));
    preferHugePages();
    QStringList errors;
    scenarios.resize(static_cast<size_t>(o.files.size()));
    for (qsizetype f = 0; f < o.files.size(); ++f)
        scenario::parseFile(o.files[f], given, scenarios[static_cast<size_t>(f)], errors);
    if (!errors.isEmpty()) {
        for (const QString& e : errors)
            write(stderr, e + u'\n');
        return Usage;
    }

    static char buffer[OutputBuffer];
    // A person watching sees each call as it ends; a pipe gets whole blocks.
    std::setvbuf(stdout, buffer, ::isatty(STDOUT_FILENO) != 0 ? _IOLBF : _IOFBF, sizeof buffer);

    RunResult run;
    run.files = o.files;
    run.jobs = o.jobs;
    run.repeat = o.repeat;
    int status = Passed;
    std::vector<std::vector<QString>> fresh(o.update ? scenarios.size() : 0);
    const auto start = std::chrono::steady_clock::now();
    if (o.jobs == 1) {
        Session session(o, scenarios, 0, !o.tap, run);
        if (session.connect(status))
            session.runAll(o.update ? fresh.data() : nullptr);
        ::CloseXML();
    } else {
        QTemporaryDir dir;
        if (!dir.isValid()) {
            write(stderr, QStringLiteral("cwcall test: cannot make a folder for the jobs: %1\n")
                              .arg(dir.errorString()));
            return Usage;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        std::vector<pid_t> children;
        for (int32_t j = 0; j < o.jobs; ++j) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                RunResult mine;
                mine.files = o.files;
                int childStatus = Passed;
                Session session(o, scenarios, j, false, mine);
                if (session.connect(childStatus))
                    session.runAll(nullptr);
                ::CloseXML();
                const bool saved = saveJob(dir.filePath(QString::number(j)), mine, childStatus);
                std::fflush(stderr);
                ::_exit(saved ? 0 : 1);
            }
            if (pid < 0) {
                write(stderr, QStringLiteral("cwcall test: cannot start job %1: %2\n")
                                  .arg(j + 1)
                                  .arg(QString::fromLocal8Bit(std::strerror(errno))));
                status = CheckFailed;
                break;
            }
            children.push_back(pid);
        }
        bool allUnreachable = !children.empty();
        for (size_t j = 0; j < children.size(); ++j) {
            int wstatus = 0;
            while (::waitpid(children[j], &wstatus, 0) < 0 && errno == EINTR) {
            }
            int jobStatus = Passed;
            if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0 ||
                !loadJob(dir.filePath(QString::number(j)), run, jobStatus)) {
                write(stderr,
                      QStringLiteral("cwcall test: job %1 ended without its results\n").arg(j + 1));
                status = std::max(status, static_cast<int>(CheckFailed));
                allUnreachable = false;
                continue;
            }
            if (jobStatus == Usage)
                status = Usage;
            allUnreachable = allUnreachable && jobStatus == Unreachable;
        }
        if (allUnreachable)
            status = Unreachable;
        if (!o.tap)
            for (const CallResult& r : run.calls)
                if (!r.passed())
                    writeBytes(stdout, plainCall(run, r));
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (status == Passed && sharedFailure(run) == CWX_ERR_CONNECT)
        status = Unreachable;
    if (status == Passed && sharedFailure(run) == CWX_ERR_SETTINGS)
        status = Usage;
    if (status == Passed)
        for (const CallResult& r : run.calls)
            if (!r.passed())
                status = CheckFailed;

    if (o.tap)
        write(stdout, tapReport(run) + QStringLiteral("# ") +
                          plainSummary(run).trimmed().replace(u'\n', QStringLiteral("\n# ")) +
                          u'\n');
    else
        write(stdout, plainSummary(run));
    if (o.junit && !writeReport(*o.junit, junitReport(run)))
        status = Usage;
    if (o.json && !writeReport(*o.json, jsonReport(run)))
        status = Usage;

    // Written back only when Cardwright answered: a file full of connection
    // errors is worth nothing.
    if (o.update && status != Unreachable && status != Usage) {
        bool written = true;
        for (size_t f = 0; f < scenarios.size(); ++f) {
            const QByteArray content = scenario::updated(scenarios[f], fresh[f]);
            if (content == scenarios[f].content)
                continue;
            QSaveFile file(scenarios[f].path);
            if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
                !file.commit()) {
                write(stderr, QStringLiteral("cwcall test: cannot write %1: %2\n")
                                  .arg(scenarios[f].path, file.errorString()));
                written = false;
                continue;
            }
            write(stderr, QStringLiteral("updated %1\n").arg(scenarios[f].path));
        }
        status = written ? Passed : Usage;
    }

    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs("cwcall test: cannot write the output\n", stderr);
        return std::max(status, static_cast<int>(CheckFailed));
    }
    return status;
}

} // namespace cwcall
