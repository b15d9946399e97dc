// The main flows through our own client library against the real simulator,
// which the library launches itself: open, select, navigate, add, update,
// delete, pictures, faults, introspection, exit.
#include "cwxmlclient.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Args {
  public:
    Args(std::initializer_list<std::pair<std::string, std::string>> entries) {
        for (const auto& [n, v] : entries) {
            names_.push_back(n);
            values_.push_back(v);
        }
        for (std::size_t i = 0; i < names_.size(); ++i) {
            namePtrs_.push_back(names_[i].data());
            valuePtrs_.push_back(values_[i].data());
        }
        list_.count = static_cast<int32_t>(names_.size());
        list_.names = namePtrs_.data();
        list_.values = valuePtrs_.data();
    }
    const NameValueList* operator&() const { return &list_; }

  private:
    std::vector<std::string> names_, values_;
    std::vector<char*> namePtrs_, valuePtrs_;
    NameValueList list_{};
};

std::string valueOf(const NameValueList* list, const std::string& name) {
    if (!list)
        return "<null list: " + std::to_string(GetErrorCode()) + " " + GetErrorText() + ">";
    for (int32_t i = 0; i < list->count; ++i)
        if (name == list->names[i])
            return list->values[i];
    return "<absent>";
}

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

template <typename Pred> bool waitFor(Pred pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool idle() {
    return waitFor([] { return IsBusy() == 0; }, 20000);
}

TEST(LibraryFlow, AgainstTheSimulator) {
    const char* samples = std::getenv("CW_SAMPLES");
    ASSERT_NE(samples, nullptr) << "CW_SAMPLES must name the samples folder";
    ASSERT_NE(std::getenv("CWXML_CARDWRIGHT"), nullptr)
        << "CWXML_CARDWRIGHT must name cardwright-sim";
    auto dir = fs::temp_directory_path() / ("cwsim-lib-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    fs::copy_file(fs::path(samples) / "visitors.idc", dir / "visitors.idc");
    auto design = (dir / "visitors.idc").string();

    SetHostName("127.0.0.1");
    SetXMLPort(freePort());
    ASSERT_EQ(LaunchCW(design.c_str(), CWX_SHOW_HIDDEN), 1) << GetErrorText();
    const NameValueList* methods = nullptr;
    ASSERT_TRUE(waitFor([&] { return (methods = GetMethods()) != nullptr; }, 15000))
        << GetErrorText();
    bool hasGetRecord = false;
    for (int32_t i = 0; i < methods->count; ++i)
        hasGetRecord = hasGetRecord || std::string(methods->values[i]) == "GetRecord";
    EXPECT_TRUE(hasGetRecord);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetCount(), "Total"), "300");

    // Select and navigate.
    ASSERT_EQ(Select(&Args{{"FirstName", "A*"}}), 1) << GetErrorText();
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetRecord(&Args{}), "FirstName").substr(0, 1), "A");
    ASSERT_EQ(First(), 1);
    ASSERT_EQ(Next(), 1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetCurrent(), "Position"), "2");
    EXPECT_EQ(GetLastCommandError(), 0);

    // Add, update, delete.
    ASSERT_EQ(Add(&Args{{"FirstName", "Lib"},
                        {"LastName", "Flow"},
                        {"Company", "Tab\tand <tags> & \"quotes\""}}),
              1)
        << GetErrorText();
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetRecord(&Args{}), "Company"), "Tab\tand <tags> & \"quotes\"");
    ASSERT_EQ(Update(&Args{{"Company", "Lib Co"}}), 1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(valueOf(GetRecord(&Args{{"LastName", "Flow"}}), "Company"), "Lib Co");
    ASSERT_EQ(Delete(&Args{}), 1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(GetRecord(&Args{{"LastName", "Flow"}}), nullptr);
    EXPECT_EQ(GetErrorCode(), 6);
    EXPECT_NE(std::string(GetErrorText()).find("No record matches"), std::string::npos);

    // Pictures arrive as bitmaps of the right size.
    CWBitmap badge = GetBadgeImage(&Args{});
    ASSERT_NE(badge, 0u) << GetErrorText();
    EXPECT_EQ(cw_bitmap_width(badge), 540);
    EXPECT_EQ(cw_bitmap_height(badge), 860);
    cw_bitmap_delete(badge);
    CWBitmap photo = GetPhotoImage(&Args{});
    ASSERT_NE(photo, 0u) << GetErrorText();
    EXPECT_EQ(cw_bitmap_width(photo), 180);
    cw_bitmap_delete(photo);
    EXPECT_EQ(GetSignatureImage(&Args{}), 0u);
    EXPECT_EQ(GetErrorCode(), 11);

    // Refusals arrive as the server's code and text.
    EXPECT_EQ(Select(&Args{{"Shoe", "42"}}), 0);
    EXPECT_EQ(GetErrorCode(), 2);
    EXPECT_NE(std::string(GetErrorText()).find("Unknown field 'Shoe'"), std::string::npos);
    const char* text = GetErrorMessage(&Args{{"Code", "2"}});
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "Unknown field");

    // Introspection.
    const NameValueList* proto = GetMethodProtoType("Open");
    ASSERT_NE(proto, nullptr) << GetErrorText();
    ASSERT_EQ(proto->count, 1);
    EXPECT_EQ(std::string(proto->values[0]), "boolean Open(struct)");
    const char* help = GetMethodHelp("Open");
    ASSERT_NE(help, nullptr);
    EXPECT_NE(std::string(help).find("File=PATH"), std::string::npos);

    // Exit answers, then the program goes away.
    EXPECT_EQ(Exit(), 1);
    EXPECT_TRUE(
        waitFor([] { return GetMethods() == nullptr && GetErrorCode() == CWX_ERR_CONNECT; }, 10000))
        << GetErrorCode() << " " << GetErrorText();
    CloseXML();
    fs::remove_all(dir);
}

} // namespace
