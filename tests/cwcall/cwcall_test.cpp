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
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

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

// Runs `program` to its end (bounded) with `arguments`.
Result run(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        result.err = program + QStringLiteral(" did not finish");
        return result;
    }
    result.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

Result cwcall(const QStringList& arguments) {
    return run(QStringLiteral(CW_CWCALL), arguments);
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
        // Nothing is sent when the recording cannot be written.
        CallCase{"recordUnwritable",
                 words({"--record", "/nonexistent/cwcall/x.cwt", "GetCount"}),
                 1,
                 {},
                 QStringLiteral("cwcall: not recorded: cannot open /nonexistent/cwcall/x.cwt: No "
                                "such file or directory\n")},
        CallCase{"recordWithoutACall",
                 words({"--record", "x.cwt", "--list"}),
                 2,
                 {},
                 QStringLiteral("cwcall: --record is for method calls only\n")},
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

// libpng is opened when a picture is first decoded or written: a call that
// brings none starts without it and works where libpng is missing; one that
// brings one fails with a clear error there. "OUT" stands for a file path.
struct LibpngCase {
    const char* label;
    QStringList arguments;
    bool opensLibpng;
};

void PrintTo(const LibpngCase& row, std::ostream* os) {
    *os << row.label;
}

class LibpngOnDemand : public Cwcall, public ::testing::WithParamInterface<LibpngCase> {
  protected:
    // Where this machine's libpng is, to be hidden in a mount namespace.
    static QString libpngFile() {
        void* handle = ::dlopen("libpng16.so.16", RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr)
            handle = ::dlopen("libpng16.so.16", RTLD_NOW);
        link_map* map = nullptr;
        if (handle == nullptr || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
            return {};
        return QFileInfo(QString::fromLocal8Bit(map->l_name)).canonicalFilePath();
    }
};

TEST_P(LibpngOnDemand, OpenedOnlyForPictures) {
    const LibpngCase& c = GetParam();
    QTemporaryDir dir;
    QStringList arguments = {QStringLiteral("--port"), QString::number(sim->port())};
    for (const QString& word : c.arguments)
        arguments << (word == QStringLiteral("OUT") ? dir.filePath(QStringLiteral("p.png")) : word);

    QProcessEnvironment traced = QProcessEnvironment::systemEnvironment();
    traced.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    const Result loaded = run(QStringLiteral(CW_CWCALL), arguments, traced);
    ASSERT_EQ(loaded.exit, 0) << loaded.err.toStdString();
    EXPECT_EQ(loaded.err.contains(QStringLiteral("file=libpng16.so.16")), c.opensLibpng);
    QFile::remove(dir.filePath(QStringLiteral("p.png")));

    // The file behind libpng16.so.16 replaced by an empty one for cwcall alone.
    const QString libpng = libpngFile();
    ASSERT_FALSE(libpng.isEmpty());
    const auto hidden = [&](const QStringList& command) {
        return run(QStringLiteral("unshare"),
                   QStringList{QStringLiteral("--mount"), QStringLiteral("--"),
                               QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                               QStringLiteral("mount --bind /dev/null \"$0\" && exec \"$@\""),
                               libpng} +
                       command);
    };
    if (hidden({QStringLiteral("true")}).exit != 0)
        GTEST_SKIP() << "cannot hide a file in a mount namespace here (needs root)";
    const Result missing = hidden(QStringList{QStringLiteral(CW_CWCALL)} + arguments);
    if (c.opensLibpng) {
        EXPECT_EQ(missing.exit, 1);
        EXPECT_EQ(missing.out, QString());
        EXPECT_TRUE(missing.err.contains(QStringLiteral("libpng16.so.16 cannot be loaded: ")))
            << missing.err.toStdString();
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("p.png"))));
    } else {
        EXPECT_EQ(missing.exit, 0) << missing.err.toStdString();
        EXPECT_EQ(missing.out, loaded.out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, LibpngOnDemand,
    ::testing::Values(LibpngCase{"list", words({"GetCount"}), false},
                      LibpngCase{"listAsJson", words({"--json", "GetRecord", "Id=5"}), false},
                      LibpngCase{"pictureDescribed", words({"GetBadgeImage"}), true},
                      LibpngCase{"pictureWritten", words({"--out", "OUT", "GetPhotoImage"}), true}),
    [](const ::testing::TestParamInfo<LibpngCase>& row) { return std::string(row.param.label); });

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

// A run of shell commands becomes a scenario that replays green; the file is
// its owner's alone and never holds the access key.
TEST_F(Cwcall, RecordedCallsReplayGreen) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("session.cwt"));
    const QString key = QStringLiteral("k3y-never-written");
    for (const QStringList& words :
         {QStringList{QStringLiteral("GetCount")},
          QStringList{QStringLiteral("--field"), QStringLiteral("LastName"),
                      QStringLiteral("GetRecord"), QStringLiteral(" Id = 5 ")},
          QStringList{QStringLiteral("GetCWHandle")},
          QStringList{QStringLiteral("GetBadgeImage"), QStringLiteral("Side=Back")}}) {
        const Result run = call(
            QStringList{QStringLiteral("--key"), key, QStringLiteral("--record"), file} + words);
        EXPECT_NE(run.exit, 2) << run.err.toStdString();
    }
    QFile recorded(file);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(recorded.readAll());
    EXPECT_EQ(recorded.permissions() &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              QFile::Permissions());
    EXPECT_TRUE(text.startsWith(QStringLiteral(
        "call GetCount\nexpect Total = 300\nexpect Selected = 300\nexpect entries 2\n\n"
        "call GetRecord ' Id = 5 '\nexpect Id = 5\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("call GetCWHandle\nexpect error 9\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("call GetBadgeImage Side=Back\nexpect picture 540 x 860\n")));
    EXPECT_FALSE(text.contains(key));

    const Result replay = cwcall(
        {QStringLiteral("test"), QStringLiteral("--port"), QString::number(sim->port()), file});
    EXPECT_EQ(replay.exit, 0) << replay.out.toStdString() << replay.err.toStdString();
    EXPECT_TRUE(replay.out.contains(QStringLiteral("\n4 calls, 4 passed, 0 failed in ")))
        << replay.out.toStdString();
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

// ---- cwcall test: scenario files against a simulator of their own ----------------

namespace {

// A fresh roster for the scenarios: they select and expect the sample's
// first answers.
class CwcallScenarios : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        sample = std::make_unique<e2e::SampleCopy>();
        sim = std::make_unique<e2e::SimProcess>(*sample);
        QString error;
        if (!sample->ok() || !sim->start({QStringLiteral("--design"), sample->design()}, error)) {
            startError = error.isEmpty() ? QStringLiteral("cannot copy the sample") : error;
            return;
        }
        for (int i = 0;
             i < 200 && run({QStringLiteral("--port"), port(), QStringLiteral("IsBusy")}).out !=
                            QStringLiteral("False\n");
             ++i)
            QThread::msleep(50);
    }
    static void TearDownTestSuite() {
        sim.reset();
        sample.reset();
    }
    void SetUp() override { ASSERT_TRUE(startError.isEmpty()) << startError.toStdString(); }

    static QString port() { return QString::number(sim->port()); }
    static Result run(const QStringList& arguments) { return cwcall(arguments); }
    // `cwcall test --port P ARGS...`
    static Result test(const QStringList& arguments) {
        return cwcall(QStringList{QStringLiteral("test"), QStringLiteral("--port"), port()} +
                      arguments);
    }
    // Writes `text` to NAME in the test's folder; its path.
    QString file(const char* name, const QByteArray& text) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    static QString read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir dir;
    static inline std::unique_ptr<e2e::SampleCopy> sample;
    static inline std::unique_ptr<e2e::SimProcess> sim;
    static inline QString startError;
};

const QByteArray kPassAndFail =
    "# one passes, one fails\ncall GetRecord Id=5\nexpect FirstName = Hugo\n"
    "\ncall GetRecord Id=5\nexpect LastName = Nowak\n"
    "expect Company ~ ^Meridian\n";

TEST_F(CwcallScenarios, SamplesPassAgainstTheSampleDesign) {
    const QDir scenarios(QStringLiteral(CW_SAMPLES "/scenarios"));
    QStringList files;
    for (const QString& name : scenarios.entryList({QStringLiteral("*.cwt")}, QDir::Files))
        files.append(scenarios.filePath(name));
    ASSERT_GE(files.size(), 2);
    const Result r = test(files);
    EXPECT_EQ(r.exit, 0) << r.out.toStdString() << r.err.toStdString();
    const QStringList lines = r.out.trimmed().split(u'\n');
    for (const QString& line : lines.mid(0, lines.size() - 1))
        EXPECT_TRUE(line.startsWith(QStringLiteral("ok "))) << line.toStdString();
    EXPECT_TRUE(lines.last().startsWith(
        QStringLiteral("%1 calls, %1 passed, 0 failed in ").arg(lines.size() - 1)))
        << lines.last().toStdString();
}

// The exit statuses, and what each says on which stream.
TEST_F(CwcallScenarios, ExitStatuses) {
    const QString failing = file("failing.cwt", kPassAndFail);
    const Result failed = test({failing});
    EXPECT_EQ(failed.exit, 1);
    EXPECT_TRUE(failed.out.contains(QStringLiteral("FAIL %1:5 GetRecord Id=5 (").arg(failing)))
        << failed.out.toStdString();
    EXPECT_TRUE(failed.out.contains(
        QStringLiteral("  %1:6: expect LastName = Nowak: LastName = Kowalski\n").arg(failing)));
    EXPECT_TRUE(failed.out.contains(QStringLiteral("    -LastName = Nowak\n    +LastName = "
                                                   "Kowalski\n")));
    EXPECT_TRUE(failed.out.contains(QStringLiteral("2 calls, 1 passed, 1 failed in ")));
    // A file name and an expectation beyond ASCII print as UTF-8.
    const QString accented =
        file("f\xC3\xA4llt.cwt", "call GetRecord Id=5\nexpect LastName = M\xC3\xBCller\n");
    const Result accentedRun = test({accented});
    EXPECT_TRUE(
        accentedRun.out.startsWith(QStringLiteral("FAIL %1:1 GetRecord Id=5 (").arg(accented)))
        << accentedRun.out.toStdString();
    EXPECT_TRUE(accentedRun.out.contains(
        QStringLiteral("  %1:2: expect LastName = M\u00fcller: LastName = ").arg(accented)))
        << accentedRun.out.toStdString();

    // A file that does not parse sends nothing, not even its good calls.
    const QString bad = file("bad.cwt", "call Select LastName=Kowalski\ncall GetCount\n"
                                        "expect picture 1 x 1\nexpectt x\n");
    const Result refused = test({bad});
    EXPECT_EQ(refused.exit, 2);
    EXPECT_EQ(refused.out, QString());
    EXPECT_EQ(refused.err,
              QStringLiteral("%1:3: 'expect picture 1 x 1' does not fit GetCount, which answers a "
                             "list\n%1:4: unknown statement 'expectt' (a line is blank, a # "
                             "comment, or starts with call, expect or capture)\n")
                  .arg(bad));
    EXPECT_EQ(run({QStringLiteral("--port"), port(), QStringLiteral("--field"),
                   QStringLiteral("Selected"), QStringLiteral("GetCount")})
                  .out,
              QStringLiteral("300\n"));

    const Result usage = test({QStringLiteral("--repeat"), QStringLiteral("0"), failing});
    EXPECT_EQ(usage.exit, 2);
    EXPECT_TRUE(usage.err.startsWith(QStringLiteral("cwcall test: --repeat must be from 1 to ")))
        << usage.err.toStdString();

    const Result unreachable =
        cwcall({QStringLiteral("test"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                QStringLiteral("--port"), QString::number(e2e::freePort()), failing});
    EXPECT_EQ(unreachable.exit, 3) << unreachable.out.toStdString();

    // A port the library cannot use is the caller's mistake, as a bad option is.
    const Result unusable =
        cwcall({QStringLiteral("test"), QStringLiteral("--port"), QStringLiteral("0"), failing});
    EXPECT_EQ(unusable.exit, 2) << unusable.out.toStdString();
    EXPECT_TRUE(unreachable.out.contains(QStringLiteral("error -1: Cannot connect to 127.0.0.1:")));
}

// TAP, JUnit and JSON say the same as the plain lines, and each reads back
// with its own kind of parser.
TEST_F(CwcallScenarios, ReportsReadBack) {
    const QString first = file("first.cwt", kPassAndFail);
    const QString second = file("second.cwt", "call IsBusy\nexpect false\n");
    const QString junit = dir.filePath(QStringLiteral("junit.xml"));
    const QString json = dir.filePath(QStringLiteral("report.json"));
    const Result r = test({QStringLiteral("--tap"), QStringLiteral("--junit"), junit,
                           QStringLiteral("--json=") + json, first, second});
    EXPECT_EQ(r.exit, 1) << r.err.toStdString();

    // TAP: the version, a plan that counts the test points, numbered in order.
    QStringList lines = r.out.split(u'\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.takeFirst(), QStringLiteral("TAP version 14"));
    EXPECT_EQ(lines.takeFirst(), QStringLiteral("1..3"));
    QStringList points;
    for (const QString& line : lines)
        if (line.startsWith(QStringLiteral("ok ")) || line.startsWith(QStringLiteral("not ok ")))
            points.append(line);
    EXPECT_EQ(points, (QStringList{QStringLiteral("ok 1 - %1:2 GetRecord Id=5").arg(first),
                                   QStringLiteral("not ok 2 - %1:5 GetRecord Id=5").arg(first),
                                   QStringLiteral("ok 3 - %1:1 IsBusy").arg(second)}));
    EXPECT_TRUE(r.out.contains(QStringLiteral("  ---\n  message: \"%1:6: expect LastName = Nowak: "
                                              "LastName = Kowalski\"\n")
                                   .arg(first)));

    // JUnit: a testsuite per file, a testcase per call with its time.
    QFile xml(junit);
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&xml);
    QStringList suites, cases, failures;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        if (reader.name() == u"testsuite") {
            suites.append(a.value(QStringLiteral("name")).toString() + u'/' +
                          a.value(QStringLiteral("tests")).toString() + u'/' +
                          a.value(QStringLiteral("failures")).toString());
        } else if (reader.name() == u"testcase") {
            cases.append(a.value(QStringLiteral("name")).toString());
            bool timed = false;
            EXPECT_GE(a.value(QStringLiteral("time")).toDouble(&timed), 0.0);
            EXPECT_TRUE(timed);
        } else if (reader.name() == u"failure") {
            failures.append(a.value(QStringLiteral("message")).toString());
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(suites,
              (QStringList{first + QStringLiteral("/2/1"), second + QStringLiteral("/1/0")}));
    EXPECT_EQ(cases.size(), 3);
    EXPECT_EQ(failures, QStringList{QStringLiteral("%1:6: expect LastName = Nowak: LastName = "
                                                   "Kowalski")
                                        .arg(first)});

    // JSON: every call with its place, words, outcome and time.
    QFile jsonFile(json);
    ASSERT_TRUE(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(jsonFile.readAll()).object();
    const QJsonArray calls = root[QStringLiteral("calls")].toArray();
    ASSERT_EQ(calls.size(), 3);
    const QJsonObject failedCall = calls[1].toObject();
    EXPECT_EQ(failedCall[QStringLiteral("file")].toString(), first);
    EXPECT_EQ(failedCall[QStringLiteral("line")].toInt(), 5);
    EXPECT_EQ(failedCall[QStringLiteral("words")].toArray(), QJsonArray{QStringLiteral("Id=5")});
    EXPECT_EQ(failedCall[QStringLiteral("outcome")].toString(), QStringLiteral("11 entries"));
    EXPECT_FALSE(failedCall[QStringLiteral("passed")].toBool());
    EXPECT_GT(failedCall[QStringLiteral("duration_us")].toInteger(), 0);
    EXPECT_EQ(root[QStringLiteral("summary")][QStringLiteral("failed")].toInt(), 1);
}

// --update rewrites the expectations from what came back, keeps the rest,
// and the file then passes.
TEST_F(CwcallScenarios, UpdateThenPass) {
    const QByteArray before = "# kept\ncall GetRecord Id=5\nexpect LastName = Nowak\n"
                              "capture last = LastName\nexpect time < 60000 ms\n\ncall "
                              "GetRecord \"LastName={{last}}\"\r\n# between\r\nexpect entries 1\r\n"
                              "call IsBusy\n";
    const QString path = file("update.cwt", before);
    const Result updated = test({QStringLiteral("--update"), path});
    EXPECT_EQ(updated.exit, 0) << updated.out.toStdString() << updated.err.toStdString();
    EXPECT_EQ(updated.err, QStringLiteral("updated %1\n").arg(path));
    const QString after = read(path);
    EXPECT_TRUE(after.startsWith(QStringLiteral("# kept\ncall GetRecord Id=5\nexpect Id = 5\n")))
        << after.toStdString();
    EXPECT_TRUE(after.contains(QStringLiteral("expect LastName = Kowalski\nexpect Company = "
                                              "Meridian Health\n")));
    EXPECT_TRUE(
        after.contains(QStringLiteral("expect entries 11\ncapture last = LastName\nexpect "
                                      "time < 60000 ms\n\ncall GetRecord "
                                      "\"LastName={{last}}\"\r\n# between\r\nexpect Id = 5\r\n")));
    EXPECT_TRUE(after.endsWith(QStringLiteral("call IsBusy\nexpect false\n")));
    const Result again = test({path});
    EXPECT_EQ(again.exit, 0) << again.out.toStdString();
}

// Several processes side by side: every call of every round counts.
TEST_F(CwcallScenarios, JobsAndRepeats) {
    const QString path = file("load.cwt", "call GetRecord Id=5\nexpect FirstName = Hugo\n"
                                          "call GetCount\nexpect Total = 300\n");
    const QString json = dir.filePath(QStringLiteral("load.json"));
    const Result r =
        test({QStringLiteral("--jobs"), QStringLiteral("3"), QStringLiteral("--repeat"),
              QStringLiteral("4"), QStringLiteral("--json"), json, path});
    EXPECT_EQ(r.exit, 0) << r.out.toStdString() << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("24 calls, 24 passed, 0 failed in ")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral(" calls per second (3 jobs, 4 rounds each)")));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("  GetCount: 12 calls, p50 ")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("  GetRecord: 12 calls, p50 ")));
    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QSet<int> processes;
    for (const QJsonValue& call :
         QJsonDocument::fromJson(f.readAll())[QStringLiteral("calls")].toArray())
        processes.insert(call[QStringLiteral("process")].toInt());
    EXPECT_EQ(processes, (QSet<int>{0, 1, 2}));
}

// cardwright-sim killed between two calls: the next cwcall names host, port
// and cause and exits 1; once it runs again on its port and roster, the call
// after that works and finds what was stored before.
TEST(CwcallAlone, SimulatorKilledBetweenCallsThenRestarted) {
    e2e::SampleCopy sample;
    ASSERT_TRUE(sample.ok());
    const int port = e2e::freePort();
    ASSERT_NE(port, 0);
    const QStringList where = {QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                               QStringLiteral("--port"), QString::number(port)};
    const QStringList startArguments = {QStringLiteral("--port"), QString::number(port),
                                        QStringLiteral("--design"), sample.design()};
    // The design opens as a queued command: asks IsBusy (bounded) until it is
    // done; every answer must be a success.
    const auto waitIdle = [&where] {
        for (int i = 0; i < 200; ++i) {
            const Result busy = cwcall(where + QStringList{QStringLiteral("IsBusy")});
            if (busy.exit != 0)
                return busy.err;
            if (busy.out == QStringLiteral("False\n"))
                return QString();
            QThread::msleep(50);
        }
        return QStringLiteral("still busy");
    };

    auto sim = std::make_unique<e2e::SimProcess>(sample);
    QString error;
    ASSERT_TRUE(sim->start(startArguments, error)) << error.toStdString();
    ASSERT_EQ(waitIdle(), QString());
    const Result added = cwcall(where + words({"Add", "FirstName=Ada", "LastName=Survivor"}));
    ASSERT_EQ(added.exit, 0) << added.err.toStdString();
    ASSERT_EQ(waitIdle(), QString());

    sim->kill();
    const QString refused =
        QStringLiteral("error -1: Cannot connect to 127.0.0.1:%1: Connection refused\n").arg(port);
    for (const char* method : {"GetCount", "GetEditCount", "IsBusy", "Next"}) {
        SCOPED_TRACE(method);
        const Result run = cwcall(where + QStringList{QString::fromLatin1(method)});
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err, refused);
    }

    sim = std::make_unique<e2e::SimProcess>(sample);
    ASSERT_TRUE(sim->start(startArguments, error)) << error.toStdString();
    ASSERT_EQ(waitIdle(), QString());
    const Result count = cwcall(where + words({"GetCount"}));
    EXPECT_EQ(count.exit, 0) << count.err.toStdString();
    EXPECT_EQ(count.out, QStringLiteral("Total = 301\nSelected = 301\n"));
    const Result found = cwcall(where + words({"GetRecord", "LastName=Survivor"}));
    EXPECT_EQ(found.exit, 0) << found.err.toStdString();
    EXPECT_TRUE(found.out.contains(QStringLiteral("FirstName = Ada\n"))) << found.out.toStdString();
}

} // namespace
