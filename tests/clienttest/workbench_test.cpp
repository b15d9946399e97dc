// The method handlers: for each family, a table of what the library returns
// and what the three outputs show, the library calls in order, and the
// argument step with its message boxes.
#include "entry.h"
#include "form_fixture.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>

namespace {

// Names each row of a table after its label.
struct ByLabel {
    template <class P> std::string operator()(const ::testing::TestParamInfo<P>& row) const {
        return row.param.label;
    }
};

using Strings = std::vector<std::string>;

struct HandlerCase {
    const char* label;
    const char* method;
    std::function<void()> script; // what the double answers
    QStringList lines;            // ResultsList afterwards
    QString code;                 // ErrorCode afterwards
    QString text;                 // Message afterwards
    Strings calls;                // library calls, in order
};

void PrintTo(const HandlerCase& row, std::ostream* os) {
    *os << row.label;
}

const QString kErrText = QStringLiteral("Cannot connect to localhost:8080: Connection refused");

void failWith(int32_t code, std::optional<std::string> text) {
    fake::setError(code, std::move(text));
}

class Handlers : public FormTest, public ::testing::WithParamInterface<HandlerCase> {};

TEST_P(Handlers, OutputsAndCalls) {
    const HandlerCase& c = GetParam();
    fillOutputs();
    parameters()->setPlainText(QStringLiteral("Key=Value"));
    failWith(-1, kErrText.toStdString());
    c.script();
    go(c.method);
    EXPECT_EQ(results()->lines(), c.lines);
    EXPECT_EQ(errorCode()->text(), c.code);
    EXPECT_EQ(message()->text(), c.text);
    EXPECT_EQ(calls(), c.calls);
    EXPECT_TRUE(ui.messages.empty());
}

QStringList lines(std::initializer_list<const char*> l) {
    QStringList out;
    for (const char* s : l)
        out.append(QString::fromUtf8(s));
    return out;
}

const QString kAccepted = QStringLiteral("Pending command accepted");

INSTANTIATE_TEST_SUITE_P(
    Families, Handlers,
    ::testing::Values(
        // 1. List getters.
        HandlerCase{"listShown",
                    "GetFeatures",
                    [] {
                        fake::pushList("GetFeatures", {{"Video", "1"}, {"Twain", "0"}});
                    },
                    lines({"Video = 1", "Twain = 0"}),
                    QString(),
                    QString(),
                    {"GetFeatures"}},
        HandlerCase{"emptyListIsNoError",
                    "GetStatus",
                    [] { fake::pushList("GetStatus", {}); },
                    {},
                    QString(),
                    QString(),
                    {"GetStatus"}},
        HandlerCase{"nullListShowsLastError",
                    "GetCurrent",
                    [] { fake::pushNullList("GetCurrent"); },
                    {},
                    QStringLiteral("-1"),
                    kErrText,
                    {"GetCurrent", "GetErrorCode", "GetErrorText"}},
        HandlerCase{"nullErrorTextIsEmpty",
                    "GetFields",
                    [] {
                        fake::pushNullList("GetFields");
                        failWith(-13, std::nullopt);
                    },
                    {},
                    QStringLiteral("-13"),
                    QString(),
                    {"GetFields", "GetErrorCode", "GetErrorText"}},
        HandlerCase{
            "nullValueEndsAfterSeparator",
            "GetUserData",
            [] {
                static char* names[] = {const_cast<char*>("Owner"), const_cast<char*>("Note")};
                static char* values[] = {nullptr, const_cast<char*>("x")};
                fake::pushRawList("GetUserData", NameValueList{2, names, values});
            },
            lines({"Owner = ", "Note = x"}),
            QString(),
            QString(),
            {"GetUserData"}},
        HandlerCase{"negativeCountShowsNothing",
                    "GetTemplates",
                    [] {
                        fake::pushRawList("GetTemplates", NameValueList{-5, nullptr, nullptr});
                    },
                    {},
                    QString(),
                    QString(),
                    {"GetTemplates"}},
        HandlerCase{"countIsAList",
                    "GetCount",
                    [] {
                        fake::pushList("GetCount", {{"Total", "12"}, {"Selected", "3"}});
                    },
                    lines({"Total = 12", "Selected = 3"}),
                    QString(),
                    QString(),
                    {"GetCount"}},
        HandlerCase{"utf8Entries",
                    "GetProgramInfo",
                    [] {
                        fake::pushList("GetProgramInfo", {{"Design", "Z\xC3\xBCrich.idc"}});
                    },
                    QStringList{QStringLiteral("Design = Zürich.idc")},
                    QString(),
                    QString(),
                    {"GetProgramInfo"}},
        // 2. Status commands without arguments.
        HandlerCase{"accepted",
                    "Close",
                    [] { fake::pushByte("Close", 1); },
                    {kAccepted},
                    QString(),
                    QString(),
                    {"Close"}},
        HandlerCase{"refused",
                    "Next",
                    [] { fake::pushByte("Next", 0); },
                    {},
                    QStringLiteral("-1"),
                    kErrText,
                    {"Next", "GetErrorCode", "GetErrorText"}},
        HandlerCase{"twoIsAFailure",
                    "Print",
                    [] { fake::pushByte("Print", 2); },
                    {},
                    QStringLiteral("-1"),
                    kErrText,
                    {"Print", "GetErrorCode", "GetErrorText"}},
        HandlerCase{"remoteExitIsACommand",
                    "Exit",
                    [] { fake::pushByte("Exit", 1); },
                    {kAccepted},
                    QString(),
                    QString(),
                    {"Exit"}},
        // 3. Argument-taking methods.
        HandlerCase{"argumentCommandAccepted",
                    "Open",
                    [] { fake::pushByte("Open", 1); },
                    {kAccepted},
                    QString(),
                    QString(),
                    {"Open"}},
        HandlerCase{"argumentCommandRefused",
                    "Select",
                    [] {
                        fake::pushByte("Select", 0);
                        failWith(-8, "Select refused: no record matches Key=Value");
                    },
                    {},
                    QStringLiteral("-8"),
                    QStringLiteral("Select refused: no record matches Key=Value"),
                    {"Select", "GetErrorCode", "GetErrorText"}},
        HandlerCase{"recordList",
                    "GetRecord",
                    [] {
                        fake::pushList("GetRecord", {{"Name", "Ann"}});
                    },
                    lines({"Name = Ann"}),
                    QString(),
                    QString(),
                    {"GetRecord"}},
        HandlerCase{"recordNull",
                    "GetRecord",
                    [] { fake::pushNullList("GetRecord"); },
                    {},
                    QStringLiteral("-1"),
                    kErrText,
                    {"GetRecord", "GetErrorCode", "GetErrorText"}},
        // 4. Integer getters: no failure branch at all.
        HandlerCase{"minusOneIsJustANumber",
                    "GetCWHandle",
                    [] { fake::pushNumber("GetCWHandle", -1); },
                    lines({"-1"}),
                    QString(),
                    QString(),
                    {"GetCWHandle"}},
        HandlerCase{"largest",
                    "GetEditCount",
                    [] { fake::pushNumber("GetEditCount", 2147483647); },
                    lines({"2147483647"}),
                    QString(),
                    QString(),
                    {"GetEditCount"}},
        HandlerCase{"smallest",
                    "GetLastCommandError",
                    [] { fake::pushNumber("GetLastCommandError", INT32_MIN); },
                    lines({"-2147483648"}),
                    QString(),
                    QString(),
                    {"GetLastCommandError"}},
        // 5. IsBusy.
        HandlerCase{"idle",
                    "IsBusy",
                    [] { fake::pushByte("IsBusy", 0); },
                    lines({"False"}),
                    QString(),
                    QString(),
                    {"IsBusy"}},
        HandlerCase{"busy",
                    "IsBusy",
                    [] { fake::pushByte("IsBusy", 1); },
                    lines({"True"}),
                    QString(),
                    QString(),
                    {"IsBusy"}},
        HandlerCase{"otherIsIdle",
                    "IsBusy",
                    [] { fake::pushByte("IsBusy", 2); },
                    lines({"False"}),
                    QString(),
                    QString(),
                    {"IsBusy"}},
        HandlerCase{"busyFailed",
                    "IsBusy",
                    [] { fake::pushByte("IsBusy", 255); },
                    {},
                    QStringLiteral("-1"),
                    kErrText,
                    {"IsBusy", "GetErrorCode", "GetErrorText"}},
        // 6. GetErrorMessage.
        HandlerCase{"messageText",
                    "GetErrorMessage",
                    [] { fake::pushText("GetErrorMessage", "Record not found"); },
                    lines({"Record not found"}),
                    QString(),
                    QString(),
                    {"GetErrorMessage"}},
        HandlerCase{"emptyMessageIsOneEmptyLine",
                    "GetErrorMessage",
                    [] { fake::pushText("GetErrorMessage", ""); },
                    QStringList{QString()},
                    QString(),
                    QString(),
                    {"GetErrorMessage"}},
        HandlerCase{"nullMessage",
                    "GetErrorMessage",
                    [] { fake::pushText("GetErrorMessage", std::nullopt); },
                    {},
                    QStringLiteral("-1"),
                    kErrText,
                    {"GetErrorMessage", "GetErrorCode", "GetErrorText"}}),
    ByLabel());

// Families 1, 2, 4 and 5 call the library while the outputs still show the
// previous call; 3 and 6 (and pictures) clear them first.
TEST_F(FormTest, OutputsClearedBeforeOrAfterTheCallByFamily) {
    const std::vector<std::pair<const char*, bool>> rows = {
        {"GetFeatures", false},    {"Close", false},       {"GetCWHandle", false},
        {"IsBusy", false},         {"Open", true},         {"GetRecord", true},
        {"GetErrorMessage", true}, {"GetBadgeImage", true}};
    for (const auto& [method, clearedFirst] : rows) {
        fake::reset();
        fillOutputs();
        QString codeAtCall, resultsAtCall;
        fake::setOnCall([&, name = std::string(method)](const std::string& function) {
            if (function == name) {
                codeAtCall = errorCode()->text();
                resultsAtCall = results()->toPlainText();
            }
        });
        go(method);
        fake::setOnCall({});
        EXPECT_EQ(codeAtCall, clearedFirst ? QString() : QStringLiteral("old code")) << method;
        EXPECT_EQ(resultsAtCall, clearedFirst ? QString() : QStringLiteral("old line")) << method;
        EXPECT_NE(results()->toPlainText(), QStringLiteral("old line")) << method;
    }
}

TEST_F(FormTest, RunningAListGetterTwiceShowsItOnce) {
    fake::setDefaultList("GetFeatures", fake::Entries{{"a", "1"}});
    go("GetFeatures");
    find<QPushButton>("ToolKitButton")->click();
    EXPECT_EQ(results()->lines(), QStringList{QStringLiteral("a = 1")});
    EXPECT_EQ(fake::callCount("GetFeatures"), 2);
}

TEST_F(FormTest, CWHandleLeavesTheWindowHandleAlone) {
    const QString handle = find<QLineEdit>("WindowHandle")->text();
    fake::pushNumber("GetCWHandle", 4242);
    go("GetCWHandle");
    EXPECT_EQ(results()->lines(), QStringList{QStringLiteral("4242")});
    EXPECT_EQ(find<QLineEdit>("WindowHandle")->text(), handle);
}

// ---- Recording (--record FILE) -------------------------------------------------------------

class Recording : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        entry::setRecordFile(dir.filePath(QStringLiteral("session.cwt")));
    }
    void TearDown() override {
        entry::setRecordFile(QString());
        FormTest::TearDown();
    }
    QString recorded() const {
        QFile file(entry::recordFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                              : QStringLiteral("(none)");
    }
    QTemporaryDir dir;
};

// Each call made with "Go" is appended once it has completed: the words as
// typed (each non-blank memo line), then what came back, a number that the
// library reports failed as the failure a replay will see. A call the
// argument step refuses is not made, and not recorded.
TEST_F(Recording, GoAppendsEachCompletedCallWithItsExpectations) {
    fake::setError(0, "No error");
    fake::pushList("GetCount", {{"Total", "12"}, {"Selected", "3"}});
    go("GetCount");
    parameters()->setPlainText(QStringLiteral("  Id = 5  \n\n Name=Ann Lee"));
    fake::pushList("GetRecord", {{"Name", "Ann Lee"}});
    go("GetRecord");
    fake::pushNumber("GetEditCount", 3);
    go("GetEditCount");
    parameters()->setPlainText(QStringLiteral("Side=Back"));
    fake::pushBitmap("GetBadgeImage", 2, 1, 0xFFFF0000u);
    go("GetBadgeImage");
    fake::setError(-1, kErrText.toStdString());
    fake::pushNumber("GetCWHandle", -1);
    go("GetCWHandle");
    EXPECT_EQ(results()->lines(), QStringList{QStringLiteral("-1")}); // shown as it always was
    fake::pushByte("Next", 0);
    go("Next");
    paramType()->setItemIndex(0);
    go("Select");

    EXPECT_EQ(recorded(),
              QStringLiteral("call GetCount\n"
                             "expect Total = 12\n"
                             "expect Selected = 3\n"
                             "expect entries 2\n"
                             "\n"
                             "call GetRecord '  Id = 5  ' ' Name=Ann Lee'\n"
                             "expect Name = Ann Lee\n"
                             "expect entries 1\n"
                             "\n"
                             "call GetEditCount\n"
                             "expect = 3\n"
                             "\n"
                             "call GetBadgeImage Side=Back\n"
                             "expect picture 2 x 1\n"
                             "expect picture sha256 "
                             "42af801193fad22a2c6b98d9fe22f22d9c00f8f927539f65d98a41178fa31142\n"
                             "\n"
                             "call GetCWHandle\n"
                             "expect error -1\n"
                             "\n"
                             "call Next\n"
                             "expect error -1\n"
                             "\n"));
}

TEST_F(Recording, UnwritableFileIsReportedAndTheResultStillShown) {
    entry::setRecordFile(dir.filePath(QStringLiteral("missing/session.cwt")));
    fake::setError(0, "No error");
    fake::pushNumber("GetCWHandle", -1);
    go("GetCWHandle");
    EXPECT_EQ(results()->lines(), QStringList{QStringLiteral("-1")});
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages.front().startsWith(
        QStringLiteral("The call was not recorded: cannot open ") + entry::recordFile()))
        << ui.messages.front().toStdString();
}

// ---- The argument step ------------------------------------------------------------------

const Strings kArgumentMethods = {"GetErrorMessage",
                                  "GetRecord",
                                  "GetBadgeImage",
                                  "GetPhotoImage",
                                  "GetSignatureImage",
                                  "GetFingerprintImage",
                                  "Open",
                                  "Select",
                                  "Delete",
                                  "Revise",
                                  "Add",
                                  "Update",
                                  "Focus",
                                  "ServerMode",
                                  "Goto",
                                  "Edit",
                                  "CreateTemplate",
                                  "ReviseTemplate",
                                  "ReviseAssignments",
                                  "Template",
                                  "ReviseUserData",
                                  "FlipBadge"};

const Strings kNoArgumentMethods = {"IsBusy",
                                    "GetLastCommandError",
                                    "GetFeatures",
                                    "GetProgramInfo",
                                    "GetCurrent",
                                    "GetCount",
                                    "GetFields",
                                    "GetTemplates",
                                    "GetStatus",
                                    "GetToolbarStatus",
                                    "GetCWHandle",
                                    "GetEditCount",
                                    "GetUserData",
                                    "Close",
                                    "First",
                                    "Next",
                                    "Previous",
                                    "Last",
                                    "Exit",
                                    "Startlog",
                                    "Stoplog",
                                    "Restore",
                                    "Video",
                                    "Print",
                                    "Twain",
                                    "Signature",
                                    "Bitmap",
                                    "Preview",
                                    "ManageTemplates",
                                    "Fingerprint",
                                    "RosterLinkConfig",
                                    "RosterLink"};

using Arguments = FormTest;

TEST_F(Arguments, EveryArgumentMethodPassesTheListBuiltFromTheMemo) {
    parameters()->setPlainText(
        QStringLiteral("  File = /designs/badge.idc \n\nMode=k=v\n=5\nEmpty="));
    const fake::Entries expected = {
        {"File", "/designs/badge.idc"}, {"Mode", "k=v"}, {"", "5"}, {"Empty", ""}};
    for (const std::string& method : kArgumentMethods) {
        fake::reset();
        go(method.c_str());
        ASSERT_FALSE(fake::calls().empty()) << method;
        const fake::Call& call = fake::calls().front();
        EXPECT_EQ(call.function, method);
        EXPECT_EQ(call.args, expected) << method;
        EXPECT_EQ(call.argsAddress, &form->argumentList()) << method;
    }
    EXPECT_EQ(kArgumentMethods.size() + kNoArgumentMethods.size(), 54u);
}

TEST_F(Arguments, EmptyMemoPassesAnEmptyList) {
    for (const QString& memo : {QString(), QStringLiteral("\n  \n\t\n")}) {
        fake::reset();
        parameters()->setPlainText(memo);
        go("Open");
        ASSERT_EQ(fake::calls().size(), 3u); // Open fails by default: then the error
        EXPECT_EQ(fake::calls()[0].argCount, 0);
        EXPECT_FALSE(fake::calls()[0].argsNull);
        EXPECT_EQ(form->argumentList().names, nullptr);
    }
}

TEST_F(Arguments, RefusedParameterTypeShowsTheBoxAndCallsNothing) {
    for (int index : {0, 1, -1}) {
        paramType()->setItemIndex(index);
        for (const std::string& method : kArgumentMethods) {
            fake::reset();
            ui.messages.clear();
            fillOutputs();
            parameters()->setPlainText(index == 1 ? QString() : QStringLiteral("not a pair"));
            go(method.c_str());
            EXPECT_TRUE(calls().empty()) << method;
            EXPECT_EQ(ui.messages,
                      std::vector<QString>{QStringLiteral("Structure must be selected")})
                << method;
            EXPECT_EQ(errorCode()->text(), QString());
            EXPECT_EQ(message()->text(), QString());
            EXPECT_TRUE(results()->lines().isEmpty());
        }
        // Methods without arguments do not care.
        for (const std::string& method : kNoArgumentMethods) {
            fake::reset();
            ui.messages.clear();
            go(method.c_str());
            EXPECT_EQ(calls().front(), method);
            EXPECT_TRUE(ui.messages.empty()) << method;
        }
    }
}

TEST_F(Arguments, MalformedLineShowsTheBoxAndKeepsThePreviousList) {
    parameters()->setPlainText(QStringLiteral("A=1\nB=2"));
    fake::pushByte("Open", 1);
    go("Open");
    ASSERT_EQ(form->argumentList().count, 2);
    char** names = form->argumentList().names;

    const QStringList badMemos = {QStringLiteral("C=3\nD=4\nno equals sign"),
                                  QStringLiteral("C=3\nx\0y=1")};
    for (const QString& memo : badMemos) {
        fake::reset();
        ui.messages.clear();
        fillOutputs();
        parameters()->setPlainText(memo);
        go("Update");
        EXPECT_TRUE(calls().empty());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_TRUE(ui.messages[0].startsWith(QStringLiteral("Invalid structure format.\n")));
        EXPECT_EQ(errorCode()->text(), QString());
        EXPECT_TRUE(results()->lines().isEmpty());
        // The previous list, untouched: same arrays, same strings.
        const NameValueList& list = form->argumentList();
        ASSERT_EQ(list.count, 2);
        EXPECT_EQ(list.names, names);
        EXPECT_STREQ(list.names[0], "A");
        EXPECT_STREQ(list.values[1], "2");
    }
    EXPECT_EQ(
        ui.messages[0],
        QStringLiteral(
            "Invalid structure format.\nLine 2 holds a NUL character, which cannot be passed"));

    fake::reset();
    ui.messages.clear();
    parameters()->setPlainText(QStringLiteral("no equals sign"));
    go("Open");
    EXPECT_EQ(ui.messages, std::vector<QString>{QStringLiteral(
                               "Invalid structure format.\nEach line must be Name=Value")});

    // A refused parameter type leaves it too.
    paramType()->setItemIndex(0);
    parameters()->setPlainText(QStringLiteral("Z=9"));
    go("Open");
    EXPECT_STREQ(form->argumentList().names[0], "A");

    // The next good build replaces it.
    paramType()->setItemIndex(2);
    go("Open");
    ASSERT_EQ(form->argumentList().count, 1);
    EXPECT_STREQ(form->argumentList().names[0], "Z");
}

TEST_F(Arguments, TextCrossesAsUtf8WithControlsKept) {
    // Soft line breaks (Shift+Enter) end a line; a non-breaking space is text.
    parameters()->setPlainText(QStringLiteral("Stadt=Zürich\u00a0Süd\nTab=a\tb") +
                               QChar::LineSeparator + QStringLiteral("Emoji=\U0001F600"));
    go("Add");
    ASSERT_FALSE(fake::calls().empty());
    const fake::Entries expected = {{"Stadt", "Z\xC3\xBCrich\xC2\xA0S\xC3\xBC"
                                              "d"},
                                    {"Tab", "a\tb"},
                                    {"Emoji", "\xF0\x9F\x98\x80"}};
    EXPECT_EQ(fake::calls().front().args, expected);
}

// (The megabyte line is the parser's test: a memo takes seconds to lay it out.)
TEST_F(Arguments, TenThousandLinesAndALongLine) {
    QStringList memo;
    for (int i = 0; i < 10000; ++i)
        memo.append(QStringLiteral("N%1=V%1").arg(i));
    memo.append(QStringLiteral("Big=") + QString(100000, u'b'));
    parameters()->setPlainText(memo.join(u'\n'));
    go("Revise");
    ASSERT_FALSE(fake::calls().empty());
    const fake::Call& call = fake::calls().front();
    ASSERT_EQ(call.args.size(), 10001u);
    EXPECT_EQ(call.args[9999], (std::pair<std::string, std::string>{"N9999", "V9999"}));
    EXPECT_EQ(call.args[10000].second, std::string(999, 'b'));
}

// ---- The results memo's lines ------------------------------------------------------------

TEST(MemoLines, AppendBehavesLikeAddingLines) {
    Memo memo;
    EXPECT_TRUE(memo.lines().isEmpty());
    memo.appendLines(QString());
    EXPECT_EQ(memo.lines(), QStringList{QString()});
    memo.appendLines(QStringLiteral("x"));
    EXPECT_EQ(memo.lines(), (QStringList{QString(), QStringLiteral("x")}));
    memo.appendLines(QStringLiteral("y\nz"));
    EXPECT_EQ(memo.lines().size(), 4);
    memo.clear();
    EXPECT_TRUE(memo.lines().isEmpty());
    memo.appendLines(QStringLiteral("a"));
    EXPECT_EQ(memo.lines(), QStringList{QStringLiteral("a")});
}

} // namespace
