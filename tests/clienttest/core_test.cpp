// The workbench's plain logic: catalogue entries and dispatch, the argument
// parser and list, result lines and the help split. No window.
#include "argument_list.h"
#include "entry.h"
#include "method.h"
#include "methods.h"
#include "result_text.h"
#include "vcl_text.h"

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
