// The controller without its window: construction, connection state, retries and teardown.

#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_platform.h"
#include "main_controller.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        config.chatPort = chat.port();
        config.httpPort = unusedPort();
        controller =
            std::make_unique<MainController>(QStringLiteral("01011112222"), QStringLiteral("민지"),
                                             QStringLiteral(" 바빠요 "), config, platform);
    }

    // Connects without building the window (which would also fetch the lists).
    void connectNow() {
        controller->client->connect();
        ASSERT_TRUE(chat.waitForConnection());
    }

    FakeChatServer chat;
    FakePlatform platform;
    ServerConfig config;
    std::unique_ptr<MainController> controller;
};

TEST_F(Controller, StartsEmptyAndUnconnected) {
    EXPECT_EQ(controller->currentFindIndex(), -1);
    EXPECT_EQ(controller->sideMode, 0);
    EXPECT_TRUE(controller->friends.isEmpty());
    EXPECT_TRUE(controller->rooms.isEmpty());
    EXPECT_TRUE(controller->sideRows.isEmpty());
    EXPECT_TRUE(controller->chatItems().isEmpty());
    EXPECT_TRUE(controller->findMatches().isEmpty());
    EXPECT_TRUE(controller->avatarCache.isEmpty());
    EXPECT_TRUE(controller->currentRoom.isEmpty());
    EXPECT_TRUE(controller->replyMsgId.isNull());
    EXPECT_TRUE(controller->replySender.isNull());
    EXPECT_FALSE(controller->uploading);
    EXPECT_FALSE(controller->reconnectTimer);
    EXPECT_FALSE(controller->onLogout());
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_EQ(controller->statusLabel, nullptr);

    ChatClient& client = *controller->client;
    EXPECT_EQ(client.delegate(), controller.get());
    EXPECT_EQ(client.phone(), "01011112222");
    EXPECT_EQ(client.nick(), "민지");
    EXPECT_EQ(client.statusMsg(), " 바빠요 ");
    EXPECT_EQ(client.profilePic(), "");
    EXPECT_FALSE(client.profilePic().isNull());
    EXPECT_FALSE(client.connected());
    spin(50);
    EXPECT_EQ(chat.connectionCount(), 0);
    // Before the window exists the status line has nowhere to go.
    controller->setStatus(QStringLiteral("x"));
}

TEST_F(Controller, ConnectionStateShowsInTheStatusLineOnceTheWindowExists) {
    // The status texts are observable only through the label; give the controller a window.
    controller->showMain();
    controller->chatClientDidConnect();
    EXPECT_EQ(controller->statusLabel->text(), "서버 연결됨 — 인증 중…");
    controller->chatClientDidDisconnect(QStringLiteral("서버 연결 종료"));
    EXPECT_EQ(controller->statusLabel->text(), "끊김: 서버 연결 종료 — 재연결 예정");
}

TEST_F(Controller, ALossSchedulesOneRetryAndTheNewestLossReplacesIt) {
    controller->showMain();
    ASSERT_TRUE(chat.waitForConnection());
    chat.resetConnection();
    ASSERT_TRUE(waitUntil([&] { return !controller->reconnectTimer.isNull(); }));
    QPointer<QTimer> first = controller->reconnectTimer;
    EXPECT_TRUE(first->isActive());
    EXPECT_TRUE(first->isSingleShot());
    EXPECT_EQ(first->interval(), MainController::kReconnectDelayMs);
    EXPECT_TRUE(controller->statusLabel->text().startsWith("끊김: "));

    controller->chatClientDidDisconnect(QStringLiteral("쓰기 실패"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_TRUE(controller->reconnectTimer);
    EXPECT_EQ(controller->statusLabel->text(), "끊김: 쓰기 실패 — 재연결 예정");

    // The retry connects again and forgets the timer.
    ASSERT_TRUE(chat.waitForConnection(2, MainController::kReconnectDelayMs + 3000));
    EXPECT_FALSE(controller->reconnectTimer);
    EXPECT_TRUE(controller->client->connected());
}

TEST_F(Controller, TeardownWithoutEverConnecting) {
    controller.reset();
    spin(20);
    EXPECT_EQ(chat.connectionCount(), 0);
}

TEST_F(Controller, TeardownOfAConnectedClientClosesTheConnection) {
    connectNow();
    ASSERT_TRUE(chat.hasOpenConnection());
    controller.reset();
    EXPECT_TRUE(waitUntil([&] { return !chat.hasOpenConnection(); }));
}

TEST_F(Controller, TeardownWithARetryPendingCancelsIt) {
    controller->showMain();
    ASSERT_TRUE(chat.waitForConnection());
    chat.resetConnection();
    ASSERT_TRUE(waitUntil([&] { return !controller->reconnectTimer.isNull(); }));
    QPointer<QTimer> pending = controller->reconnectTimer;
    bool logoutCalled = false;
    controller->setOnLogout([&] { logoutCalled = true; });
    controller.reset();
    EXPECT_TRUE(pending.isNull());
    EXPECT_FALSE(logoutCalled);
    spin(200);
    EXPECT_EQ(chat.connectionCount(), 1);
}

TEST_F(Controller, TeardownWhileTheClientIsStillConnecting) {
    // Nothing answers on this port: the connect is still under way (or failing) when the
    // controller goes.
    ServerConfig nowhere = config;
    nowhere.chatPort = unusedPort();
    auto connecting = std::make_unique<MainController>("1", "1", "", nowhere, platform);
    connecting->client->connect();
    connecting.reset();
    spin(50);
}

TEST_F(Controller, IsMineSenderComparesNickAndPhoneExactly) {
    EXPECT_TRUE(controller->isMineSender(QStringLiteral("민지")));
    EXPECT_TRUE(controller->isMineSender(QStringLiteral("01011112222")));
    EXPECT_FALSE(controller->isMineSender(QStringLiteral("민지 ")));
    EXPECT_FALSE(controller->isMineSender(QString()));
    EXPECT_FALSE(controller->isMineSender(QStringLiteral("")));
}

} // namespace
