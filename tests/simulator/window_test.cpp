// The window: title with role, design and port; the current badge; the last
// calls; Restore/Focus/Preview bring it up. Offscreen, no display needed.
#include "engine.h"
#include "window.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace cwsim;
namespace fs = std::filesystem;

namespace {

TEST(SimWindow, ShowsRoleDesignPortBadgeAndCalls) {
    auto dir =
        fs::temp_directory_path() / ("cwsim-window-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    std::ofstream(dir / "w.idc")
        << "[Design]\nsize = 200x300\ngenerate = 3\n[Field Name]\nsample = first-name\n";
    Options options;
    options.design = (dir / "w.idc").string();
    options.role = Role::RosterLink;
    Engine engine(options);
    engine.start();
    ASSERT_TRUE(engine.waitIdle(10000));
    engine.recordCall("GetCount 0.10 ms ok");

    SimWindow window(engine, options, 18080);
    window.showMinimized();
    auto* preview = window.findChild<QLabel*>(QStringLiteral("badgePreview"));
    auto* calls = window.findChild<QListWidget*>(QStringLiteral("recentCalls"));
    ASSERT_TRUE(preview && calls);
    // The window polls; wait for its first refresh.
    QTRY_VERIFY_WITH_TIMEOUT(!preview->pixmap().isNull(), 5000);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("RosterLink (simulator) - w.idc - port 18080"));
    ASSERT_EQ(calls->count(), 2); // newest first
    EXPECT_EQ(calls->item(0)->text(), QStringLiteral("GetCount 0.10 ms ok"));
    EXPECT_TRUE(calls->item(1)->text().startsWith(QStringLiteral("Open finished: ")));
    // With --port 0 the port is known only once it listens (after --start-delay).
    engine.setListenPort(18123);
    QTRY_COMPARE_WITH_TIMEOUT(window.windowTitle(),
                              QStringLiteral("RosterLink (simulator) - w.idc - port 18123"), 5000);

    // Restore brings the minimised window back.
    engine.call("Restore", {});
    ASSERT_TRUE(engine.waitIdle(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!(window.windowState() & Qt::WindowMinimized), 5000);

    // Without a current record the preview says so.
    engine.call("Select", {{"Name", "Nobody"}});
    ASSERT_TRUE(engine.waitIdle(10000));
    QTRY_COMPARE_WITH_TIMEOUT(preview->text(), QStringLiteral("No current record"), 5000);
    engine.stop();
    fs::remove_all(dir);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
