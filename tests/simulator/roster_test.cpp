#include "design.h"
#include "roster.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <random>

using namespace cwsim;
namespace fs = std::filesystem;

namespace {

// The connection SQLite opened last, caught as it opens: a test reaches the
// roster's own connection through it.
sqlite3* lastOpened = nullptr;
int catchOpen(sqlite3* db, const char**, const sqlite3_api_routines*) {
    lastOpened = db;
    return SQLITE_OK;
}

void run(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
}

// Makes the roster's COMMITs fail busy, as they do while another process
// reads the file: its connection goes over to a rollback journal (in WAL
// mode readers never hold a writer back) and answers busy at once, and a
// second connection holds a read transaction until release().
class BlockedCommits {
  public:
    BlockedCommits(sqlite3* roster, const fs::path& file) {
        sqlite3_busy_timeout(roster, 0);
        run(roster, "PRAGMA journal_mode=DELETE");
        EXPECT_EQ(sqlite3_open(file.c_str(), &reader_), SQLITE_OK);
        run(reader_, "BEGIN; SELECT count(*) FROM records");
    }
    ~BlockedCommits() { sqlite3_close(reader_); }
    void release() { run(reader_, "COMMIT"); }

  private:
    sqlite3* reader_ = nullptr;
};

class RosterTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() / ("cwsim-roster-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        design_ =
            parseDesign("[Design]\n[Field First]\n[Field Last]\n[Field Order]\nkind = number\n"
                        "[Field Photo]\nkind = photo\n",
                        dir_ / "t.idc");
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    Design design_;
};

TEST_F(RosterTest, AddReadSelectUpdateRemove) {
    Roster r(design_);
    EXPECT_TRUE(r.created());
    auto a = r.add({{"First", "Ann"}, {"Last", "Lee"}, {"Order", "1"}});
    auto b = r.add({{"First", "Bob"}, {"Last", "O'Neil; DROP TABLE records"}});
    auto c = r.add({{"First", "Anya"}});
    EXPECT_EQ(r.total(), 3);
    auto rec = r.get(b);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->values, (std::vector<std::string>{"Bob", "O'Neil; DROP TABLE records", "", ""}));
    EXPECT_EQ(r.select({{"First", "An*"}}), (std::vector<std::int64_t>{a, c}));
    EXPECT_EQ(r.select({{"First", "An"}}), std::vector<std::int64_t>{});
    EXPECT_EQ(r.select({{"First", "Ann"}, {"Last", "Lee"}}), std::vector<std::int64_t>{a});
    EXPECT_EQ(r.select({{"Id", std::to_string(c)}}), std::vector<std::int64_t>{c});
    EXPECT_EQ(r.select({}).size(), 3u);
    EXPECT_THROW(r.select({{"Nope", "x"}}), RosterError);
    // Reads before and after each change: none may answer from before it.
    EXPECT_EQ(r.get(a)->values[1], "Lee");
    EXPECT_EQ(r.first({{"Last", "Lee*"}})->id, a);
    EXPECT_EQ(r.first({{"First", "An*"}})->id, a); // the lowest id of several
    EXPECT_FALSE(r.first({{"First", "Zed"}}));
    r.update(a, {{"Last", "Lee-Smith"}});
    EXPECT_EQ(r.get(a)->values[1], "Lee-Smith");
    EXPECT_EQ(r.first({{"Last", "Lee*"}})->values[1], "Lee-Smith");
    auto z = r.add({{"First", "Zed"}});
    EXPECT_EQ(r.first({{"First", "Zed"}})->id, z);
    EXPECT_THROW(r.update(999, {{"Last", "x"}}), RosterError);
    EXPECT_THROW(r.add({{"Nope", "x"}}), RosterError);
    EXPECT_EQ(r.remove({a, 999}), 1);
    EXPECT_FALSE(r.get(a));
    EXPECT_FALSE(r.first({{"Last", "Lee*"}}));
    EXPECT_EQ(r.first({{"First", "An*"}})->id, c);
    EXPECT_EQ(r.findExact("First", "Bob"), b);
    EXPECT_EQ(r.findExact("First", "B*"), std::nullopt); // no patterns here
}

TEST_F(RosterTest, ManyShapesOfCriteriaKeepWorking) {
    Roster r(design_);
    auto a = r.add({{"First", "Ann"}, {"Last", "Lee"}, {"Order", "1"}});
    // Every combination of absent, exact and pattern for three fields and the
    // Id: more shapes of statement than are kept prepared at once.
    const char* forms[3][3] = {
        {nullptr, "Ann", "A*"}, {nullptr, "Lee", "L?e"}, {nullptr, "1", "*"}};
    const char* names[3] = {"First", "Last", "Order"};
    int shapes = 0;
    for (int round = 0; round < 2; ++round)
        for (int mask = 0; mask < 81; ++mask, ++shapes) {
            Pairs criteria;
            int m = mask;
            for (int f = 0; f < 3; ++f, m /= 3)
                if (forms[f][m % 3])
                    criteria.emplace_back(names[f], forms[f][m % 3]);
            if (m % 3 == 1)
                criteria.emplace_back("Id", std::to_string(a));
            else if (m % 3 == 2)
                criteria.emplace_back("Id", "*");
            ASSERT_EQ(r.select(criteria), std::vector<std::int64_t>{a}) << mask;
            ASSERT_EQ(r.first(criteria)->id, a) << mask;
        }
    EXPECT_GT(shapes, 64);
    r.setUserData({{"Site", "HQ"}, {"Floor", ""}, {"Wing", "B"}});
    EXPECT_EQ(r.userData(), (Pairs{{"Site", "HQ"}, {"Wing", "B"}}));
}

TEST_F(RosterTest, Pictures) {
    Roster r(design_);
    auto id = r.add({{"First", "Ann"}});
    EXPECT_FALSE(r.picture(id, "Photo"));
    EXPECT_FALSE(r.get(id)->hasPicture[3]);
    std::string png("\x89PNG\0\1\2", 7); // binary, with a NUL
    r.setPicture(id, "Photo", png);
    EXPECT_EQ(r.picture(id, "Photo"), png);
    EXPECT_TRUE(r.get(id)->hasPicture[3]);
    EXPECT_EQ(r.get(id)->values[3], "PNG, 7 bytes");
    EXPECT_THROW(r.setPicture(999, "Photo", png), RosterError);
}

TEST_F(RosterTest, TransactionRollsBackOnError) {
    Roster r(design_);
    EXPECT_THROW(r.transaction([&] {
        r.add({{"First", "Kept?"}});
        r.add({{"First", "No"}});
        throw RosterError("stop");
    }),
                 RosterError);
    EXPECT_EQ(r.total(), 0);
    r.transaction([&] { r.add({{"First", "Yes"}}); });
    EXPECT_EQ(r.total(), 1);
    auto id = r.first({{"First", "Yes"}})->id;
    EXPECT_THROW(r.transaction([&] {
        r.update(id, {{"First", "Undone"}});
        EXPECT_EQ(r.get(id)->values[0], "Undone");
        throw RosterError("stop");
    }),
                 RosterError);
    EXPECT_EQ(r.get(id)->values[0], "Yes");
    EXPECT_EQ(r.first({{"First", "Yes"}})->id, id);
}

// A COMMIT that fails leaves nothing of the change, readable or pending, and
// the next change is stored.
TEST_F(RosterTest, AFailedCommitIsRolledBack) {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&catchOpen));
    Roster r(design_);
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&catchOpen));
    sqlite3* db = lastOpened;
    auto id = r.add({{"First", "Ann"}});
    struct Case {
        const char* what;
        std::function<void()> change;
        std::function<bool()> changed;
    } cases[] = {
        {"add",
         [&] {
             r.add({{"First", "Bob"}});
         },
         [&] { return r.total() == 2; }},
        {"update",
         [&] {
             r.update(id, {{"Last", "Lee"}});
         },
         [&] { return r.get(id)->values[1] == "Lee"; }},
        {"picture", [&] { r.setPicture(id, "Photo", "png"); },
         [&] { return r.picture(id, "Photo").has_value(); }},
        {"user data",
         [&] {
             r.setUserData({{"Site", "HQ"}});
         },
         [&] { return !r.userData().empty(); }},
        {"template",
         [&] {
             r.saveTemplate({"T", "Title", "#ffffff", "First"});
         },
         [&] { return !r.templates().empty(); }},
        {"setting", [&] { r.setSetting("template", "T"); },
         [&] { return r.setting("template") == "T"; }},
        {"transaction", [&] { r.transaction([&] {
                                  r.update(id, {{"Order", "7"}});
                              }); },
         [&] {
             return r.first({{"Order", "7"}}) != nullptr;
         }},
        {"removal", [&] { r.remove({id}); }, [&] { return !r.get(id); }},
    };
    for (const auto& c : cases) {
        {
            BlockedCommits blocked(db, design_.roster);
            EXPECT_THROW(c.change(), RosterError) << c.what;
            EXPECT_FALSE(c.changed()) << c.what << ": read back though never stored";
            blocked.release();
        }
        EXPECT_NO_THROW(c.change()) << c.what << ": the next change";
        EXPECT_TRUE(c.changed()) << c.what;
    }
    EXPECT_EQ(r.integrityCheck(), "ok");
}

TEST_F(RosterTest, ReopensAndGainsNewFields) {
    {
        Roster r(design_);
        r.add({{"First", "Ann"}});
        r.setUserData({{"Site", "HQ"}, {"Floor", "2"}});
        r.saveTemplate({"T", "Title", "#ffffff", "First"});
        r.setSetting("template", "T");
    }
    auto grown = parseDesign(
        "[Design]\n[Field First]\n[Field Last]\n[Field Order]\n[Field Photo]\nkind = photo\n"
        "[Field Company]\n",
        dir_ / "t.idc");
    Roster r(grown);
    EXPECT_FALSE(r.created());
    EXPECT_EQ(r.integrityCheck(), "ok");
    ASSERT_EQ(r.total(), 1);
    auto id = r.select({}).front();
    EXPECT_EQ(r.get(id)->values.back(), "");
    r.update(id, {{"Company", "Acme"}});
    EXPECT_EQ(r.get(id)->values.back(), "Acme");
    EXPECT_EQ(r.userData(), (Pairs{{"Floor", "2"}, {"Site", "HQ"}}));
    r.setUserData({{"Floor", ""}});
    EXPECT_EQ(r.userData(), (Pairs{{"Site", "HQ"}}));
    ASSERT_EQ(r.templates().size(), 1u);
    EXPECT_EQ(r.templates()[0].title, "Title");
    EXPECT_EQ(r.setting("template"), "T");
    EXPECT_EQ(r.setting("missing"), "");
}

TEST_F(RosterTest, UnwritablePlaceIsAClearError) {
    design_.roster = "/proc/cannot/be/here.db";
    try {
        Roster r(design_);
        FAIL();
    } catch (const RosterError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open roster /proc/cannot/be/here.db"),
                  std::string::npos)
            << e.what();
    }
}

} // namespace
