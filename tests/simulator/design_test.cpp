#include "design.h"

#include <gtest/gtest.h>

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
};

TEST(DesignParser, RefusesWithFileAndLine) {
    const BadDesign cases[] = {
        {"no design section", "[Field A]\nkind = text\n", "no [Design] section"},
        {"no data fields", "[Design]\nname = x\n[Field L]\nkind = label\n", "no data fields"},
        {"unknown section", "[Design]\n[Picture X]\n", "d.idc:2: unknown section [Picture X]"},
        {"unclosed header", "[Design\n", "d.idc:1: section header without closing"},
        {"no equals", "[Design]\nname Test\n", "d.idc:2: expected 'key = value'"},
        {"key outside", "name = x\n", "d.idc:1: 'name' outside any section"},
        {"bad size", "[Design]\nsize = 10 by 20\n", "d.idc:2: '10 by 20' is not a whole number"},
        {"three sizes", "[Design]\nsize = 100x200x300\n", "d.idc:2: expected 2 numbers"},
        {"size too small", "[Design]\nsize = 10x20\n", "d.idc:2: 10 is out of range"},
        {"bad colour", "[Design]\nbackground = red\n", "d.idc:2: 'red' is not a colour"},
        {"unknown design key", "[Design]\ncolour = #000000\n", "d.idc:2: unknown key 'colour'"},
        {"bad field name", "[Design]\n[Field First Name]\n",
         "d.idc:2: 'First Name' is not a valid name"},
        {"sql in name", "[Design]\n[Field a\"b]\n", "is not a valid name"},
        {"reserved Id", "[Design]\n[Field id]\n", "d.idc:2: 'Id' is reserved"},
        {"duplicate field", "[Design]\n[Field A]\n[Field a]\n",
         "d.idc:3: field 'a' is defined twice"},
        {"unknown kind", std::string(kMinimal) + "kind = barcode\n",
         "d.idc:5: unknown kind 'barcode'"},
        {"zero width", std::string(kMinimal) + "place = 1,2,0,4\n",
         "d.idc:5: a field needs a width"},
        {"bad side", std::string(kMinimal) + "side = inside\n",
         "d.idc:5: side must be front or back"},
        {"bad bool", std::string(kMinimal) + "bold = very\n", "d.idc:5: 'very' is not yes or no"},
        {"bad sample", std::string(kMinimal) + "sample = lottery\n", "d.idc:5: unknown sample"},
        {"template field", std::string(kMinimal) + "[Template T]\nfields = A, B\n",
         "names unknown field 'B'"},
        {"link key", std::string(kMinimal) + "[RosterLink]\nkey = Z\n",
         "[RosterLink] key names unknown field 'Z'"},
        {"second design", "[Design]\n[Design]\n", "d.idc:2: second [Design] section"},
    };
    for (const auto& c : cases) {
        try {
            parseDesign(c.text, "/tmp/d.idc");
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const DesignError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.what << ": got \"" << e.what() << "\"";
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

TEST(DesignParser, MissingFileIsAClearError) {
    try {
        loadDesign("/nonexistent/dir/x.idc");
        FAIL();
    } catch (const DesignError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open design file /nonexistent/dir/x.idc"),
                  std::string::npos);
    }
}

} // namespace
