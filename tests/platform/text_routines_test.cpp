// The framework's text routines, one table per routine.
#include "vcl_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QString q(const char16_t* s) {
    return QString::fromUtf16(s);
}

struct TrimCase {
    const char* name;
    QString in;
    QString out;
};

TEST(Trim, RemovesCodesUpTo32AtBothEnds) {
    const std::vector<TrimCase> cases = {
        {"empty", q(u""), q(u"")},
        {"only blanks", q(u" \t\r\n "), q(u"")},
        {"inner blanks kept", q(u"  a b  "), q(u"a b")},
        {"control codes",
         q(u"\x01\x1f"
           "x"
           "\x7f\x20"),
         q(u"x\x7f")},
        {"nbsp is not trimmed", q(u"\u00a0x\u00a0"), q(u"\u00a0x\u00a0")},
        {"NUL trimmed", QString(QChar(0)) + q(u"y"), q(u"y")},
        {"code 33 kept", q(u"!a!"), q(u"!a!")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vcl::Trim(c.in), c.out) << c.name;
}

struct PosCase {
    const char* name;
    QString sub;
    QString s;
    int expected;
};

TEST(AnsiPos, OneBasedAndZeroWhenAbsent) {
    const std::vector<PosCase> cases = {
        {"at start", q(u"="), q(u"=a"), 1},       {"first of several", q(u"="), q(u"a=b=c"), 2},
        {"absent", q(u"="), q(u"abc"), 0},        {"empty sub", q(u""), q(u"abc"), 0},
        {"empty text", q(u"a"), q(u""), 0},       {"case matters", q(u"A"), q(u"a"), 0},
        {"multi-char", q(u"bc"), q(u"abcbc"), 2}, {"non-ASCII", q(u"\u00e9"), q(u"caf\u00e9"), 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vcl::AnsiPos(c.sub, c.s), c.expected) << c.name;
}

struct IntCase {
    const char* name;
    QString text;
    int32_t value;
};

TEST(StrToInt, AcceptedForms) {
    const std::vector<IntCase> cases = {
        {"plain", q(u"8080"), 8080},
        {"zero", q(u"0"), 0},
        {"leading zeros", q(u"007"), 7},
        {"plus", q(u"+12"), 12},
        {"minus", q(u"-12"), -12},
        {"blanks around", q(u"  8080 \t"), 8080},
        {"dollar hex", q(u"$1F"), 31},
        {"0x hex lower", q(u"0x1f"), 31},
        {"0X hex", q(u"0X1F"), 31},
        {"negative hex", q(u"-$10"), -16},
        {"max", q(u"2147483647"), 2147483647},
        {"min", q(u"-2147483648"), INT32_MIN},
        {"hex max", q(u"$7FFFFFFF"), 2147483647},
        {"hex min", q(u"-0x80000000"), INT32_MIN},
        {"many leading zeros", q(u"0000000000000000000001"), 1},
    };
    for (const auto& c : cases) {
        int32_t got = 0;
        EXPECT_NO_THROW(got = vcl::StrToInt(c.text)) << c.name;
        EXPECT_EQ(got, c.value) << c.name;
    }
}

TEST(StrToInt, RefusedFormsNameTheText) {
    const std::vector<QString> refused = {
        q(u""),
        q(u"   "),
        q(u"abc"),
        q(u"80a"),
        q(u"a80"),
        q(u"+"),
        q(u"-"),
        q(u"+-1"),
        q(u"--1"),
        q(u"8 080"),
        q(u"$"),
        q(u"0x"),
        q(u"$G"),
        q(u"0x1G"),
        q(u"1.5"),
        q(u"1e3"),
        q(u"2147483648"),
        q(u"-2147483649"),
        q(u"$80000000"),
        q(u"$FFFFFFFF"),
        q(u"99999999999999999999"),
        q(u"\u0661\u0662"),
        q(u"\uff18\uff10"),
        q(u"8080\n"),
        q(u"\u00a08080"),
        q(u"0b101"),
        q(u"$-1"),
        q(u"x1F"),
    };
    for (const QString& text : refused) {
        try {
            const int32_t v = vcl::StrToInt(text);
            ADD_FAILURE() << "accepted '" << text.toStdString() << "' as " << v;
        } catch (const vcl::EConvertError& e) {
            EXPECT_EQ(e.Message, QStringLiteral("'%1' is not a valid integer value").arg(text));
        }
    }
}

TEST(StrToInt, ConversionErrorIsAFrameworkException) {
    EXPECT_THROW(vcl::StrToInt(q(u"port")), vcl::Exception);
}

struct SplitCase {
    const char* name;
    QString separators;
    QString whitespace;
    QString content;
    QStringList expected;
};

TEST(ExtractStrings, Splits) {
    const QString none;
    const std::vector<SplitCase> cases = {
        {"empty", none, none, q(u""), {}},
        {"one line", none, none, q(u"abc"), {q(u"abc")}},
        {"LF", none, none, q(u"a\nb"), {q(u"a"), q(u"b")}},
        {"CR LF same as LF", none, none, q(u"a\r\nb\r\n"), {q(u"a"), q(u"b")}},
        {"lone CR", none, none, q(u"a\rb"), {q(u"a"), q(u"b")}},
        {"blank lines vanish", none, none, q(u"\n\na\n\n\r\n\rb\n\n"), {q(u"a"), q(u"b")}},
        {"only breaks", none, none, q(u"\r\n\r\n"), {}},
        {"blanks kept without white-space set",
         none,
         none,
         q(u"  a  \n \n"),
         {q(u"  a  "), q(u" ")}},
        {"leading white space skipped, trailing kept",
         none,
         q(u" \t"),
         q(u"  a b \n\t c"),
         {q(u"a b "), q(u"c")}},
        {"separators", q(u",;"), none, q(u"a,b;;c,"), {q(u"a"), q(u"b"), q(u"c")}},
        {"quotes are ordinary",
         none,
         none,
         q(u"don't\nstop \"here\nnow\""),
         {q(u"don't"), q(u"stop \"here"), q(u"now\"")}},
        {"help text",
         none,
         none,
         q(u"-----------\nHELP:\nline 1\r\n\r\nline 2"),
         {q(u"-----------"), q(u"HELP:"), q(u"line 1"), q(u"line 2")}},
        {"non-ASCII",
         none,
         none,
         q(u"\u00e9t\u00e9\n\u65e5\u672c"),
         {q(u"\u00e9t\u00e9"), q(u"\u65e5\u672c")}},
    };
    for (const auto& c : cases) {
        QStringList out;
        const int n = vcl::ExtractStrings(c.separators, c.whitespace, c.content, out);
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_EQ(n, c.expected.size()) << c.name;
    }
}

TEST(ExtractStrings, AppendsToWhatIsThere) {
    QStringList out{QStringLiteral("kept")};
    EXPECT_EQ(vcl::ExtractStrings({}, {}, QStringLiteral("x\ny"), out), 2);
    EXPECT_EQ(out, (QStringList{QStringLiteral("kept"), QStringLiteral("x"), QStringLiteral("y")}));
}

TEST(DialogFilter, FrameworkFormToQtForm) {
    const std::vector<std::pair<QString, QString>> cases = {
        {q(u"IDC File|*.idc"), q(u"IDC File (*.idc)")},
        {q(u""), q(u"")},
        {q(u"Pictures|*.png;*.bmp|All|*.*"), q(u"Pictures (*.png *.bmp);;All (*.*)")},
        {q(u"Lonely"), q(u"Lonely (*)")},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(vcl::DialogFilter(in), out) << in.toStdString();
}

} // namespace
