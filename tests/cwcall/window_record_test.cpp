// The window's recording end to end: calls made with "Go" in the real window,
// through the real library, against a real cardwright-sim serving a fresh
// copy of the sample, are recorded with --record's code, and `cwcall test`
// replays the file green against another fresh simulator.
#include "entry.h"
#include "recording_ui.h"
#include "sim_process.h"
#include "window_driver.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

struct Outcome {
    int exit = -1;
    QString out;
};

Outcome cwcall(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(CW_CWCALL), arguments);
    Outcome run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return run;
}

// The design opens as a queued command: waits (bounded) until it is done.
bool idle(int port) {
    for (int i = 0; i < 400; ++i) {
        if (cwcall({QStringLiteral("--port"), QString::number(port), QStringLiteral("IsBusy")})
                .out == QStringLiteral("False\n"))
            return true;
        QTest::qWait(50);
    }
    return false;
}

TEST(WindowRecording, GoCallsReplayGreenAgainstAFreshSimulator) {
    fake::RecordingUi ui;
    e2e::SampleCopy sample;
    ASSERT_TRUE(sample.ok());
    e2e::SimProcess sim(sample);
    QString error;
    ASSERT_TRUE(sim.start({QStringLiteral("--design"), sample.design()}, error))
        << error.toStdString();
    ASSERT_TRUE(idle(sim.port()));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("session.cwt"));
    {
        TForm1 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.HostName->setText(QStringLiteral("127.0.0.1"));
        form.PortNumber->setText(QString::number(sim.port()));
        form.Connect1->trigger();
        ASSERT_GT(form.MethodsComboBox->count(), 0);

        entry::setRecordFile(file);
        e2e::WindowDriver w(form);
        const QStringList calls[][2] = {
            {{QStringLiteral("GetCount")}, {}},
            {{QStringLiteral("GetRecord")},
             {QStringLiteral("  Id = 5 "), QString(), QStringLiteral("Company=Meridian Health")}},
            {{QStringLiteral("GetRecord")}, {QStringLiteral("LastName=Nobody")}},
            {{QStringLiteral("GetErrorMessage")}, {QStringLiteral("Code=6")}},
            {{QStringLiteral("GetEditCount")}, {}},
            {{QStringLiteral("GetBadgeImage")}, {QStringLiteral("Side=Back")}},
            {{QStringLiteral("Goto")}, {QStringLiteral("Id=7")}},
        };
        for (const auto& [method, lines] : calls)
            ASSERT_TRUE(w.go(method.first(), lines)) << method.first().toStdString();
        entry::setRecordFile(QString());
        EXPECT_EQ(w.results(), QStringList{QStringLiteral("Pending command accepted")});
    }
    EXPECT_TRUE(ui.messages.empty());

    QFile recorded(file);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(recorded.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral(
        "call GetCount\nexpect Total = 300\nexpect Selected = 300\nexpect entries 2\n\n"
        "call GetRecord '  Id = 5 ' 'Company=Meridian Health'\nexpect Id = 5\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("call GetRecord LastName=Nobody\nexpect error 6\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("call GetBadgeImage Side=Back\nexpect picture 540 x 860\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("call Goto Id=7\nexpect accepted\n\n")));

    e2e::SampleCopy fresh;
    ASSERT_TRUE(fresh.ok());
    e2e::SimProcess replaySim(fresh);
    ASSERT_TRUE(replaySim.start({QStringLiteral("--design"), fresh.design()}, error))
        << error.toStdString();
    ASSERT_TRUE(idle(replaySim.port()));
    const Outcome replay = cwcall({QStringLiteral("test"), QStringLiteral("--port"),
                                   QString::number(replaySim.port()), file});
    EXPECT_EQ(replay.exit, 0) << replay.out.toStdString();
    EXPECT_TRUE(replay.out.contains(QStringLiteral("\n7 calls, 7 passed, 0 failed in ")))
        << replay.out.toStdString();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vcl::Application application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
