// cwcall against a real cardwright-sim: one call per result family, JSON, a
// picture written and read back, the exit statuses and the connection wait.
#include "raw_server.h"
#include "sim_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

struct Result {
    int exit = -1;
    QString out;
    QString err;
};

// Runs cwcall to its end (bounded) with `arguments`.
Result cwcall(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(CW_CWCALL), arguments);
    Result run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        run.err = QStringLiteral("cwcall did not finish");
        return run;
    }
    run.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const QString kHint = QStringLiteral("Try 'cwcall --help' for more information.\n");
// Quotes and a backslash, for the JSON escapes.
const QString kPaper = QStringLiteral("No \"paper\" in tray C:\\badges");

// One simulator for the suite, the sample design open; Print always fails.
class Cwcall : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        sample = std::make_unique<e2e::SampleCopy>();
        sim = std::make_unique<e2e::SimProcess>(*sample);
        QString error;
        if (!sample->ok() ||
            !sim->start({QStringLiteral("--design"), sample->design(), QStringLiteral("--fail"),
                         QStringLiteral("Print=7:") + kPaper, QStringLiteral("--fail"),
                         QStringLiteral("GetCWHandle=9:No window handle")},
                        error)) {
            startError = error.isEmpty() ? QStringLiteral("cannot copy the sample") : error;
            return;
        }
        // The design opens as a queued command: wait (bounded) until it is done.
        for (int i = 0;
             i < 200 && call({QStringLiteral("IsBusy")}).out != QStringLiteral("False\n"); ++i)
            QThread::msleep(50);
    }
    static void TearDownTestSuite() {
        sim.reset();
        sample.reset();
    }
    void SetUp() override { ASSERT_TRUE(startError.isEmpty()) << startError.toStdString(); }

    static Result call(QStringList arguments) {
        arguments.prepend(QString::number(sim->port()));
        arguments.prepend(QStringLiteral("--port"));
        return cwcall(arguments);
    }

    static inline std::unique_ptr<e2e::SampleCopy> sample;
    static inline std::unique_ptr<e2e::SimProcess> sim;
    static inline QString startError;
};

struct CallCase {
    const char* label;
    QStringList arguments;
    int exit;
    QString out;
    QString err; // the whole of stderr; a usage error adds the hint line
};

void PrintTo(const CallCase& row, std::ostream* os) {
    *os << row.label;
}

class Calls : public Cwcall, public ::testing::WithParamInterface<CallCase> {};

TEST_P(Calls, OutputAndExitStatus) {
    const CallCase& c = GetParam();
    const Result run = call(c.arguments);
    EXPECT_EQ(run.exit, c.exit);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.exit == 2 ? c.err + kHint : c.err);
}

QStringList words(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* s : list)
        out.append(QString::fromUtf8(s));
    return out;
}

// IsBusy first: a command accepted by a later row may still be running.
INSTANTIATE_TEST_SUITE_P(
    Families, Calls,
    ::testing::Values(
        CallCase{"busyIsABoolean", words({"IsBusy"}), 0, QStringLiteral("False\n"), {}},
        CallCase{"busyAsJson", words({"--json", "IsBusy"}), 0, QStringLiteral("false\n"), {}},
        CallCase{"listLines",
                 words({"GetCount"}),
                 0,
                 QStringLiteral("Total = 300\nSelected = 300\n"),
                 {}},
        CallCase{"listAsJson",
                 words({"GetCount", "--json"}),
                 0,
                 QStringLiteral("[{\"name\": \"Total\", \"value\": \"300\"}, "
                                "{\"name\": \"Selected\", \"value\": \"300\"}]\n"),
                 {}},
        CallCase{"number", words({"GetEditCount"}), 0, QStringLiteral("0\n"), {}},
        CallCase{"numberAsJson", words({"--json", "GetEditCount"}), 0, QStringLiteral("0\n"), {}},
        CallCase{"textOfACode", words({"GetErrorMessage", "Code=7"}), 0, kPaper + u'\n', {}},
        CallCase{"textEscapedInJson",
                 words({"GetErrorMessage", "--json", "Code=7"}),
                 0,
                 QStringLiteral("\"No \\\"paper\\\" in tray C:\\\\badges\"\n"),
                 {}},
        CallCase{"textAsJson",
                 words({"--json", "GetErrorMessage", " Code = 0 "}),
                 0,
                 QStringLiteral("\"No error\"\n"),
                 {}},
        CallCase{"commandAccepted",
                 words({"Startlog"}),
                 0,
                 QStringLiteral("Pending command accepted\n"),
                 {}},
        CallCase{"commandAsJson",
                 words({"--json", "Stoplog"}),
                 0,
                 QStringLiteral("{\"status\": \"accepted\"}\n"),
                 {}},
        // Failures: the library's code and text, nothing on stdout.
        CallCase{
            "remoteFault", words({"Print"}), 1, {}, QStringLiteral("error 7: ") + kPaper + u'\n'},
        CallCase{"noMatch",
                 words({"GetRecord", "LastName=Nobody"}),
                 1,
                 {},
                 QStringLiteral("error 6: No record matches the GetRecord criteria\n")},
        // A number method answers -1 both as a value and as a failure: the
        // library's error code decides.
        CallCase{"numberRefusedRemotely",
                 words({"GetCWHandle"}),
                 1,
                 {},
                 QStringLiteral("error 9: No window handle\n")},
        CallCase{"numberUnreached",
                 words({"--host", "127.0.0.1", "--port", "1", "GetEditCount"}),
                 1,
                 {},
                 QStringLiteral("error -1: Cannot connect to 127.0.0.1:1: Connection refused\n")},
        CallCase{"numberUnreachedAsJson",
                 words({"--json", "--host", "127.0.0.1", "--port", "1", "GetLastCommandError"}),
                 1,
                 {},
                 QStringLiteral("error -1: Cannot connect to 127.0.0.1:1: Connection refused\n")},
        // --field: one entry's value, alone on its line.
        CallCase{"fieldOfAList",
                 words({"--field", "Total", "GetCount"}),
                 0,
                 QStringLiteral("300\n"),
                 {}},
        CallCase{"fieldOfARecord",
                 words({"GetRecord", "--field=LastName", "Id=5"}),
                 0,
                 QStringLiteral("Kowalski\n"),
                 {}},
        CallCase{"fieldAsJson",
                 words({"--json", "--field", "Selected", "GetCount"}),
                 0,
                 QStringLiteral("\"300\"\n"),
                 {}},
        CallCase{"fieldAbsent",
                 words({"--field", "total", "GetCount"}),
                 1,
                 {},
                 QStringLiteral("error: the answer has no entry 'total'\n")},
        CallCase{"unknownCodeIsRefusedRemotely",
                 words({"--json", "GetErrorMessage", "Code=99999"}),
                 1,
                 {},
                 QStringLiteral("error 3: Unknown error code 99999\n")},
        // Usage errors: nothing is called.
        CallCase{"notInCatalogue",
                 words({"Bogus"}),
                 2,
                 {},
                 QStringLiteral(
                     "cwcall: 'Bogus' is not a method of the catalogue (names are spelt exactly, "
                     "letter case counts)\n")},
        CallCase{
            "caseCounts",
            words({"getcount"}),
            2,
            {},
            QStringLiteral("cwcall: 'getcount' is not a method of the catalogue (names are spelt "
                           "exactly, letter case counts)\n")},
        CallCase{"serverOnlyMethodIsNotInCatalogue",
                 words({"system.listMethods"}),
                 2,
                 {},
                 QStringLiteral(
                     "cwcall: 'system.listMethods' is not a method of the catalogue (names are "
                     "spelt exactly, letter case counts)\n")},
        CallCase{"argumentWithoutEquals",
                 words({"Select", "LastName=Petrov", "Petrov"}),
                 2,
                 {},
                 QStringLiteral(
                     "cwcall: 'Petrov': Invalid structure format. Each line must be Name=Value\n")},
        CallCase{
            "argumentWithLineBreak",
            QStringList{QStringLiteral("Add"), QStringLiteral("A=1\nB=2")},
            2,
            {},
            QStringLiteral(
                "cwcall: 'A=1 B=2' holds a line break; give each Name=Value as its own word\n")},
        CallCase{"argumentsToAMethodWithout",
                 words({"Close", "Now=1"}),
                 2,
                 {},
                 QStringLiteral("cwcall: Close takes no arguments\n")},
        CallCase{"unknownOption",
                 words({"--frob", "GetCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: unknown option '--frob'\n")},
        CallCase{"noMethod", words({"--json"}), 2, {}, QStringLiteral("cwcall: no method given\n")},
        CallCase{"outForAList",
                 words({"--out", "x.png", "GetCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --out is for picture methods only\n")},
        CallCase{"fieldForANumber",
                 words({"--field", "Total", "GetEditCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --field is for list methods only\n")},
        CallCase{"fieldWithoutName",
                 words({"--field=", "GetCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --field needs an entry name\n")},
        CallCase{"waitNotANumber",
                 words({"--wait", "many", "GetCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --wait: 'many' is not a valid integer value\n")},
        CallCase{"waitNegative",
                 words({"--wait=-1", "GetCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --wait must be from 0 to 3600, not -1\n")},
        // A later --port replaces the first; the window's message.
        CallCase{"portNotANumber",
                 words({"--port", "80a", "GetCount"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --port: '80a' is not a valid integer value\n")}),
    [](const ::testing::TestParamInfo<CallCase>& row) { return std::string(row.param.label); });

// The text lines and the JSON objects are the same list, in the same order.
TEST_F(Cwcall, RecordAsTextAndAsJsonAgree) {
    const Result text = call(words({"GetRecord", "Id=3"}));
    const Result json = call(words({"--json", "GetRecord", "Id=3"}));
    ASSERT_EQ(text.exit, 0) << text.err.toStdString();
    ASSERT_EQ(json.exit, 0) << json.err.toStdString();
    const QJsonArray entries = QJsonDocument::fromJson(json.out.toUtf8()).array();
    QStringList fromJson;
    for (const QJsonValue& entry : entries)
        fromJson.append(entry[QStringLiteral("name")].toString() + QStringLiteral(" = ") +
                        entry[QStringLiteral("value")].toString());
    ASSERT_GT(fromJson.size(), 2);
    EXPECT_EQ(fromJson.first(), QStringLiteral("Id = 3"));
    EXPECT_EQ(text.out, fromJson.join(u'\n') + u'\n');
}

TEST_F(Cwcall, PictureWrittenAsPngOrDescribed) {
    const Result described = call(words({"GetBadgeImage"}));
    ASSERT_EQ(described.exit, 0) << described.err.toStdString();
    const QStringList size = described.out.trimmed().split(u' ');
    ASSERT_EQ(size.size(), 4) << described.out.toStdString();
    EXPECT_EQ(size.mid(1),
              (QStringList{QStringLiteral("x"), size.at(2), QStringLiteral("picture")}));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("badge.png"));
    const Result written = call({QStringLiteral("--out"), path, QStringLiteral("GetBadgeImage")});
    ASSERT_EQ(written.exit, 0) << written.err.toStdString();
    EXPECT_EQ(written.out, QString());
    const QImage image(path, "png");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), size.at(0).toInt());
    EXPECT_EQ(image.height(), size.at(2).toInt());
    // A badge is not one flat colour.
    EXPECT_NE(image.pixel(0, 0), image.pixel(image.width() / 2, image.height() / 2));

    const Result json = call(
        {QStringLiteral("--json"), QStringLiteral("--out"), path, QStringLiteral("GetPhotoImage")});
    ASSERT_EQ(json.exit, 0) << json.err.toStdString();
    const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(object[QStringLiteral("file")].toString(), path);
    EXPECT_EQ(QImage(path, "png").width(), object[QStringLiteral("width")].toInt());

    // Colours come out as they went in: the back's background in a corner.
    const Result back = call({QStringLiteral("--out"), path, QStringLiteral("GetBadgeImage"),
                              QStringLiteral("Side=Back")});
    ASSERT_EQ(back.exit, 0) << back.err.toStdString();
    EXPECT_EQ(QImage(path, "png").pixel(0, 0), qRgb(0xee, 0xf2, 0xf6));

    // Unwritable: a local failure.
    const QString nowhere = dir.filePath(QStringLiteral("missing/badge.png"));
    const Result refused =
        call({QStringLiteral("--out"), nowhere, QStringLiteral("GetBadgeImage")});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.startsWith(QStringLiteral("cwcall: cannot write ") + nowhere))
        << refused.err.toStdString();
}

// A write that fails half-way (the file size limit, 512 bytes, is reached
// with SIGXFSZ ignored) leaves the file that was there as it was, and no
// temporary file beside it.
TEST_F(Cwcall, PictureFileWrittenWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("badge.png"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    ASSERT_EQ(old.write("the picture before"), 18);
    old.close();

    QProcess process;
    process.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 1 && exec \"$0\" \"$@\""),
         QStringLiteral(CW_CWCALL), QStringLiteral("--port"), QString::number(sim->port()),
         QStringLiteral("--out"), path, QStringLiteral("GetBadgeImage")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError())
                    .startsWith(QStringLiteral("cwcall: cannot write ") + path));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the picture before"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("badge.png")});
}

// The help display is whole or a failure: a server whose prototypes fail
// while its help answers gets exit status 1 and nothing on stdout.
TEST(CwcallAlone, HelpMethodFailsWhenAPartFails) {
    cwtest::RawServer server([](int fd, const cwtest::RawRequest& request, cwtest::RawServer& s) {
        const bool signature = request.body.find("system.methodSignature") != std::string::npos;
        s.send_all(fd,
                   cwtest::RawServer::http_response(
                       signature ? cwtest::xmlrpc_fault(8, "No signatures here")
                                 : cwtest::xmlrpc_answer("<string>Closes the design.</string>")));
        return false;
    });
    for (const QStringList& extra : {QStringList{}, QStringList{QStringLiteral("--json")}}) {
        const Result run =
            cwcall(QStringList{QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                               QStringLiteral("--port"), QString::number(server.port())} +
                   extra + QStringList{QStringLiteral("--help-method"), QStringLiteral("Close")});
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err, QStringLiteral("error 8: No signatures here\n"));
    }
}

TEST_F(Cwcall, ServerViews) {
    const Result list = call(words({"--list"}));
    ASSERT_EQ(list.exit, 0);
    EXPECT_TRUE(list.out.split(u'\n').contains(QStringLiteral("GetRecord")));

    // As the window's help shows it: heading, prototypes, help.
    const QStringList help = call(words({"--help-method", "GetRecord"})).out.split(u'\n');
    ASSERT_GT(help.size(), 4);
    EXPECT_EQ(help.first(), QStringLiteral("PROTOTYPE(S):"));
    const qsizetype rule = help.indexOf(QStringLiteral("-----------"));
    ASSERT_GT(rule, 1);
    EXPECT_EQ(help.at(rule + 1), QStringLiteral("HELP:"));
    EXPECT_TRUE(help.at(rule + 2).startsWith(QStringLiteral("GetRecord(Field=Value...)")));

    const Result xml = call(words({"--xml", "GetCount"}));
    ASSERT_EQ(xml.exit, 0);
    EXPECT_TRUE(xml.err.startsWith(QStringLiteral("Sent XML:\n")));
    EXPECT_TRUE(xml.err.contains(QStringLiteral("<methodName>GetCount</methodName>")));
    EXPECT_TRUE(xml.err.contains(QStringLiteral("Received XML:\n<?xml")));
}

TEST(CwcallAlone, ConnectionFailureNamesHostAndPort) {
    const int port = e2e::freePort();
    ASSERT_NE(port, 0);
    // One attempt: no pause after the last one.
    for (const QStringList& extra :
         {QStringList{}, QStringList{QStringLiteral("--wait"), QStringLiteral("1")}}) {
        const Result run = cwcall(QStringList{QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                                              QStringLiteral("--port"), QString::number(port)} +
                                  extra + QStringList{QStringLiteral("GetCount")});
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.out, QString());
        EXPECT_TRUE(run.err.startsWith(
            QStringLiteral("error -1: Cannot connect to 127.0.0.1:%1").arg(port)))
            << run.err.toStdString();
    }
    const Result version = cwcall({QStringLiteral("--version")});
    EXPECT_EQ(version.exit, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("cwcall ")));
}

// cwcall is started first and keeps asking; the simulator listens a second
// late. Without a terminal the countdown stays off stderr.
TEST(CwcallAlone, WaitOutlastsALateSimulator) {
    e2e::SampleCopy sample;
    ASSERT_TRUE(sample.ok());
    const int port = e2e::freePort();
    ASSERT_NE(port, 0);
    QProcess client;
    client.start(QStringLiteral(CW_CWCALL),
                 {QStringLiteral("--port"), QString::number(port), QStringLiteral("--wait"),
                  QStringLiteral("20"), QStringLiteral("GetCount")});
    ASSERT_TRUE(client.waitForStarted(10000));

    e2e::SimProcess sim(sample);
    QString error;
    ASSERT_TRUE(
        sim.start({QStringLiteral("--port"), QString::number(port), QStringLiteral("--start-delay"),
                   QStringLiteral("1"), QStringLiteral("--design"), sample.design()},
                  error))
        << error.toStdString();
    ASSERT_TRUE(client.waitForFinished(30000));
    EXPECT_EQ(client.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(client.readAllStandardOutput()),
              QStringLiteral("Total = 300\nSelected = 300\n"));
    EXPECT_EQ(QString::fromUtf8(client.readAllStandardError()), QString());
}

} // namespace
