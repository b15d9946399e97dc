#include "engine.h"

#include <QImage>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

using namespace cwsim;
namespace fs = std::filesystem;

namespace {

class EngineTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() / ("cwsim-engine-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "d.idc") << "[Design]\nname = D\nsize = 200x120\ngenerate = 5\n"
                                         "[Field Name]\nsample = first-name\nplace = 10,10,180,30\n"
                                         "[Field Number]\nkind = number\nsample = sequence\n"
                                         "[Field Photo]\nkind = photo\nplace = 10,50,40,50\n";
        options_.design = (dir_ / "d.idc").string();
        options_.printDir = (dir_ / "prints").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    int finish(Engine& e) {
        EXPECT_TRUE(e.waitIdle(10000));
        return e.integer("GetLastCommandError");
    }

    static int errorCode(const std::function<void()>& f) {
        try {
            f();
        } catch (const CwError& e) {
            return e.code();
        }
        return 0;
    }

    static std::string value(const Members& m, const std::string& name) {
        for (const auto& [k, v] : m)
            if (k == name)
                return std::holds_alternative<int>(v) ? std::to_string(std::get<int>(v))
                                                      : std::get<std::string>(v);
        return "<absent>";
    }

    fs::path dir_;
    Options options_;
};

TEST_F(EngineTest, CommandsRunInOrderAfterTheirAnswer) {
    Engine e(options_);
    e.start();
    // Queued behind the start-up Open, these are checked against the design it opens.
    e.command("Add", {{"Name", "Zoe"}});
    e.command("Update", {{"Number", "77"}});
    e.command("Next", {}); // the Add's record is the last: nothing after it
    EXPECT_EQ(finish(e), code::EndOfSelection);
    auto rec = e.query("GetRecord", {});
    EXPECT_EQ(value(rec, "Name"), "Zoe");
    EXPECT_EQ(value(rec, "Number"), "77");
    EXPECT_EQ(value(e.query("GetCount", {}), "Total"), "6");
    EXPECT_EQ(e.integer("GetEditCount"), 2);
    EXPECT_NE(e.errorMessage({{"Code", "15"}}).find("Already at the last record"),
              std::string::npos);
}

TEST_F(EngineTest, PlainlyInvalidCommandsAreRefusedAtOnce) {
    options_.design.clear();
    Engine e(options_);
    e.start();
    EXPECT_EQ(errorCode([&] { e.command("Next", {}); }), code::NoDesign);
    EXPECT_EQ(errorCode([&] { e.query("GetCount", {}); }), code::NoDesign);
    EXPECT_EQ(errorCode([&] { e.command("Open", {}); }), code::BadArgument);
    EXPECT_EQ(errorCode([&] {
                  e.command("Open", {{"File", (dir_ / "none.idc").string()}});
              }),
              code::DesignFile);
    e.command("Open", {{"File", (dir_ / "d.idc").string()}});
    EXPECT_EQ(finish(e), 0);
    struct Case {
        const char* method;
        Pairs args;
        int code;
    } cases[] = {
        {"Select", {{"Shoe", "1"}}, code::UnknownField},
        {"Add", {}, code::BadArgument},
        {"Add", {{"Photo", "x"}}, code::BadArgument},
        {"Add", {{"Name", std::string(5000, 'x')}}, code::BadArgument},
        {"Revise", {{"Name", "x"}}, code::BadArgument},
        {"Revise", {{"Id", "one"}, {"Name", "x"}}, code::BadArgument},
        {"Goto", {}, code::BadArgument},
        {"ServerMode", {{"Mode", "sometimes"}}, code::BadArgument},
        {"Signature", {}, code::NoDevice},
        {"Fingerprint", {}, code::NoDevice},
        {"Template", {{"Name", "Nope"}}, code::NoTemplate},
        {"CreateTemplate", {{"Name", "Standard"}}, code::Exists},
        {"ReviseAssignments", {{"Name", "maybe"}}, code::BadArgument},
        {"ReviseAssignments", {{"Shoe", "Yes"}}, code::UnknownField},
        {"ReviseUserData", {}, code::BadArgument},
        // A mistyped member is refused, not ignored.
        {"CreateTemplate", {{"Name", "Guest"}, {"Titel", "GUEST"}}, code::BadArgument},
        {"Goto", {{"Id", "2"}, {"Recrod", "3"}}, code::BadArgument},
        {"FlipBadge", {{"Sid", "Back"}}, code::BadArgument},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorCode([&] { e.command(c.method, c.args); }), c.code) << c.method;
    EXPECT_FALSE(e.isBusy()); // nothing refused was queued
    for (const char* unknown : {"12345", "4294967297" /* 1 beyond 32 bits */})
        EXPECT_EQ(errorCode([&] {
                      e.errorMessage({{"Code", unknown}});
                  }),
                  code::BadArgument)
            << unknown;
}

TEST_F(EngineTest, PicturesAndPrint) {
    Engine e(options_);
    e.start();
    ASSERT_EQ(finish(e), 0);
    auto badge = e.picture("GetBadgeImage", {});
    QImage img;
    ASSERT_TRUE(img.loadFromData(reinterpret_cast<const uchar*>(badge.data()),
                                 static_cast<int>(badge.size()), "PNG"));
    EXPECT_EQ(img.size(), QSize(200, 120));
    EXPECT_FALSE(e.picture("GetPhotoImage", {}).empty());
    e.command("Print", {});
    ASSERT_EQ(finish(e), 0);
    auto printed = value(e.query("GetStatus", {}), "LastPrint");
    EXPECT_TRUE(fs::exists(printed)) << printed;
    EXPECT_EQ(errorCode([&] { e.picture("GetSignatureImage", {}); }), code::NoPicture);
    EXPECT_EQ(errorCode([&] { e.picture("GetPhotoImage", {{"Id", "999"}}); }), code::NotFound);
    EXPECT_EQ(errorCode([&] { e.picture("GetBadgeImage", {{"Name", "Ann"}}); }), code::BadArgument);
}

TEST_F(EngineTest, ExitAnnouncesOnceAndStopsAccepting) {
    Engine e(options_);
    std::atomic<int> exits{0};
    e.onExit = [&] { ++exits; };
    e.start();
    e.command("Exit", {});
    EXPECT_TRUE(e.waitIdle(10000));
    // Announced by the worker just after it went idle.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (exits.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(exits.load(), 1);
    EXPECT_EQ(errorCode([&] { e.command("First", {}); }), code::ShuttingDown);
}

TEST_F(EngineTest, StopCutsABusyCommandShort) {
    options_.busyMs = 600000;
    Engine e(options_);
    e.start();
    auto t0 = std::chrono::steady_clock::now();
    e.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

} // namespace
