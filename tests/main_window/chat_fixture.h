#pragma once
// A signed-in main window against the fake chat and HTTP servers, for the chat tests.

#include "chat_events.h"
#include "client_under_test.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_window.h"
#include "outbox.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTest>
#include <QTextCursor>
#include <gtest/gtest.h>

namespace brindlewick::test {

inline FieldList toFields(const QStringList& fields) {
    FieldList out;
    for (const QString& field : fields)
        out.push_back(field.toStdString());
    return out;
}

class ChatWindow : public ::testing::Test {
protected:
    static constexpr const char* kMyPhone = "01011112222";
    static constexpr const char* kMyNick = "민지";

    void SetUp() override {
        http.setReply("GET", "/v1/friends", {200, friendsJson, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, roomsJson, std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller = std::make_unique<ClientUnderTest>(QString::fromUtf8(kMyPhone),
                                                       QString::fromUtf8(kMyNick),
                                                       QStringLiteral(""), config, platform);
        controller->showMain();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
        ASSERT_TRUE(chat.waitForConnection());
        ASSERT_TRUE(chat.waitForFrames(1)); // Auth
        // Signed in, as a server answers: the outbox sends from then on.
        chat.sendFrame(MessageType::AuthOk, {});
        ASSERT_TRUE(controller->waitSignedIn());
        // The lists arrive on their own; the tests start from them.
        ASSERT_TRUE(controller->waitForLists());
        ASSERT_EQ(controller->session().directory->friends().size(), 3);
        chat.clearFrames();
        platform.clear();
    }

    MainWindow& ui() const { return *controller->session().window; }
    template <typename T = QWidget> T* named(const char* name) const {
        T* found = controller->window()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The transcript's context menu is a window of its own, not a child of the main window.
    static QMenu* chatMenu() {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("chatContextMenu"))
                return qobject_cast<QMenu*>(widget);
        ADD_FAILURE() << "no chatContextMenu";
        return nullptr;
    }
    // Right-clicks the transcript at `viewportPos` (off any entry by default) and chooses item
    // `item` if it is enabled; returns whether it was.
    bool chooseInChatMenu(int item, QPoint viewportPos = QPoint(2, 2000)) const {
        MessageListView* view = ui().transcript().view();
        ui().transcript().flush();
        emit view->customContextMenuRequested(viewportPos);
        QMenu* menu = chatMenu();
        const bool enabled = menu->actions().at(item)->isEnabled();
        if (enabled)
            menu->actions().at(item)->trigger();
        menu->hide();
        return enabled;
    }
    // A viewport position on the first row whose text holds `text`, brought into view.
    QPoint pointAt(const QString& text) const {
        TranscriptView& transcript = ui().transcript();
        transcript.flush();
        const TranscriptModel& model = transcript.model();
        for (int row = 0; row < model.size(); ++row)
            if (model.spokenText(row).contains(text)) {
                transcript.view()->ensureVisible(row);
                return transcript.view()->visualRect(row).center();
            }
        ADD_FAILURE() << "no row holds " << text.toStdString();
        return QPoint(2, 2000);
    }

    // A frame from the server, handled as the connection would hand it over.
    void receive(quint8 type, const QStringList& fields) {
        controller->receiveFrame(type, toFields(fields));
    }
    QList<ChatItem> chatItems() const { return ui().transcript().chatItems(); }
    QString transcriptText() const { return ui().transcript().plainText(); }
    QString status() const { return ui().statusText(); }
    // Frames of `type` the client sent, as texts.
    // The fields of each frame of `type`, without the client id the outbox adds (random) and
    // an empty reply id written only to place it.
    QList<QStringList> sent(std::uint8_t type) const {
        QList<QStringList> out;
        for (const ReceivedFrame& f : chat.framesOfType(type)) {
            QStringList fields;
            for (const std::string& s : f.fields)
                fields << QString::fromStdString(s);
            if (!fields.isEmpty() && wire::isClientId(fields.back().toStdString())) {
                fields.removeLast();
                if (type == MessageType::Chat && fields.size() == 3 && fields.back().isEmpty())
                    fields.removeLast();
            }
            out << fields;
        }
        return out;
    }
    // Runs the loop a moment for the client's timers and queued work, and until what it sent
    // has reached the fake server.
    void settle() {
        spin(60);
        chat.drain();
    }

    QByteArray friendsJson = R"([{"phone":"01033334444","nick":"준호","StatusMessage":"바빠요"},)"
                             R"({"PhoneNumber":"01055556666","Nickname":"서연","Alias":"연"},)"
                             R"({"phone":"01077778888"}])";
    QByteArray roomsJson = R"({"rooms":[{"room_name":"r-1","title":"팀","unread_count":3},)"
                           R"({"room_name":"r-2","peer_phone":"01033334444"},)"
                           R"({"room_name":"r-3","unread_count":0}]})";

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
};

} // namespace brindlewick::test
