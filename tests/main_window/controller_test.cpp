// The controller before its window is shown: construction, connection state, retries and
// teardown.

#include "chat_client.h"
#include "chat_events.h"
#include "client_under_test.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_platform.h"
#include "file_actions.h"
#include "incoming_events.h"
#include "main_window.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "transcript_view.h"

#include <QMainWindow>
#include <QTcpServer>
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
            std::make_unique<ClientUnderTest>(QStringLiteral("01011112222"), QStringLiteral("민지"),
                                              QStringLiteral(" 바빠요 "), config, platform);
    }

    // Connects without showing the window (which would also fetch the lists).
    void connectNow() {
        controller->session().client->connect();
        ASSERT_TRUE(chat.waitForConnection());
    }
    // Shows the window and lets the lists' request (nothing answers it) end, so that its
    // status text cannot come between a test's steps.
    void showMain() {
        controller->showMain();
        ASSERT_TRUE(controller->waitForLists());
    }
    QString status() const { return controller->statusText(); }

    FakeChatServer chat;
    FakePlatform platform;
    ServerConfig config;
    std::unique_ptr<ClientUnderTest> controller;
};

TEST_F(Controller, StartsEmptyAndUnconnected) {
    const TranscriptView& transcript = controller->transcript();
    EXPECT_EQ(transcript.search().currentFindIndex(), -1);
    EXPECT_TRUE(transcript.search().matches().isEmpty());
    EXPECT_TRUE(transcript.chatItems().isEmpty());
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Friends);
    EXPECT_TRUE(controller->session().directory->friends().isEmpty());
    EXPECT_TRUE(controller->session().directory->rooms().isEmpty());
    EXPECT_FALSE(controller->session().directory->refreshing());
    EXPECT_TRUE(controller->sidebarRows().isEmpty());
    EXPECT_FALSE(controller->session().room->isOpen());
    EXPECT_TRUE(controller->openRoomId().isEmpty());
    EXPECT_TRUE(controller->session().room->reply().msgId.isNull());
    EXPECT_TRUE(controller->session().room->reply().sender.isNull());
    EXPECT_FALSE(controller->uploading());
    EXPECT_FALSE(controller->session().events->reconnectPending());
    EXPECT_EQ(controller->session().events->backlogSize(), 0u);
    // The window is built but not shown.
    ASSERT_NE(controller->window(), nullptr);
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(status(), "연결 중…");

    ChatClient& client = *controller->session().client;
    EXPECT_EQ(client.listener(),
              static_cast<ChatClientListener*>(controller->session().events.get()));
    EXPECT_EQ(client.phone(), "01011112222");
    EXPECT_EQ(client.nick(), "민지");
    EXPECT_EQ(client.statusMsg(), " 바빠요 ");
    EXPECT_EQ(client.profilePic(), "");
    EXPECT_FALSE(client.profilePic().isNull());
    EXPECT_FALSE(client.connected());
    spin(50);
    EXPECT_EQ(chat.connectionCount(), 0);
    // The status line takes texts before the window shows.
    controller->session().window->setStatus(QStringLiteral("x"));
    EXPECT_EQ(status(), "x");
}

TEST_F(Controller, ConnectionStateShowsInTheStatusLine) {
    showMain();
    controller->session().events->chatDisconnected(QStringLiteral("연결 오류"));
    EXPECT_EQ(status(), "끊김: 연결 오류 — 재연결 예정");
    controller->session().events->chatConnected();
    EXPECT_EQ(status(), "서버 연결됨 — 인증 중…");
    controller->session().events->chatDisconnected(QStringLiteral("서버 연결 종료"));
    EXPECT_EQ(status(), "끊김: 서버 연결 종료 — 재연결 예정");
    EXPECT_TRUE(controller->session().events->reconnectPending());
}

TEST_F(Controller, ALossSchedulesOneRetryAndTheNewestLossReplacesIt) {
    showMain();
    ASSERT_TRUE(chat.waitForConnection());
    chat.resetConnection();
    ChatEvents& events = *controller->session().events;
    ASSERT_TRUE(waitUntil([&] { return events.reconnectPending(); }));
    EXPECT_FALSE(controller->session().client->connected());
    EXPECT_TRUE(status().startsWith("끊김: "));

    events.chatDisconnected(QStringLiteral("쓰기 실패"));
    EXPECT_TRUE(events.reconnectPending());
    EXPECT_EQ(status(), "끊김: 쓰기 실패 — 재연결 예정");

    // The retry, after the default delay, connects once and nothing is pending after it.
    ASSERT_TRUE(chat.waitForConnection(2, ChatEvents::kReconnectDelayMs + 3000));
    EXPECT_FALSE(events.reconnectPending());
    EXPECT_TRUE(controller->session().client->connected());
    spin(200);
    EXPECT_EQ(chat.connectionCount(), 2);
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
    showMain();
    ASSERT_TRUE(chat.waitForConnection());
    chat.resetConnection();
    ASSERT_TRUE(waitUntil([&] { return controller->session().events->reconnectPending(); }));
    // Due well before the spin below ends, were it still pending.
    controller->session().events->setReconnectDelay(20);
    bool logoutCalled = false;
    controller->setOnLogout([&] { logoutCalled = true; });
    controller.reset();
    EXPECT_FALSE(logoutCalled);
    spin(200);
    EXPECT_EQ(chat.connectionCount(), 1);
}

TEST_F(Controller, TeardownWhileTheClientIsStillConnecting) {
    // Nothing answers on this port: the connect is still under way (or failing) when the
    // controller goes.
    ServerConfig nowhere = config;
    nowhere.chatPort = unusedPort();
    auto connecting = std::make_unique<ClientUnderTest>("1", "1", "", nowhere, platform);
    connecting->session().client->connect();
    connecting.reset();
    spin(50);
}

TEST_F(Controller, IsMineSenderComparesNickAndPhoneExactly) {
    EXPECT_TRUE(controller->session().incoming->isMine(QStringLiteral("민지")));
    EXPECT_TRUE(controller->session().incoming->isMine(QStringLiteral("01011112222")));
    EXPECT_FALSE(controller->session().incoming->isMine(QStringLiteral("민지 ")));
    EXPECT_FALSE(controller->session().incoming->isMine(QString()));
    EXPECT_FALSE(controller->session().incoming->isMine(QStringLiteral("")));
}

} // namespace
