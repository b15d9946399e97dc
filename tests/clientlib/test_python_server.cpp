// Every family of the library once, against an independent server: Python's
// standard xmlrpc.server (tests/clientlib/xmlrpc_server.py).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cwxmlclient.h"
#include "python_server.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairs_of(const NameValueList* list) {
    Pairs out;
    for (int32_t i = 0; list && i < list->count; ++i)
        out.emplace_back(list->names[i], list->values[i]);
    return out;
}

// An argument list built the way the test client builds one: malloc'ed copies.
class ArgList {
public:
    ArgList(std::initializer_list<std::pair<std::string, std::string>> entries) {
        for (const auto& [n, v] : entries)
            add(n, v);
    }
    void add(const std::string& name, const std::string& value) {
        names_.push_back(name);
        values_.push_back(value);
    }
    const NameValueList* get() {
        n_.clear();
        v_.clear();
        for (std::size_t i = 0; i < names_.size(); ++i) {
            n_.push_back(names_[i].data());
            v_.push_back(values_[i].data());
        }
        list_ = {static_cast<int32_t>(n_.size()), n_.data(), v_.data()};
        return &list_;
    }

private:
    std::vector<std::string> names_, values_;
    std::vector<char*> n_, v_;
    NameValueList list_{};
};

class PythonServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        CloseXML();
        ASSERT_EQ(SetHostName("127.0.0.1"), 1);
        ASSERT_EQ(SetXMLPort(server_.port()), 1);
        EnableXMLAccess(1);
        SetXMLAccessKey("");
    }
    void TearDown() override { CloseXML(); }

    void expect_ok() {
        EXPECT_EQ(GetErrorCode(), 0) << GetErrorText();
        EXPECT_STREQ(GetErrorText(), "");
    }

    cwtest::PythonServer server_;
};

TEST_F(PythonServerTest, CommandsAnswerTrueFalseOrFault) {
    EXPECT_EQ(Close(), 1);
    expect_ok();

    EXPECT_EQ(First(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_REFUSED);
    EXPECT_STREQ(GetErrorText(), "First was refused: the application answered false");

    EXPECT_EQ(Next(), 0);
    EXPECT_EQ(GetErrorCode(), 42);
    EXPECT_STREQ(GetErrorText(), "No selection");

    EXPECT_EQ(Previous(), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_REMOTE_FAULT);
    EXPECT_STREQ(GetErrorText(), "Fault without a code");

    // Unknown to the server: Python's own fault comes through unchanged.
    EXPECT_EQ(Video(), 0);
    EXPECT_NE(GetErrorCode(), 0);
    EXPECT_NE(std::string(GetErrorText()).find("Video"), std::string::npos) << GetErrorText();

    ArgList with_file{{"File", "/tmp/x.idc"}};
    EXPECT_EQ(Open(with_file.get()), 1);
    expect_ok();
    ArgList without{{"Other", "1"}};
    EXPECT_EQ(Open(without.get()), 0);
    EXPECT_EQ(GetErrorCode(), 3);
    EXPECT_STREQ(GetErrorText(), "File missing");
}

TEST_F(PythonServerTest, QueryFlattensEveryType) {
    const Pairs expected = {
        {"Name", "Ann <&> \"Lee\" 'x'"},
        {"Age", "31"},
        {"Active", "1"},
        {"Score", "1.5"},
        {"Joined", "20240102T03:04:05"},
        {"Blob", "aGk="},
        {"Tags[0]", "a"},
        {"Tags[1]", "2"},
        {"Address.City", "Oslo"},
        {"Address.Zip", "0150"},
        {"Empty", "{}"},
        {"Nothing", ""},
        {"Unicode", "\xc3\x86r\xc3\xb8 \xe2\x9c\x93"},
    };
    EXPECT_EQ(pairs_of(GetCurrent()), expected);
    expect_ok();
}

TEST_F(PythonServerTest, ResultsOutliveTheReadersButNotTheNextCall) {
    const NameValueList* list = GetCurrent();
    ASSERT_NE(list, nullptr);
    const Pairs first = pairs_of(list);
    // The four readers leave results and the error record alone.
    GetErrorCode();
    GetErrorText();
    GetSentXML();
    GetReceivedXML();
    EXPECT_EQ(pairs_of(list), first);
    EXPECT_EQ(First(), 0);
    const std::string error = GetErrorText();
    GetSentXML();
    GetReceivedXML();
    EXPECT_EQ(GetErrorCode(), CWX_ERR_REFUSED);
    EXPECT_EQ(GetErrorText(), error);
    // A success clears the record.
    EXPECT_EQ(Close(), 1);
    expect_ok();
}

TEST_F(PythonServerTest, IntrospectionFamilies) {
    const NameValueList* methods = GetMethods();
    ASSERT_NE(methods, nullptr) << GetErrorText();
    const Pairs got = pairs_of(methods);
    ASSERT_GE(got.size(), 15u);
    bool has_open = false;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].first, std::to_string(i));
        has_open = has_open || got[i].second == "Open";
    }
    EXPECT_TRUE(has_open);
    EXPECT_EQ(got.back().second, "system.methodSignature"); // Python sorts them

    EXPECT_STREQ(GetMethodHelp("Open"), "Opens a card design.");
    expect_ok();

    // Python has no signatures and says so in a string: shown, not dropped.
    EXPECT_EQ(pairs_of(GetMethodProtoType("Open")),
              (Pairs{{"0", "signatures not supported"}}));
}

TEST_F(PythonServerTest, TextNumberBusyAndPicture) {
    ArgList code{{"Code", "12"}};
    EXPECT_STREQ(GetErrorMessage(code.get()), "Error 12: card not found");

    EXPECT_EQ(GetCWHandle(), 4242);
    expect_ok();
    EXPECT_EQ(GetLastCommandError(), 0);
    expect_ok();
    EXPECT_EQ(GetEditCount(), -1);
    EXPECT_EQ(GetErrorCode(), 7);
    EXPECT_STREQ(GetErrorText(), "No design open");

    EXPECT_EQ(IsBusy(), 0);
    expect_ok();

    const CWBitmap badge = GetBadgeImage(nullptr);
    ASSERT_NE(badge, 0u) << GetErrorText();
    EXPECT_EQ(cw_bitmap_width(badge), 3);
    EXPECT_EQ(cw_bitmap_height(badge), 2);
    const uint32_t* px = cw_bitmap_pixels(badge);
    const int row = cw_bitmap_stride(badge) / 4;
    EXPECT_EQ(px[0], 0xFFFF0000u);
    EXPECT_EQ(px[1], 0xFF00FF00u);
    EXPECT_EQ(px[2], 0xFF0000FFu);
    EXPECT_EQ(px[row + 0], 0x00000000u);
    EXPECT_EQ(px[row + 1], 0x80FFFFFFu);
    EXPECT_EQ(px[row + 2], 0xFF102030u);
    cw_bitmap_delete(badge);
}

TEST_F(PythonServerTest, ArgumentsArriveInOrderWithDuplicatesAndEscapes) {
    const std::string megabyte(1 << 20, 'x');
    const Pairs sent = {{"B", "1"},
                        {"A", "<tag> & \"quoted\" 'single' ]]>"},
                        {"B", "2"},
                        {"Utf8", "\xc3\xa6\xc3\xb8\xc3\xa5 \xe2\x9c\x93 \xf0\x9f\x98\x80"},
                        {"Lines", "a\tb\r\nc\rd\n"},
                        {"", ""},
                        {"Big", megabyte}};
    ArgList args{};
    for (const auto& [name, value] : sent)
        args.add(name, value);
    const Pairs got = pairs_of(GetRecord(args.get()));
    expect_ok();
    // The server answers [name, value] pairs; flattened they are i[0], i[1].
    ASSERT_EQ(got.size(), 2 * sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[2 * i].first, std::to_string(i) + "[0]");
        EXPECT_EQ(got[2 * i].second, sent[i].first);
        EXPECT_EQ(got[2 * i + 1].second, sent[i].second) << "entry " << i;
    }
}

TEST_F(PythonServerTest, AccessKeyTravelsInItsHeader) {
    EXPECT_EQ(pairs_of(GetStatus()), (Pairs{{"AccessKey", ""}}));
    ASSERT_EQ(SetXMLAccessKey("s3cret"), 1);
    EXPECT_EQ(pairs_of(GetStatus()), (Pairs{{"AccessKey", "s3cret"}}));
    // Kept across CloseXML, stopped by "".
    CloseXML();
    EXPECT_EQ(pairs_of(GetStatus()), (Pairs{{"AccessKey", "s3cret"}}));
    ASSERT_EQ(SetXMLAccessKey(""), 1);
    EXPECT_EQ(pairs_of(GetStatus()), (Pairs{{"AccessKey", ""}}));
}

TEST_F(PythonServerTest, XmlAccessRecordsTheLastBodies) {
    ASSERT_EQ(Close(), 1);
    EXPECT_NE(std::string(GetSentXML()).find("<methodName>Close</methodName>"), std::string::npos);
    EXPECT_NE(std::string(GetReceivedXML()).find("<boolean>1</boolean>"), std::string::npos);

    // A refused argument sends nothing and leaves the records alone.
    ArgList bad{{"X", "\x01"}};
    EXPECT_EQ(Open(bad.get()), 0);
    EXPECT_EQ(GetErrorCode(), CWX_ERR_BAD_ARGUMENT);
    EXPECT_NE(std::string(GetSentXML()).find("Close"), std::string::npos);

    ASSERT_EQ(EnableXMLAccess(0), 1);
    EXPECT_STREQ(GetSentXML(), "");
    EXPECT_STREQ(GetReceivedXML(), "");
    ASSERT_EQ(First(), 0);
    EXPECT_STREQ(GetSentXML(), "");
    EXPECT_STREQ(GetReceivedXML(), "");

    ASSERT_EQ(EnableXMLAccess(1), 1);
    ASSERT_EQ(Close(), 1);
    EXPECT_NE(std::string(GetSentXML()).find("Close"), std::string::npos);
    CloseXML();
    EXPECT_STREQ(GetSentXML(), "");
}

TEST_F(PythonServerTest, CloseXmlTwiceThenCallsWorkAgain) {
    ASSERT_NE(GetMethods(), nullptr);
    CloseXML();
    CloseXML();
    EXPECT_EQ(GetErrorCode(), 0);
    ASSERT_NE(GetMethods(), nullptr) << GetErrorText();
    EXPECT_EQ(Close(), 1);
}

} // namespace
