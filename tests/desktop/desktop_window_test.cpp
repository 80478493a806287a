// The signed-in window on the desktop: notifications that open their room, the tray's count,
// closing to the tray and quitting from it.

#include "bidi_isolate.h"
#include "chat_fixture.h"
#include "chat_protocol.h"
#include "desktop_integration.h"
#include "directory_actions.h"
#include "tray_badge.h"

#include <QSignalSpy>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

constexpr const char* kTime = "2024-05-06T07:08:09Z";

class WithoutTray : public ChatWindow {};

class WithTray : public ChatWindow {
protected:
    WithTray() { platform.trayAvailable = true; }
};

TEST_F(WithoutTray, NotificationLeadsToItsRoomAndRaisesTheWindow) {
    receive(MessageType::Chat, {"r-3", "준호", "여기요", kTime, "7"});
    ASSERT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(platform.notifications[0].room, "r-3");
    // Files name their room too; calls lead nowhere.
    receive(MessageType::FileMeta, {"r-1", "서연", "f1", "사진.png"});
    EXPECT_EQ(platform.notifications.last().room, "r-1");
    receive(MessageType::CallInvite, {"c1", "준호"});
    EXPECT_EQ(platform.notifications.last().room, "");

    controller->window()->showMinimized();
    ASSERT_TRUE(platform.notificationActivated);
    platform.notificationActivated("r-1");
    EXPECT_EQ(controller->openRoomId(), "r-1");
    // As its row would open it: by the room's name, and its count read.
    EXPECT_EQ(controller->session().room->title(), "팀");
    EXPECT_EQ(controller->session().directory->room("r-1")->unread, 0);
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_FALSE(controller->window()->isMinimized());

    // A room the lists have not seen yet opens under its id.
    platform.notificationActivated("r-77");
    EXPECT_EQ(controller->openRoomId(), "r-77");
}

// A name that would reorder what stands around it is drawn isolated wherever the window puts it
// among other text: status line, notifications, the room's header.
TEST_F(WithoutTray, NamesThatLieStayInTheirPlace) {
    const QString rlo = QString(QChar(0x202E));
    const QString liar = rlo + "관리자";
    const QString file = "invoice" + rlo + "fdp.exe";
    receive(MessageType::Chat, {"r-3", liar, "여기요", kTime, "7"});
    EXPECT_EQ(status(), "새 메시지 · " + isolated(liar) + ": 여기요");
    ASSERT_FALSE(platform.notifications.isEmpty());
    EXPECT_EQ(platform.notifications.last().title, isolated(liar));
    receive(MessageType::FileMeta, {"r-3", liar, "f1", file});
    EXPECT_EQ(status(), "파일 · " + isolated(liar) + ": " + isolated(file));
    EXPECT_EQ(platform.notifications.last().body, "[파일] " + isolated(file));
    EXPECT_NE(isolated(file), file);
    controller->openRoom("r-9", liar);
    EXPECT_EQ(ui().headerText(), isolated(liar));
}

TEST_F(WithoutTray, ClosingQuitsAsBefore) {
    EXPECT_EQ(platform.trayCount, -1);
    EXPECT_TRUE(controller->window()->close());
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    EXPECT_TRUE(platform.trayMessages.isEmpty());
}

TEST_F(WithTray, CountFollowsTheUnreadTotal) {
    // The lists came with three unread in "팀".
    EXPECT_EQ(platform.trayCount, 3);
    receive(MessageType::Chat, {"r-3", "준호", "하나", kTime, "7"});
    receive(MessageType::Chat, {"r-3", "준호", "둘", kTime, "8"});
    EXPECT_EQ(platform.trayCount, 5);
    controller->session().directoryActions->openRoom("r-1");
    EXPECT_EQ(platform.trayCount, 2);
    controller->session().directoryActions->openRoom("r-3");
    EXPECT_EQ(platform.trayCount, 0);
}

TEST_F(WithTray, ClosingHidesToTheTrayWithAHintOnce) {
    QSignalSpy quit(controller->session().desktop.get(), &DesktopIntegration::quitRequested);
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(controller->window()->close());
        EXPECT_FALSE(controller->window()->isVisible());
        // The session goes on while hidden: messages still count.
        receive(MessageType::Chat, {"r-3", "준호", QString::number(i), kTime, QString::number(i)});
        EXPECT_EQ(platform.trayCount, 4 + i);
        ASSERT_TRUE(platform.trayActions.activated);
        platform.trayActions.activated();
        EXPECT_TRUE(controller->window()->isVisible());
    }
    EXPECT_EQ(platform.trayMessages, QStringList({"창을 닫아도 트레이에서 계속 실행됩니다"}));
    EXPECT_EQ(status(), "새 메시지 · 준호: 1");
    EXPECT_TRUE(quit.isEmpty());
    ASSERT_TRUE(platform.trayActions.quit);
    platform.trayActions.quit();
    EXPECT_EQ(quit.size(), 1);
}

// Quitting (the menu bar's item, the tray's, the session's end) closes every window: this one
// too, tray or not. The tray icon stays while the event runs, since its menu may be what quit;
// it goes with the controller.
TEST_F(WithTray, QuittingClosesForReal) {
    controller->window()->close();
    ASSERT_EQ(platform.trayCount, 3);
    platform.trayActions.activated();
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    EXPECT_TRUE(quit.isAccepted());
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(platform.trayCount, 3);
    controller.reset();
    EXPECT_EQ(platform.trayCount, -1);
}

// A quit that did not happen (the event went nowhere) leaves closing to the tray as it was.
TEST_F(WithTray, ClosingHidesAgainAfterAQuitThatDidNotHappen) {
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    ASSERT_TRUE(waitUntil([&] {
        controller->window()->show();
        return !controller->window()->close() && !controller->window()->isVisible();
    }));
    EXPECT_EQ(platform.trayCount, 3);
}

// Logging out closes the window for good and takes the tray icon with it.
TEST_F(WithTray, LogoutClosesForGood) {
    controller->close();
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(platform.trayCount, -1);
    EXPECT_FALSE(platform.notificationActivated);
}

TEST(TrayBadge, DrawsTheCount) {
    const QStringList texts = {"", "", "1", "9", "99", "99+", "99+"};
    const qint64 counts[] = {-1, 0, 1, 9, 99, 100, std::numeric_limits<qint64>::max()};
    for (int i = 0; i < texts.size(); ++i)
        EXPECT_EQ(badgeText(counts[i]), texts[i]) << counts[i];

    const QIcon base = applicationIcon();
    ASSERT_FALSE(base.isNull()) << "the built-in icon is missing";
    const QImage plain = base.pixmap(32, 32).toImage();
    const QImage badged = applicationIcon(3).pixmap(32, 32).toImage();
    ASSERT_EQ(badged.size(), QSize(32, 32));
    // The disc sits at the upper right; the lower left is the icon as it was.
    const QColor disc = badged.pixelColor(29, 3);
    EXPECT_GT(disc.red(), 180);
    EXPECT_LT(disc.green(), 90);
    EXPECT_EQ(badged.pixelColor(4, 28), plain.pixelColor(4, 28));
    EXPECT_EQ(applicationIcon(0).pixmap(32, 32).toImage(), plain);
    // Drawn at the size asked, not scaled from another.
    EXPECT_EQ(applicationIcon(3).pixmap(22, 22).size(), QSize(22, 22));
    EXPECT_GT(applicationIcon(3).pixmap(22, 22).toImage().pixelColor(20, 2).red(), 180);
}

} // namespace
