// The tray icon in a real tray: trayer, an XEmbed system tray, on the test's own X display (run
// under xvfb-run on the xcb platform).

#include "event_loop.h"
#include "qt_platform.h"
#include "tray_icon.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPoint>
#include <QProcess>
#include <QSettings>
#include <QSize>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTemporaryDir>
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
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
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
    ASSERT_TRUE(waitUntil([&] { return !tray->icon().geometry().isEmpty(); }));
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
    EXPECT_TRUE(waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }));
    EXPECT_FALSE(platform.isTrayAvailable());
    platform.removeTrayIcon();
    EXPECT_EQ(platform.trayIcon(), nullptr);
}

// The client quit through its tray menu, clicked as a user does, ends as it should: status 0
// and the window's place saved for the next start. (The menu was once deleted while it still
// handled the click.)
TEST_F(TrayHost, QuittingFromTheTrayMenuEndsWellAndKeepsTheWindowsPlace) {
    QTemporaryDir configDir;
    QTemporaryDir runtimeDir;
    ASSERT_TRUE(configDir.isValid() && runtimeDir.isValid());
    const QString settingsFile = QDir(configDir.path()).filePath("Brindlewick/Brindlewick.conf");
    QSettings(settingsFile, QSettings::IniFormat).setValue("phone", "01011112222");
    // No server: the window comes all the same, saying it cannot connect.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configDir.path());
    environment.insert("XDG_RUNTIME_DIR", runtimeDir.path());
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString port = QString::number(closedPort);
    client.start(BRINDLEWICK_TRAY_QUIT_PROBE_PATH,
                 {"--server", "127.0.0.1", "--chat-port", port, "--http-port", port});
    ASSERT_TRUE(client.waitForFinished(120000));
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client.exitCode(), 0);
    const QList<QByteArray> words = client.readAllStandardOutput().trimmed().split(' ');
    ASSERT_EQ(words.size(), 5);
    ASSERT_EQ(words[0], "placement");
    QSettings saved(settingsFile, QSettings::IniFormat);
    EXPECT_EQ(saved.value("window/position").toPoint(), QPoint(words[1].toInt(), words[2].toInt()));
    EXPECT_EQ(saved.value("window/size").toSize(), QSize(words[3].toInt(), words[4].toInt()));
    EXPECT_EQ(words[3].toInt(), 900);
}

} // namespace
