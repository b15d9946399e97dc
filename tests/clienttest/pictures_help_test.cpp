// Pictures in Image1 (ownership of the bitmap handles, failures keep the
// picture) and the help button.
#include "form_fixture.h"

#include <QScrollArea>
#include <QScrollBar>

namespace {

// Names each row of a table after its label.
struct ByLabel {
    template <class P> std::string operator()(const ::testing::TestParamInfo<P>& row) const
    {
        return row.param.label;
    }
};

using Pictures = FormTest;


TEST_F(Pictures, EachSuccessReplacesThePictureAndHoldsOneBitmap)
{
    auto* view = find<ImageView>("Image1");
    auto* box = find<QScrollArea>("PopupScrollBox");
    const long base = cw_bitmap_live_count();

    struct Row {
        const char* method;
        int width, height;
        uint32_t argb;
    } const rows[] = {{"GetBadgeImage", 30, 20, 0xff102030u},
                      {"GetPhotoImage", 500, 600, 0xff405060u},
                      {"GetSignatureImage", 1, 1, 0x80ffffffu},
                      {"GetFingerprintImage", 120, 80, 0xff000000u}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.method);
        fillOutputs();
        fake::pushBitmap(r.method, r.width, r.height, r.argb);
        go(r.method);
        EXPECT_EQ(cw_bitmap_live_count(), base + 1);
        ASSERT_TRUE(view->hasPicture());
        EXPECT_EQ(view->picture().size(), QSize(r.width, r.height));
        EXPECT_EQ(view->size(), QSize(r.width, r.height));
        EXPECT_EQ(view->pos(), QPoint(0, 0));
        EXPECT_EQ(view->picture().pixel(r.width - 1, r.height - 1), r.argb);
        EXPECT_TRUE(results()->lines().isEmpty());
        EXPECT_EQ(errorCode()->text(), QString());
        EXPECT_EQ(message()->text(), QString());
        QApplication::processEvents();
        // Scroll bars only in the directions in which the picture is larger.
        const QSize visible = box->viewport()->size();
        EXPECT_EQ(box->horizontalScrollBar()->maximum() > 0, r.width > visible.width());
        EXPECT_EQ(box->verticalScrollBar()->maximum() > 0, r.height > visible.height());
    }
}

TEST_F(Pictures, FailuresAndRefusalsKeepThePicture)
{
    auto* view = find<ImageView>("Image1");
    const long base = cw_bitmap_live_count();
    fake::pushBitmap("GetBadgeImage", 64, 48, 0xff336699u);
    go("GetBadgeImage");
    ASSERT_EQ(view->picture().size(), QSize(64, 48));
    const uchar* pixels = view->picture().constBits();

    // The library answers 0.
    fake::reset();
    fake::setError(-10, "Picture cannot be decoded");
    fake::pushBitmap("GetPhotoImage", 0, 0, 0);
    go("GetPhotoImage");
    EXPECT_EQ(calls(), (std::vector<std::string>{"GetPhotoImage", "GetErrorCode", "GetErrorText"}));
    EXPECT_EQ(errorCode()->text(), QStringLiteral("-10"));
    EXPECT_EQ(message()->text(), QStringLiteral("Picture cannot be decoded"));
    EXPECT_EQ(view->picture().constBits(), pixels);

    // Refused parameter type, then a malformed line: the library is not asked.
    fake::reset();
    paramType()->setItemIndex(1);
    go("GetSignatureImage");
    paramType()->setItemIndex(2);
    parameters()->setPlainText(QStringLiteral("no pair"));
    go("GetFingerprintImage");
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(ui.messages.size(), 2u);

    // Text methods leave it too.
    parameters()->clear();
    fake::pushByte("Close", 1);
    go("Close");
    EXPECT_EQ(view->picture().constBits(), pixels);
    EXPECT_EQ(view->size(), QSize(64, 48));
    EXPECT_EQ(cw_bitmap_live_count(), base + 1);
}

TEST_F(Pictures, TeardownDeletesTheLastBitmap)
{
    const long base = cw_bitmap_live_count();
    fake::pushBitmap("GetBadgeImage", 10, 10, 0xffffffffu);
    go("GetBadgeImage");
    fake::pushBitmap("GetBadgeImage", 20, 10, 0xffffffffu);
    find<QPushButton>("ToolKitButton")->click();
    EXPECT_EQ(cw_bitmap_live_count(), base + 1);
    form.reset();
    EXPECT_EQ(cw_bitmap_live_count(), base);
}

TEST(ImageViewAlone, AHandleThatIsNotABitmapLeavesItEmpty)
{
    ImageView view;
    const CWBitmap bitmap = cw_bitmap_create(5, 5);
    view.setBitmap(bitmap);
    EXPECT_TRUE(view.hasPicture());
    int notABitmap[8] = {};
    view.setBitmap(reinterpret_cast<CWBitmap>(&notABitmap[0]));
    EXPECT_FALSE(view.hasPicture());
    EXPECT_EQ(view.size(), QSize(0, 0));
}

// ---- Help ------------------------------------------------------------------------------

struct HelpCase {
    const char* label;
    std::function<void()> script;
    QStringList lines;
    QString code;
    QString text;
    std::vector<std::string> calls;
};

void PrintTo(const HelpCase& row, std::ostream* os) { *os << row.label; }

class Help : public FormTest, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(Help, PrototypesThenHelp)
{
    const HelpCase& c = GetParam();
    listMethods({QStringLiteral("Open"), QStringLiteral("Close")});
    fillOutputs();
    fake::setError(-1, "prototype failed");
    // Each failure describes itself: the help request fails differently.
    fake::setOnCall([](const std::string& function) {
        if (function == "GetMethodHelp")
            fake::setError(-2, "help failed");
    });
    c.script();
    find<SpeedButton>("HelpButton")->click();
    fake::setOnCall({});
    EXPECT_EQ(results()->lines(), c.lines);
    EXPECT_EQ(errorCode()->text(), c.code);
    EXPECT_EQ(message()->text(), c.text);
    EXPECT_EQ(calls(), c.calls);
    // Both requests name the selected method.
    for (const fake::Call& call : fake::calls()) {
        if (call.function == "GetMethodProtoType" || call.function == "GetMethodHelp") {
            EXPECT_EQ(call.text, std::optional<std::string>("Open"));
        }
    }
}

const std::vector<std::string> kBoth = {"GetMethodProtoType", "GetMethodHelp"};
const std::vector<std::string> kProtoFails = {"GetMethodProtoType", "GetErrorCode", "GetErrorText",
                                              "GetMethodHelp"};

QStringList L(std::initializer_list<const char*> l)
{
    QStringList out;
    for (const char* s : l)
        out.append(QString::fromUtf8(s));
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    HelpButton, Help,
    ::testing::Values(
        HelpCase{"both",
                 [] {
                     fake::pushList("GetMethodProtoType", {{"0", "boolean Open(struct)"}});
                     fake::pushText("GetMethodHelp", "Opens a card design.\nFile=path of the design");
                 },
                 L({"PROTOTYPE(S):", "0 = boolean Open(struct)", "-----------", "HELP:", "Opens a card design.",
                    "File=path of the design"}),
                 QString(), QString(), kBoth},
        HelpCase{"crlfAndBlankLines",
                 [] {
                     fake::pushList("GetMethodProtoType", {{"0", "a"}, {"1", "b"}});
                     fake::pushText("GetMethodHelp", "\r\nOne\r\n\r\n\r\nTwo\r\n");
                 },
                 L({"PROTOTYPE(S):", "0 = a", "1 = b", "-----------", "HELP:", "One", "Two"}), QString(), QString(),
                 kBoth},
        HelpCase{"noPrototypesEmptyHelp",
                 [] {
                     fake::pushList("GetMethodProtoType", {});
                     fake::pushText("GetMethodHelp", "");
                 },
                 L({"PROTOTYPE(S):", "-----------", "HELP:"}), QString(), QString(), kBoth},
        HelpCase{"prototypeFailureStaysShown",
                 [] {
                     fake::pushNullList("GetMethodProtoType");
                     fake::pushText("GetMethodHelp", "Help");
                 },
                 L({"PROTOTYPE(S):", "-----------", "HELP:", "Help"}), QStringLiteral("-1"),
                 QStringLiteral("prototype failed"), kProtoFails},
        HelpCase{"helpFails",
                 [] {
                     fake::pushList("GetMethodProtoType", {{"0", "a"}});
                     fake::pushText("GetMethodHelp", std::nullopt);
                 },
                 L({"PROTOTYPE(S):", "0 = a", "No help available"}), QStringLiteral("-2"),
                 QStringLiteral("help failed"), {"GetMethodProtoType", "GetMethodHelp", "GetErrorCode", "GetErrorText"}},
        HelpCase{"bothFail",
                 [] {
                     fake::pushNullList("GetMethodProtoType");
                     fake::pushText("GetMethodHelp", std::nullopt);
                 },
                 L({"PROTOTYPE(S):", "No help available"}), QStringLiteral("-2"), QStringLiteral("help failed"),
                 {"GetMethodProtoType", "GetErrorCode", "GetErrorText", "GetMethodHelp", "GetErrorCode",
                  "GetErrorText"}}),
    ByLabel());

TEST_F(FormTest, HelpWithAnEmptyMethodListOnlyClears)
{
    fillOutputs();
    find<SpeedButton>("HelpButton")->click();
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(results()->lines().isEmpty());
    EXPECT_EQ(errorCode()->text(), QString());
    EXPECT_EQ(message()->text(), QString());
}

} // namespace
