// Two signed-in windows in one process talking through the real server, including a server
// restart on the same ports and data.

#include "chat_events.h"
#include "client_under_test.h"
#include "conversation.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "main_window.h"
#include "room_session.h"
#include "server_harness.h"
#include "sidebar_controller.h"
#include "transcript_view.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
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
    QString status() const { return controller.statusText(); }
    QString text() const { return controller.transcript().plainText(); }
    QList<ChatItem> items() const { return controller.transcript().chatItems(); }
    QString openRoom() const { return controller.openRoomId(); }
    void send(const QString& message) {
        QPlainTextEdit* composer = controller.composer();
        composer->setPlainText(message);
        QTest::keyClick(composer, Qt::Key_Return);
    }
    // Index of the sidebar row for `room` / friend `phone`, -1 when not listed.
    int rowOf(const QString& key) const {
        const QList<SideRow>& rows = controller.sidebarRows();
        for (int i = 0; i < rows.size(); ++i)
            if (rows[i].room == key ||
                (rows[i].kind == SideRow::Kind::Friend && rows[i].phone == key))
                return i;
        return -1;
    }
    void open(SidebarController::Mode mode, const QString& key) {
        controller.showSidebar(mode);
        controller.session().sidebar->activateRow(rowOf(key));
    }
    // Fetches the lists anew and waits for them.
    bool refreshLists() {
        Directory& directory = *controller.session().directory;
        if (!waitUntil([&] { return !directory.refreshing(); }))
            return false;
        QSignalSpy arrived(&directory, &Directory::listsChanged);
        directory.refresh();
        return waitUntil([&] { return arrived.count() > 0; });
    }
    qint64 unreadOf(const QString& room) {
        if (!refreshLists())
            return -2;
        for (const RoomRecord& r : controller.session().directory->rooms())
            if (r.room == room)
                return r.unread;
        return -1;
    }

    FakePlatform platform;
    ClientUnderTest controller;
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
    // B is signed in and has the lists asked for then: nothing rewrites its status line after
    // the message below.
    ASSERT_TRUE(b.controller.waitSignedIn());
    ASSERT_TRUE(b.controller.waitForLists());
    ASSERT_TRUE(a.refreshLists());

    // A opens the direct room from the friends list and says hello.
    const QString room = QStringLiteral("dm:01000000001:01000000002");
    a.open(SidebarController::Mode::Friends, kPhoneB);
    ASSERT_EQ(a.openRoom(), room);
    a.send(QStringLiteral("안녕하세요"));
    // Back from the server with its id.
    ASSERT_TRUE(waitUntil(
        [&] { return a.text().contains("안녕하세요") && !a.items().last().msgId.isEmpty(); }));
    EXPECT_TRUE(a.items().last().mine);

    // B has no room open: status line and a notification.
    ASSERT_TRUE(waitUntil([&] { return b.status() == "새 메시지 · 에이: 안녕하세요"; }));
    ASSERT_EQ(b.platform.notifications.size(), 1);
    EXPECT_EQ(b.platform.notifications[0].title, "에이");
    EXPECT_EQ(b.platform.notifications[0].body, "안녕하세요");
    EXPECT_EQ(b.text(), "");
    EXPECT_EQ(b.unreadOf(room), 1);

    b.open(SidebarController::Mode::Chats, room);
    ASSERT_EQ(b.openRoom(), room);
    // Its newest page is in before the reply: the answered message is shown on this side too.
    ASSERT_TRUE(waitUntil([&] { return b.text().contains(QStringLiteral("안녕하세요")); }));

    // A replies to its own message: the marker shows on both sides.
    a.controller.session().conversation->replyTo(a.items().last().msgId);
    const QString firstId = a.controller.session().room->reply().msgId;
    ASSERT_FALSE(firstId.isEmpty());
    a.send(QStringLiteral("답장입니다"));
    // A has the answered message in view and quotes it; so does B, whose newest page on opening
    // brought it.
    const auto quotes = [&](const auto& side) {
        const QList<ChatItem> items = side.items();
        if (items.isEmpty() || items.last().text != "답장입니다" || items.last().replyTo != firstId)
            return false;
        const ChatItem* answered = side.controller.transcript().model().answered(items.last());
        return answered && answered->sender == "에이" && answered->text == "안녕하세요";
    };
    ASSERT_TRUE(waitUntil([&] { return quotes(b); }));
    EXPECT_EQ(b.text().count("안녕하세요"), 1); // the quote is drawn in the reply, not a row
    ASSERT_TRUE(waitUntil([&] { return quotes(a); }));
    EXPECT_FALSE(b.items().last().mine);
    // B read it: the unread count falls.
    ASSERT_TRUE(waitUntil([&] { return b.unreadOf(room) == 0; }));

    // A deletes its newest message (confirming): both sides show the note in its place.
    const QString replyId = a.items().last().msgId;
    a.controller.session().conversation->deleteEntry(replyId);
    ASSERT_EQ(a.platform.alerts.last().message, "이 메시지를 삭제할까요?");
    const auto gone = [&](const auto& side) {
        return side.items().last().deleted && side.text().endsWith(": 삭제된 메시지입니다");
    };
    ASSERT_TRUE(waitUntil([&] { return gone(b); }));
    ASSERT_TRUE(waitUntil([&] { return gone(a); }));
    EXPECT_FALSE(b.text().contains("답장입니다"));

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
                          ChatEvents::kReconnectDelayMs + 3000));
    ASSERT_TRUE(waitUntil([&] { return a.status().startsWith("친구"); },
                          ChatEvents::kReconnectDelayMs + 3000));
    EXPECT_FALSE(b.controller.session().events->reconnectPending());
    EXPECT_EQ(b.openRoom(), room);

    // Both are back with the room open: a new message arrives without opening anything (the
    // server delivers to every member's connection, whatever room it has open).
    a.send(QStringLiteral("다시 왔어요"));
    ASSERT_TRUE(waitUntil([&] { return b.text().endsWith(": 다시 왔어요"); }));
    EXPECT_TRUE(a.controller.composer()->toPlainText().isEmpty());
    server.reset();
    std::filesystem::remove_all(dataDir);
}

} // namespace

namespace {

// The real client on a server that claims phones: its secret reaches the lists, a second device
// reads the server's refusal, and the first device's secret lets it back in.
TEST(EndToEnd, AClaimedPhoneSignsInOnlyFromTheDeviceHoldingItsSecret) {
    const std::string dataDir = makeTempDir();
    ServerProcess server(dataDir, "--claim-phones");
    ServerConfig config;
    config.chatPort = server.chatPort;
    config.httpPort = server.httpPort;

    QString secret;
    {
        User first(kPhoneA, QStringLiteral("에이"), config);
        QSignalSpy issued(first.controller.session().events.get(), &ChatEvents::deviceSecretIssued);
        // Fetched with the bearer only after the sign-in, the lists arrive.
        ASSERT_TRUE(waitUntil([&] { return first.status().startsWith("친구 0"); }))
            << first.status().toStdString();
        ASSERT_EQ(issued.count(), 1);
        secret = issued.front().front().toString();
        EXPECT_EQ(secret.size(), 64);

        User second(kPhoneA, QStringLiteral("남"), config);
        ASSERT_TRUE(waitUntil([&] {
            return second.text().contains("[오류] 다른 기기에서 사용 중인 번호입니다");
        })) << second.text().toStdString();
        EXPECT_NE(second.status(), "로그인 완료");
        EXPECT_TRUE(first.refreshLists());
    }

    ServerConfig sameDevice = config;
    sameDevice.deviceSecret = std::make_shared<DeviceSecret>(secret.toStdString());
    User again(kPhoneA, QStringLiteral("에이"), sameDevice);
    ASSERT_TRUE(waitUntil([&] { return again.status().startsWith("친구 0"); }))
        << again.status().toStdString();
    std::filesystem::remove_all(dataDir);
}

} // namespace
