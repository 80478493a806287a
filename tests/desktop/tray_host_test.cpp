// The tray icon in a real tray: trayer, an XEmbed system tray, on the test's own X display (run
// under xvfb-run on the xcb platform).

#include "event_loop.h"
#include "qt_platform.h"
#include "tray_icon.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class TrayHost : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb" ||
            QStandardPaths::findExecutable("trayer").isEmpty())
            GTEST_SKIP() << "needs trayer and an X display (scripts/setup, xvfb-run)";
        ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "a tray was there already";
        trayer.start("trayer", {"--SetDockType", "false", "--expand", "false", "--widthtype",
                                "pixel", "--width", "120", "--height", "24"});
        ASSERT_TRUE(trayer.waitForStarted());
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    }
    void TearDown() override {
        if (trayer.state() != QProcess::NotRunning) {
            trayer.kill();
            trayer.waitForFinished();
        }
    }
    QProcess trayer;
};

TEST_F(TrayHost, IconDocksAndItsMenuQuits) {
    QtPlatform platform;
    ASSERT_TRUE(platform.isTrayAvailable());
    int activated = 0;
    int quit = 0;
    Platform::TrayActions actions;
    actions.activated = [&] { ++activated; };
    actions.quit = [&] { ++quit; };
    platform.showTrayIcon(7, actions);
    TrayIcon* tray = platform.trayIcon();
    ASSERT_NE(tray, nullptr);
    // Docked: the tray gave it a place.
    ASSERT_TRUE(waitUntil([&] { return !tray->icon().geometry().isEmpty(); }, 10000));
    EXPECT_TRUE(tray->icon().isVisible());
    EXPECT_EQ(tray->icon().toolTip(), "Brindlewick — 읽지 않은 메시지 7개");

    emit tray->icon().activated(QSystemTrayIcon::Trigger);
    emit tray->icon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(activated, 1);
    const QList<QAction*> items = tray->menu().actions();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0]->text(), "Brindlewick 종료");
    items[0]->trigger();
    EXPECT_EQ(quit, 1);

    platform.showTrayIcon(0, actions);
    EXPECT_EQ(tray->icon().toolTip(), "Brindlewick");

    // The tray goes away (its panel quit): closing must quit again.
    trayer.kill();
    trayer.waitForFinished();
    EXPECT_TRUE(waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
    EXPECT_FALSE(platform.isTrayAvailable());
    platform.removeTrayIcon();
    EXPECT_EQ(platform.trayIcon(), nullptr);
}

} // namespace
