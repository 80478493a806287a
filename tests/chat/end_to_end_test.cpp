// Two signed-in windows in one process talking through the real server, including a server
// restart on the same ports and data.

#include "event_loop.h"
#include "fake_platform.h"
#include "main_controller.h"
#include "server_harness.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kPhoneA = QStringLiteral("01000000001");
const QString kPhoneB = QStringLiteral("01000000002");

struct User {
    User(const QString& phone, const QString& nick, const ServerConfig& config)
        : controller(phone, nick, QStringLiteral(""), config, platform) {
        controller.showMain();
    }
    QString status() const { return controller.statusLabel->text(); }
    QString text() const { return controller.transcript->plainText(); }
    void send(const QString& message) {
        controller.composeView->setPlainText(message);
        QTest::keyClick(controller.composeView, Qt::Key_Return);
    }
    // Index of the sidebar row for `room` / friend `phone`, -1 when not listed.
    int rowOf(const QString& key) const {
        for (int i = 0; i < controller.sideRows.size(); ++i)
            if (controller.sideRows[i].room == key ||
                (controller.sideRows[i].kind == SideRow::Kind::Friend &&
                 controller.sideRows[i].phone == key))
                return i;
        return -1;
    }
    void open(int mode, const QString& key) {
        controller.sideMode = mode;
        controller.rebuildSideRows();
        controller.sideClickedRow = rowOf(key);
        controller.sideDoubleClick();
    }
    qint64 unreadOf(const QString& room) {
        controller.refreshLists();
        for (const RoomRecord& r : controller.rooms)
            if (r.room == room)
                return r.unread;
        return -1;
    }

    FakePlatform platform;
    MainController controller;
};

TEST(EndToEnd, TwoUsersTalkAndSurviveAServerRestart) {
    const std::string dataDir = makeTempDir();
    auto server = std::make_unique<ServerProcess>(dataDir);
    const std::uint16_t chatPort = server->chatPort;
    const std::uint16_t httpPort = server->httpPort;
    ServerConfig config;
    config.chatPort = chatPort;
    config.httpPort = httpPort;

    User a(kPhoneA, QStringLiteral("에이"), config);
    User b(kPhoneB, QStringLiteral("비"), config);
    // Both are known to the server once a friendship between them can be made.
    const std::string addBody = R"({"my_phone":"01000000001","friend_phone":"01000000002",)"
                                R"("alias":""})";
    ASSERT_TRUE(waitUntil(
        [&] { return http(httpPort, "POST", "/v1/friends/add", addBody).status == 200; }));
    ASSERT_TRUE(waitUntil([&] { return a.status() != "서버 연결됨 — 인증 중…"; }));
    ASSERT_TRUE(waitUntil([&] { return b.status().startsWith("친구"); }));
    a.controller.refreshLists();

    // A opens the direct room from the friends list and says hello.
    const QString room = QStringLiteral("dm:01000000001:01000000002");
    a.open(0, kPhoneB);
    ASSERT_EQ(a.controller.currentRoom, room);
    a.send(QStringLiteral("안녕하세요"));
    ASSERT_TRUE(waitUntil([&] { return a.text().contains("안녕하세요"); }));
    EXPECT_TRUE(a.controller.chatItems().last().mine);

    // B has no room open: status line and a notification.
    ASSERT_TRUE(waitUntil([&] { return b.status() == "새 메시지 · 에이: 안녕하세요"; }));
    ASSERT_EQ(b.platform.notifications.size(), 1);
    EXPECT_EQ(b.platform.notifications[0].title, "에이");
    EXPECT_EQ(b.platform.notifications[0].body, "안녕하세요");
    EXPECT_EQ(b.text(), "");
    EXPECT_EQ(b.unreadOf(room), 1);

    b.open(1, room);
    ASSERT_EQ(b.controller.currentRoom, room);
    spin(100); // the join reaches the server before the next message

    // A replies to its own message: the marker shows on both sides.
    a.controller.chatMenuReply();
    const QString firstId = a.controller.replyMsgId;
    ASSERT_FALSE(firstId.isEmpty());
    a.send(QStringLiteral("답장입니다"));
    const QString marker = QStringLiteral("  ↳ [답장 #%1]\n").arg(firstId);
    ASSERT_TRUE(waitUntil([&] { return b.text().contains(marker + QChar(0xFFFC) + " 에이  "); }));
    ASSERT_TRUE(waitUntil([&] { return a.text().contains(marker); }));
    EXPECT_FALSE(b.controller.chatItems().last().mine);
    // B read it: the unread count falls.
    ASSERT_TRUE(waitUntil([&] { return b.unreadOf(room) == 0; }));

    // A deletes its newest message: both sides show the marker line.
    const QString replyId = a.controller.chatItems().last().msgId;
    a.controller.chatMenuDelete();
    const QString deleted = QStringLiteral("[메시지 삭제됨 #%1]").arg(replyId);
    ASSERT_TRUE(waitUntil([&] { return b.text().endsWith(deleted); }));
    ASSERT_TRUE(waitUntil([&] { return a.text().endsWith(deleted); }));

    // The server goes away and comes back on the same ports with the same data.
    server->stop();
    ASSERT_TRUE(waitUntil([&] { return b.status().startsWith("끊김: "); }));
    EXPECT_TRUE(b.status().endsWith(" — 재연결 예정"));
    ASSERT_TRUE(waitUntil([&] { return a.status().startsWith("끊김: "); }));
    server =
        std::make_unique<ServerProcess>(dataDir, "--chat-port " + std::to_string(chatPort) +
                                                     " --http-port " + std::to_string(httpPort));
    // Signed in again (the lists are fetched after the sign-in) within the retry delay.
    ASSERT_TRUE(waitUntil([&] { return b.status().startsWith("친구"); },
                          MainController::kReconnectDelayMs + 3000));
    ASSERT_TRUE(waitUntil([&] { return a.status().startsWith("친구"); },
                          MainController::kReconnectDelayMs + 3000));
    EXPECT_FALSE(b.controller.reconnectTimer);
    EXPECT_EQ(b.controller.currentRoom, room);

    // Both rejoined the open room: a new message arrives without opening anything.
    spin(100);
    a.send(QStringLiteral("다시 왔어요"));
    ASSERT_TRUE(waitUntil([&] { return b.text().endsWith("다시 왔어요\n"); }));
    EXPECT_TRUE(a.controller.composeView->toPlainText().isEmpty());
    server.reset();
    std::filesystem::remove_all(dataDir);
}

} // namespace
