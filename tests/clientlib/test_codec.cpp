// The encoder and decoder without a server: request bodies byte for byte,
// and the documented rules that turn answers into lists and texts.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cw_bitmap.h"
#include "picture.h"
#include "request.h"
#include "response.h"
#include "transport.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string encoded(std::string_view text) {
    std::string out;
    std::string why;
    EXPECT_TRUE(cwx::append_xml_text(out, text, why)) << why;
    return out;
}

TEST(RequestEncoding, EscapesOnlyWhatXmlNeeds) {
    struct Row {
        const char* label;
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"plain", "abc", "abc"},
        {"markup", "<a&b>", "&lt;a&amp;b&gt;"},
        {"quotes", "\"'", "\"'"},
        {"tab and lf", "a\tb\nc", "a\tb\nc"},
        {"cr survives parsers", "a\r\nb", "a&#13;\nb"},
        {"utf-8 two to four bytes", "\xc3\xa6 \xe2\x9c\x93 \xf0\x9f\x98\x80",
         "\xc3\xa6 \xe2\x9c\x93 \xf0\x9f\x98\x80"},
        {"cdata end", "]]>", "]]&gt;"},
        {"empty", "", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(encoded(row.in), row.out) << row.label;
}

TEST(RequestEncoding, RefusesWhatXmlCannotCarry) {
    struct Row {
        const char* label;
        std::string in;
        const char* why_part;
    };
    const Row rows[] = {
        {"nul-free control", "a\x01", "control character 0x01 at byte 1"},
        {"escape", "\x1b[0m", "control character 0x1b at byte 0"},
        {"lone continuation", "a\x80", "not valid UTF-8 (byte 0x80 at offset 1)"},
        {"overlong slash", "\xc0\xaf", "not valid UTF-8"},
        {"overlong three bytes", "\xe0\x80\xaf", "not valid UTF-8"},
        {"surrogate", "\xed\xa0\x80", "not valid UTF-8"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", "not valid UTF-8"},
        {"truncated", "ab\xe2\x82", "not valid UTF-8 (byte 0xe2 at offset 2)"},
        {"latin-1", "caf\xe9", "not valid UTF-8"},
        {"U+FFFE", "\xef\xbf\xbe", "U+FFFE"},
        {"U+FFFF", "x\xef\xbf\xbf", "U+FFFF at byte 1"},
    };
    for (const Row& row : rows) {
        std::string out;
        std::string why;
        EXPECT_FALSE(cwx::append_xml_text(out, row.in, why)) << row.label;
        EXPECT_NE(why.find(row.why_part), std::string::npos) << row.label << ": " << why;
    }
}

TEST(RequestEncoding, StructKeepsOrderAndDuplicates) {
    char n0[] = "B", v0[] = "1", n1[] = "A", v1[] = "x<y", n2[] = "B", v2[] = "2";
    char* names[] = {n0, n1, n2, nullptr};
    char* values[] = {v0, v1, v2, nullptr};
    NameValueList list{4, names, values}; // a NULL name and value read as ""
    std::string out;
    std::string error;
    ASSERT_TRUE(cwx::build_call(out, "Select", cwx::CallParams{&list, true}, error)) << error;
    EXPECT_EQ(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<methodCall><methodName>Select"
                   "</methodName><params><param><value><struct>"
                   "<member><name>B</name><value><string>1</string></value></member>"
                   "<member><name>A</name><value><string>x&lt;y</string></value></member>"
                   "<member><name>B</name><value><string>2</string></value></member>"
                   "<member><name></name><value><string></string></value></member>"
                   "</struct></value></param></params></methodCall>\n");
}

TEST(RequestEncoding, EmptyListsAndNoParameters) {
    std::string out;
    std::string error;
    const std::string empty_struct = "<params><param><value><struct></struct></value></param>";
    NameValueList negative{-3, nullptr, nullptr};
    for (const NameValueList* list : {static_cast<const NameValueList*>(nullptr),
                                      static_cast<const NameValueList*>(&negative)}) {
        ASSERT_TRUE(cwx::build_call(out, "Open", cwx::CallParams{list, true}, error));
        EXPECT_NE(out.find(empty_struct), std::string::npos) << out;
    }
    ASSERT_TRUE(cwx::build_call(out, "First", cwx::CallParams{}, error));
    EXPECT_NE(out.find("<params></params>"), std::string::npos) << out;
}

TEST(RequestEncoding, RefusedEntryIsNamed) {
    char n0[] = "Ok", v0[] = "fine", n1[] = "Photo", v1[] = "bell\x07";
    char* names[] = {n0, n1};
    char* values[] = {v0, v1};
    NameValueList list{2, names, values};
    std::string out;
    std::string error;
    EXPECT_FALSE(cwx::build_call(out, "Add", cwx::CallParams{&list, true}, error));
    EXPECT_EQ(error, "Argument entry 1 (\"Photo\"): the value holds control character 0x07 at "
                     "byte 4, which XML cannot carry");

    char bad_name[] = "Na\x02me";
    names[1] = bad_name;
    values[1] = v0;
    EXPECT_FALSE(cwx::build_call(out, "Add", cwx::CallParams{&list, true}, error));
    EXPECT_EQ(error, "Argument entry 1 (\"Na\\x02me\"): the name holds control character 0x02 "
                     "at byte 2, which XML cannot carry");
}

// ---- decoding -------------------------------------------------------------

std::string answer(const std::string& value) {
    return "<?xml version=\"1.0\"?><methodResponse><params><param><value>" + value +
           "</value></param></params></methodResponse>";
}

struct Decoded {
    bool ok = false;
    Pairs pairs;
    std::string problem;
};

std::string repeated(std::string_view piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i)
        out.append(piece);
    return out;
}

Decoded flatten(std::string body) {
    cwx::ResponseReader reader;
    Decoded d;
    if (reader.parse(body) != cwx::ResponseReader::Outcome::Value) {
        d.problem = reader.problem();
        return d;
    }
    cwx::Entries entries;
    d.ok = reader.flatten(reader.value(), entries);
    d.problem = reader.problem();
    for (std::size_t i = 0; i < entries.names.size(); ++i)
        d.pairs.emplace_back(entries.names[i], entries.values[i]);
    return d;
}

TEST(ResponseDecoding, ScalarsBecomeTextsByTheDocumentedRules) {
    struct Row {
        const char* label;
        std::string value;
        std::string text;
    };
    const Row rows[] = {
        {"untyped", "plain", "plain"},
        {"untyped blanks kept", "   ", "   "},
        {"string blanks kept", "<string> a </string>", " a "},
        {"empty string", "<string/>", ""},
        {"entities", "<string>&lt;&amp;&gt;&quot;&apos;&#x2713;&#13;</string>",
         "<&>\"'\xe2\x9c\x93\r"},
        {"cdata joined", "<string>a<![CDATA[<b>]]>c</string>", "a<b>c"},
        {"comment dropped", "<string>a<!-- x -->b</string>", "ab"},
        {"processing instruction dropped", "<string>a<?pi x?>b</string>", "ab"},
        {"raw cr kept", "<string>a\r\nb\rc</string>", "a\r\nb\rc"},
        {"int", "<int>42</int>", "42"},
        {"i4 negative", "<i4>-7</i4>", "-7"},
        {"int plus and zeros", "<int> +007 </int>", "7"},
        {"i8 big", "<i8>9000000000</i8>", "9000000000"},
        {"ex:i8", "<ex:i8>-1</ex:i8>", "-1"},
        {"boolean 1", "<boolean>1</boolean>", "1"},
        {"boolean false", "<boolean>false</boolean>", "0"},
        {"double as written", "<double> 1.50 </double>", "1.50"},
        {"date as written", "<dateTime.iso8601>20240102T03:04:05</dateTime.iso8601>",
         "20240102T03:04:05"},
        {"base64 unwrapped", "<base64>aGVs\nbG8=\n</base64>", "aGVsbG8="},
        {"nil", "<nil/>", ""},
        {"ex:nil", "<ex:nil/>", ""},
        // Texts come back as valid UTF-8 without controls but TAB, LF, CR.
        {"invalid byte replaced", "<string>caf\xe9 ok</string>", "caf\uFFFD ok"},
        {"terminal escape replaced", "<string>a&#27;[31mb\x1b[0m</string>",
         "a\uFFFD[31mb\uFFFD[0m"},
        {"del and c1 control replaced", "<string>a\x7f&#x9b;b</string>", "a\uFFFD\uFFFDb"},
        {"truncated sequence is one replacement", "<string>\xe2\x9c.</string>", "\uFFFD."},
        {"surrogate bytes each replaced", "<string>\xed\xa0\x80</string>", "\uFFFD\uFFFD\uFFFD"},
        {"overlong and beyond U+10FFFF", "<string>\xc0\xaf\xf4\x90\x80\x80</string>",
         "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"four-byte character kept", "<string>\xf0\x9f\x98\x80</string>", "\xf0\x9f\x98\x80"},
        {"nul reference in cdata is text", "<string><![CDATA[&#0;]]></string>", "&#0;"},
        {"references in comments, cdata and pis are text",
         "<string><!--&#xD800;--><![CDATA[&#x110000;]]><?pi &#0;?>&#x10FFFF;</string>",
         "&#x110000;\xf4\x8f\xbf\xbf"},
        // Quadratic in the number of sections, this would take hours.
        {"a million nul references in comments",
         "<string>" + repeated("<!--&#0;-->", 1000000) + "x<![CDATA[&#0;]]></string>", "x&#0;"},
        {"double cleaned", "<double>1\x01</double>", "1\uFFFD"},
    };
    for (const Row& row : rows) {
        const Decoded d = flatten(answer(row.value));
        ASSERT_TRUE(d.ok) << row.label << ": " << d.problem;
        ASSERT_EQ(d.pairs.size(), 1u) << row.label;
        EXPECT_EQ(d.pairs[0], (std::pair<std::string, std::string>("0", row.text))) << row.label;
    }
}

TEST(ResponseDecoding, NestedValuesFlattenWithPaths) {
    const std::string body = answer(
        "<struct>"
        "<member><name>Name</name><value>Ann</value></member>"
        "<member><name>Tags</name><value><array><data><value>a</value><value><i4>2</i4></value>"
        "</data></array></value></member>"
        "<member><name>Address</name><value><struct><member><name>City</name><value>Oslo</value>"
        "</member><member><name>Geo</name><value><array><data><value><double>59.9</double></value>"
        "</data></array></value></member></struct></value></member>"
        "<member><name>People</name><value><array><data><value><struct><member><name>n</name>"
        "<value>x</value></member></struct></value></data></array></value></member>"
        "<member><name>Empty</name><value><struct>\n</struct></value></member>"
        "<member><name>None</name><value><array><data/></array></value></member>"
        "<member><name>Name</name><value>dup</value></member>"
        "</struct>");
    const Decoded d = flatten(body);
    ASSERT_TRUE(d.ok) << d.problem;
    const Pairs expected = {{"Name", "Ann"},
                            {"Tags[0]", "a"},
                            {"Tags[1]", "2"},
                            {"Address.City", "Oslo"},
                            {"Address.Geo[0]", "59.9"},
                            {"People[0].n", "x"},
                            {"Empty", "{}"},
                            {"None", "[]"},
                            {"Name", "dup"}};
    EXPECT_EQ(d.pairs, expected);
}

TEST(ResponseDecoding, TopLevelArrayIsIndexed) {
    const Decoded d = flatten(answer("<array><data><value>system.listMethods</value>"
                                     "<value><array><data><value>x</value></data></array></value>"
                                     "<value><struct><member><name>k</name><value>v</value>"
                                     "</member></struct></value></data></array>"));
    ASSERT_TRUE(d.ok) << d.problem;
    const Pairs expected = {{"0", "system.listMethods"}, {"1[0]", "x"}, {"2.k", "v"}};
    EXPECT_EQ(d.pairs, expected);
    EXPECT_TRUE(flatten(answer("<struct></struct>")).pairs.empty());
    EXPECT_TRUE(flatten(answer("<array><data></data></array>")).pairs.empty());
}

TEST(ResponseDecoding, MalformedAnswersAreRefusedWithAReason) {
    struct Row {
        const char* label;
        std::string body;
        const char* problem_part;
    };
    const auto nested = [](int levels) {
        std::string v;
        for (int i = 0; i < levels; ++i)
            v += "<array><data><value>";
        v += "x";
        for (int i = 0; i < levels; ++i)
            v += "</value></data></array>";
        return answer(v);
    };
    const Row rows[] = {
        {"empty body", "", "the body is empty"},
        {"unclosed", answer("<string>x").substr(0, 60), "not well-formed XML"},
        {"not xml", "hello", "not well-formed XML"},
        {"html", "<html><body>oops</body></html>", "root element is <html>"},
        {"doctype", "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><methodResponse/>",
         "it has a DOCTYPE"},
        {"no params", "<methodResponse></methodResponse>", "neither <params> nor <fault>"},
        {"two params",
         "<methodResponse><params><param><value>1</value></param><param><value>2</value></param>"
         "</params></methodResponse>",
         "exactly one <param>"},
        {"bad int", answer("<int>12x</int>"), "not an integer"},
        {"int overflow", answer("<i8>99999999999999999999</i8>"), "not an integer"},
        {"bad boolean", answer("<boolean>yes</boolean>"), "not 0 or 1"},
        {"unknown type", answer("<float>1</float>"), "unknown value type <float>"},
        {"member without value", answer("<struct><member><name>a</name></member></struct>"),
         "without <name> or <value>"},
        {"array without data", answer("<array></array>"), "<array> without <data>"},
        {"nul reference", answer("<string>nul&#0;after</string>"),
         "a NUL character (a reference to character 0) at byte "},
        {"hex nul reference", answer("<string>&#x000;</string>"), "a NUL character"},
        {"nul reference with many zeros", answer("<string>&#000000000000000000000;</string>"),
         "a NUL character"},
        // Read in 32 bits these would wrap to U+0000, to 'A' and past U+10FFFF.
        {"hex reference to 2^32", answer("<string>abc&#x100000000;def</string>"),
         "a reference to a character past U+10FFFF at byte "},
        {"decimal reference to 2^32", answer("<string>abc&#4294967296;def</string>"),
         "past U+10FFFF"},
        {"reference to 2^32 + 65", answer("<string>&#4294967361;</string>"), "past U+10FFFF"},
        {"reference to 2^32 - 1", answer("<string>&#xFFFFFFFF;</string>"), "past U+10FFFF"},
        {"reference past U+10FFFF", answer("<string>&#x110000;</string>"), "past U+10FFFF"},
        {"reference to a surrogate", answer("<string>&#xd800;</string>"),
         "a reference to U+D800, a surrogate, at byte "},
        {"decimal reference to a surrogate", answer("<string>&#57343;</string>"), "U+DFFF"},
        {"nul reference in a fault string",
         "<methodResponse><fault><value><struct><member><name>faultCode</name><value><int>1"
         "</int></value></member><member><name>faultString</name><value>a&#x100000000;b"
         "</value></member></struct></value></fault></methodResponse>",
         "past U+10FFFF"},
        {"nul reference after a comment opened in an attribute",
         answer("<string a=\"<!--\">x&#0;y</string><!-- -->"), "a NUL character"},
        {"nul reference in an attribute after a comment",
         answer("<!-- --><string a='&#0;'>x</string>"), "a NUL character"},
        {"raw nul", answer(std::string("<string>nul\0after</string>", 26)), "a NUL byte at byte"},
        {"nul in a member name",
         answer("<struct><member><name>a&#00;</name><value>1</value>"
                "</member></struct>"),
         "a NUL character"},
        {"long path above many values",
         answer("<struct><member><name>" + std::string(64 * 1024, 'p') + "</name><value><struct>" +
                repeated("<member><name>m</name><value>1</value></member>", 1100) +
                "</struct></value></member></struct>"),
         "the names of its nested values take more than 64 MiB"},
        {"65 deep", nested(64), "nested deeper than 64 levels"},
        {"10000 deep", nested(10000), "nested deeper than 64 levels"},
    };
    for (const Row& row : rows) {
        const Decoded d = flatten(row.body);
        EXPECT_FALSE(d.ok) << row.label;
        EXPECT_NE(d.problem.find(row.problem_part), std::string::npos)
            << row.label << ": " << d.problem;
    }
}

TEST(ResponseDecoding, FaultsGiveCodeAndString) {
    std::string body = "<methodResponse><fault><value><struct>"
                       "<member><name>faultString</name><value><string>No &amp; way</string>"
                       "</value></member><member><name>faultCode</name><value><int>-501</int>"
                       "</value></member></struct></value></fault></methodResponse>";
    cwx::ResponseReader reader;
    ASSERT_EQ(reader.parse(body), cwx::ResponseReader::Outcome::Fault);
    EXPECT_EQ(reader.fault_code(), -501);
    EXPECT_STREQ(reader.fault_string(), "No & way");

    std::string escaped = "<methodResponse><fault><value><struct><member><name>faultCode</name>"
                          "<value><int>4</int></value></member><member><name>faultString</name>"
                          "<value>\x1b]0;owned\x07\xff</value></member></struct></value></fault>"
                          "</methodResponse>";
    ASSERT_EQ(reader.parse(escaped), cwx::ResponseReader::Outcome::Fault);
    EXPECT_STREQ(reader.fault_string(), "\uFFFD]0;owned\uFFFD\uFFFD");

    std::string no_code = "<methodResponse><fault><value><struct><member><name>faultString</name>"
                          "<value>x</value></member></struct></value></fault></methodResponse>";
    EXPECT_EQ(reader.parse(no_code), cwx::ResponseReader::Outcome::Invalid);
}

TEST(ResponseDecoding, HundredThousandMembersInOrder) {
    std::string members;
    for (int i = 0; i < 100000; ++i)
        members += "<member><name>F" + std::to_string(i) + "</name><value><i4>" +
                   std::to_string(i) + "</i4></value></member>";
    const Decoded d = flatten(answer("<struct>" + members + "</struct>"));
    ASSERT_TRUE(d.ok) << d.problem;
    ASSERT_EQ(d.pairs.size(), 100000u);
    EXPECT_EQ(d.pairs[0], (std::pair<std::string, std::string>("F0", "0")));
    EXPECT_EQ(d.pairs[99999], (std::pair<std::string, std::string>("F99999", "99999")));
}

// ---- base64 -----------------------------------------------------------------

TEST(Base64, DecodesAndRefuses) {
    struct Row {
        const char* label;
        const char* in;
        bool ok;
        std::string out_or_why;
    };
    const Row rows[] = {
        {"padded", "aGVsbG8=", true, "hello"},
        {"unpadded", "aGVsbG8", true, "hello"},
        {"two pads", "aGk=", true, "hi"},
        {"wrapped", "aG\nVs bG8=\r\n", true, "hello"},
        {"empty", "", true, ""},
        {"bad character", "aGV*bG8=", false, "bad character '*' at offset 3"},
        {"one char group", "aGVsb", false, "ends in the middle of a group"},
        {"data after pad", "aGk=aGk=", false, "'a' after the padding at offset 4"},
        {"three pads", "aG===", false, "ends in the middle of a group"},
    };
    for (const Row& row : rows) {
        std::vector<unsigned char> out;
        std::string why;
        const bool ok = cwx::decode_base64(row.in, out, why);
        EXPECT_EQ(ok, row.ok) << row.label;
        if (row.ok)
            EXPECT_EQ(std::string(out.begin(), out.end()), row.out_or_why) << row.label;
        else
            EXPECT_NE(why.find(row.out_or_why), std::string::npos) << row.label << ": " << why;
    }
}

// ---- settings -----------------------------------------------------------------

TEST(Settings, HostsAndAccessKeysThatCannotBeUsedAreNamed) {
    struct Row {
        std::string host;
        bool ok;
        std::string endpoint_or_why;
    };
    const Row hosts[] = {
        {"localhost", true, "localhost:8080"},
        {"127.0.0.1", true, "127.0.0.1:8080"},
        {"badge-host.example.org", true, "badge-host.example.org:8080"},
        {"::1", true, "[::1]:8080"},
        {"[::1]", true, "[::1]:8080"},
        {"", false, "No host name set"},
        {"localhost:8080", false, "Host name \"localhost:8080\" is not a host name or IP address"},
        {"evil.example/x?", false, "is not a host name"},
        {"user@host", false, "is not a host name"},
        {"two words", false, "is not a host name"},
        {"host\r\nX: 1", false, "Host name \"host\\x0d\\x0aX: 1\""},
        {"[not-ipv6]", false, "is not a host name"},
        {"bl\xc3\xa5"
         "b\xc3\xa6r.example",
         true,
         "bl\xc3\xa5"
         "b\xc3\xa6r.example:8080"},
        {"caf\xe9", false, "Host name \"caf\\xe9\" is not a host name"},
    };
    for (const Row& row : hosts) {
        std::string why;
        EXPECT_EQ(cwx::check_host(row.host, why), row.ok) << row.host;
        if (row.ok)
            EXPECT_EQ(cwx::endpoint_text(row.host, 8080), row.endpoint_or_why);
        else
            EXPECT_NE(why.find(row.endpoint_or_why), std::string::npos) << row.host << ": " << why;
    }
    std::string why;
    EXPECT_TRUE(cwx::check_access_key("k 1\t\xc3\xa6", why));
    EXPECT_FALSE(cwx::check_access_key("k\r\nX-Other: 1", why));
    EXPECT_EQ(why, "The access key holds control character 0x0d at byte 1, which an HTTP header "
                   "cannot carry");
}

// ---- bitmap handles ---------------------------------------------------------

TEST(Bitmap, SizesWithinTheLimitsOnlyAndEachHandleCounted) {
    struct Row {
        int32_t width;
        int32_t height;
        bool ok;
    };
    const Row rows[] = {
        {1, 1, true},
        {3, 2, true},
        {CW_BITMAP_MAX_SIDE, 1, true},
        {0, 5, false},
        {5, -1, false},
        {CW_BITMAP_MAX_SIDE + 1, 1, false},
        {1, CW_BITMAP_MAX_SIDE + 1, false},
        {CW_BITMAP_MAX_SIDE, CW_BITMAP_MAX_SIDE, false}, // above the pixel limit
    };
    const long live = cw_bitmap_live_count();
    for (const Row& row : rows) {
        const CWBitmap b = cw_bitmap_create(row.width, row.height);
        EXPECT_EQ(b != 0, row.ok) << row.width << " x " << row.height;
        if (!b)
            continue;
        EXPECT_EQ(cw_bitmap_live_count(), live + 1);
        EXPECT_EQ(cw_bitmap_width(b), row.width);
        EXPECT_EQ(cw_bitmap_height(b), row.height);
        EXPECT_EQ(cw_bitmap_stride(b), row.width * 4);
        const uint32_t* px = cw_bitmap_pixels(b);
        EXPECT_EQ(px[0], 0u);
        EXPECT_EQ(px[static_cast<std::size_t>(row.width) * row.height - 1], 0u);
        cw_bitmap_delete(b);
    }
    EXPECT_EQ(cw_bitmap_live_count(), live);
    cw_bitmap_delete(0);
    EXPECT_EQ(cw_bitmap_width(0), 0);
    EXPECT_EQ(cw_bitmap_pixels(0), nullptr);
}

} // namespace
