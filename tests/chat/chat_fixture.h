#pragma once
// A signed-in main window against the fake chat and HTTP servers, for the chat tests.

#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_controller.h"

#include <QLabel>
#include <QMainWindow>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace brindlewick::test {

inline const QString kPicture = QString(QChar::ObjectReplacementCharacter);

class ChatWindow : public ::testing::Test {
protected:
    static constexpr const char* kMyPhone = "01011112222";
    static constexpr const char* kMyNick = "민지";

    void SetUp() override {
        http.setReply("GET", "/v1/friends", {200, friendsJson, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, roomsJson, std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller = std::make_unique<MainController>(QString::fromUtf8(kMyPhone),
                                                      QString::fromUtf8(kMyNick),
                                                      QStringLiteral(""), config, platform);
        controller->showMain();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
        ASSERT_TRUE(chat.waitForConnection());
        ASSERT_TRUE(chat.waitForFrames(1)); // Auth
        chat.clearFrames();
        platform.clear();
    }

    // A frame from the server, handled as the connection would hand it over.
    void receive(quint8 type, const QStringList& fields) {
        controller->chatClientDidReceiveType(type, fields);
    }
    QString transcriptText() const { return controller->transcript->plainText(); }
    QString status() const { return controller->statusLabel->text(); }
    QTextCharFormat formatAt(int pos) const {
        QTextCursor c(controller->chatView->document());
        c.setPosition(pos + 1);
        return c.charFormat();
    }
    // Frames of `type` the client sent, as texts.
    QList<QStringList> sent(std::uint8_t type) const {
        QList<QStringList> out;
        for (const ReceivedFrame& f : chat.framesOfType(type)) {
            QStringList fields;
            for (const std::string& s : f.fields)
                fields << QString::fromStdString(s);
            out << fields;
        }
        return out;
    }
    // Runs the loop long enough for queued frames to reach the fake server.
    void settle() { spin(60); }

    QByteArray friendsJson = R"([{"phone":"01033334444","nick":"준호","StatusMessage":"바빠요"},)"
                             R"({"PhoneNumber":"01055556666","Nickname":"서연","Alias":"연"},)"
                             R"({"phone":"01077778888"}])";
    QByteArray roomsJson = R"({"rooms":[{"room_name":"r-1","title":"팀","unread_count":3},)"
                           R"({"room_name":"r-2","peer_phone":"01033334444"},)"
                           R"({"room_name":"r-3","unread_count":0}]})";

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    std::unique_ptr<MainController> controller;
};

} // namespace brindlewick::test
