// The client's notifications against dunst, a real notification server, on the test's own
// session bus and X display (run under xvfb-run and dbus-run-session). dunstctl plays the user.

#include "event_loop.h"
#include "qt_platform.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

QString dunstctl(const QStringList& arguments) {
    QProcess control;
    control.start(QStringLiteral("dunstctl"), arguments);
    // Generous: a dunstctl cut short by a loaded machine would never have acted.
    control.waitForFinished(60000);
    return QString::fromUtf8(control.readAllStandardOutput()).trimmed();
}

int shownCount() {
    return dunstctl({"count", "displayed"}).toInt() + dunstctl({"count", "waiting"}).toInt();
}

class Dunst : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("dunst").isEmpty() ||
            qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs dunst and an X display (scripts/setup, xvfb-run)";
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.isConnected()) << "no session bus (dbus-run-session)";
        // A configuration of its own: the user's own dunstrc never changes the test.
        QFile config(dir.filePath("dunstrc"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("[global]\n  notification_limit = 0\n  sticky_history = yes\n");
        config.close();
        dunst.start(QStringLiteral("dunst"), {"-config", config.fileName()});
        ASSERT_TRUE(dunst.waitForStarted());
        ASSERT_TRUE(waitUntil(
            [&] { return bus.interface()->isServiceRegistered("org.freedesktop.Notifications"); },
            10000));
    }
    void TearDown() override {
        if (dunst.state() != QProcess::NotRunning) {
            dunst.terminate();
            dunst.waitForFinished(5000);
        }
    }

    QTemporaryDir dir;
    QProcess dunst;
};

TEST_F(Dunst, ReplacesPerRoomAndTheActionOpensTheRoom) {
    QtPlatform platform;
    QStringList activated;
    platform.setNotificationActivated([&](const QString& room) { activated << room; });

    platform.postDesktopNotification("준호", "하나", "r-1");
    ASSERT_TRUE(waitUntil([] { return shownCount() == 1; }));
    platform.postDesktopNotification("준호", "둘", "r-1");
    platform.postDesktopNotification("준호", "셋", "r-1");
    spin(300);
    EXPECT_EQ(shownCount(), 1) << "a room's messages stacked";
    platform.postDesktopNotification("서연", "넷", "r-2");
    ASSERT_TRUE(waitUntil([] { return shownCount() == 2; }));

    // One on screen at a time, so dunstctl's position names it: invoking leads to its room.
    // Closed ones cannot be replaced, so each of these is new.
    for (const QString room : {"r-2", "r-1"}) {
        dunstctl({"close-all"});
        ASSERT_TRUE(waitUntil([] { return shownCount() == 0; }));
        platform.postDesktopNotification("서연", room + " 열기", room);
        // Displayed, not only waiting: the action names a position on screen.
        ASSERT_TRUE(waitUntil([] { return dunstctl({"count", "displayed"}).toInt() == 1; }));
        // A loaded machine can make dunst drop the click: the user clicks again.
        for (int click = 0; click < 4 && activated.isEmpty(); ++click) {
            dunstctl({"action", "0"});
            waitUntil([&] { return !activated.isEmpty(); }, 5000);
        }
        ASSERT_FALSE(activated.isEmpty()) << room.toStdString();
        EXPECT_EQ(activated.count(room), activated.size()) << activated.join(", ").toStdString();
        activated.clear();
    }

    // What dunst kept: the last text of each, under the application's name; replaced texts
    // never were separate notifications.
    dunstctl({"close-all"});
    const QJsonArray history = QJsonDocument::fromJson(dunstctl({"history"}).toUtf8())
                                   .object()
                                   .value("data")
                                   .toArray()
                                   .at(0)
                                   .toArray();
    QStringList bodies;
    for (const QJsonValue& entry : history) {
        const QJsonObject object = entry.toObject();
        EXPECT_EQ(object.value("appname").toObject().value("data").toString(), "Brindlewick");
        bodies << object.value("body").toObject().value("data").toString();
    }
    EXPECT_TRUE(bodies.contains("셋"));
    EXPECT_TRUE(bodies.contains("넷"));
    EXPECT_FALSE(bodies.contains("하나"));
    EXPECT_FALSE(bodies.contains("둘"));
}

} // namespace
