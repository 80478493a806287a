#include "chat_client.h"
#include "event_loop.h"
#include "fake_chat_server.h"

#include <QTcpServer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

struct RecordingListener : ChatClientListener {
    int connects = 0;
    QStringList reasons;
    std::vector<std::pair<quint8, QStringList>> received;
    std::function<void(quint8, const QStringList&)> onReceive;
    std::function<void(const QString&)> onDisconnect;

    void chatConnected() override { ++connects; }
    void chatDisconnected(const QString& reason) override {
        reasons << reason;
        if (onDisconnect)
            onDisconnect(reason);
    }
    void frameReceived(quint8 type, const FieldList& fields) override {
        QStringList texts;
        for (const std::string& field : fields)
            texts << QString::fromStdString(field);
        received.emplace_back(type, texts);
        if (onReceive)
            onReceive(type, texts);
    }
};

FieldList utf8(const QStringList& fields) {
    FieldList out;
    for (const QString& f : fields)
        out.push_back(f.toStdString());
    return out;
}

class ChatClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServerConfig config;
        config.chatPort = server.port();
        client = std::make_unique<ChatClient>(config);
        client->setListener(&listener);
        client->setPhone("01012345678");
        client->setNick(QStringLiteral("홍길동"));
        client->setStatusMsg(QStringLiteral("바빠요"));
    }

    // Connects and waits until the server has the Auth frame.
    void connectAndAuth() {
        client->connect();
        ASSERT_TRUE(server.waitForFrames(1));
        ASSERT_EQ(server.frames()[0].type, MessageType::Auth);
        ASSERT_TRUE(waitUntil([&] { return listener.connects == 1; }));
    }

    FakeChatServer server;
    RecordingListener listener;
    std::unique_ptr<ChatClient> client;
};

} // namespace

TEST_F(ChatClientTest, AuthFieldsFollowTheIdentity) {
    struct Case {
        const char* name;
        QString phone, nick, pic, status;
        QStringList expected;
    } cases[] = {
        {"all set", "010", "kim", "", "hi", {"010", "kim", "", "hi"}},
        {"no nickname sends the phone twice", "010", "", "", "", {"010", "010", "", ""}},
        {"nothing set", "", "", "", "", {"", "", "", ""}},
        {"korean",
         "010",
         QStringLiteral("홍길동"),
         "",
         QStringLiteral("바빠요"),
         {"010", QStringLiteral("홍길동"), "", QStringLiteral("바빠요")}},
    };
    int connections = 0;
    for (const Case& c : cases) {
        server.clearFrames();
        client->setPhone(c.phone);
        client->setNick(c.nick);
        client->setProfilePic(c.pic);
        client->setStatusMsg(c.status);
        client->connect();
        ASSERT_TRUE(server.waitForConnection(++connections)) << c.name;
        ASSERT_TRUE(server.waitForFrames(1)) << c.name;
        EXPECT_EQ(server.frames()[0].type, MessageType::Auth) << c.name;
        EXPECT_EQ(server.frames()[0].fields, utf8(c.expected)) << c.name;
    }
}

TEST_F(ChatClientTest, FramesRequestedWhileOpeningFollowAuthInOrder) {
    client->connect();
    EXPECT_TRUE(client->connected()); // opening counts as connected
    client->joinRoom("dm:1:2");
    client->sendChatToRoom("dm:1:2", QStringLiteral("안녕하세요"));
    ASSERT_TRUE(server.waitForFrames(3));
    const auto& frames = server.frames();
    EXPECT_EQ(frames[0].type, MessageType::Auth);
    EXPECT_EQ(frames[1].type, MessageType::JoinRoom);
    EXPECT_EQ(frames[2].type, MessageType::Chat);
    EXPECT_EQ(frames[2].fields, utf8({"dm:1:2", QStringLiteral("안녕하세요")}));
    EXPECT_EQ(listener.connects, 1);
}

TEST_F(ChatClientTest, RequestsWhileIdleAreDropped) {
    client->sendChatToRoom("r", "lost");
    client->joinRoom("r");
    client->sendPing();
    EXPECT_FALSE(client->connected());
    connectAndAuth();
    client->disconnect();
    EXPECT_FALSE(client->connected());
    client->sendChatToRoom("r", "also lost");
    EXPECT_TRUE(listener.reasons.isEmpty()); // disconnect is silent
    // Connected again, a ping goes after the Auth: nothing sent while idle comes before it.
    client->connect();
    ASSERT_TRUE(server.waitForFrames(2));
    ASSERT_TRUE(waitUntil([&] { return listener.connects == 2; }));
    client->sendPing();
    ASSERT_TRUE(server.waitForFrames(3));
    std::vector<std::uint8_t> types;
    for (const auto& frame : server.frames())
        types.push_back(frame.type);
    EXPECT_EQ(types,
              (std::vector<std::uint8_t>{MessageType::Auth, MessageType::Auth, MessageType::Ping}));
}

TEST_F(ChatClientTest, SendOperationsBuildFieldsAndDropEmptyRequests) {
    connectAndAuth();
    server.clearFrames();
    struct Case {
        const char* name;
        std::function<void()> send;
        quint8 type; // 0: nothing must be sent
        QStringList fields;
    } cases[] = {
        {"join", [&] { client->joinRoom("r1"); }, MessageType::JoinRoom, {"r1"}},
        {"join empty", [&] { client->joinRoom(""); }, 0, {}},
        {"leave", [&] { client->leaveRoom("r1"); }, MessageType::LeaveRoom, {"r1"}},
        {"leave empty", [&] { client->leaveRoom(QString()); }, 0, {}},
        {"chat", [&] { client->sendChatToRoom("r1", "hi"); }, MessageType::Chat, {"r1", "hi"}},
        {"chat empty reply id",
         [&] { client->sendChatToRoom("r1", "hi", ""); },
         MessageType::Chat,
         {"r1", "hi"}},
        {"chat reply",
         [&] { client->sendChatToRoom("r1", "hi", "42"); },
         MessageType::Chat,
         {"r1", "hi", "42"}},
        {"chat empty text", [&] { client->sendChatToRoom("r1", ""); }, 0, {}},
        {"chat empty room", [&] { client->sendChatToRoom("", "hi"); }, 0, {}},
        {"edit",
         [&] { client->sendChatEditToRoom("r1", "7", "new"); },
         MessageType::ChatEdit,
         {"r1", "7", "new"}},
        {"edit empty text", [&] { client->sendChatEditToRoom("r1", "7", ""); }, 0, {}},
        {"delete",
         [&] { client->sendChatDeleteToRoom("r1", "7"); },
         MessageType::ChatDelete,
         {"r1", "7"}},
        {"delete empty id", [&] { client->sendChatDeleteToRoom("r1", ""); }, 0, {}},
        {"watermark",
         [&] { client->sendReadWatermarkToRoom("r1", "9"); },
         MessageType::ReadWatermark,
         {"r1", "9"}},
        {"watermark empty room", [&] { client->sendReadWatermarkToRoom("", "9"); }, 0, {}},
        {"file meta",
         [&] { client->sendFileMetaToRoom("r1", "f1", "a.txt", "12"); },
         MessageType::FileMeta,
         {"r1", "f1", "a.txt", "12", ""}},
        {"file meta defaults",
         [&] { client->sendFileMetaToRoom("r1", "f1", QString(), QString()); },
         MessageType::FileMeta,
         {"r1", "f1", "file", "0", ""}},
        {"file meta empty id", [&] { client->sendFileMetaToRoom("r1", "", "a", "1"); }, 0, {}},
        {"raw call reject",
         [&] {
             client->sendType(MessageType::CallReject, QStringList{"c1", "unsupported"});
         },
         MessageType::CallReject,
         {"c1", "unsupported"}},
        {"ping", [&] { client->sendPing(); }, MessageType::Ping, {""}},
    };
    for (const Case& c : cases) {
        server.clearFrames();
        c.send();
        client->sendType(200, QStringList{"marker"}); // fences what the case sent
        ASSERT_TRUE(server.waitForFrames(c.type ? 2 : 1)) << c.name;
        const auto& frames = server.frames();
        if (c.type) {
            EXPECT_EQ(frames[0].type, c.type) << c.name;
            EXPECT_EQ(frames[0].fields, utf8(c.fields)) << c.name;
        } else {
            EXPECT_EQ(frames[0].type, 200) << c.name;
        }
    }
}

TEST_F(ChatClientTest, SeparatorInsideTextDoesNotAddFields) {
    connectAndAuth();
    client->sendChatToRoom("r", QString("a") + QChar(0x1F) + "b");
    ASSERT_TRUE(server.waitForFrames(2));
    EXPECT_EQ(server.frames()[1].fields, utf8({"r", "a b"}));
}

TEST_F(ChatClientTest, PingsRepeatAtTheInterval) {
    client->setPingInterval(50);
    connectAndAuth();
    ASSERT_TRUE(waitUntil([&] { return server.framesOfType(MessageType::Ping).size() >= 3; }));
    const auto pings = server.framesOfType(MessageType::Ping);
    EXPECT_EQ(pings[0].fields, FieldList{""});
    client->disconnect();
    const auto count = server.framesOfType(MessageType::Ping).size();
    spin(200);
    EXPECT_EQ(server.framesOfType(MessageType::Ping).size(), count);
}

TEST_F(ChatClientTest, DeliversFramesWholeOrInPieces) {
    connectAndAuth();
    const std::string a =
        ChatProtocol::encodeType(MessageType::Chat, {"r", "s", "첫째", "2026-12-10T21:05:09", "1"});
    const std::string b = ChatProtocol::encodeType(MessageType::RoomNotice, {"r", "둘째"});
    server.sendBytes(QByteArray::fromStdString(a + b));
    ASSERT_TRUE(waitUntil([&] { return listener.received.size() == 2; }));
    EXPECT_EQ(listener.received[0].first, MessageType::Chat);
    EXPECT_EQ(listener.received[0].second[2], QStringLiteral("첫째"));
    EXPECT_EQ(listener.received[1].second, (QStringList{"r", QStringLiteral("둘째")}));

    server.sendBytes(QByteArray::fromStdString(a.substr(0, 10)));
    spin(100);
    EXPECT_EQ(listener.received.size(), 2u);
    server.sendBytes(QByteArray::fromStdString(a.substr(10)));
    ASSERT_TRUE(waitUntil([&] { return listener.received.size() == 3; }));
    EXPECT_EQ(listener.received[2].second[2], QStringLiteral("첫째"));
}

TEST_F(ChatClientTest, ReportsEachLostConnectionOnce) {
    struct Case {
        const char* name;
        std::function<void()> lose;
        QString reason;
    } cases[] = {
        {"server closes", [&] { server.closeConnection(); }, ChatClient::kReasonClosed},
        // Qt's socket layer reports a reset by the peer like an orderly close.
        {"connection reset", [&] { server.resetConnection(); }, ChatClient::kReasonClosed},
        {"oversize frame",
         [&] {
             server.sendBytes(
                 QByteArray::fromStdString(std::string("\xC7\xA7\x01\x05\xFF\xFF\xFF\xFF", 8)));
         },
         ChatClient::kReasonError},
        {"bytes that are no frame",
         [&] { server.sendBytes(QByteArray("garbage, not a frame header")); },
         ChatClient::kReasonError},
    };
    int connections = 0;
    for (const Case& c : cases) {
        listener.reasons.clear();
        listener.connects = 0;
        server.clearFrames();
        client->connect();
        ASSERT_TRUE(server.waitForConnection(++connections)) << c.name;
        ASSERT_TRUE(waitUntil([&] { return listener.connects == 1; })) << c.name;
        c.lose();
        ASSERT_TRUE(waitUntil([&] { return !listener.reasons.isEmpty(); })) << c.name;
        spin(100);
        EXPECT_EQ(listener.reasons, QStringList{c.reason}) << c.name;
        EXPECT_FALSE(client->connected()) << c.name;
    }
}

TEST_F(ChatClientTest, FramesBeforeTheEndAreDelivered) {
    connectAndAuth();
    server.sendFrame(MessageType::ServerError, {"x", "bye"});
    server.closeConnection();
    ASSERT_TRUE(waitUntil([&] { return !listener.reasons.isEmpty(); }));
    ASSERT_EQ(listener.received.size(), 1u);
    EXPECT_EQ(listener.received[0].second[1], "bye");
}

TEST_F(ChatClientTest, RefusedConnectionIsAnError) {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    ServerConfig config;
    config.chatPort = closed.serverPort();
    closed.close();
    ChatClient refused(config);
    refused.setListener(&listener);
    refused.connect();
    ASSERT_TRUE(waitUntil([&] { return !listener.reasons.isEmpty(); }));
    spin(50);
    EXPECT_EQ(listener.reasons, QStringList{ChatClient::kReasonError});
}

TEST_F(ChatClientTest, MissingHostFailsAtOnce) {
    ServerConfig config;
    config.host.clear();
    ChatClient broken(config);
    broken.setListener(&listener);
    broken.connect();
    EXPECT_EQ(listener.reasons, QStringList{ChatClient::kReasonSocketFailed});
    EXPECT_FALSE(broken.connected());
}

TEST_F(ChatClientTest, SecondConnectSilencesTheFirst) {
    client->connect();
    client->sendChatToRoom("r", "dropped with the first connection");
    client->connect();
    ASSERT_TRUE(server.waitForConnection(2));
    ASSERT_TRUE(waitUntil([&] { return listener.connects >= 1; }));
    spin(100);
    EXPECT_TRUE(listener.reasons.isEmpty());
    EXPECT_EQ(listener.connects, 1);
    for (const auto& frame : server.frames())
        EXPECT_NE(frame.type, MessageType::Chat);
    server.closeConnection();
    ASSERT_TRUE(waitUntil([&] { return !listener.reasons.isEmpty(); }));
    spin(100);
    EXPECT_EQ(listener.reasons.size(), 1);
}

TEST_F(ChatClientTest, ListenerMayReconnectOrDestroyInsideCallbacks) {
    connectAndAuth();
    // Reconnecting from inside a delivery drops the rest of the old stream.
    listener.onReceive = [&](quint8, const QStringList&) { client->connect(); };
    server.sendBytes(
        QByteArray::fromStdString(ChatProtocol::encodeType(MessageType::Chat, {"r", "a", "1"}) +
                                  ChatProtocol::encodeType(MessageType::Chat, {"r", "b", "2"})));
    ASSERT_TRUE(server.waitForConnection(2));
    ASSERT_TRUE(waitUntil([&] { return listener.connects == 2; }));
    EXPECT_EQ(listener.received.size(), 1u);

    // Destroying the client from inside a delivery must not touch freed memory.
    listener.onReceive = [&](quint8, const QStringList&) { client.reset(); };
    server.sendBytes(
        QByteArray::fromStdString(ChatProtocol::encodeType(MessageType::Chat, {"r", "c", "3"}) +
                                  ChatProtocol::encodeType(MessageType::Chat, {"r", "d", "4"})));
    ASSERT_TRUE(waitUntil([&] { return !client; }));
    spin(100);
    EXPECT_EQ(listener.received.size(), 2u);
    EXPECT_TRUE(listener.reasons.isEmpty());
}
