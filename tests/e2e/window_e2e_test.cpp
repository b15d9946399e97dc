// The real window, the real client library and a real cardwright-sim on a
// free loopback port, serving a copy of the sample design: a person's session
// through the window's controls and menus.
#include "recording_ui.h"
#include "sim_process.h"
#include "window_driver.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <signal.h>

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

using e2e::WindowDriver;

const QString Accepted = QStringLiteral("Pending command accepted");

class SimWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sample.ok()) << "cannot copy the sample design";
        form = std::make_unique<TForm1>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->HostName->setText(QStringLiteral("127.0.0.1"));
        driver = std::make_unique<WindowDriver>(*form);
    }
    void TearDown() override {
        driver.reset();
        form.reset();
        if (HasFailure() && sim)
            std::cerr << "cardwright-sim log:\n" << sim->log().toStdString() << '\n';
        sim.reset();
        for (const qint64 pid : launchedPids)
            if (e2e::processesWith(sample.design()).contains(pid))
                ::kill(static_cast<pid_t>(pid), SIGKILL);
    }

    void startSim(const QStringList& arguments = {}) {
        sim = std::make_unique<e2e::SimProcess>(sample);
        QString error;
        ASSERT_TRUE(sim->start(arguments, error)) << error.toStdString();
        form->PortNumber->setText(QString::number(sim->port()));
    }

    // "Connect" from the File menu; true when the method list filled.
    bool connect() {
        form->Connect1->trigger();
        return form->MethodsComboBox->count() > 0;
    }

    QStringList comboItems() const {
        QStringList items;
        for (int i = 0; i < form->MethodsComboBox->count(); ++i)
            items.append(form->MethodsComboBox->itemText(i));
        return items;
    }

    e2e::SampleCopy sample;
    fake::RecordingUi ui; // answers boxes and the file dialog; outlives the form
    std::unique_ptr<e2e::SimProcess> sim;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<WindowDriver> driver;
    QList<qint64> launchedPids; // killed at the end if Exit did not end them
};

TEST_F(SimWindow, ConnectListsTheSimulatorsMethodsFirstSelected) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_TRUE(connect()) << driver->errorCode().toStdString() << ' '
                           << driver->message().toStdString();

    const QStringList items = comboItems();
    EXPECT_EQ(form->MethodsComboBox->currentIndex(), 0);
    EXPECT_TRUE(ui.sleeps.empty()) << "it answered at the first attempt";
    // Every method the window knows is offered, and so is what only the
    // simulator has (introspection), which the window lists but cannot call.
    for (const auto& method : *form->methodList())
        EXPECT_TRUE(items.contains(QString::fromStdString(method->Name))) << method->Name;
    EXPECT_TRUE(items.contains(QStringLiteral("system.listMethods")));
    EXPECT_TRUE(items.contains(QStringLiteral("system.methodHelp")));
    QStringList unique = items;
    EXPECT_EQ(unique.removeDuplicates(), 0);

    // A second connect replaces the names rather than adding to them.
    ASSERT_TRUE(connect());
    EXPECT_EQ(comboItems(), items);
}

// Open the sample, count, read, move, select, change, and look at badges,
// each through "Go" with the window's argument lines.
TEST_F(SimWindow, PersonBrowsesChangesRecordsAndSeesBadges) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_TRUE(connect());
    WindowDriver& w = *driver;

    // Open is queued; its roster is generated on this first open.
    ASSERT_TRUE(w.go(QStringLiteral("Open"), {QStringLiteral("File=") + sample.design()}));
    EXPECT_EQ(w.results(), QStringList{Accepted});
    EXPECT_EQ(w.errorCode(), QString());
    ASSERT_TRUE(w.waitIdle());
    ASSERT_TRUE(w.go(QStringLiteral("GetLastCommandError")));
    ASSERT_EQ(w.results(), QStringList{QStringLiteral("0")});
    EXPECT_TRUE(QFileInfo::exists(QDir(sample.dir()).filePath(QStringLiteral("visitors.db"))));

    w.go(QStringLiteral("GetCount"));
    EXPECT_EQ(w.results(),
              (QStringList{QStringLiteral("Total = 300"), QStringLiteral("Selected = 300")}));

    // The first record is current; GetRecord lists it, Id first.
    w.go(QStringLiteral("GetCurrent"));
    EXPECT_EQ(w.value(QStringLiteral("Position")), QStringLiteral("1"));
    const QString firstId = w.value(QStringLiteral("Id"));
    w.go(QStringLiteral("GetRecord"));
    ASSERT_FALSE(w.results().isEmpty());
    EXPECT_EQ(w.results().first(), QStringLiteral("Id = ") + firstId);
    EXPECT_FALSE(w.value(QStringLiteral("FirstName")).isEmpty());
    const QString lastName = w.value(QStringLiteral("LastName"));
    ASSERT_FALSE(lastName.isEmpty());

    // Navigation as a table: command, its command error, position after it.
    const struct {
        const char* command;
        const char* error;
        const char* position;
    } moves[] = {
        {"Next", "0", "2"},    {"Next", "0", "3"},  {"Previous", "0", "2"},  {"Last", "0", "300"},
        {"Next", "15", "300"}, {"First", "0", "1"}, {"Previous", "15", "1"},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.command);
        EXPECT_EQ(w.command(QString::fromLatin1(move.command)), QString::fromLatin1(move.error));
        w.go(QStringLiteral("GetCurrent"));
        EXPECT_EQ(w.value(QStringLiteral("Position")), QString::fromLatin1(move.position));
    }
    w.go(QStringLiteral("GetCurrent"));
    EXPECT_EQ(w.value(QStringLiteral("Id")), firstId);

    // Select with a criterion: only that surname, and the record shown has it.
    ASSERT_EQ(w.command(QStringLiteral("Select"), {QStringLiteral("LastName=") + lastName}),
              QStringLiteral("0"));
    w.go(QStringLiteral("GetCount"));
    const int selected = w.value(QStringLiteral("Selected")).toInt();
    EXPECT_GE(selected, 1);
    EXPECT_LT(selected, 300);
    w.go(QStringLiteral("GetRecord"));
    EXPECT_EQ(w.value(QStringLiteral("LastName")), lastName);
    // No criteria: everyone again.
    ASSERT_EQ(w.command(QStringLiteral("Select")), QStringLiteral("0"));
    w.go(QStringLiteral("GetCount"));
    EXPECT_EQ(w.value(QStringLiteral("Selected")), QStringLiteral("300"));

    // Add, Update, Delete: the roster changes and GetRecord finds it.
    ASSERT_EQ(w.command(QStringLiteral("Add"),
                        {QStringLiteral("FirstName=Ada"), QStringLiteral("LastName=Lovelace"),
                         QStringLiteral("Company=Analytical Engines")}),
              QStringLiteral("0"));
    w.go(QStringLiteral("GetCount"));
    EXPECT_EQ(w.value(QStringLiteral("Total")), QStringLiteral("301"));
    w.go(QStringLiteral("GetRecord"));
    EXPECT_EQ(w.value(QStringLiteral("FirstName")), QStringLiteral("Ada"))
        << "the added record is current";
    ASSERT_EQ(w.command(QStringLiteral("Update"), {QStringLiteral("Company=Difference & Co")}),
              QStringLiteral("0"));
    w.go(QStringLiteral("GetRecord"), {QStringLiteral("LastName=Lovelace")});
    EXPECT_EQ(w.value(QStringLiteral("Company")), QStringLiteral("Difference & Co"));
    ASSERT_EQ(w.command(QStringLiteral("Delete")), QStringLiteral("0"));
    w.go(QStringLiteral("GetCount"));
    EXPECT_EQ(w.value(QStringLiteral("Total")), QStringLiteral("300"));
    w.go(QStringLiteral("GetRecord"), {QStringLiteral("LastName=Lovelace")});
    EXPECT_TRUE(w.results().isEmpty());
    EXPECT_EQ(w.errorCode(), QStringLiteral("6")) << "record not found";
    EXPECT_FALSE(w.message().isEmpty());

    // Badges: front, turned over, and each side asked for by name.
    ASSERT_EQ(w.command(QStringLiteral("First")), QStringLiteral("0"));
    ASSERT_TRUE(w.go(QStringLiteral("GetBadgeImage")));
    EXPECT_EQ(w.errorCode(), QString()) << w.message().toStdString();
    ASSERT_TRUE(form->Image1->hasPicture());
    const QImage front = form->Image1->picture().copy();
    EXPECT_EQ(front.size(), QSize(540, 860)) << "the design's card size";
    EXPECT_EQ(form->Image1->size(), front.size()) << "the view takes the picture's size";

    ASSERT_EQ(w.command(QStringLiteral("FlipBadge")), QStringLiteral("0"));
    w.go(QStringLiteral("GetBadgeImage"));
    const QImage back = form->Image1->picture().copy();
    EXPECT_EQ(back.size(), QSize(540, 860));
    EXPECT_NE(back, front);
    // The back's own colour (#eef2f6 in the design) fills its corner.
    EXPECT_EQ(back.pixelColor(2, back.height() - 3).name(), QStringLiteral("#eef2f6"));
    const struct {
        const char* side;
        const QImage& expected;
    } sides[] = {{"Side=Front", front}, {"Side=Back", back}};
    for (const auto& side : sides) {
        SCOPED_TRACE(side.side);
        w.go(QStringLiteral("GetBadgeImage"), {QString::fromLatin1(side.side)});
        EXPECT_EQ(form->Image1->picture(), side.expected);
    }

    // The photo is the record's own picture, smaller than a badge.
    w.go(QStringLiteral("GetPhotoImage"));
    EXPECT_EQ(w.errorCode(), QString()) << w.message().toStdString();
    ASSERT_TRUE(form->Image1->hasPicture());
    EXPECT_LT(form->Image1->picture().width(), 540);
    EXPECT_GT(form->Image1->picture().width(), 0);
    // No signature was captured: the simulator's fault, the photo stays.
    const QImage photo = form->Image1->picture().copy();
    w.go(QStringLiteral("GetSignatureImage"));
    EXPECT_EQ(w.errorCode(), QStringLiteral("11"));
    EXPECT_FALSE(w.message().isEmpty());
    EXPECT_EQ(form->Image1->picture(), photo);
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().toStdString();
}

TEST_F(SimWindow, HelpShowsPrototypesAndTextAndXmlShowsTheLastExchange) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_TRUE(connect());
    WindowDriver& w = *driver;

    form->MethodsComboBox->setCurrentIndex(
        form->MethodsComboBox->findText(QStringLiteral("GetRecord")));
    form->HelpButton->click();
    const QStringList help = w.results();
    ASSERT_GE(help.size(), 4) << help.join(u'\n').toStdString();
    EXPECT_EQ(help.first(), QStringLiteral("PROTOTYPE(S):"));
    const qsizetype heading = help.indexOf(QStringLiteral("HELP:"));
    ASSERT_GT(heading, 2) << "at least one prototype line before the help";
    EXPECT_EQ(help.at(heading - 1), QStringLiteral("-----------"));
    // Each prototype reads "i = return Method(parameters)".
    static const QRegularExpression prototype(
        QStringLiteral("^\\d+ = \\w+ GetRecord\\((\\w+(, \\w+)*)?\\)$"));
    for (const QString& line : help.mid(1, heading - 2))
        EXPECT_TRUE(prototype.match(line).hasMatch()) << line.toStdString();
    ASSERT_LT(heading + 1, help.size());
    EXPECT_TRUE(help.at(heading + 1).startsWith(QStringLiteral("GetRecord(Field=Value...)")))
        << help.at(heading + 1).toStdString();
    EXPECT_EQ(w.errorCode(), QString());

    // The XML views show the last request and answer, one line per line.
    w.go(QStringLiteral("GetStatus"));
    const QString status = w.results().join(u'\n');
    form->GetSentXML1->trigger();
    const QString sent = form->ResultsList->toPlainText();
    EXPECT_TRUE(sent.contains(QStringLiteral("<methodName>GetStatus</methodName>")))
        << sent.toStdString();
    form->GetReceivedXML1->trigger();
    const QString received = form->ResultsList->toPlainText();
    EXPECT_TRUE(received.contains(QStringLiteral("<methodResponse>"))) << received.toStdString();
    EXPECT_TRUE(received.contains(QStringLiteral("<name>Design</name>"))) << received.toStdString();
    EXPECT_FALSE(status.isEmpty());

    // "Enable XML Access" flips its mark and tells the library: on records
    // the exchange (as the library does from the start), off forgets it.
    const struct {
        bool checked;
        bool recorded;
    } clicks[] = {{true, true}, {false, false}, {true, true}};
    for (const auto& click : clicks) {
        SCOPED_TRACE(click.checked);
        form->EnableXMLAccess1->trigger();
        EXPECT_EQ(form->EnableXMLAccess1->isChecked(), click.checked);
        w.go(QStringLiteral("GetCount"));
        form->GetSentXML1->trigger();
        EXPECT_EQ(form->ResultsList->toPlainText().contains(
                      QStringLiteral("<methodName>GetCount</methodName>")),
                  click.recorded);
        form->GetReceivedXML1->trigger();
        EXPECT_EQ(form->ResultsList->lines().isEmpty(), !click.recorded);
    }
}

// With --access-key every call is refused with the simulator's fault until
// "Set" sends the right key; "Connect" is the first call a person makes.
TEST_F(SimWindow, AccessKeyFaultsUntilSetSendsTheKey) {
    const QString key = QStringLiteral("front desk 42");
    ASSERT_NO_FATAL_FAILURE(startSim({QStringLiteral("--access-key"), key}));
    WindowDriver& w = *driver;

    const struct {
        const char* typed; // into AccessKey before "Set"; empty: nothing is sent
        bool connects;
        const char* message; // part of Message when it does not
    } steps[] = {
        {"", false, "Access key missing"},
        {"front desk", false, "Access key wrong"},
        {"", false, "Access key wrong"}, // an empty key sends nothing: the old one stays
        {"front desk 42", true, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.typed);
        form->AccessKey->setText(QString::fromUtf8(step.typed));
        form->Button1->click();
        ui.sleeps.clear();
        EXPECT_EQ(connect(), step.connects);
        if (step.connects) {
            EXPECT_EQ(w.errorCode(), QString());
            continue;
        }
        EXPECT_EQ(ui.sleeps, std::vector<uint32_t>(15, 1000))
            << "the window waited its 15 attempts";
        EXPECT_EQ(w.errorCode(), QStringLiteral("14"));
        EXPECT_TRUE(w.message().contains(QString::fromLatin1(step.message)))
            << w.message().toStdString();
    }
    // Once set, the key goes with every call.
    ASSERT_TRUE(w.go(QStringLiteral("GetStatus")));
    EXPECT_EQ(w.errorCode(), QString()) << w.message().toStdString();
    EXPECT_EQ(w.value(QStringLiteral("Busy")).isNull(), false);
}

// cardwright-sim killed between two calls: the window's error boxes give the
// library's code and a text naming host, port and cause, with no result and
// no message box; once it runs again on its port and roster, the next call
// answers as before.
TEST_F(SimWindow, KilledBetweenCallsShowsTheErrorThenARestartAnswers) {
    ASSERT_NO_FATAL_FAILURE(startSim({QStringLiteral("--design"), sample.design()}));
    const int port = sim->port();
    ASSERT_TRUE(connect());
    WindowDriver& w = *driver;
    ASSERT_TRUE(w.waitIdle());
    ASSERT_EQ(w.command(QStringLiteral("Add"),
                        {QStringLiteral("FirstName=Ada"), QStringLiteral("LastName=Survivor")}),
              QStringLiteral("0"));

    sim->kill();
    const QString refused =
        QStringLiteral("Cannot connect to 127.0.0.1:%1: Connection refused").arg(port);
    for (const char* method : {"GetCount", "IsBusy", "Next", "GetBadgeImage"}) {
        SCOPED_TRACE(method);
        ASSERT_TRUE(w.go(QString::fromLatin1(method)));
        EXPECT_EQ(w.errorCode(), QString::number(CWX_ERR_CONNECT));
        EXPECT_EQ(w.message(), refused);
        EXPECT_EQ(w.results(), QStringList());
    }
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().toStdString();
    EXPECT_TRUE(ui.errors.empty()) << ui.errors.front().toStdString();

    sim = std::make_unique<e2e::SimProcess>(sample);
    QString error;
    ASSERT_TRUE(sim->start({QStringLiteral("--port"), QString::number(port),
                            QStringLiteral("--design"), sample.design()},
                           error))
        << error.toStdString();
    ASSERT_TRUE(w.go(QStringLiteral("IsBusy")));
    EXPECT_EQ(w.errorCode(), QString()) << w.message().toStdString();
    EXPECT_EQ(w.message(), QString());
    ASSERT_TRUE(w.waitIdle());
    w.go(QStringLiteral("GetCount"));
    EXPECT_EQ(w.value(QStringLiteral("Total")), QStringLiteral("301"));
    w.go(QStringLiteral("GetRecord"), {QStringLiteral("LastName=Survivor")});
    EXPECT_EQ(w.value(QStringLiteral("FirstName")), QStringLiteral("Ada"));
    EXPECT_EQ(w.errorCode(), QString());
}

// The six launch items: the file dialog is answered with the copied design,
// the library starts the cardwright-sim beside it with the item's role, show
// mode and the window's port, the window connects, and "Exit" through the
// window ends the program.
TEST_F(SimWindow, LaunchItemsStartTheSimulatorAndConnect) {
    const struct {
        QAction* TForm1::*item;
        const char* show;
        bool rosterLink;
    } items[] = {
        {&TForm1::Open1, "normal", false},
        {&TForm1::LaunchCWMinimized1, "minimized", false},
        {&TForm1::LaunchCWHidden1, "hidden", false},
        {&TForm1::LaunchRL, "normal", true},
        {&TForm1::LaunchRLMinimized1, "minimized", true},
        {&TForm1::LaunchRLHidden1, "hidden", true},
    };
    const QString design = sample.design();
    WindowDriver& w = *driver;
    // The library passes the port it was last given, which "Connect" gives
    // it: connect once to the free port, where nobody listens yet.
    const int port = e2e::freePort();
    ASSERT_GT(port, 0);
    form->PortNumber->setText(QString::number(port));
    ASSERT_FALSE(connect());
    EXPECT_EQ(w.errorCode(), QString::number(CWX_ERR_CONNECT));
    for (const auto& row : items) {
        QAction* const item = form.get()->*row.item;
        SCOPED_TRACE(item->text().toStdString());
        ui.fileAnswers = {design};
        // The window's pause between connection attempts ends early once
        // the launched program listens.
        ui.onSleep = [port](uint32_t ms) {
            const QDeadlineTimer pause(static_cast<qint64>(ms));
            while (!pause.hasExpired() && !e2e::listening(port))
                QTest::qWait(20);
        };

        item->trigger();
        ASSERT_FALSE(ui.dialogFilters.empty());
        EXPECT_TRUE(ui.dialogFilters.back().contains(QStringLiteral("*.idc")))
            << ui.dialogFilters.back().toStdString();
        const QList<qint64> launched = e2e::processesWith(design);
        ASSERT_EQ(launched.size(), 1) << "one program runs on the design";
        launchedPids.append(launched.first());
        ASSERT_GT(form->MethodsComboBox->count(), 0)
            << w.errorCode().toStdString() << ' ' << w.message().toStdString();
        EXPECT_EQ(form->MethodsComboBox->currentIndex(), 0);

        // What the library passed: the program beside it, the design
        // unchanged, the show mode, the window's port and the role.
        const QStringList words = e2e::commandLine(launched.first());
        ASSERT_FALSE(words.isEmpty());
        EXPECT_EQ(QFileInfo(words.first()).fileName(), QStringLiteral("cardwright-sim"));
        const auto after = [&words](const char* option) {
            const qsizetype at = words.indexOf(QString::fromLatin1(option));
            return at >= 0 && at + 1 < words.size() ? words.at(at + 1) : QString();
        };
        EXPECT_EQ(after("--design"), design);
        EXPECT_EQ(after("--show"), QString::fromLatin1(row.show));
        EXPECT_EQ(after("--port"), QString::number(port));
        EXPECT_EQ(after("--role"), row.rosterLink ? QStringLiteral("rosterlink") : QString());

        // It opened the design (the first launch generates the roster).
        ASSERT_TRUE(w.waitIdle());
        w.go(QStringLiteral("GetCount"));
        EXPECT_EQ(w.value(QStringLiteral("Total")), QStringLiteral("300"))
            << w.message().toStdString();
        // RosterLink refuses badges (fault 4); Cardwright draws them.
        w.go(QStringLiteral("GetBadgeImage"));
        EXPECT_EQ(w.errorCode(), row.rosterLink ? QStringLiteral("4") : QString())
            << w.message().toStdString();

        ASSERT_TRUE(w.go(QStringLiteral("Exit")));
        EXPECT_EQ(w.results(), QStringList{Accepted});
        const QDeadlineTimer deadline(10000);
        while (!e2e::processesWith(design).isEmpty() && !deadline.hasExpired())
            QTest::qWait(20);
        EXPECT_TRUE(e2e::processesWith(design).isEmpty()) << "Exit ended the launched program";
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The launch test finds cardwright-sim beside the library, not by name.
    qunsetenv("CWXML_CARDWRIGHT");
    qunsetenv("CWXML_ROSTERLINK");
    vcl::Application application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
