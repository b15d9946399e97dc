// The scripted double itself: the window tests are only as good as its
// recording and its script.
#include "fake_cwxmlclient.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class FakeLibrary : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
    void TearDown() override { fake::reset(); }
};

TEST_F(FakeLibrary, RecordsCopiesOfTheArgumentList)
{
    char n0[] = "File", v0[] = "a.idc", v1[] = "x";
    char* names[] = {n0, nullptr};
    char* values[] = {v0, v1};
    const NameValueList list{2, names, values};
    Open(&list);
    std::strcpy(v0, "b.idc"); // the caller's memory changes after the call
    Select(nullptr);
    const NameValueList negative{-3, nullptr, nullptr};
    Delete(&negative);

    const auto& calls = fake::calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].args, (fake::Entries{{"File", "a.idc"}, {"", "x"}}));
    EXPECT_EQ(calls[0].argsAddress, &list);
    EXPECT_EQ(calls[0].argCount, 2);
    EXPECT_TRUE(calls[1].argsNull);
    EXPECT_TRUE(calls[2].args.empty());
    EXPECT_EQ(calls[2].argCount, -3);
}

TEST_F(FakeLibrary, RecordsStringAndNumberArguments)
{
    SetHostName(nullptr);
    SetHostName("");
    LaunchRL("/a b.idc", 2);
    EnableXMLAccess(1);
    SetXMLPort(-5);
    const auto& calls = fake::calls();
    EXPECT_EQ(calls[0].text, std::nullopt);
    EXPECT_EQ(calls[1].text, std::optional<std::string>(""));
    EXPECT_EQ(calls[2].text, std::optional<std::string>("/a b.idc"));
    EXPECT_EQ(calls[2].number, 2);
    EXPECT_EQ(calls[3].number, 1);
    EXPECT_EQ(calls[4].number, -5);
}

TEST_F(FakeLibrary, FailureValuesByFamilyWhenNothingIsScripted)
{
    EXPECT_EQ(GetFeatures(), nullptr);
    EXPECT_EQ(GetRecord(nullptr), nullptr);
    EXPECT_EQ(Close(), 0);
    EXPECT_EQ(Open(nullptr), 0);
    EXPECT_EQ(LaunchCW("", 5), 0);
    EXPECT_EQ(IsBusy(), 255);
    EXPECT_EQ(GetCWHandle(), -1);
    EXPECT_EQ(GetMethodHelp("Open"), nullptr);
    EXPECT_EQ(GetSentXML(), nullptr);
    EXPECT_EQ(GetBadgeImage(nullptr), 0u);
    EXPECT_EQ(GetErrorCode(), 0);
    EXPECT_EQ(GetErrorText(), nullptr);
    CloseXML();
    EXPECT_EQ(fake::callCount("CloseXML"), 1);
}

TEST_F(FakeLibrary, QueueFirstThenDefault)
{
    fake::pushByte("Close", 1);
    fake::setDefaultByte("Close", 7);
    fake::pushNumber("GetEditCount", 12);
    fake::setDefaultText("GetErrorMessage", std::string("boom"));
    fake::setError(-3, std::string("HTTP 500"));
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(Close(), 7);
    EXPECT_EQ(GetEditCount(), 12);
    EXPECT_EQ(GetEditCount(), -1);
    EXPECT_STREQ(GetErrorMessage(nullptr), "boom");
    EXPECT_EQ(GetErrorCode(), -3);
    EXPECT_STREQ(GetErrorText(), "HTTP 500");
    EXPECT_EQ(fake::callNames(), (std::vector<std::string>{"Close", "Close", "GetEditCount", "GetEditCount",
                                                           "GetErrorMessage", "GetErrorCode", "GetErrorText"}));
}

TEST_F(FakeLibrary, ListOutlivesTheErrorAndXMLReads)
{
    fake::pushList("GetFeatures", {{"Video", "1"}, {"Video", "2"}});
    const NameValueList* list = GetFeatures();
    GetErrorCode();
    GetErrorText();
    GetSentXML();
    GetReceivedXML();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    EXPECT_STREQ(list->names[1], "Video");
    EXPECT_STREQ(list->values[1], "2");
}

TEST_F(FakeLibrary, BitmapsAreCreatedAtTheCallAndCounted)
{
    const long before = cw_bitmap_live_count();
    fake::pushBitmap("GetPhotoImage", 3, 2, 0xff112233u);
    fake::pushBitmap("GetPhotoImage", 0, 5, 0);
    EXPECT_EQ(cw_bitmap_live_count(), before);
    const CWBitmap bitmap = GetPhotoImage(nullptr);
    ASSERT_NE(bitmap, 0u);
    EXPECT_EQ(cw_bitmap_live_count(), before + 1);
    EXPECT_EQ(cw_bitmap_width(bitmap), 3);
    EXPECT_EQ(cw_bitmap_height(bitmap), 2);
    const uint32_t* row1 = cw_bitmap_pixels(bitmap) + cw_bitmap_stride(bitmap) / 4;
    EXPECT_EQ(row1[2], 0xff112233u);
    cw_bitmap_delete(bitmap);
    EXPECT_EQ(GetPhotoImage(nullptr), 0u);
    EXPECT_EQ(cw_bitmap_live_count(), before);
}

TEST_F(FakeLibrary, HookSeesTheCallAndMayScriptIt)
{
    std::vector<std::size_t> seen;
    fake::setOnCall([&seen](const std::string& function) {
        seen.push_back(fake::calls().size());
        if (function == "GetMethods" && fake::callCount("GetMethods") == 3)
            fake::pushList("GetMethods", {{"0", "Open"}});
    });
    EXPECT_EQ(GetMethods(), nullptr);
    EXPECT_EQ(GetMethods(), nullptr);
    const NameValueList* third = GetMethods();
    ASSERT_NE(third, nullptr);
    EXPECT_STREQ(third->values[0], "Open");
    EXPECT_EQ(seen, (std::vector<std::size_t>{1, 2, 3}));
}

} // namespace
