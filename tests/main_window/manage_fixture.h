#pragma once
// A signed-in main window over the fake chat and HTTP servers, with the menu bar the application
// gives it, for the friend, room and find tests.

#include "app_menu.h"
#include "client_under_test.h"
#include "directory_actions.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_window.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "transcript_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace brindlewick::test {

class ManageWindow : public ::testing::Test {
protected:
    static constexpr const char* kMyPhone = "01011112222";
    using RowAction = SidebarController::RowAction;

    void SetUp() override {
        http.setReply("GET", "/v1/friends", {200, friendsJson, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, roomsJson, std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller =
            std::make_unique<ClientUnderTest>(QString::fromUtf8(kMyPhone), QStringLiteral("민지"),
                                              QStringLiteral(""), config, platform);
        AppMenuActions actions;
        actions.quit = [] {};
        actions.find = [this] { controller->openFindBar(); };
        controller->setMenuBar(buildAppMenuBar(actions));
        controller->showMain();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
        ASSERT_TRUE(chat.waitForConnection());
        ASSERT_TRUE(chat.waitForFrames(1)); // Auth
        // The lists the window asked for on showing are in.
        ASSERT_TRUE(waitUntil(
            [&] { return !directory().refreshing() && directory().rooms().size() == 2; }));
        chat.clearFrames();
        http.clearRequests();
        platform.clear();
    }

    Directory& directory() const { return *controller->session().directory; }
    RoomSession& room() const { return *controller->session().room; }
    template <typename T> T* widget(const char* name) const {
        return controller->window()->findChild<T*>(QString::fromLatin1(name));
    }
    MessageListView* chatView() const { return widget<MessageListView>("chatView"); }
    QLineEdit* findField() const { return widget<QLineEdit>("findSearchField"); }
    TranscriptView& transcript() const { return controller->transcript(); }

    std::vector<RecordedRequest> posts() const {
        std::vector<RecordedRequest> out;
        for (const RecordedRequest& r : http.requests())
            if (r.method == QLatin1String("POST"))
                out.push_back(r);
        return out;
    }
    // "GET /v1/friends", "POST /v1/rooms/leave", ... in the order sent.
    QStringList requestLines() const {
        QStringList out;
        for (const RecordedRequest& r : http.requests())
            out << r.method + QLatin1Char(' ') + r.path;
        return out;
    }
    QStringList alertMessages() const {
        QStringList out;
        for (const FakePlatform::Alert& a : platform.alerts)
            out << a.message;
        return out;
    }
    QString transcriptText() const { return transcript().plainText(); }
    QString status() const { return controller->statusText(); }
    QString header() const { return controller->headerText(); }
    QString counter() const { return widget<QLabel>("findResultLabel")->text(); }
    // The text of the message a match covers, as the user sees it marked.
    QString matchText(TextRange match) const {
        const TranscriptView::Place place = transcript().placeOf(match);
        const ChatItem* item = transcript().messageAt(place.row);
        return item ? item->text.mid(place.start, place.length) : QStringLiteral("<no row>");
    }
    // The current match's text, "" when there is none.
    QString selectedText() const {
        const std::optional<TextRange> current = transcript().search().currentMatch();
        return current ? matchText(*current) : QString();
    }
    // The row of the sidebar showing `room` (chats list), -1 when not shown.
    int rowOfRoom(const QString& room) const {
        const QList<SideRow>& rows = controller->sidebarRows();
        for (int i = 0; i < rows.size(); ++i)
            if (rows.at(i).room == room)
                return i;
        return -1;
    }
    void showChats() { controller->showSidebar(SidebarController::Mode::Chats); }

    QByteArray friendsJson = R"([{"phone":"01033334444","nick":"준호"}])";
    QByteArray roomsJson = R"({"rooms":[{"room_name":"r-1","title":"팀","unread_count":2},)"
                           R"({"room_name":"r-2","title":"가족"}]})";

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
};

} // namespace brindlewick::test
