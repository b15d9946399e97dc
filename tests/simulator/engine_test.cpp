#include "engine.h"

#include "methods.h"
#include "roster.h"

#include <QImage>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

using namespace cwsim;
namespace fs = std::filesystem;

namespace {

// The connection SQLite opened last (the engine opens the roster on its
// worker), caught as it opens.
std::atomic<sqlite3*> lastOpened{nullptr};
int catchOpen(sqlite3* db, const char**, const sqlite3_api_routines*) {
    lastOpened = db;
    return SQLITE_OK;
}

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
        return std::get<int>(e.call("GetLastCommandError", {}));
    }

    static int errorCode(const std::function<void()>& f) {
        try {
            f();
        } catch (const CwError& e) {
            return e.code();
        }
        return 0;
    }

    static Members members(const Answer& a) {
        if (const auto* rec = std::get_if<RecordAnswer>(&a))
            return membersOf(*rec);
        return std::get<Members>(a);
    }
    static std::string errorMessage(Engine& e, const Pairs& args) {
        return std::get<std::string>(e.call("GetErrorMessage", args));
    }
    static std::string picture(Engine& e, const char* method, const Pairs& args) {
        return std::get<Png>(e.call(method, args)).bytes;
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
    e.call("Add", {{"Name", "Zoe"}});
    e.call("Update", {{"Number", "77"}});
    e.call("Next", {}); // the Add's record is the last: nothing after it
    EXPECT_EQ(finish(e), code::EndOfSelection);
    auto rec = members(e.call("GetRecord", {}));
    EXPECT_EQ(value(rec, "Name"), "Zoe");
    EXPECT_EQ(value(rec, "Number"), "77");
    EXPECT_EQ(value(members(e.call("GetCount", {})), "Total"), "6");
    EXPECT_EQ(std::get<int>(e.call("GetEditCount", {})), 2);
    EXPECT_NE(errorMessage(e, {{"Code", "15"}}).find("Already at the last record"),
              std::string::npos);
}

TEST_F(EngineTest, AnAnsweredChangeIsStoredBeforeItsBusyTimeEnds) {
    options_.busyMs = 300;
    Engine e(options_);
    e.start();
    e.call("Add", {{"Name", "Zoe"}}); // answered once it has run after the start-up Open
    EXPECT_EQ(value(members(e.call("GetCount", {})), "Total"), "6");
    auto design = loadDesign(dir_ / "d.idc");
    EXPECT_TRUE(Roster(design).findExact("Name", "Zoe")) << "committed, not only in memory";
    e.call("Next", {}); // at the end: its error shows once its busy time is over
    EXPECT_TRUE(std::get<bool>(e.call("IsBusy", {})));
    EXPECT_EQ(std::get<int>(e.call("GetLastCommandError", {})), 0);
    EXPECT_EQ(finish(e), code::EndOfSelection);
}

TEST_F(EngineTest, PlainlyInvalidCommandsAreRefusedAtOnce) {
    options_.design.clear();
    Engine e(options_);
    e.start();
    EXPECT_EQ(errorCode([&] { e.call("Next", {}); }), code::NoDesign);
    EXPECT_EQ(errorCode([&] { members(e.call("GetCount", {})); }), code::NoDesign);
    EXPECT_EQ(errorCode([&] { e.call("Open", {}); }), code::BadArgument);
    EXPECT_EQ(errorCode([&] {
                  e.call("Open", {{"File", (dir_ / "none.idc").string()}});
              }),
              code::DesignFile);
    e.call("Open", {{"File", (dir_ / "d.idc").string()}});
    // A query answers from the design the Open it follows has opened.
    EXPECT_EQ(value(members(e.call("GetCount", {})), "Total"), "5");
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
        {"Close", {{"x", "y"}}, code::BadArgument},
        // Beside field names, Id is spelt as a field name is: exactly.
        {"Revise", {{"id", "1"}, {"Name", "x"}}, code::UnknownField},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorCode([&] { e.call(c.method, c.args); }), c.code) << c.method;
    EXPECT_FALSE(std::get<bool>(e.call("IsBusy", {}))); // nothing refused was queued
    for (const char* unknown : {"12345", "4294967297" /* 1 beyond 32 bits */})
        EXPECT_EQ(errorCode([&] {
                      errorMessage(e, {{"Code", unknown}});
                  }),
                  code::BadArgument)
            << unknown;
}

TEST_F(EngineTest, MemberNamesAsCallersSpellThem) {
    Engine e(options_);
    e.start();
    ASSERT_EQ(finish(e), 0);
    struct Case {
        const char* method;
        Pairs args;
        const char *status, *expected; // a GetStatus member afterwards
    } cases[] = {
        {"Goto", {{"position", "3"}}, "Position", "3"},            // any case; an alias
        {"Goto", {{"Id", "2"}, {"Record", "4"}}, "Position", "4"}, // a position wins
        {"ServerMode", {{"Whatever", "on"}}, "ServerMode", "On"},  // a lone member
        {"ServerMode", {{"Note", "x"}, {"enabled", "off"}}, "ServerMode", "Off"},
        {"Focus", {{"FIELD", "Name"}}, "Focus", "Name"},
        {"FlipBadge", {{"side", "BACK"}}, "Side", "Back"},
    };
    for (const auto& c : cases) {
        e.call(c.method, c.args);
        EXPECT_EQ(finish(e), 0) << c.method;
        EXPECT_EQ(value(members(e.call("GetStatus", {})), c.status), c.expected) << c.method;
    }
}

TEST_F(EngineTest, PicturesAndPrint) {
    Engine e(options_);
    e.start();
    ASSERT_EQ(finish(e), 0);
    auto badge = picture(e, "GetBadgeImage", {});
    QImage img;
    ASSERT_TRUE(img.loadFromData(reinterpret_cast<const uchar*>(badge.data()),
                                 static_cast<int>(badge.size()), "PNG"));
    EXPECT_EQ(img.size(), QSize(200, 120));
    EXPECT_FALSE(picture(e, "GetPhotoImage", {}).empty());
    e.call("Print", {});
    ASSERT_EQ(finish(e), 0);
    auto printed = value(members(e.call("GetStatus", {})), "LastPrint");
    EXPECT_TRUE(fs::exists(printed)) << printed;
    EXPECT_EQ(errorCode([&] { picture(e, "GetSignatureImage", {}); }), code::NoPicture);
    EXPECT_EQ(errorCode([&] { picture(e, "GetPhotoImage", {{"Id", "999"}}); }), code::NotFound);
    EXPECT_EQ(errorCode([&] {
                  picture(e, "GetBadgeImage", {{"Name", "Ann"}});
              }),
              code::BadArgument);
}

// A command whose write fails (its COMMIT finds the roster busy) leaves both
// the roster and what the program holds as they were, reports the failure as
// its error, and the next command works.
TEST_F(EngineTest, AFailedWriteChangesNothing) {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&catchOpen));
    Engine e(options_);
    e.start();
    EXPECT_EQ(finish(e), 0);
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&catchOpen));
    sqlite3* db = lastOpened;
    ASSERT_TRUE(db);
    e.call("CreateTemplate", {{"Name", "Guest"}});
    ASSERT_EQ(finish(e), 0);
    auto status = [&](const char* member) {
        return value(members(e.call("GetStatus", {})), member);
    };
    auto csv = (dir_ / "d.csv").string();
    struct Case {
        const char* method;
        Pairs args;
        const char* member; // of GetStatus
        std::string before, after;
    } cases[] = {
        {"Add", {{"Name", "Zoe"}}, "Records", "5", "6"},
        {"Template", {{"Name", "Guest"}}, "Template", "Standard", "Guest"},
        {"RosterLinkConfig", {}, "RosterLinkFile", "", csv},
    };
    // The roster's connection is used here only while the engine is idle.
    sqlite3_busy_timeout(db, 0);
    for (const auto& c : cases) {
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3* reader = nullptr;
        ASSERT_EQ(sqlite3_open((dir_ / "d.db").c_str(), &reader), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM records", nullptr, nullptr, nullptr),
            SQLITE_OK);
        e.call(c.method, c.args);
        EXPECT_EQ(finish(e), code::Database) << c.method;
        EXPECT_EQ(status(c.member), c.before) << c.method;
        sqlite3_close(reader);
        e.call(c.method, c.args);
        EXPECT_EQ(finish(e), 0) << c.method << ": the next command";
        EXPECT_EQ(status(c.member), c.after) << c.method;
    }
}

// GetRecord answered without the registry's writing of the answer (the
// written XML is kept with the record's struct) says byte for byte what the
// registry says, also once a record changes; what it cannot read it leaves
// to the registry.
TEST_F(EngineTest, GetRecordAnswersAsTheRegistryDoes) {
    Engine e(options_);
    e.start();
    ASSERT_EQ(finish(e), 0);
    auto registry = buildRegistry(e, options_);
    auto call = [](const std::string& method, const std::string& params) {
        return "<?xml version=\"1.0\"?><methodCall><methodName>" + method +
               "</methodName><params>" + params + "</params></methodCall>";
    };
    auto criteria = [](const std::string& members) {
        return "<param><value><struct>" + members + "</struct></value></param>";
    };
    auto member = [](const char* name, const std::string& value) {
        return std::string("<member><name>") + name + "</name><value>" + value +
               "</value></member>";
    };
    struct Case {
        const char* name;
        std::string body;
        Pairs revise; // run before the call
        bool answered;
        const char* holds; // in the answer
    } cases[] = {
        {"by Id", call("GetRecord", criteria(member("Id", "2"))), {}, true, "<i4>2</i4>"},
        {"same again", call("GetRecord", criteria(member("Id", "2"))), {}, true, "<i4>2</i4>"},
        {"another", call("GetRecord", criteria(member("Id", "3"))), {}, true, "<i4>3</i4>"},
        {"another again", call("GetRecord", criteria(member("Id", "3"))), {}, true, "<i4>3</i4>"},
        {"changed",
         call("GetRecord", criteria(member("Id", "2"))),
         {{"Id", "2"}, {"Name", "Zed"}},
         true,
         "Zed"},
        {"changed again",
         call("GetRecord", criteria(member("Id", "2"))),
         {{"Id", "2"}, {"Name", "Quinn & <Co>"}},
         true,
         "Quinn &amp; &lt;Co&gt;"},
        {"an answer too large to keep",
         call("GetRecord", criteria(member("Id", "4"))),
         {{"Id", "4"}, {"Name", std::string(4000, '<')}},
         true,
         "&lt;&lt;&lt;"},
        {"written again", call("GetRecord", criteria(member("Id", "4"))), {}, true, "&lt;&lt;&lt;"},
        {"current", call("GetRecord", ""), {}, true, "<i4>1</i4>"},
        {"pattern",
         call("GetRecord", criteria(member("Name", "Zed") + member("Number", "*"))),
         {{"Id", "2"}, {"Name", "Zed"}},
         true,
         "Zed"},
        {"no match", call("GetRecord", criteria(member("Name", "Nobody"))), {}, true, "<i4>6</i4>"},
        {"unknown field", call("GetRecord", criteria(member("Shoe", "x"))), {}, true, "Shoe"},
        {"not a string",
         call("GetRecord", criteria(member("Id", "<double>1.5</double>"))),
         {},
         true,
         "must be a string"},
        {"two arguments",
         call("GetRecord", criteria("") + criteria("")),
         {},
         true,
         "at most one argument"},
        {"not a struct",
         call("GetRecord", "<param><value><i4>1</i4></value></param>"),
         {},
         true,
         "one struct"},
        {"unreadable", call("GetRecord", "<param><value><struct><member>"), {}, false, ""},
        {"another method", call("GetCount", ""), {}, false, ""},
    };
    for (const auto& c : cases) {
        if (!c.revise.empty()) {
            e.call("Revise", c.revise);
            ASSERT_EQ(finish(e), 0) << c.name;
        }
        std::string quick, full;
        EXPECT_EQ(answerRecordCall(*registry.get(), c.body, quick), c.answered) << c.name;
        registry->processCall(c.body, &full);
        if (!c.answered)
            continue;
        EXPECT_EQ(quick, full) << c.name;
        EXPECT_NE(quick.find(c.holds), std::string::npos) << c.name << ": " << quick;
    }
}

TEST_F(EngineTest, ExitAnnouncesOnceAndStopsAccepting) {
    Engine e(options_);
    std::atomic<int> exits{0};
    e.onExit = [&] { ++exits; };
    e.start();
    e.call("Exit", {});
    EXPECT_TRUE(e.waitIdle(10000));
    // Announced by the worker just after it went idle.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (exits.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(exits.load(), 1);
    EXPECT_EQ(errorCode([&] { e.call("First", {}); }), code::ShuttingDown);
}

TEST_F(EngineTest, StopCutsABusyCommandShort) {
    options_.busyMs = 600000;
    Engine e(options_);
    e.start();
    auto t0 = std::chrono::steady_clock::now();
    e.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    // Calls still arriving from the server find the design closed, not a crash.
    EXPECT_EQ(errorCode([&] { e.call("GetCount", {}); }), code::NoDesign);
    EXPECT_EQ(errorCode([&] { e.call("Add", {{"Name", "Zoe"}}); }), code::ShuttingDown);
}

} // namespace
