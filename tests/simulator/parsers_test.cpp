#include "csv.h"
#include "http_server.h"
#include "methods.h"
#include "options.h"
#include "request_gate.h"
#include "text.h"

#include <gtest/gtest.h>

#include <set>

using namespace cwsim;

namespace {

TEST(Csv, Cells) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<CsvRow> rows;
    } cases[] = {
        {"plain", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}},
        {"no final newline", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
        {"CRLF", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
        {"quoted comma", "a,b\n\"x, y\",2\n", {{"a", "b"}, {"x, y", "2"}}},
        {"doubled quote", "a\n\"say \"\"hi\"\"\"\n", {{"a"}, {"say \"hi\""}}},
        {"line break in quotes", "a,b\n\"1\n2\",3\n", {{"a", "b"}, {"1\n2", "3"}}},
        {"empty cells", "a,b,c\n,,\n", {{"a", "b", "c"}, {"", "", ""}}},
        {"blank lines skipped", "a\n\n1\n\n", {{"a"}, {"1"}}},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "a\n1\n",
         {{"a"}, {"1"}}},
        {"empty", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseCsv(c.text), c.rows) << c.what;
}

TEST(Csv, Errors) {
    for (auto [text, message] : std::initializer_list<std::pair<const char*, const char*>>{
             {"a,b\n1,2,3\n", "line 2: 3 cells, the header has 2"},
             {"a\n\"open\n", "line 2: quoted cell without its closing quote"},
             {"a,b\n\"x\ny\",1\n1\n", "line 4: 1 cells"},
             {"a\nZo\xEB\n", "line 2, byte 4 (0xeb): not UTF-8 text"}}) {
        try {
            parseCsv(text);
            ADD_FAILURE() << text;
        } catch (const CsvError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

TEST(Options, Accepted) {
    auto o =
        parseOptions({"--design", "a.idc", "--port=9090", "--bind", "0.0.0.0", "--access-key", "k",
                      "--role", "rosterlink", "--show", "minimised", "--start-delay", "0.5",
                      "--busy-ms", "20", "--fail", "Open=7:No: really", "--fail", "Next=8:x"});
    EXPECT_EQ(o.design, "a.idc");
    EXPECT_EQ(o.port, 9090);
    EXPECT_EQ(o.bind, "0.0.0.0");
    EXPECT_EQ(o.accessKey, "k");
    EXPECT_EQ(o.role, Role::RosterLink);
    EXPECT_EQ(o.show, Show::Minimized);
    EXPECT_DOUBLE_EQ(o.startDelay, 0.5);
    EXPECT_EQ(o.busyMs, 20);
    ASSERT_EQ(o.failures.size(), 2u);
    EXPECT_EQ(o.failures["Open"].code, 7);
    EXPECT_EQ(o.failures["Open"].text, "No: really"); // the text may hold colons
    auto d = parseOptions({});
    EXPECT_EQ(d.port, 8080);
    EXPECT_EQ(d.bind, "127.0.0.1");
    EXPECT_EQ(d.show, Show::Normal);
}

TEST(Options, Refused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port"},
        {"--port", "-1"},
        {"--port", "65536"},
        {"--port", "80x"},
        {"--role", "x"},
        {"--show", ""},
        {"--start-delay", "soon"},
        {"--start-delay", "nan"},
        {"--start-delay", "4000"},
        {"--busy-ms", "1.5"},
        {"--fail", "=1:x"},
        {"--fail", "A=0:x"},
        {"--fail", "A=1:"},
        {"--fail", "A1:x"},
        {"--design", ""},
        {"-x"},
        {"design.idc"},
        {"--bind", ""},
        {"--access-key", ""},
        {"--access-key-file", ""},
        {"--access-key", "k", "--access-key-file", "f"}};
    for (const auto& args : cases)
        EXPECT_THROW(parseOptions(args), OptionsError) << args[0];
}

TEST(Text, WhatXmlRpcCarries) {
    const auto npos = std::string_view::npos;
    struct Case {
        const char* what;
        std::string text;
        std::size_t first;    // firstUncarried
        std::string replaced; // carriedText
    } cases[] = {
        {"ASCII with TAB, LF, CR", "a\tb\nc\r", npos, "a\tb\nc\r"},
        {"two- and three-byte UTF-8", "Zo\xC3\xAB \xE6\xBC\xA2", npos, "Zo\xC3\xAB \xE6\xBC\xA2"},
        {"Latin-1 byte", "Zo\xEB!", 2, "Zo\xEF\xBF\xBD!"},
        {"control character", "a\x01z", 1, "a\xEF\xBF\xBDz"},
        {"above U+FFFF, one replacement", "\xF0\x9F\x8E\x89x", 0, "\xEF\xBF\xBDx"},
        {"surrogate", "\xED\xA0\x80", 0, "\xEF\xBF\xBD"},
        {"overlong", "\xE0\x80\xAF", 0, "\xEF\xBF\xBD"},
        {"U+FFFE", "a\xEF\xBF\xBE", 1, "a\xEF\xBF\xBD"},
        {"truncated at the end", "ab\xC3", 2, "ab\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firstUncarried(c.text), c.first) << c.what;
        EXPECT_EQ(carriedText(c.text), c.replaced) << c.what;
    }
}

TEST(AccessKey, ComparedWhole) {
    EXPECT_TRUE(sameKey("secret", "secret"));
    for (const char* other : {"", "secre", "secrets", "Secret", "secreT", "xxxxxx"})
        EXPECT_FALSE(sameKey(other, "secret")) << other;
    EXPECT_FALSE(sameKey("x", ""));
}

std::string repeat(const std::string& part, std::size_t times) {
    std::string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

// A call to M whose methodCall holds `inner` after the method name.
std::string callOf(const std::string& inner, const std::string& declaration = "") {
    return declaration + "<methodCall><methodName>M</methodName>" + inner + "</methodCall>";
}

std::string valuesCall(std::size_t n) {
    return callOf("<params><param><value><array><data>" + repeat("<value>1</value>", n - 1) +
                  "</data></array></value></param></params>");
}

std::string multicall(std::size_t calls, const std::string& name = "system.multicall") {
    return "<methodCall><methodName>" + name +
           "</methodName><params><param><value><array>"
           "<data>" +
           repeat("<value><struct/></value>", calls) + "</data></array></value></param></params>" +
           "</methodCall>";
}

TEST(RequestGate, Rules) {
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
    struct Case {
        const char* what;
        std::string body;
        std::string refusal; // empty: passes
        std::string after;   // when it passes and is rewritten
    } cases[] = {
        {"plain UTF-8", callOf("<params/>", "<?xml version=\"1.0\"?>"), "", ""},
        {"byte order mark dropped", "\xEF\xBB\xBF" + callOf(""), "", callOf("")},
        {"Latin-1 made UTF-8", callOf("Zo\xEB", latin1), "",
         callOf("Zo\xC3\xAB", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>")},
        {"ASCII declared", callOf("", "<?xml version='1.0' encoding='US-ASCII'?>"), "", ""},
        {"UTF-16 with its mark", "\xFF\xFE<\0m\0", "UTF-16", ""},
        {"UTF-16 without a mark", std::string("<\0m\0", 4), "NUL byte at byte 1", ""},
        {"another encoding", callOf("", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>"),
         "'Shift_JIS' is not accepted", ""},
        {"UTF-8 mark on Latin-1", "\xEF\xBB\xBF" + callOf("", latin1), "byte order mark", ""},
        {"DOCTYPE", "<!DOCTYPE l [<!ENTITY a \"a\">]>" + callOf(""), "DOCTYPE", ""},
        {"entity declaration alone", callOf("<!ENTITY a \"a\">"), "DOCTYPE", ""},
        {"DOCTYPE in a comment", callOf("<!-- <!DOCTYPE x> -->"), "", ""},
        {"DOCTYPE in CDATA", callOf("<x><![CDATA[<!DOCTYPE x>]]></x>"), "", ""},
        {"64 levels", callOf(repeat("<a>", 63) + repeat("</a>", 63)), "", ""},
        {"65 levels", callOf(repeat("<a>", 64) + repeat("</a>", 64)), "deeper than 64", ""},
        {"empty elements do not nest", callOf(repeat("<a/>", 200)), "", ""},
        {"'/>' inside an attribute", callOf(repeat("<a b='/>'>", 64)), "deeper than 64", ""},
        {"100,000 deep", callOf(repeat("<value><array><data>", 100000)), "deeper than 64", ""},
        {"100,000 values", valuesCall(100000), "", ""},
        {"100,001 values", valuesCall(100001), "more than 100000 values", ""},
        {"elements beyond what values need", callOf(repeat("<a/>", 500001)),
         "more than 500000 elements", ""},
        {"multicall of 100", multicall(100), "", ""},
        {"multicall of 101", multicall(101), "at most 100 calls, this one has 101", ""},
        {"multicall named by a reference", multicall(101, "system&#46;multicall"),
         "at most 100 calls", ""},
        {"multicall named around a comment", multicall(101, "system.multi<!---->call"),
         "at most 100 calls", ""},
        {"multicall named in CDATA", multicall(101, "<![CDATA[system.multicall]]>"),
         "at most 100 calls", ""},
        {"multicall named beside another name",
         multicall(101, "system.multicall</methodName><methodName>IsBusy"), "at most 100 calls",
         ""},
        {"not XML", "this is not XML", "not well-formed XML", ""},
        {"unclosed", callOf("<params>"), "not well-formed XML", ""},
        {"another root", "<methodResponse/>", "<methodResponse>, expected <methodCall>", ""},
        {"above U+FFFF", callOf("\xF0\x9F\x8E\x89"), "U+FFFF", ""},
    };
    for (auto& c : cases) {
        std::string body = c.body;
        GateVerdict v = checkCall(body);
        // What passes is parsed by the registry; what it refuses is described.
        if (v.passed) {
            if (auto why = malformedCall(body); !why.empty())
                v.passed = false, v.refusal = why;
        }
        EXPECT_EQ(v.passed, c.refusal.empty()) << c.what << ": " << v.refusal;
        EXPECT_NE(v.refusal.find(c.refusal), std::string::npos) << c.what << ": " << v.refusal;
        if (v.passed) {
            EXPECT_EQ(body, c.after.empty() ? c.body : c.after) << c.what;
        }
    }
}

TEST(MethodTable, MatchesTheClientsCatalogue) {
    const auto& table = methodTable();
    ASSERT_EQ(table.size(), 54u);
    std::set<std::string> names;
    std::map<Family, int> families;
    for (const auto& m : table) {
        names.insert(m.name);
        ++families[m.family];
        EXPECT_GT(std::string(m.help).size(), 20u) << m.name;
        EXPECT_NE(m.roles, 0u) << m.name;
    }
    EXPECT_EQ(names.size(), 54u);
    EXPECT_EQ(families[Family::ListGetter], 9);
    EXPECT_EQ(families[Family::Command], 19);
    EXPECT_EQ(families[Family::CommandWithList], 16);
    EXPECT_EQ(families[Family::Integer], 3);
    EXPECT_EQ(families[Family::Picture], 4);
    EXPECT_EQ(table[0].name, std::string("GetErrorMessage"));
    EXPECT_EQ(table[53].name, std::string("RosterLink"));
    EXPECT_EQ(signatureOf(table[19]), "b:S");   // Open
    EXPECT_EQ(signatureOf(table[5]), "S:S,S:"); // GetRecord
}

} // namespace
