// LaunchCW and LaunchRL with a stand-in program named by CWXML_CARDWRIGHT /
// CWXML_ROSTERLINK that records its arguments.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <cerrno>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cwxmlclient.h"

namespace fs = std::filesystem;

namespace {

class Launch : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("cwlaunch-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        argv_file_ = dir_ / "argv.txt";
        setenv("CW_FAKE_ARGV_FILE", argv_file_.c_str(), 1);
        setenv("CWXML_CARDWRIGHT", CW_FAKE_CARDWRIGHT, 1);
        unsetenv("CWXML_ROSTERLINK");
        design_ = dir_ / "my design; $(rm -rf x) 'quoted' \"too\".idc";
        std::ofstream(design_) << "design\n";
        SetXMLPort(8080);
    }
    void TearDown() override {
        unsetenv("CWXML_CARDWRIGHT");
        unsetenv("CWXML_ROSTERLINK");
        unsetenv("CW_FAKE_ARGV_FILE");
        fs::remove_all(dir_);
        SetXMLPort(8080);
    }

    // The recorded arguments, waiting (briefly) for the detached program.
    std::vector<std::string> recorded() {
        for (int i = 0; i < 500 && !fs::exists(argv_file_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(argv_file_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        if (!lines.empty() && lines.back().rfind("fds: ", 0) == 0) {
            inherited_fds_ = std::stoi(lines.back().substr(5));
            lines.pop_back();
        }
        return lines;
    }

    fs::path dir_;
    fs::path argv_file_;
    fs::path design_;
    int inherited_fds_ = -1;
};

TEST_F(Launch, PassesThePathAsOneArgumentWithShowModeAndPort) {
    struct Row {
        const char* label;
        bool rosterlink;
        int32_t show;
        int32_t port;
        std::vector<std::string> tail;
    };
    const Row rows[] = {
        {"shown", false, CWX_SHOW_NORMAL, 8080, {"--show", "normal", "--port", "8080"}},
        {"minimised", false, CWX_SHOW_MINIMIZED, 9001, {"--show", "minimized", "--port", "9001"}},
        {"hidden rosterlink",
         true,
         CWX_SHOW_HIDDEN,
         8080,
         {"--show", "hidden", "--port", "8080", "--role", "rosterlink"}},
        {"odd mode reads as shown", false, 7, 8080, {"--show", "normal", "--port", "8080"}},
    };
    for (const Row& row : rows) {
        fs::remove(argv_file_);
        SetXMLPort(row.port);
        const unsigned char started = row.rosterlink ? LaunchRL(design_.c_str(), row.show)
                                                     : LaunchCW(design_.c_str(), row.show);
        ASSERT_EQ(started, 1) << row.label << ": " << GetErrorText();
        EXPECT_EQ(GetErrorCode(), 0);
        std::vector<std::string> expected = {CW_FAKE_CARDWRIGHT, "--design", design_.string()};
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(recorded(), expected) << row.label;
    }
}

TEST_F(Launch, LeavesNoZombieAndNoInheritedDescriptors) {
    // A descriptor without close-on-exec, as a caller's program may hold.
    const int stray = dup(1);
    ASSERT_GT(stray, 2);
    ASSERT_EQ(LaunchCW(design_.c_str(), CWX_SHOW_NORMAL), 1) << GetErrorText();
    recorded();
    close(stray);
    EXPECT_EQ(inherited_fds_, 0);
    // Our own children were reaped; the program itself belongs to init.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Launch, RosterLinkHasItsOwnOverride) {
    const fs::path other = dir_ / "rl-argv.txt";
    setenv("CWXML_ROSTERLINK", "/nonexistent/rosterlink", 1);
    EXPECT_EQ(LaunchRL(design_.c_str(), CWX_SHOW_NORMAL), 0);
    EXPECT_EQ(std::string(GetErrorText()),
              "Cannot start /nonexistent/rosterlink: No such file or directory");
    // Cardwright is unaffected.
    EXPECT_EQ(LaunchCW(design_.c_str(), CWX_SHOW_NORMAL), 1) << GetErrorText();
}

TEST_F(Launch, FailuresAreReported) {
    const fs::path not_executable = dir_ / "plain.txt";
    std::ofstream(not_executable) << "#!/bin/sh\n";
    struct Row {
        const char* label;
        std::string program; // "" leaves CWXML_CARDWRIGHT unset
        std::string design;
        int32_t port;
        int code;
        std::string text;
    };
    const std::string design = design_.string();
    const Row rows[] = {
        {"missing file", CW_FAKE_CARDWRIGHT, (dir_ / "none.idc").string(), 8080, CWX_ERR_LAUNCH,
         "Cannot launch: design file " + (dir_ / "none.idc").string() + " does not exist"},
        {"empty path", CW_FAKE_CARDWRIGHT, "", 8080, CWX_ERR_LAUNCH,
         "Cannot launch: no design file given"},
        {"folder", CW_FAKE_CARDWRIGHT, dir_.string(), 8080, CWX_ERR_LAUNCH,
         "is a folder, not a design file"},
        {"missing program", "/nonexistent/cardwright", design, 8080, CWX_ERR_LAUNCH,
         "Cannot start /nonexistent/cardwright: No such file or directory"},
        {"not executable", not_executable.string(), design, 8080, CWX_ERR_LAUNCH,
         "Cannot start " + not_executable.string() + ": Permission denied"},
        {"not on PATH", "no-such-cardwright-program", design, 8080, CWX_ERR_LAUNCH,
         "Cannot launch: no-such-cardwright-program not found on PATH"},
        {"bad port", CW_FAKE_CARDWRIGHT, design, 0, CWX_ERR_SETTINGS, "Port 0 is outside 1..65535"},
    };
    for (const Row& row : rows) {
        setenv("CWXML_CARDWRIGHT", row.program.c_str(), 1);
        SetXMLPort(row.port);
        EXPECT_EQ(LaunchCW(row.design.c_str(), CWX_SHOW_NORMAL), 0) << row.label;
        EXPECT_EQ(GetErrorCode(), row.code) << row.label;
        EXPECT_NE(std::string(GetErrorText()).find(row.text), std::string::npos)
            << row.label << ": " << GetErrorText();
    }
    EXPECT_FALSE(fs::exists(argv_file_));
}

TEST_F(Launch, DefaultProgramIsFoundInTheBinFolderThenBesideTheLibraryThenOnPath) {
    // A copy of the library in a folder of its own, loaded on its own, finds
    // programs from where it lies, as an installed one does.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&LaunchCW), &info), 0);
    const fs::path lib_dir = dir_ / "usr" / "lib" / "arch";
    const fs::path bin_dir = (lib_dir / CWXML_LIBDIR_TO_BINDIR).lexically_normal();
    const fs::path path_dir = dir_ / "on-path";
    for (const fs::path& d : {lib_dir, bin_dir, path_dir})
        fs::create_directories(d);
    const fs::path library = lib_dir / "libcwxmlclient.so.1";
    fs::copy_file(fs::canonical(info.dli_fname), library);
    void* copy = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(copy, nullptr) << dlerror();
    const auto launch =
        reinterpret_cast<unsigned char (*)(const char*, int32_t)>(dlsym(copy, "LaunchCW"));
    const auto error_text = reinterpret_cast<const char* (*)()>(dlsym(copy, "GetErrorText"));
    ASSERT_TRUE(launch && error_text);

    unsetenv("CWXML_CARDWRIGHT");
    const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", path_dir.c_str(), 1);
    struct Row {
        const char* label;
        std::vector<fs::path> folders_with_program;
        fs::path started; // empty: not found
    };
    const Row rows[] = {
        {"installation's bin folder first", {bin_dir, lib_dir, path_dir}, bin_dir},
        {"beside the library, as in the build tree", {lib_dir, path_dir}, lib_dir},
        {"then on PATH", {path_dir}, path_dir},
        {"nowhere", {}, {}},
    };
    for (const Row& row : rows) {
        for (const fs::path& d : {bin_dir, lib_dir, path_dir})
            fs::remove(d / "cardwright-sim");
        for (const fs::path& d : row.folders_with_program)
            fs::copy_file(CW_FAKE_CARDWRIGHT, d / "cardwright-sim");
        fs::remove(argv_file_);
        const unsigned char started = launch(design_.c_str(), CWX_SHOW_HIDDEN);
        if (row.started.empty()) {
            EXPECT_EQ(started, 0) << row.label;
            EXPECT_EQ(std::string(error_text()), "Cannot launch: cardwright-sim not found in " +
                                                     bin_dir.string() + ", beside " +
                                                     library.string() + " or on PATH");
            continue;
        }
        ASSERT_EQ(started, 1) << row.label << ": " << error_text();
        const std::vector<std::string> args = recorded();
        ASSERT_FALSE(args.empty()) << row.label;
        EXPECT_EQ(args[0], (row.started / "cardwright-sim").string()) << row.label;
    }
    setenv("PATH", saved_path.c_str(), 1);
}

} // namespace
