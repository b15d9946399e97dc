// "Connect" with its wait, the six launch items, the access key and the XML
// views, run headless against the scripted double of the client library.
#include "fake_cwxmlclient.h"
#include "window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPushButton>

#include <string>
#include <vector>

namespace {

const QString kErrorText = QStringLiteral("Cannot connect to localhost:8080: Connection refused");

std::vector<std::string> namesAfter(std::size_t from)
{
    const auto all = fake::callNames();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

QString waiting(int n) { return QStringLiteral("Waiting for CW to become available: %1").arg(n); }

class RemoteControl : public WindowTest {
protected:
    void SetUp() override
    {
        fake::reset();
        WindowTest::SetUp();
        // What `Message` showed, and whether it had been painted, at each sleep.
        form->Message->installEventFilter(&paints);
        ui.onSleep = [this](uint32_t) {
            shownAtSleep.push_back(form->Message->text());
            paintedAtSleep.push_back(paints.lastPainted);
        };
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        fake::reset();
    }

    // Scripts a successful connection answering `names`.
    static void answerWith(const QStringList& names)
    {
        fake::Entries entries;
        for (int i = 0; i < names.size(); ++i)
            entries.emplace_back(std::to_string(i), names[i].toStdString());
        fake::pushList("GetMethods", entries);
    }

    struct PaintRecorder : QObject {
        QString lastPainted;
        QLineEdit* edit = nullptr;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                lastPainted = static_cast<QLineEdit*>(watched)->text();
            return false;
        }
    } paints;
    std::vector<QString> shownAtSleep;
    std::vector<QString> paintedAtSleep;
};

// ---- Connection -------------------------------------------------------------

struct WaitCase {
    const char* name;
    int answerAt; // attempt that answers; 0: never
};

TEST_F(RemoteControl, ConnectWaitsWithCountdownOneSleepPerFailedAttempt)
{
    const std::vector<WaitCase> cases = {
        {"answers at once", 1}, {"answers at attempt 2", 2},  {"answers at attempt 9", 9},
        {"answers at attempt 15", 15}, {"never answers", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        ui.sleeps.clear();
        shownAtSleep.clear();
        paintedAtSleep.clear();
        fake::setError(-1, kErrorText.toStdString());
        const int failures = c.answerAt == 0 ? 15 : c.answerAt - 1;
        for (int i = 0; i < failures; ++i)
            fake::pushNullList("GetMethods");
        if (c.answerAt != 0)
            answerWith({QStringLiteral("Open"), QStringLiteral("Close"), QStringLiteral("Open")});

        form->Connect1Click(nullptr);

        EXPECT_EQ(fake::callCount("GetMethods"), c.answerAt == 0 ? 15 : c.answerAt);
        EXPECT_EQ(ui.sleeps, std::vector<uint32_t>(static_cast<std::size_t>(failures), 1000));
        std::vector<QString> countdown;
        for (int n = 15; n > 15 - failures; --n)
            countdown.push_back(waiting(n));
        EXPECT_EQ(shownAtSleep, countdown);
        EXPECT_EQ(paintedAtSleep, countdown) << "the countdown is painted before each sleep";
        if (c.answerAt != 0) {
            EXPECT_EQ(comboItems(), (QStringList{QStringLiteral("Open"), QStringLiteral("Close"),
                                                 QStringLiteral("Open")}));
            EXPECT_EQ(form->MethodsComboBox->currentIndex(), 0);
            EXPECT_EQ(form->ErrorCode->text(), QString());
            EXPECT_EQ(form->Message->text(), QString());
            ASSERT_NE(form->remoteMethods(), nullptr);
            EXPECT_EQ(form->remoteMethods()->count, 3);
            EXPECT_EQ(fake::callCount("GetErrorCode"), 0);
        } else {
            EXPECT_TRUE(comboItems().isEmpty());
            EXPECT_EQ(form->MethodsComboBox->currentIndex(), -1);
            EXPECT_EQ(form->ErrorCode->text(), QStringLiteral("-1"));
            EXPECT_EQ(form->Message->text(), kErrorText);
            EXPECT_EQ(form->remoteMethods(), nullptr);
            const auto names = fake::callNames();
            ASSERT_GE(names.size(), 2u);
            EXPECT_EQ(names[names.size() - 2], "GetErrorCode");
            EXPECT_EQ(names.back(), "GetErrorText");
        }
    }
}

TEST_F(RemoteControl, ConnectCallsSettingsFirstThenAsks)
{
    answerWith({QStringLiteral("Open")});
    form->Connect1Click(nullptr);
    ASSERT_EQ(fake::callNames(), (std::vector<std::string>{"SetXMLPort", "SetHostName", "GetMethods"}));
    EXPECT_EQ(fake::calls()[0].number, 8080);
    EXPECT_EQ(fake::calls()[1].text, std::optional<std::string>("localhost"));
}

struct ListCase {
    const char* name;
    NameValueList list;
    QStringList items;
};

TEST_F(RemoteControl, ConnectFillsFromValuesOnly)
{
    static char n0[] = "0", n1[] = "1";
    static char vOpen[] = "Open", vEmpty[] = "", vSpaced[] = " Select ", vUtf8[] = "D\xc3\xa9j\xc3\xa0";
    static char* names2[] = {n0, n1};
    static char* valuesNull[] = {vOpen, nullptr};
    static char* valuesRaw[] = {vSpaced, vEmpty, vUtf8};
    static char* namesNull[] = {nullptr, nullptr, nullptr};
    const std::vector<ListCase> cases = {
        {"count 0", {0, nullptr, nullptr}, {}},
        {"negative count reads as none", {-3, nullptr, nullptr}, {}},
        {"null value reads as empty", {2, names2, valuesNull}, {QStringLiteral("Open"), QString()}},
        {"untrimmed, UTF-8, names not read", {3, namesNull, valuesRaw},
         {QStringLiteral(" Select "), QString(), QString::fromUtf8("D\xc3\xa9j\xc3\xa0")}},
        {"count without value array", {2, names2, nullptr}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::pushRawList("GetMethods", c.list);
        form->ErrorCode->setText(QStringLiteral("old"));
        form->Connect1Click(nullptr);
        EXPECT_EQ(comboItems(), c.items);
        EXPECT_EQ(form->MethodsComboBox->currentIndex(), c.items.isEmpty() ? -1 : 0);
        EXPECT_EQ(form->ErrorCode->text(), QString());
        EXPECT_EQ(form->Message->text(), QString());
        EXPECT_EQ(fake::callCount("GetErrorCode"), 0);
        EXPECT_TRUE(ui.sleeps.empty());
    }
}

struct PortCase {
    const char* name;
    QString text;
    std::optional<int32_t> port; // nothing: refused
};

TEST_F(RemoteControl, PortTexts)
{
    const std::vector<PortCase> cases = {
        {"plain", QStringLiteral("8080"), 8080},
        {"blanks around", QStringLiteral("  9000 "), 9000},
        {"plus sign", QStringLiteral("+81"), 81},
        {"negative passed on", QStringLiteral("-1"), -1},
        {"out of port range passed on", QStringLiteral("70000"), 70000},
        {"hex", QStringLiteral("$1F90"), 8080},
        {"letters", QStringLiteral("http"), std::nullopt},
        {"empty", QString(), std::nullopt},
        {"blank", QStringLiteral("   "), std::nullopt},
        {"blank inside", QStringLiteral("80 80"), std::nullopt},
        {"trailing letters", QStringLiteral("8080x"), std::nullopt},
        {"sign only", QStringLiteral("-"), std::nullopt},
        {"beyond 32 bits", QStringLiteral("4294967296"), std::nullopt},
        {"decimal point", QStringLiteral("80.80"), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        // An earlier connection, and error fields from something else.
        answerWith({QStringLiteral("Open"), QStringLiteral("Close")});
        form->PortNumber->setText(QStringLiteral("8080"));
        form->Connect1Click(nullptr);
        const NameValueList* earlier = form->remoteMethods();
        form->ErrorCode->setText(QStringLiteral("-5"));
        form->Message->setText(QStringLiteral("old"));
        const std::size_t before = fake::calls().size();

        answerWith({QStringLiteral("Open")});
        form->PortNumber->setText(c.text);
        if (c.port) {
            EXPECT_NO_THROW(form->Connect1Click(nullptr));
            ASSERT_EQ(namesAfter(before), (std::vector<std::string>{"SetXMLPort", "SetHostName", "GetMethods"}));
            EXPECT_EQ(fake::calls()[before].number, *c.port);
        } else {
            try {
                form->Connect1Click(nullptr);
                ADD_FAILURE() << "no conversion error";
            } catch (const vcl::EConvertError& e) {
                EXPECT_EQ(e.Message, QStringLiteral("'%1' is not a valid integer value").arg(c.text));
            }
            EXPECT_TRUE(namesAfter(before).empty()) << "no library call";
            EXPECT_TRUE(comboItems().isEmpty());
            EXPECT_EQ(form->ErrorCode->text(), QString());
            EXPECT_EQ(form->Message->text(), QString());
            EXPECT_EQ(form->remoteMethods(), earlier);
        }
    }
}

TEST_F(RemoteControl, ConversionErrorFromTheMenuIsShownInTheErrorBoxAndTheProgramGoesOn)
{
    form->PortNumber->setText(QStringLiteral("abc"));
    // As a menu click: the handler runs inside event delivery.
    QMetaObject::invokeMethod(form->Connect1, &QAction::trigger, Qt::QueuedConnection);
    QApplication::sendPostedEvents();
    EXPECT_EQ(ui.errors, std::vector<QString>{QStringLiteral("'abc' is not a valid integer value")});
    EXPECT_TRUE(fake::calls().empty());

    form->PortNumber->setText(QStringLiteral("8080"));
    answerWith({QStringLiteral("Open")});
    QMetaObject::invokeMethod(form->Connect1, &QAction::trigger, Qt::QueuedConnection);
    QApplication::sendPostedEvents();
    EXPECT_EQ(comboItems(), QStringList{QStringLiteral("Open")});
    EXPECT_EQ(ui.errors.size(), 1u);
}

struct HostCase {
    const char* name;
    QString text;
    std::string sent;
};

TEST_F(RemoteControl, HostNamePassedUntrimmed)
{
    const std::vector<HostCase> cases = {
        {"empty is an empty string", QString(), ""},
        {"blanks kept", QStringLiteral(" host "), " host "},
        {"non-ASCII as UTF-8", QString::fromUtf8("h\xc3\xb4te"), "h\xc3\xb4te"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        answerWith({QStringLiteral("Open")});
        form->HostName->setText(c.text);
        form->Connect1Click(nullptr);
        ASSERT_EQ(fake::callCount("SetHostName"), 1);
        EXPECT_EQ(fake::calls()[1].text, std::optional<std::string>(c.sent));
        EXPECT_EQ(comboItems(), QStringList{QStringLiteral("Open")}) << "carries on";
    }
}

TEST_F(RemoteControl, ConnectLeavesTheMemosAloneAndDoesNotPileUp)
{
    form->ResultsList->setPlainText(QStringLiteral("earlier line"));
    form->Parameters->setPlainText(QStringLiteral("File=x.idc"));
    answerWith({QStringLiteral("A"), QStringLiteral("B")});
    form->Connect1Click(nullptr);
    answerWith({QStringLiteral("C")});
    form->Connect1Click(nullptr);
    EXPECT_EQ(comboItems(), QStringList{QStringLiteral("C")});
    EXPECT_EQ(form->ResultsList->toPlainText(), QStringLiteral("earlier line"));
    EXPECT_EQ(form->Parameters->toPlainText(), QStringLiteral("File=x.idc"));

    // A failed run empties the list and forgets the earlier pointer.
    fake::setError(-2, std::nullopt);
    form->Connect1Click(nullptr);
    EXPECT_TRUE(comboItems().isEmpty());
    EXPECT_EQ(form->remoteMethods(), nullptr);
    EXPECT_EQ(form->ErrorCode->text(), QStringLiteral("-2"));
    EXPECT_EQ(form->Message->text(), QString()) << "a null error text reads as empty";
}

// ---- Launch -------------------------------------------------------------------

struct LaunchItem {
    const char* name;
    void (TForm1::*handler)(QObject*);
    QAction* TForm1::*action;
    const char* function;
    int32_t showMode;
};

const std::vector<LaunchItem> kLaunchItems = {
    {"Launch CW", &TForm1::Open1Click, &TForm1::Open1, "LaunchCW", 5},
    {"Launch CW Minimized", &TForm1::LaunchCWMinimized1Click, &TForm1::LaunchCWMinimized1, "LaunchCW", 2},
    {"Launch CW Hidden", &TForm1::LaunchCWHidden1Click, &TForm1::LaunchCWHidden1, "LaunchCW", 0},
    {"Launch RL", &TForm1::LaunchRLClick, &TForm1::LaunchRL, "LaunchRL", 5},
    {"Launch RL Minimized", &TForm1::LaunchRLMinimized1Click, &TForm1::LaunchRLMinimized1, "LaunchRL", 2},
    {"Launch RL Hidden", &TForm1::LaunchRLHidden1Click, &TForm1::LaunchRLHidden1, "LaunchRL", 0},
};

class Launch : public RemoteControl {
protected:
    // A connection whose names the launch items should clear or keep.
    void connectFirst()
    {
        answerWith({QStringLiteral("Open"), QStringLiteral("Close")});
        form->Connect1Click(nullptr);
        form->ErrorCode->setText(QStringLiteral("7"));
        form->Message->setText(QStringLiteral("old"));
        form->ResultsList->setPlainText(QStringLiteral("results"));
        fake::reset();
    }
};

TEST_F(Launch, CancelKeepsTheListAndCallsNothing)
{
    for (const auto& item : kLaunchItems) {
        SCOPED_TRACE(item.name);
        connectFirst();
        ui.dialogFilters.clear();
        (form.get()->*item.handler)(nullptr);
        EXPECT_EQ(ui.dialogFilters, std::vector<QString>{QStringLiteral("IDC File (*.idc)")});
        EXPECT_TRUE(fake::calls().empty());
        EXPECT_EQ(comboItems(), (QStringList{QStringLiteral("Open"), QStringLiteral("Close")}));
        EXPECT_EQ(form->ErrorCode->text(), QString());
        EXPECT_EQ(form->Message->text(), QString());
    }
}

TEST_F(Launch, RefusedShowsTheLibraryErrorWithAnEmptyList)
{
    for (const auto& item : kLaunchItems) {
        SCOPED_TRACE(item.name);
        connectFirst();
        ui.fileAnswers.push_back(QStringLiteral("/data/badges.idc"));
        fake::pushByte(item.function, 0);
        fake::setError(-11, "Cannot start cardwright-sim: No such file or directory");
        (form.get()->*item.handler)(nullptr);
        EXPECT_EQ(fake::callNames(), (std::vector<std::string>{item.function, "GetErrorCode", "GetErrorText"}));
        EXPECT_TRUE(comboItems().isEmpty());
        EXPECT_EQ(form->ErrorCode->text(), QStringLiteral("-11"));
        EXPECT_EQ(form->Message->text(), QStringLiteral("Cannot start cardwright-sim: No such file or directory"));
        EXPECT_EQ(form->ResultsList->toPlainText(), QStringLiteral("results"));
    }
}

TEST_F(Launch, AcceptedConnectsExactlyOnceWithTheItemsShowMode)
{
    for (const auto& item : kLaunchItems) {
        SCOPED_TRACE(item.name);
        connectFirst();
        ui.fileAnswers.push_back(QStringLiteral("/data/badges.idc"));
        fake::pushByte(item.function, 1);
        answerWith({QStringLiteral("Print")});
        // Through the menu item, so the binding is checked too.
        (form.get()->*item.action)->trigger();
        ASSERT_EQ(fake::callNames(),
                  (std::vector<std::string>{item.function, "SetXMLPort", "SetHostName", "GetMethods"}));
        EXPECT_EQ(fake::calls()[0].text, std::optional<std::string>("/data/badges.idc"));
        EXPECT_EQ(fake::calls()[0].number, item.showMode);
        EXPECT_EQ(comboItems(), QStringList{QStringLiteral("Print")});
        EXPECT_EQ(form->ResultsList->toPlainText(), QStringLiteral("results"));
    }
}

TEST_F(Launch, PathsPassedUnchanged)
{
    const std::vector<std::pair<QString, std::string>> paths = {
        {QStringLiteral("/home/me/My Designs/front badge.idc"), "/home/me/My Designs/front badge.idc"},
        {QStringLiteral("/tmp/\"quoted\" 'single' $HOME;rm -rf x.idc"), "/tmp/\"quoted\" 'single' $HOME;rm -rf x.idc"},
        {QString::fromUtf8("/tmp/caf\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.idc"), "/tmp/caf\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.idc"},
        {QString(), ""},
    };
    for (const auto& item : kLaunchItems) {
        for (const auto& [chosen, sent] : paths) {
            SCOPED_TRACE(std::string(item.name) + " " + sent);
            fake::reset();
            ui.fileAnswers.push_back(chosen);
            fake::pushByte(item.function, 0);
            (form.get()->*item.handler)(nullptr);
            ASSERT_GE(fake::calls().size(), 1u);
            EXPECT_EQ(fake::calls()[0].function, item.function);
            EXPECT_EQ(fake::calls()[0].text, std::optional<std::string>(sent));
        }
    }
}

TEST_F(Launch, AcceptedButPortNotAnIntegerEndsAfterTheLaunch)
{
    connectFirst();
    form->PortNumber->setText(QStringLiteral("port"));
    ui.fileAnswers.push_back(QStringLiteral("/data/badges.idc"));
    fake::pushByte("LaunchCW", 1);
    EXPECT_THROW(form->Open1Click(nullptr), vcl::EConvertError);
    EXPECT_EQ(fake::callNames(), std::vector<std::string>{"LaunchCW"});
    EXPECT_TRUE(comboItems().isEmpty());
}

// ---- Access key and XML traffic ----------------------------------------------

TEST_F(RemoteControl, SetSendsTheKeyAsTypedAndNothingWhenEmpty)
{
    const std::vector<std::pair<QString, std::optional<std::string>>> cases = {
        {QString(), std::nullopt},
        {QStringLiteral("   "), "   "},
        {QStringLiteral(" key "), " key "},
        {QString::fromUtf8("cl\xc3\xa9"), "cl\xc3\xa9"},
    };
    for (const auto& [key, sent] : cases) {
        SCOPED_TRACE(key.toStdString());
        fake::reset();
        form->ErrorCode->setText(QStringLiteral("3"));
        form->AccessKey->setText(key);
        form->Button1->click();
        if (sent) {
            ASSERT_EQ(fake::callNames(), std::vector<std::string>{"SetXMLAccessKey"});
            EXPECT_EQ(fake::calls()[0].text, sent);
        } else {
            EXPECT_TRUE(fake::calls().empty());
        }
        EXPECT_EQ(form->ErrorCode->text(), QStringLiteral("3"));
    }
}

TEST_F(RemoteControl, EnableXMLAccessInvertsTheMarkAndSendsTheNewState)
{
    EXPECT_FALSE(form->EnableXMLAccess1->isChecked());
    form->EnableXMLAccess1Click(nullptr);
    EXPECT_TRUE(form->EnableXMLAccess1->isChecked());
    form->EnableXMLAccess1Click(nullptr);
    EXPECT_FALSE(form->EnableXMLAccess1->isChecked());
    ASSERT_EQ(fake::callNames(), (std::vector<std::string>{"EnableXMLAccess", "EnableXMLAccess"}));
    EXPECT_EQ(fake::calls()[0].number, 1);
    EXPECT_EQ(fake::calls()[1].number, 0);
}

TEST_F(RemoteControl, EnableXMLAccessFromTheMenuTurnsItOnOnce)
{
    // Qt toggles a checkable action by itself; one menu click must still
    // leave the mark checked and send "on".
    form->EnableXMLAccess1->trigger();
    EXPECT_TRUE(form->EnableXMLAccess1->isChecked());
    ASSERT_EQ(fake::callNames(), std::vector<std::string>{"EnableXMLAccess"});
    EXPECT_EQ(fake::calls()[0].number, 1);
    form->EnableXMLAccess1->trigger();
    EXPECT_FALSE(form->EnableXMLAccess1->isChecked());
    EXPECT_EQ(fake::calls().back().number, 0);
}

struct XmlCase {
    const char* name;
    std::optional<std::string> text;
    QString memo;
};

TEST_F(RemoteControl, XMLTextsReplaceTheResultsLineByLine)
{
    const std::vector<XmlCase> cases = {
        {"CR LF", "<a>\r\n<b/>\r\n</a>", QStringLiteral("<a>\n<b/>\n</a>")},
        {"LF", "<a>\n<b/>\n</a>", QStringLiteral("<a>\n<b/>\n</a>")},
        {"CR", "<a>\r<b/>\r</a>", QStringLiteral("<a>\n<b/>\n</a>")},
        {"blank lines kept", "a\r\n\r\nb\n\nc", QStringLiteral("a\n\nb\n\nc")},
        {"LF CR is two breaks", "a\n\rb", QStringLiteral("a\n\nb")},
        {"one line", "<methodCall/>", QStringLiteral("<methodCall/>")},
        {"UTF-8", "<v>caf\xc3\xa9</v>", QString::fromUtf8("<v>caf\xc3\xa9</v>")},
        {"empty", "", QString()},
        {"null", std::nullopt, QString()},
    };
    const std::vector<std::pair<const char*, QAction* TForm1::*>> items = {
        {"GetSentXML", &TForm1::GetSentXML1},
        {"GetReceivedXML", &TForm1::GetReceivedXML1},
    };
    for (const auto& [function, action] : items) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(function) + ": " + c.name);
            fake::reset();
            form->ResultsList->setPlainText(QStringLiteral("old\nlines"));
            fake::pushText(function, c.text);
            (form.get()->*action)->trigger();
            EXPECT_EQ(fake::callNames(), std::vector<std::string>{function});
            EXPECT_EQ(form->ResultsList->toPlainText(), c.memo);
            EXPECT_EQ(form->ResultsList->blockCount(), c.memo.count(u'\n') + 1);
        }
    }
}

TEST_F(RemoteControl, XMLViewsKeepTheErrorOfTheFailedCall)
{
    fake::setError(-1, kErrorText.toStdString());
    form->Connect1Click(nullptr); // fails after its wait
    ASSERT_EQ(form->Message->text(), kErrorText);
    fake::pushText("GetSentXML", "<methodCall>\n</methodCall>");
    form->GetSentXML1Click(nullptr);
    fake::pushText("GetReceivedXML", std::nullopt);
    form->GetReceivedXML1Click(nullptr);
    EXPECT_EQ(form->ErrorCode->text(), QStringLiteral("-1"));
    EXPECT_EQ(form->Message->text(), kErrorText);
    EXPECT_EQ(form->ResultsList->toPlainText(), QString());

    // And after a method that failed ("Next" refused by the library).
    fake::setError(-8, "No next record");
    form->MethodsComboBox->addItem(QStringLiteral("Next"));
    form->MethodsComboBox->setCurrentIndex(0);
    form->ToolKitButton->click();
    ASSERT_EQ(form->ErrorCode->text(), QStringLiteral("-8"));
    fake::pushText("GetSentXML", "<methodCall>\r\n<methodName>Next</methodName>\r\n</methodCall>");
    form->GetSentXML1Click(nullptr);
    EXPECT_EQ(form->ResultsList->toPlainText(),
              QStringLiteral("<methodCall>\n<methodName>Next</methodName>\n</methodCall>"));
    EXPECT_EQ(form->ErrorCode->text(), QStringLiteral("-8"));
    EXPECT_EQ(form->Message->text(), QStringLiteral("No next record"));
}

} // namespace
