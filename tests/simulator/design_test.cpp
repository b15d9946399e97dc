#include "design.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace cwsim;

namespace {

const char* kMinimal = "[Design]\nname = Test\n[Field A]\nkind = text\n";

TEST(DesignParser, ReadsEverySection) {
    auto d = parseDesign(
        "# a comment\n"
        "[Design]\nname = Badges\nsize = 300x200\nbackground = #112233\nback = #445566\n"
        "roster = data/people.db\ngenerate = 12\n"
        "[Field Photo]\nkind = photo\nplace = 1,2,30,40\n"
        "[Field Name]\nkind = text\nplace = 5,6,70,8\nfont = 18\nbold = yes\ncolor = #ff0000\n"
        "align = center\nside = back\nsample = first-name\n"
        "[Field Motto]\nkind = label\ntext = Hello, world\n"
        "[Template Main]\ntitle = MAIN\nbackground = #ffffff\nfields = Photo , Name\n"
        "[RosterLink]\ncsv = in/people.csv\nkey = Name\n",
        "/work/designs/badges.idc");
    EXPECT_EQ(d.name, "Badges");
    EXPECT_EQ(d.width, 300);
    EXPECT_EQ(d.height, 200);
    EXPECT_EQ(d.roster, "/work/designs/data/people.db");
    EXPECT_EQ(d.linkCsv, "/work/designs/in/people.csv");
    EXPECT_EQ(d.generate, 12);
    ASSERT_EQ(d.fields.size(), 3u);
    ASSERT_EQ(d.dataFields().size(), 2u); // the label holds no data
    const auto* name = d.field("Name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->fontSize, 18);
    EXPECT_TRUE(name->bold);
    EXPECT_EQ(name->side, "back");
    EXPECT_EQ(name->align, "center");
    EXPECT_EQ(d.field("Motto"), nullptr);
    EXPECT_EQ(d.fields[2].text, "Hello, world");
    ASSERT_EQ(d.templates.size(), 1u);
    EXPECT_EQ(d.templates[0].fields, (std::vector<std::string>{"Photo", "Name"}));
}

TEST(DesignParser, Defaults) {
    auto d = parseDesign(kMinimal, "/x/visitors.idc");
    EXPECT_EQ(d.roster, "/x/visitors.db");
    EXPECT_EQ(d.linkCsv, "/x/visitors.csv");
    EXPECT_EQ(d.generate, 0);
}

struct BadDesign {
    const char* what;
    std::string text;
    const char* message; // expected in the error, with the line number
    const char* hidden;  // text of the file that the error must not quote
};

TEST(DesignParser, RefusesWithFileAndLineQuotingNothing) {
    const BadDesign cases[] = {
        {"no design section", "[Field A]\nkind = text\n", "no [Design] section", ""},
        {"no data fields", "[Design]\nname = x\n[Field L]\nkind = label\n", "no data fields", ""},
        {"unknown section", "[Design]\n[Picture X]\n",
         "d.idc:2: unknown section (expected [Design]", "Picture"},
        {"unclosed header", "[Design\n", "d.idc:1: section header without closing", ""},
        {"no equals", "[Design]\nname Test\n", "d.idc:2: expected 'key = value'", "Test"},
        {"key outside", "SECRET_VAR=x\n", "d.idc:1: a key outside any section", "SECRET"},
        {"bad size", "[Design]\nsize = 10 by 20\n", "d.idc:2: expected a whole number", "by"},
        {"three sizes", "[Design]\nsize = 100x200x300\n", "d.idc:2: expected 2 numbers", "300"},
        {"size too small", "[Design]\nsize = 10x20\n", "d.idc:2: expected a number from 50 to 4000",
         "10"},
        {"bad colour", "[Design]\nbackground = red\n", "d.idc:2: expected a colour", "red"},
        {"unknown design key", "[Design]\ncolour = #000000\n", "d.idc:2: unknown key in [Design]",
         "colour"},
        {"bad field name", "[Design]\n[Field First Name]\n", "d.idc:2: expected a name of letters",
         "First"},
        {"sql in name", "[Design]\n[Field a\"b]\n", "expected a name", "a\"b"},
        {"reserved Id", "[Design]\n[Field id]\n", "d.idc:2: a field may not be called Id", ""},
        {"duplicate field", "[Design]\n[Field Abc]\n[Field aBC]\n",
         "d.idc:3: a field of this name (in any case) is defined earlier", "aBC"},
        {"unknown kind", std::string(kMinimal) + "kind = barcode\n",
         "d.idc:5: unknown kind (expected text", "barcode"},
        {"zero width", std::string(kMinimal) + "place = 1,2,0,4\n",
         "d.idc:5: a field needs a width", ""},
        {"bad side", std::string(kMinimal) + "side = inside\n",
         "d.idc:5: expected side front or back", "inside"},
        {"bad bool", std::string(kMinimal) + "bold = very\n", "d.idc:5: expected yes or no",
         "very"},
        {"bad sample", std::string(kMinimal) + "sample = lottery\n", "d.idc:5: unknown sample",
         "lottery"},
        {"template field", std::string(kMinimal) + "[Template T]\ntitle = x\nfields = A, Bogus\n",
         "d.idc:7: fields names a data field the design does not define", "Bogus"},
        {"link key", std::string(kMinimal) + "[RosterLink]\nkey = Zed\n",
         "d.idc:6: key names a data field the design does not define", "Zed"},
        {"second design", "[Design]\n[Design]\n", "d.idc:2: second [Design] section", ""},
    };
    for (const auto& c : cases) {
        try {
            parseDesign(c.text, "/tmp/d.idc");
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const DesignError& e) {
            std::string message = e.what();
            EXPECT_NE(message.find(c.message), std::string::npos)
                << c.what << ": got \"" << message << "\"";
            if (*c.hidden) {
                EXPECT_EQ(message.find(c.hidden), std::string::npos)
                    << c.what << ": quotes the file: \"" << message << "\"";
            }
        }
    }
}

TEST(DesignParser, NamesThatBecomeColumns) {
    for (auto [name, valid] :
         std::initializer_list<std::pair<const char*, bool>>{{"FirstName", true},
                                                             {"a_1", true},
                                                             {"", false},
                                                             {"1a", false},
                                                             {"_a", false},
                                                             {"a-b", false},
                                                             {"a b", false},
                                                             {"a;DROP", false},
                                                             {"\"", false}}) {
        EXPECT_EQ(isValidName(name), valid) << name;
    }
    EXPECT_FALSE(isValidName(std::string(65, 'a')));
}

TEST(DesignParser, LoadsOnlyRegularFilesNamedIdc) {
    auto dir = std::filesystem::temp_directory_path() /
               ("cwsim-design-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir / "folder.idc");
    std::ofstream(dir / "UPPER.IDC") << kMinimal;
    struct Case {
        std::string path;
        bool loads, notADesign;
        const char* message;
    } cases[] = {
        {(dir / "UPPER.IDC").string(), true, false, ""},
        {"/proc/self/environ", false, true, "does not end in .idc"},
        {(dir / "folder.idc").string(), false, true, "not a regular file (a folder)"},
        {"/nonexistent/dir/x.idc", false, false, "Cannot open design file /nonexistent/dir/x.idc"},
    };
    for (const auto& c : cases) {
        try {
            loadDesign(c.path);
            EXPECT_TRUE(c.loads) << c.path;
        } catch (const DesignError& e) {
            EXPECT_FALSE(c.loads) << c.path << ": " << e.what();
            EXPECT_EQ(dynamic_cast<const NotADesignFile*>(&e) != nullptr, c.notADesign) << c.path;
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace
