// The workbench's plain logic: catalogue entries and dispatch, the argument
// parser and list, result lines and the help split. No window.
#include "argument_list.h"
#include "entry.h"
#include "method.h"
#include "methods.h"
#include "result_text.h"
#include "scenario.h"
#include "vcl_text.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

// Names each row of a table after its label.
struct ByLabel {
    template <class P> std::string operator()(const ::testing::TestParamInfo<P>& row) const {
        return row.param.label;
    }
};

// ---- Catalogue ----------------------------------------------------------------

struct DispatchCase {
    const char* label;
    QString text;
    std::vector<std::string> expectRan; // labels of the entries that ran
};

void PrintTo(const DispatchCase& row, std::ostream* os) {
    *os << row.label;
}

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, RunsOnlyTheFirstExactMatch) {
    std::vector<std::string> ran;
    MethodCatalogue catalogue;
    const auto add = [&](const char* name, const char* label, bool withHandler) {
        Method::HandlerFunction handler;
        if (withHandler)
            handler = [&ran, label] { ran.emplace_back(label); };
        catalogue.push_back(std::make_unique<Method>(name, handler));
    };
    add("Open", "unset Open", false); // no handler: skipped, never run
    add("GetCount", "GetCount", true);
    add("Open", "first Open", true);
    add("Open", "second Open", true);
    add("Startlog", "Startlog", true);
    add("Größe", "Größe", true);

    const bool answered = invokeFirst(catalogue, GetParam().text);
    EXPECT_EQ(ran, GetParam().expectRan);
    EXPECT_EQ(answered, !GetParam().expectRan.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, Dispatch,
    ::testing::Values(
        DispatchCase{"exact", QStringLiteral("GetCount"), {"GetCount"}},
        DispatchCase{"firstMatchWinsAndUnsetIsSkipped", QStringLiteral("Open"), {"first Open"}},
        DispatchCase{"lowerCase", QStringLiteral("getcount"), {}},
        DispatchCase{"capitalLDiffers", QStringLiteral("StartLog"), {}},
        DispatchCase{"trailingBlank", QStringLiteral("GetCount "), {}},
        DispatchCase{"leadingBlank", QStringLiteral(" GetCount"), {}},
        DispatchCase{"prefix", QStringLiteral("GetCoun"), {}},
        DispatchCase{"unknown", QStringLiteral("NotAMethod"), {}},
        DispatchCase{"empty", QString(), {}},
        DispatchCase{"nonAscii", QStringLiteral("Größe"), {"Größe"}}),
    ByLabel());

TEST(Catalogue, EntryKeepsItsOwnCopyOfTheName) {
    char name[] = "Close";
    Method entry(name, [] {});
    std::strcpy(name, "XXXXX");
    EXPECT_EQ(entry.Name, "Close");
    EXPECT_TRUE(entry.TryInvoke(QStringLiteral("Close")));
}

// The method table both the window and cwcall read: 54 distinct names, looked
// up exactly as the window dispatches.
TEST(Catalogue, MethodTableFindsOnlyExactNames) {
    std::set<std::string> names;
    for (const methods::Entry& entry : methods::all())
        names.insert(entry.name);
    EXPECT_EQ(methods::all().size(), 54u);
    EXPECT_EQ(names.size(), 54u);

    const std::vector<std::pair<QString, const char*>> rows = {
        {QStringLiteral("GetRecord"), "GetRecord"},
        {QStringLiteral("RosterLink"), "RosterLink"},
        {QStringLiteral("RosterLinkConfig"), "RosterLinkConfig"},
        {QStringLiteral("getrecord"), nullptr},
        {QStringLiteral("StartLog"), nullptr},
        {QStringLiteral("GetRecord "), nullptr},
        {QStringLiteral("RosterLin"), nullptr},
        {QStringLiteral("system.listMethods"), nullptr},
        {QString(), nullptr}};
    for (const auto& [name, expect] : rows) {
        const methods::Entry* entry = methods::find(name);
        if (expect == nullptr) {
            EXPECT_EQ(entry, nullptr) << name.toStdString();
        } else {
            ASSERT_NE(entry, nullptr) << name.toStdString();
            EXPECT_STREQ(entry->name, expect);
        }
    }
}

// ---- Argument parser ----------------------------------------------------------

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct ParseCase {
    const char* label;
    QStringList lines;
    std::optional<Pairs> expect; // nullopt: the parse is refused
    QString error = {};
};

void PrintTo(const ParseCase& row, std::ostream* os) {
    *os << row.label;
}

class Parse : public ::testing::TestWithParam<ParseCase> {};

Pairs toPairs(const std::vector<arguments::Argument>& entries) {
    Pairs pairs;
    for (const auto& e : entries)
        pairs.emplace_back(e.name.toUtf8().toStdString(), e.value.toUtf8().toStdString());
    return pairs;
}

TEST_P(Parse, Table) {
    const ParseCase& c = GetParam();
    const QString text = c.lines.join(u'\n');
    if (c.expect) {
        EXPECT_EQ(toPairs(arguments::parse(text)), *c.expect);
        return;
    }
    try {
        arguments::parse(text);
        FAIL() << "accepted";
    } catch (const vcl::Exception& e) {
        EXPECT_EQ(e.Message, c.error);
    }
}

const QString kInvalid = QStringLiteral("Invalid structure format.\nEach line must be Name=Value");
const QString x1200 = QString(1200, u'x');
const QString emoji = QStringLiteral("\U0001F600"); // one character, two UTF-16 units

INSTANTIATE_TEST_SUITE_P(
    Arguments, Parse,
    ::testing::Values(
        ParseCase{"emptyMemo", {}, Pairs{}},
        ParseCase{"blankLinesOnly",
                  {QString(), QStringLiteral("   "), QStringLiteral("\t\x01 \x1f")},
                  Pairs{}},
        ParseCase{
            "trimmedAroundBoth", {QStringLiteral("  Name = Value  ")}, Pairs{{"Name", "Value"}}},
        ParseCase{"emptyName", {QStringLiteral("=5")}, Pairs{{"", "5"}}},
        ParseCase{"emptyValue", {QStringLiteral("Name=")}, Pairs{{"Name", ""}}},
        ParseCase{"onlyEquals", {QStringLiteral("=")}, Pairs{{"", ""}}},
        ParseCase{"furtherEqualsBelongToValue", {QStringLiteral("k=v=w")}, Pairs{{"k", "v=w"}}},
        ParseCase{"duplicatesKeptInOrder",
                  {QStringLiteral("a=1"), QString(), QStringLiteral("a=2")},
                  Pairs{{"a", "1"}, {"a", "2"}}},
        ParseCase{
            "valueCutAt999", {QStringLiteral("v=") + x1200}, Pairs{{"v", std::string(999, 'x')}}},
        // Blanks after "=" count towards the 999, then go with the trim.
        ParseCase{"blanksCountTowardsCut",
                  {QStringLiteral("v=") + QString(10, u' ') + x1200},
                  Pairs{{"v", std::string(989, 'x')}}},
        ParseCase{"cutThenTrimmed",
                  {QStringLiteral("v=") + QString(998, u'y') + QStringLiteral(" tail")},
                  Pairs{{"v", std::string(998, 'y')}}},
        ParseCase{
            "nameNotCut", {x1200 + QStringLiteral("=1")}, Pairs{{std::string(1200, 'x'), "1"}}},
        ParseCase{"tabsAndControlsInsideKept",
                  {QStringLiteral("a\tb=c\td\x01"
                                  "e\x7f")},
                  Pairs{{"a\tb", "c\td\x01"
                                 "e\x7f"}}},
        ParseCase{"nonAsciiAsUtf8",
                  {QStringLiteral("Größe=Zürich 東京 ") + emoji},
                  Pairs{{"Größe", "Zürich 東京 \xF0\x9F\x98\x80"}}},
        ParseCase{"nonBreakingSpaceIsNotTrimmed",
                  {QStringLiteral("a=\u00a0b\u00a0")},
                  Pairs{{"a", "\u00a0b\u00a0"}}},
        // 998 units then a two-unit character: cutting at 999 would split it.
        ParseCase{"surrogatePairNotSplit",
                  {QStringLiteral("v=") + QString(998, u'z') + emoji + QStringLiteral("tail")},
                  Pairs{{"v", std::string(998, 'z')}}},
        ParseCase{"surrogatePairJustInside",
                  {QStringLiteral("v=") + QString(997, u'z') + emoji + QStringLiteral("tail")},
                  Pairs{{"v", std::string(997, 'z') + "\xF0\x9F\x98\x80"}}},
        ParseCase{"memoParagraphAndSoftBreaksEndLines",
                  {QStringLiteral("a=1\u2029b=2\u2028c=3")},
                  Pairs{{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        ParseCase{"lineWithoutEquals", {QStringLiteral("NoEquals")}, std::nullopt, kInvalid},
        ParseCase{"goodLinesThenBad",
                  {QStringLiteral("a=1"), QStringLiteral("b=2"), QStringLiteral("bad")},
                  std::nullopt,
                  kInvalid},
        ParseCase{
            "nulInsideValue",
            {QStringLiteral("a=1"), QStringLiteral("b=x") + QChar(u'\0') + QStringLiteral("y")},
            std::nullopt,
            QStringLiteral("Invalid structure format.\nLine 2 holds a NUL character, which cannot "
                           "be passed")}),
    ByLabel());

TEST(Arguments, TenThousandLines) {
    QStringList lines;
    for (int i = 0; i < 10000; ++i)
        lines.append(QStringLiteral("Name%1 = Value%1").arg(i));
    const QString text = lines.join(u'\n');
    const auto entries = arguments::parse(text);
    ASSERT_EQ(entries.size(), 10000u);
    EXPECT_EQ(entries[9999].name, u"Name9999");
    EXPECT_EQ(entries[9999].value, u"Value9999");
}

TEST(Arguments, OneMegabyteLine) {
    const QString big(1 << 20, u'n');
    const QString line = big + QStringLiteral("=") + big;
    const auto entries = arguments::parse(line);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name.size(), 1 << 20);
    EXPECT_EQ(entries[0].value.size(), 999);
}

// ---- The malloc'ed list -------------------------------------------------------

TEST(ArgumentList, AssignCopiesAndReleaseEmpties) {
    NameValueList list{0, nullptr, nullptr};
    // Text crosses as UTF-8.
    arguments::assign(list, {{u"a", u"1"}, {u"", u""}, {u"b", u"x=y"}, {u"Größe", u"\U0001F600"}});
    ASSERT_EQ(list.count, 4);
    ASSERT_NE(list.names, nullptr);
    EXPECT_STREQ(list.names[3], "Gr\xC3\xB6\xC3\x9F"
                                "e");
    EXPECT_STREQ(list.values[3], "\xF0\x9F\x98\x80");
    ASSERT_NE(list.values, nullptr);
    EXPECT_STREQ(list.names[0], "a");
    EXPECT_STREQ(list.values[2], "x=y");
    // Empty texts are empty strings, never null pointers.
    ASSERT_NE(list.names[1], nullptr);
    EXPECT_STREQ(list.names[1], "");
    EXPECT_STREQ(list.values[1], "");

    // A surrogate without its partner (a memo can hold one) becomes U+FFFD
    // in its own text, and does not reach into the next.
    arguments::assign(list, {{u"lone", u"a\xD800"}, {u"next", u"b"}});
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.values[0], "a\xEF\xBF\xBD");
    EXPECT_STREQ(list.names[1], "next");

    // A rebuild replaces the whole content.
    arguments::assign(list, {{u"only", u"one"}});
    ASSERT_EQ(list.count, 1);
    EXPECT_STREQ(list.names[0], "only");

    arguments::release(list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.names, nullptr);
    EXPECT_EQ(list.values, nullptr);
    arguments::release(list); // twice is harmless
    EXPECT_EQ(list.count, 0);
}

TEST(ArgumentList, NoEntriesMeansNoArrays) {
    NameValueList list{0, nullptr, nullptr};
    arguments::assign(list, {{u"a", u"1"}});
    arguments::assign(list, {});
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.names, nullptr);
    EXPECT_EQ(list.values, nullptr);
}

// ---- Result lines -------------------------------------------------------------

struct ListCase {
    const char* label;
    int32_t count;
    std::vector<const char*> names; // empty vector: null array
    std::vector<const char*> values;
    QString expect;
};

void PrintTo(const ListCase& row, std::ostream* os) {
    *os << row.label;
}

class ListLines : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListLines, Table) {
    const ListCase& c = GetParam();
    std::vector<char*> names, values;
    for (const char* n : c.names)
        names.push_back(const_cast<char*>(n));
    for (const char* v : c.values)
        values.push_back(const_cast<char*>(v));
    const NameValueList list{c.count, names.empty() ? nullptr : names.data(),
                             values.empty() ? nullptr : values.data()};
    EXPECT_EQ(resulttext::listLines(list), c.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ListLines,
    ::testing::Values(
        ListCase{"twoEntries",
                 2,
                 {"Name", "Count"},
                 {"Ann", "3"},
                 QStringLiteral("Name = Ann\nCount = 3")},
        ListCase{"nullValue", 1, {"Name"}, {nullptr}, QStringLiteral("Name = ")},
        ListCase{"nullName", 1, {nullptr}, {"v"}, QStringLiteral(" = v")},
        ListCase{"nullArrays", 2, {}, {}, QStringLiteral(" = \n = ")},
        ListCase{"zeroCount", 0, {"never"}, {"read"}, QString()},
        ListCase{"negativeCount", -3, {"never"}, {"read"}, QString()},
        ListCase{"countBelowArrays", 1, {"a", "b"}, {"1", "2"}, QStringLiteral("a = 1")},
        ListCase{"utf8", 1, {"Stadt"}, {"Z\xC3\xBCrich"}, QStringLiteral("Stadt = Zürich")}),
    ByLabel());

TEST(Results, BusyAndNumbers) {
    const std::vector<std::pair<unsigned char, QString>> busy = {{0, QStringLiteral("False")},
                                                                 {1, QStringLiteral("True")},
                                                                 {2, QStringLiteral("False")},
                                                                 {254, QStringLiteral("False")}};
    for (const auto& [byte, text] : busy)
        EXPECT_EQ(resulttext::busyText(byte), text) << int(byte);
    EXPECT_EQ(resulttext::number(-1), QStringLiteral("-1"));
    EXPECT_EQ(resulttext::number(INT32_MIN), QStringLiteral("-2147483648"));
    EXPECT_EQ(resulttext::number(7), QStringLiteral("7"));
    EXPECT_EQ(resulttext::fromLibrary(nullptr), QString());
}

struct HelpCase {
    const char* label;
    const char* help;
    QStringList expect; // after "-----------" and "HELP:"
};

void PrintTo(const HelpCase& row, std::ostream* os) {
    *os << row.label;
}

class HelpSplit : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpSplit, Table) {
    QStringList expect{QStringLiteral("-----------"), QStringLiteral("HELP:")};
    expect += GetParam().expect;
    EXPECT_EQ(resulttext::helpLines(GetParam().help), expect);
}

INSTANTIATE_TEST_SUITE_P(
    Help, HelpSplit,
    ::testing::Values(HelpCase{"empty", "", {}},
                      HelpCase{"oneLine", "Opens a design.", {QStringLiteral("Opens a design.")}},
                      HelpCase{"lf", "one\ntwo", {QStringLiteral("one"), QStringLiteral("two")}},
                      HelpCase{
                          "crlf", "one\r\ntwo\r\n", {QStringLiteral("one"), QStringLiteral("two")}},
                      HelpCase{"cr", "one\rtwo", {QStringLiteral("one"), QStringLiteral("two")}},
                      HelpCase{"blankLinesVanish",
                               "\n\none\r\n\r\n\r\ntwo\n\n",
                               {QStringLiteral("one"), QStringLiteral("two")}},
                      HelpCase{"indentKept",
                               "Args:\n  File=path",
                               {QStringLiteral("Args:"), QStringLiteral("  File=path")}},
                      // An apostrophe must not join the lines that follow it.
                      HelpCase{"quotesAreText",
                               "the record's fields\nsecond \"line\nthird",
                               {QStringLiteral("the record's fields"),
                                QStringLiteral("second \"line"), QStringLiteral("third")}},
                      HelpCase{"utf8",
                               "Gr\xC3\xB6\xC3\x9F"
                               "e",
                               {QStringLiteral("Größe")}}),
    ByLabel());

// ---- Entry ----------------------------------------------------------------------

TEST(Entry, EscapingExceptionsAreShownAndTheExitCodeIsZero) {
    struct Row {
        const char* label;
        std::function<void()> steps;
        std::vector<QString> shown;
    };
    const std::vector<Row> rows = {
        {"normal", [] {}, {}},
        {"frameworkException",
         [] { throw vcl::Exception(QStringLiteral("Cannot create the window")); },
         {QStringLiteral("Cannot create the window")}},
        {"derivedException",
         [] { throw vcl::EConvertError(QStringLiteral("'x' is not a valid integer value")); },
         {QStringLiteral("'x' is not a valid integer value")}},
        {"anythingElse", [] { throw 42; }, {QString()}},
    };
    for (const Row& row : rows) {
        std::vector<QString> shown;
        EXPECT_EQ(entry::run(row.steps, [&](const QString& m) { shown.push_back(m); }), 0)
            << row.label;
        EXPECT_EQ(shown, row.shown) << row.label;
    }
}

} // namespace

// ---- Scenarios (.cwt) -----------------------------------------------------------

namespace scenario_rows {

QStringList strings(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* s : list)
        out.append(QString::fromUtf8(s));
    return out;
}

struct WordsCase {
    const char* label;
    QString line;
    QStringList words;
    QString error; // empty: the line splits
};

void PrintTo(const WordsCase& row, std::ostream* os) {
    *os << row.label;
}

class Words : public ::testing::TestWithParam<WordsCase> {};

// Splitting gives the words; quoting them gives a line that splits back.
TEST_P(Words, SplitAndJoinBack) {
    const WordsCase& c = GetParam();
    QString error;
    const QStringList words = scenario::splitWords(c.line, &error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(words, c.words);
    if (!c.error.isEmpty())
        return;
    QString again;
    EXPECT_EQ(scenario::splitWords(scenario::joinWords(words), &again), words);
    EXPECT_EQ(again, QString());
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, Words,
    ::testing::Values(
        WordsCase{"plain", QStringLiteral("GetRecord Id=5"), strings({"GetRecord", "Id=5"}), {}},
        WordsCase{"blanksAndTabs", QStringLiteral("  a \t b  "), strings({"a", "b"}), {}},
        WordsCase{"empty", QString(), {}, {}},
        WordsCase{"singleQuotesKeepEverything",
                  QStringLiteral("'Company=Fjord & Pine, \"Ltd\" \\n'"),
                  strings({"Company=Fjord & Pine, \"Ltd\" \\n"}),
                  {}},
        WordsCase{"doubleQuotesEscapeFour",
                  QStringLiteral("\"a\\\"b\\\\c\\$d\\`e\\xf\""),
                  strings({"a\"b\\c$d`e\\xf"}),
                  {}},
        WordsCase{"backslashOutsideQuotes", QStringLiteral("a\\ b\\'c"), strings({"a b'c"}), {}},
        WordsCase{"partsJoinIntoOneWord",
                  QStringLiteral("Name='Ann Lee'\"!\""),
                  strings({"Name=Ann Lee!"}),
                  {}},
        WordsCase{"commentAtAWordsStart",
                  QStringLiteral("Select A=1 # all of them\t#x"),
                  strings({"Select", "A=1"}),
                  {}},
        WordsCase{"hashInsideAWordOrQuoted",
                  QStringLiteral("A=#1 '#2' \\#3"),
                  strings({"A=#1", "#2", "#3"}),
                  {}},
        WordsCase{"emptyQuotesAreAWord", QStringLiteral("'' x"), strings({"", "x"}), {}},
        WordsCase{"quoteInsideQuotes", QStringLiteral("'it'\\''s'"), strings({"it's"}), {}},
        WordsCase{"unicode", QStringLiteral("Stadt=Zürich"), strings({"Stadt=Zürich"}), {}},
        WordsCase{"unterminatedSingle", QStringLiteral("a 'b"), strings({}),
                  QStringLiteral("unterminated single quote")},
        WordsCase{"unterminatedDouble", QStringLiteral("\"b\\\""), strings({}),
                  QStringLiteral("unterminated double quote")},
        WordsCase{"trailingBackslash", QStringLiteral("a\\"), strings({}),
                  QStringLiteral("backslash at the end of the line")}),
    ByLabel());

struct ParseCase {
    const char* label;
    QByteArray file;
    QStringList errors; // every one, in line order
    QStringList given = {};
};

void PrintTo(const ParseCase& row, std::ostream* os) {
    *os << row.label;
}

class ScenarioParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ScenarioParse, EveryBadLineIsNamed) {
    const ParseCase& c = GetParam();
    scenario::Scenario s;
    QStringList errors;
    EXPECT_EQ(scenario::parse(QStringLiteral("t.cwt"), c.file, c.given, s, errors),
              c.errors.isEmpty());
    EXPECT_EQ(errors, c.errors);
}

QString notFit(const char* expectation, const char* method, const char* what) {
    return QStringLiteral("'expect %1' does not fit %2, which answers %3")
        .arg(QString::fromUtf8(expectation), QString::fromUtf8(method), QString::fromUtf8(what));
}

// A file long enough to be read in two halves: the second half uses a
// variable the first captured, both have bad lines, and a line past the
// middle is a call's expectation.
ParseCase longFile() {
    QByteArray file = "call GetCount\ncapture t = Total\nexpcet x\n";
    int line = 3;
    for (int i = 0; i < 12'000; ++i, line += 2)
        file += "call GetRecord Id=1\nexpect entries 2\n";
    file += "call GetRecord \"Id={{t}}\"\nexpect entries {{t}}\ncall GetRecord Id={{nope}}\n"
            "call GetCount\nexpect entries x\n";
    return {"longFileReadInTwoHalves",
            file,
            {QStringLiteral("t.cwt:3: unknown statement 'expcet' (a line is blank, a # comment, or "
                            "starts with call, expect or capture)"),
             QStringLiteral("t.cwt:%1: {{nope}} is not set: no --var nope=VALUE and no capture "
                            "of it above")
                 .arg(line + 3),
             QStringLiteral("t.cwt:%1: 'x' is not a whole number").arg(line + 5)}};
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, ScenarioParse,
    ::testing::Values(
        longFile(),
        ParseCase{
            "everyStatement",
            "# c\n\ncall GetCount\nexpect Total = 300\nexpect Total ~ ^3\nexpect Gone absent\n"
            "expect entries 2\ncapture t = Total\nexpect time < 1.5 ms\n"
            "call GetRecord \"Id={{t}}\"\nexpect First Name = A B\nexpect error\n"
            "expect error 6\nexpect error ~ match\ncall Select X=1\nexpect accepted\n"
            "call First\nexpect accepted\ncall GetEditCount\nexpect = 1\nexpect != 1\n"
            "expect < 1\nexpect <= 1\nexpect > -1\nexpect >= 0\ncapture n\ncall IsBusy\n"
            "expect false\nexpect true\ncall GetErrorMessage Code={{n}}\n"
            "expect text = Record not found\nexpect text ~ ^Rec\ncall GetBadgeImage\n"
            "expect picture 540 x 860\nexpect picture sha256 "
            "AC660D69EBF66734239A324E6BD53A3FA0336533848B8A37612946698194E8A1\r\n",
            {}},
        // Blanks between words may be tabs, in a call's words too.
        ParseCase{"tabsBetweenWords",
                  "call\tGetRecord\tId=5 \t\n\texpect\tentries\t3\ncall GetRecord\t\"Id={{x}}\"\n",
                  {},
                  {QStringLiteral("x")}},
        // The same line under a call of another family is read again.
        ParseCase{"sameLineUnderAnotherFamily",
                  "call GetEditCount\nexpect = 3\ncall GetCount\nexpect = 3\n",
                  {QStringLiteral("t.cwt:4: ") + notFit("= 3", "GetCount", "a list")}},
        ParseCase{"unknownKeyword",
                  "call GetCount\nexpcet Total = 1\n",
                  {QStringLiteral("t.cwt:2: unknown statement 'expcet' (a line is blank, a # "
                                  "comment, or starts with call, expect or capture)")}},
        ParseCase{
            "familyMismatches",
            "call GetCount\nexpect picture 540 x 860\nexpect accepted\nexpect = 3\n"
            "call GetEditCount\nexpect Total = 3\nexpect true\ncall IsBusy\nexpect >= 0\n"
            "call Open\nexpect entries 1\ncall GetBadgeImage\nexpect text = x\n",
            {QStringLiteral("t.cwt:2: ") + notFit("picture 540 x 860", "GetCount", "a list"),
             QStringLiteral("t.cwt:3: ") + notFit("accepted", "GetCount", "a list"),
             QStringLiteral("t.cwt:4: ") + notFit("= 3", "GetCount", "a list"),
             QStringLiteral("t.cwt:6: ") + notFit("Total = 3", "GetEditCount", "a number"),
             QStringLiteral("t.cwt:7: ") + notFit("true", "GetEditCount", "a number"),
             QStringLiteral("t.cwt:9: ") + notFit(">= 0", "IsBusy", "yes or no"),
             QStringLiteral("t.cwt:11: ") + notFit("entries 1", "Open", "a status"),
             QStringLiteral("t.cwt:13: ") + notFit("text = x", "GetBadgeImage", "a picture")}},
        ParseCase{"methodAndArguments",
                  "call getcount\ncall GetRecord Id\ncall GetCount Id=4\ncall GetRecord 'Id=5\n"
                  "call\nexpect Total = 1\n",
                  {QStringLiteral("t.cwt:1: 'getcount' is not a method of the catalogue (names "
                                  "are spelt exactly, letter case counts)"),
                   QStringLiteral("t.cwt:2: 'Id': Invalid structure format. Each line must be "
                                  "Name=Value"),
                   QStringLiteral("t.cwt:3: GetCount takes no arguments"),
                   QStringLiteral("t.cwt:4: unterminated single quote"),
                   QStringLiteral("t.cwt:5: call needs a method name")}},
        ParseCase{"malformedExpectations",
                  "expect entries 1\ncall GetRecord\nexpect Name ~ (\nexpect entries many\n"
                  "expect time < 0 ms\nexpect error 6 7\nexpect\nexpect whatever\n"
                  "call GetBadgeImage\nexpect picture 5 by 6\ncall GetEditCount\nexpect = 1.5\n",
                  {QStringLiteral("t.cwt:1: expect without a call above it"),
                   QStringLiteral("t.cwt:3: bad regular expression '(': missing closing "
                                  "parenthesis"),
                   QStringLiteral("t.cwt:4: 'many' is not a whole number"),
                   QStringLiteral("t.cwt:5: expect time needs 'time < N ms' with N above 0"),
                   QStringLiteral("t.cwt:6: expect error takes nothing, a code, or '~ REGEX'"),
                   QStringLiteral("t.cwt:7: expect needs an expectation"),
                   QStringLiteral("t.cwt:8: cannot read 'expect whatever'"),
                   QStringLiteral("t.cwt:10: expect picture takes 'W x H' or 'sha256' and 64 hex "
                                  "digits"),
                   QStringLiteral("t.cwt:12: '1.5' is not a whole number")}},
        ParseCase{"captures",
                  "call Open\ncapture x\ncall GetCount\ncapture y\ncapture 9z = Total\n"
                  "call IsBusy\ncapture b = Total\ncapture c =\n",
                  {QStringLiteral("t.cwt:2: Open answers a status: capture x = ENTRY takes one "
                                  "entry, capture x alone is for a number, yes/no or text"),
                   QStringLiteral("t.cwt:4: GetCount answers a list: capture y = ENTRY takes one "
                                  "entry, capture y alone is for a number, yes/no or text"),
                   QStringLiteral("t.cwt:5: capture needs a variable name (letters, digits, _), "
                                  "not '9z'"),
                   QStringLiteral("t.cwt:7: 'capture b = Total' does not fit IsBusy, which "
                                  "answers yes or no"),
                   QStringLiteral("t.cwt:8: capture c = needs an entry name")}},
        ParseCase{"variablesMustBeSetAbove",
                  "call GetRecord Id={{id}}\ncall GetCount\nexpect Total = {{total}}\n"
                  "capture total = Total\nexpect Selected = {{total}}\ncall GetRecord Id={{key}}\n",
                  {QStringLiteral("t.cwt:1: {{id}} is not set: no --var id=VALUE and no capture "
                                  "of it above"),
                   QStringLiteral("t.cwt:3: {{total}} is not set: no --var total=VALUE and no "
                                  "capture of it above")},
                  {QStringLiteral("key")}},
        ParseCase{"templatedWordsAreCheckedToo",
                  "call GetRecord {{key}}\n",
                  {QStringLiteral("t.cwt:1: 'x': Invalid structure format. Each line must be "
                                  "Name=Value")},
                  {QStringLiteral("key")}},
        // What follows a refused call is not checked against the call above it.
        ParseCase{"statementsUnderARefusedCallAreSkipped",
                  "call GetCount\ncall Nope\nexpect Total = 300\ncapture t = Total\n",
                  {QStringLiteral("t.cwt:2: 'Nope' is not a method of the catalogue (names are "
                                  "spelt exactly, letter case counts)")}},
        ParseCase{"tooManyLines",
                  QByteArray(scenario::MaxLines, '\n'),
                  {QStringLiteral("t.cwt: more than 1000000 lines; not a scenario file")}},
        ParseCase{"justBelowTheLineLimit", QByteArray(scenario::MaxLines - 1, '\n'), {}},
        ParseCase{"notUtf8AndNul",
                  QByteArray("call GetCount\n# caf\xE9\nexpect Total = a\0b\n", 40),
                  {QStringLiteral("t.cwt:2: not valid UTF-8"),
                   QStringLiteral("t.cwt:3: holds a NUL character")}}),
    ByLabel());

// Read in two halves, a long file gives the calls one reading gives,
// whether or not it goes beyond ASCII.
TEST(ScenarioParseLong, CallsInFileOrder) {
    for (const char* head : {"# caf\xC3\xA9 \xF0\x9D\x84\x9E\n", "# plain\n"}) {
        QByteArray file = QByteArray(head) + "call GetCount\ncapture t = Total\n";
        for (int i = 0; i < 15'000; ++i)
            file += QByteArray("  # record\ncall GetRecord Id=") + QByteArray::number(i % 7) +
                    "\nexpect entries " + QByteArray::number(i) + "\n";
        file += "call GetRecord \"Id={{t}}\"\n";
        scenario::Scenario s;
        QStringList errors;
        ASSERT_TRUE(scenario::parse(QStringLiteral("t.cwt"), file, {}, s, errors))
            << head << errors.join(u'\n').toStdString();
        ASSERT_EQ(s.calls.size(), 15'002u);
        for (size_t i = 1; i + 1 < s.calls.size(); ++i) {
            const scenario::Call& call = s.calls[i];
            ASSERT_EQ(call.line, static_cast<int>(3 * i + 2)) << head;
            ASSERT_EQ(call.words, QStringList{QStringLiteral("Id=%1").arg((i - 1) % 7)}) << head;
            ASSERT_EQ(call.expectations.size(), 1u);
            EXPECT_EQ(call.expectations[0].number, static_cast<int64_t>(i - 1));
        }
        EXPECT_TRUE(s.calls.back().templated);
    }
}

// A list outcome over `entries` (which must outlive it).
struct ListStore {
    std::vector<std::string> names, values;
    std::vector<char*> n, v;
    NameValueList list{0, nullptr, nullptr};
    explicit ListStore(const std::vector<std::pair<const char*, const char*>>& entries) {
        for (const auto& [name, value] : entries) {
            names.emplace_back(name);
            values.emplace_back(value);
        }
        for (size_t i = 0; i < names.size(); ++i) {
            n.push_back(names[i].data());
            v.push_back(values[i].data());
        }
        list = {static_cast<int32_t>(names.size()), n.data(), v.data()};
    }
};

using Kind = methods::Outcome::Kind;

struct CheckCase {
    const char* label;
    QByteArray file; // one call with its statements
    Kind kind = Kind::Failed;
    std::vector<std::pair<const char*, const char*>> entries = {};
    int32_t number = 0;
    QString text = {};
    int32_t errorCode = 0;
    int64_t micros = 1000;
    QStringList failures = {};
    QStringList diff = {};
};

void PrintTo(const CheckCase& row, std::ostream* os) {
    *os << row.label;
}

class ScenarioCheck : public ::testing::TestWithParam<CheckCase> {};

// A 3 x 2 picture (rows padded to the stride) of three different pixels.
CWBitmap testPicture() {
    const CWBitmap bitmap = cw_bitmap_create(3, 2);
    uint32_t* pixels = cw_bitmap_pixels(bitmap);
    for (int y = 0; y < 2; ++y) {
        uint32_t* row = pixels + y * (cw_bitmap_stride(bitmap) / 4);
        row[0] = 0x80FF0000u;
        row[1] = 0xFF0000FFu;
        row[2] = 0x78123456u;
    }
    return bitmap;
}
// sha256 of FF 00 00 80, 00 00 FF FF, 12 34 56 78, twice (hashlib).
const char* const kPictureSha = "6c05140f4771fade03e5c2e8fa62e91d6b1cd61b36d3caed8b123bf0f5ddf7e3";

TEST_P(ScenarioCheck, EveryExpectationIsChecked) {
    const CheckCase& c = GetParam();
    // The calls point into the parsed file: a copy that outlives the
    // original must still hold everything.
    scenario::Scenario s;
    {
        scenario::Scenario parsed;
        QStringList errors;
        ASSERT_TRUE(scenario::parse(QStringLiteral("t.cwt"), c.file, {}, parsed, errors))
            << errors.join(u'\n').toStdString();
        s = parsed;
    }
    ASSERT_GE(s.calls.size(), 1u);
    // Each call points at its own line, in file order.
    const QList<QByteArray> lines = c.file.split('\n');
    int previous = 0;
    for (const scenario::Call& call : s.calls) {
        EXPECT_GT(call.line, previous);
        EXPECT_TRUE(lines.value(call.line - 1).startsWith("call ")) << call.line;
        previous = call.line;
    }
    ListStore store(c.entries);
    methods::Outcome outcome;
    outcome.kind = c.kind;
    outcome.list = &store.list;
    outcome.number = c.number;
    outcome.flag = c.number != 0;
    outcome.text = c.text;
    outcome.errorCode = c.errorCode;
    outcome.errorText = c.text;
    if (c.kind == Kind::Picture)
        outcome.bitmap = testPicture();
    // Every call of the file is checked against the same answer.
    scenario::Variables variables;
    QStringList failures, diff;
    for (const scenario::Call& call : s.calls) {
        const scenario::Verdict verdict =
            scenario::check(QStringLiteral("t.cwt"), call, outcome, c.micros, variables);
        failures += verdict.failures;
        diff += verdict.diff;
    }
    cw_bitmap_delete(outcome.bitmap);
    EXPECT_EQ(failures, c.failures);
    EXPECT_EQ(diff, c.diff);
}

const std::vector<std::pair<const char*, const char*>> kHugo = {
    {"Id", "5"}, {"FirstName", " Hugo "}, {"LastName", "Kowalski"}, {"Company", "Meridian Health"}};

INSTANTIATE_TEST_SUITE_P(
    Scenario, ScenarioCheck,
    ::testing::Values(
        CheckCase{.label = "listPasses",
                  .file = "call GetRecord Id=5\nexpect FirstName = Hugo\nexpect LastName ~ ^Kow\n"
                          "expect Email absent\nexpect entries 4\nexpect time < 2 ms\n",
                  .kind = Kind::List,
                  .entries = kHugo},
        // Every failure is named, and the diff shows the lines that differ.
        CheckCase{
            .label = "listFailsWithADiff",
            .file = "call GetRecord Id=5\nexpect FirstName = Hugh\nexpect LastName ~ ^Kox\n"
                    "expect Company absent\nexpect Email = h@x\nexpect entries 5\n"
                    "expect Id = 5\n",
            .kind = Kind::List,
            .entries = kHugo,
            .failures = {QStringLiteral("t.cwt:2: expect FirstName = Hugh: FirstName = Hugo"),
                         QStringLiteral("t.cwt:3: expect LastName ~ ^Kox: LastName = "
                                        "Kowalski"),
                         QStringLiteral("t.cwt:4: expect Company absent: Company = Meridian "
                                        "Health"),
                         QStringLiteral("t.cwt:5: expect Email = h@x: no entry Email"),
                         QStringLiteral("t.cwt:6: expect entries 5: 4 entries")},
            .diff = {QStringLiteral("--- expected"), QStringLiteral("+++ actual"),
                     QStringLiteral("@@ -1,5 +1,5 @@"), QStringLiteral(" Id = 5"),
                     QStringLiteral("-FirstName = Hugh"), QStringLiteral("-LastName ~ ^Kox"),
                     QStringLiteral("-Email = h@x"), QStringLiteral("-(entries 5)"),
                     QStringLiteral("+FirstName =  Hugo "), QStringLiteral("+LastName = Kowalski"),
                     QStringLiteral("+Company = Meridian Health"), QStringLiteral("+(entries 4)")}},
        // Bytes decide only a pass; text decides the rest (a no-break space
        // is trimmed as text is, another entry's value does not count).
        CheckCase{.label = "listTrimmedAsText",
                  .file = "call GetRecord Id=5\nexpect FirstName = Hugo\nexpect LastName = Hugo\n",
                  .kind = Kind::List,
                  .entries = {{"FirstName", "\xC2\xA0Hugo\t"},
                              {"LastName", "Kowalski"},
                              {"Host", "Hugo"}},
                  .failures = {QStringLiteral("t.cwt:3: expect LastName = Hugo: LastName = "
                                              "Kowalski")},
                  .diff = {QStringLiteral("--- expected"), QStringLiteral("+++ actual"),
                           QStringLiteral("@@ -1,3 +1,3 @@"),
                           QStringLiteral(" FirstName = \u00A0Hugo\t"),
                           QStringLiteral("-LastName = Hugo"),
                           QStringLiteral("+LastName = Kowalski"), QStringLiteral(" Host = Hugo")}},
        // A call line read again is a call of its own, with its own line
        // and expectations; names are read with one blank between words.
        CheckCase{
            .label = "repeatedCallsKeepTheirOwnExpectations",
            .file = "call GetRecord Id=5\nexpect First  Name = Hugo\nexpect First\tName = Hugo\n"
                    "call GetRecord Id=5\nexpect LastName = Kowalsky\n"
                    "call GetRecord  Id=5\ncall GetRecord Id=5\nexpect entries 3\n"
                    "call GetRecord Id=5\nexpect LastName = Kowalsky\n",
            .kind = Kind::List,
            .entries = {{"First Name", "Hugo"}, {"LastName", "Kowalski"}},
            .failures = {QStringLiteral("t.cwt:5: expect LastName = Kowalsky: LastName = "
                                        "Kowalski"),
                         QStringLiteral("t.cwt:8: expect entries 3: 2 entries"),
                         QStringLiteral("t.cwt:10: expect LastName = Kowalsky: LastName = "
                                        "Kowalski")},
            .diff = {QStringLiteral("--- expected"), QStringLiteral("+++ actual"),
                     QStringLiteral("@@ -1,2 +1,2 @@"), QStringLiteral(" First Name = Hugo"),
                     QStringLiteral("-LastName = Kowalsky"), QStringLiteral("+LastName = Kowalski"),
                     QStringLiteral("--- expected"), QStringLiteral("+++ actual"),
                     QStringLiteral("@@ -1,3 +1,3 @@"), QStringLiteral(" First Name = Hugo"),
                     QStringLiteral(" LastName = Kowalski"), QStringLiteral("-(entries 3)"),
                     QStringLiteral("+(entries 2)"), QStringLiteral("--- expected"),
                     QStringLiteral("+++ actual"), QStringLiteral("@@ -1,2 +1,2 @@"),
                     QStringLiteral(" First Name = Hugo"), QStringLiteral("-LastName = Kowalsky"),
                     QStringLiteral("+LastName = Kowalski")}},
        CheckCase{.label = "commandAccepted",
                  .file = "call Select X=1\nexpect accepted\n",
                  .kind = Kind::Accepted},
        CheckCase{.label = "numberComparisons",
                  .file = "call GetEditCount\nexpect = 3\nexpect != 3\nexpect < 3\nexpect <= 3\n"
                          "expect > 3\nexpect >= 3\n",
                  .kind = Kind::Number,
                  .number = 3,
                  .failures = {QStringLiteral("t.cwt:3: expect != 3: came back 3"),
                               QStringLiteral("t.cwt:4: expect < 3: came back 3"),
                               QStringLiteral("t.cwt:6: expect > 3: came back 3")}},
        CheckCase{.label = "yesNo",
                  .file = "call IsBusy\nexpect true\nexpect false\n",
                  .kind = Kind::Boolean,
                  .number = 1,
                  .failures = {QStringLiteral("t.cwt:3: expect false: came back true")}},
        CheckCase{.label = "text",
                  .file = "call GetErrorMessage Code=6\nexpect text = Record not found\n"
                          "expect text ~ found$\nexpect text = Record\nexpect text ~ ^found\n",
                  .kind = Kind::Text,
                  .text = QStringLiteral(" Record not found\n"),
                  .failures = {QStringLiteral("t.cwt:4: expect text = Record: came back 'Record "
                                              "not found'"),
                               QStringLiteral("t.cwt:5: expect text ~ ^found: came back 'Record "
                                              "not found'")}},
        CheckCase{
            .label = "picture",
            .file = QByteArray("call GetBadgeImage\nexpect picture 3 x 2\nexpect picture "
                               "sha256 ") +
                    QByteArray(kPictureSha).toUpper() +
                    "\nexpect picture 2 x 3\nexpect picture sha256 " + QByteArray(64, 'a') + "\n",
            .kind = Kind::Picture,
            .failures = {QStringLiteral("t.cwt:4: expect picture 2 x 3: came back 3 x 2"),
                         QStringLiteral("t.cwt:5: expect picture sha256 ") + QString(64, u'a') +
                             QStringLiteral(": came back ") + QString::fromLatin1(kPictureSha)}},
        CheckCase{.label = "errorExpectations",
                  .file = "call GetRecord Id=9\nexpect error\nexpect error 6\nexpect error 7\n"
                          "expect error ~ ^No rec\nexpect error ~ nothing\n",
                  .kind = Kind::Failed,
                  .text = QStringLiteral("No record"),
                  .errorCode = 6,
                  .failures = {QStringLiteral("t.cwt:4: expect error 7: came back error 6: No "
                                              "record"),
                               QStringLiteral("t.cwt:6: expect error ~ nothing: came back error "
                                              "6: No record")}},
        // A failure nobody expected fails once, not once per expectation.
        CheckCase{.label = "unexpectedFailure",
                  .file = "call GetRecord Id=9\nexpect FirstName = Hugo\nexpect entries 3\n",
                  .kind = Kind::Failed,
                  .text = QStringLiteral("Cannot connect"),
                  .errorCode = -1,
                  .failures = {QStringLiteral("t.cwt:1: the call failed: error -1: Cannot "
                                              "connect")}},
        CheckCase{.label = "errorExpectedButSucceeded",
                  .file = "call GetEditCount\nexpect error 6\n",
                  .kind = Kind::Number,
                  .failures = {QStringLiteral("t.cwt:2: expect error 6: the call succeeded")}},
        CheckCase{.label = "timeLimit",
                  .file = "call GetEditCount\nexpect time < 500 ms\nexpect time < 0.5 ms\n",
                  .kind = Kind::Number,
                  .micros = 1234,
                  .failures = {QStringLiteral("t.cwt:3: expect time < 0.5 ms: took 1.2 ms")}},
        CheckCase{.label = "captureOfAnAbsentEntry",
                  .file = "call GetRecord Id=5\ncapture who = Nobody\n",
                  .kind = Kind::List,
                  .entries = kHugo,
                  .failures = {QStringLiteral("t.cwt:2: capture who = Nobody: no entry Nobody")}}),
    ByLabel());

// Captured values reach the words of later calls and their expectations;
// a capture that took nothing stops the call that needs it.
TEST(Scenario, CapturesFeedLaterCalls) {
    scenario::Scenario s;
    QStringList errors;
    ASSERT_TRUE(scenario::parse(QStringLiteral("t.cwt"),
                                "call GetRecord Id=5\ncapture company = Company\n"
                                "call Select 'Company={{company}}' Note={{given}}\n"
                                "call GetRecord Id=5\nexpect Company = {{company}}\n"
                                "expect Company ~ ^{{company}}$\n",
                                {QStringLiteral("given")}, s, errors))
        << errors.join(u'\n').toStdString();
    ListStore store(kHugo);
    methods::Outcome outcome;
    outcome.kind = Kind::List;
    outcome.list = &store.list;
    scenario::Variables variables{{QStringLiteral("given"), QStringLiteral("a b")}};
    EXPECT_TRUE(
        scenario::check(QStringLiteral("t.cwt"), s.calls[0], outcome, 0, variables).passed());

    QStringList words;
    std::shared_ptr<NameValueList> list;
    QString error;
    ASSERT_TRUE(scenario::argumentsFor(s.calls[1], variables, words, list, error))
        << error.toStdString();
    EXPECT_EQ(words,
              (QStringList{QStringLiteral("Company=Meridian Health"), QStringLiteral("Note=a b")}));
    ASSERT_EQ(list->count, 2);
    EXPECT_STREQ(list->values[0], "Meridian Health");
    EXPECT_TRUE(
        scenario::check(QStringLiteral("t.cwt"), s.calls[2], outcome, 0, variables).passed());
    // Another value: both expectations are read again, the pattern too.
    variables.insert(QStringLiteral("company"), QStringLiteral("Meridian"));
    EXPECT_EQ(
        scenario::check(QStringLiteral("t.cwt"), s.calls[2], outcome, 0, variables).failures,
        (QStringList{
            QStringLiteral("t.cwt:5: expect Company = {{company}}: Company = Meridian Health"),
            QStringLiteral("t.cwt:6: expect Company ~ ^{{company}}$: Company = Meridian Health")}));

    // The same capture against a list without the entry.
    ListStore other(std::vector<std::pair<const char*, const char*>>{{"Id", "5"}});
    outcome.list = &other.list;
    EXPECT_FALSE(
        scenario::check(QStringLiteral("t.cwt"), s.calls[0], outcome, 0, variables).passed());
    EXPECT_FALSE(scenario::argumentsFor(s.calls[1], variables, words, list, error));
    EXPECT_EQ(error, QStringLiteral("{{company}} has no value (its capture took none)"));
}

// What a recording writes for each kind of answer, and that it checks
// green against the same answer when read back.
TEST(Scenario, RecordedCallsReplayGreen) {
    ListStore store({{"FirstName", " Hugo "},
                     {"Note", "two\nlines (a+b)"},
                     {"Empty", ""},
                     {"time", "12:00"},
                     {"error", "none"},
                     {"", "nameless"}});
    struct Row {
        const char* label;
        Kind kind;
        const char* method;
        QStringList words;
        QString recorded;
    };
    const std::vector<Row> rows = {
        {"list",
         Kind::List,
         "GetRecord",
         {QStringLiteral("Company=Fjord & Pine")},
         QStringLiteral("call GetRecord 'Company=Fjord & Pine'\nexpect FirstName = Hugo\n"
                        "expect Note ~ ^two\\nlines\\ \\(a\\+b\\)$\nexpect Empty =\n"
                        "expect time = 12:00\nexpect error = none\nexpect entries 6\n\n")},
        {"accepted",
         Kind::Accepted,
         "Select",
         {QStringLiteral("LastName=O'Neil")},
         QStringLiteral("call Select 'LastName=O'\\''Neil'\nexpect accepted\n\n")},
        {"number",
         Kind::Number,
         "GetEditCount",
         {},
         QStringLiteral("call GetEditCount\nexpect = -1\n\n")},
        {"yesNo", Kind::Boolean, "IsBusy", {}, QStringLiteral("call IsBusy\nexpect true\n\n")},
        {"text",
         Kind::Text,
         "GetErrorMessage",
         {QStringLiteral("Code=6")},
         QStringLiteral("call GetErrorMessage Code=6\nexpect text = Record not found\n\n")},
        {"picture",
         Kind::Picture,
         "GetBadgeImage",
         {QStringLiteral("Side=Back")},
         QStringLiteral("call GetBadgeImage Side=Back\nexpect picture 3 x 2\n"
                        "expect picture sha256 ") +
             QString::fromLatin1(kPictureSha) + QStringLiteral("\n\n")},
        {"failure",
         Kind::Failed,
         "GetRecord",
         {QStringLiteral("Id=9")},
         QStringLiteral("call GetRecord Id=9\nexpect error 6\n\n")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        methods::Outcome outcome;
        outcome.kind = row.kind;
        outcome.list = &store.list;
        outcome.number = -1;
        outcome.flag = true;
        outcome.text = QStringLiteral("Record not found ");
        outcome.errorCode = 6;
        if (row.kind == Kind::Picture)
            outcome.bitmap = testPicture();
        const QString text =
            scenario::recordedCall(QString::fromLatin1(row.method), row.words, outcome);
        EXPECT_EQ(text, row.recorded);
        scenario::Scenario s;
        QStringList errors;
        ASSERT_TRUE(scenario::parse(QStringLiteral("r.cwt"), text.toUtf8(), {}, s, errors))
            << errors.join(u'\n').toStdString();
        ASSERT_EQ(s.calls.size(), 1u);
        EXPECT_EQ(s.calls[0].words, row.words);
        scenario::Variables variables;
        const scenario::Verdict verdict =
            scenario::check(QStringLiteral("r.cwt"), s.calls[0], outcome, 0, variables);
        EXPECT_EQ(verdict.failures, QStringList());
        cw_bitmap_delete(outcome.bitmap);
    }
}

TEST(Scenario, AppendedRecordingIsPrivateAndKeepsWhatWasThere) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rec.cwt"));
    QString error;
    ASSERT_TRUE(scenario::appendRecording(path, QStringLiteral("call IsBusy\n"), error));
    ASSERT_TRUE(scenario::appendRecording(path, QStringLiteral("expect false\n"), error));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("call IsBusy\nexpect false\n"));
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                    QFileDevice::WriteGroup | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_FALSE(scenario::appendRecording(dir.filePath(QStringLiteral("no/rec.cwt")),
                                           QStringLiteral("x\n"), error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("cannot open "))) << error.toStdString();
}

struct UpdateCase {
    const char* label;
    QByteArray file;
    std::vector<QString> fresh;
    QByteArray expect;
};

void PrintTo(const UpdateCase& row, std::ostream* os) {
    *os << row.label;
}

class ScenarioUpdate : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(ScenarioUpdate, OnlyExpectLinesChange) {
    const UpdateCase& c = GetParam();
    scenario::Scenario s;
    QStringList errors;
    ASSERT_TRUE(scenario::parse(QStringLiteral("t.cwt"), c.file, {}, s, errors));
    EXPECT_EQ(scenario::updated(s, c.fresh), c.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, ScenarioUpdate,
    ::testing::Values(
        UpdateCase{"keepsCommentsCapturesTimeAndBlanks",
                   "# head\ncall GetCount\nexpect Total = 1\n  # note\ncapture t = Total\n"
                   "expect time < 9 ms\nexpect entries 7\n\ncall IsBusy\nexpect true\n",
                   {QStringLiteral("expect Total = 300\nexpect entries 1\n"),
                    QStringLiteral("expect false\n")},
                   "# head\ncall GetCount\nexpect Total = 300\nexpect entries 1\n  # note\n"
                   "capture t = Total\nexpect time < 9 ms\n\ncall IsBusy\nexpect false\n"},
        UpdateCase{"callWithoutExpectationsGetsThemBelowIt",
                   "call IsBusy\r\ncall GetEditCount",
                   {QStringLiteral("expect false\n"), QStringLiteral("expect = 0\n")},
                   "call IsBusy\r\nexpect false\r\ncall GetEditCount\nexpect = 0\n"},
        UpdateCase{"callsNotMadeKeepTheirs",
                   "call IsBusy\nexpect true\n",
                   {QString()},
                   "call IsBusy\nexpect true\n"}),
    ByLabel());

TEST(Scenario, UnifiedDiffHunks) {
    QStringList a, b;
    for (int i = 1; i <= 20; ++i)
        a.append(QString::number(i));
    b = a;
    b[1] = QStringLiteral("two");
    b.removeAt(15);
    EXPECT_EQ(scenario::unifiedDiff(a, a), QStringList());
    EXPECT_EQ(
        scenario::unifiedDiff(a, b),
        (strings({"--- expected", "+++ actual", "@@ -1,5 +1,5 @@", " 1", "-2", "+two", " 3", " 4",
                  " 5", "@@ -13,7 +13,6 @@", " 13", " 14", " 15", "-16", " 17", " 18", " 19"})));
    EXPECT_EQ(scenario::unifiedDiff({}, {QStringLiteral("x")}),
              (strings({"--- expected", "+++ actual", "@@ -0,0 +1,1 @@", "+x"})));
}

} // namespace scenario_rows
