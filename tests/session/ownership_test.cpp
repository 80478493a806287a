// Faults of split ownership that the structure removes: leaving resets what opening set,
// requests from the sidebar and the profile window act on the row the user clicked, and a
// server that never answers leaves the window alive.

#include "chat_events.h"
#include "client_under_test.h"
#include "directory_actions.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_window.h"
#include "messages.h"
#include "off_thread.h"
#include "picture_cache.h"
#include "profile_window.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "silent_port.h"
#include "transcript_view.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <gtest/gtest.h>

#include <new>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

QByteArray png() {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

const QByteArray kFriends = R"([{"phone":"01033334444","nick":"준호"},)"
                            R"({"phone":"01055556666","nick":"서연"}])";
const QByteArray kFriendsReordered = R"([{"phone":"01055556666","nick":"서연"},)"
                                     R"({"phone":"01033334444","nick":"준호"}])";
const QByteArray kRooms = R"([{"room_name":"r-1","title":"팀","peer_profile":"pg"},)"
                          R"({"room_name":"r-2","title":"가족"}])";
const QByteArray kRoomsReordered = R"([{"room_name":"r-2","title":"가족"},)"
                                   R"({"room_name":"r-1","title":"팀","peer_profile":"pg"}])";

class Ownership : public ::testing::Test {
protected:
    void SetUp() override {
        http.setReply("GET", "/v1/friends", {200, kFriends, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, kRooms, std::nullopt});
        http.setReply("GET", "/v1/files/pg", {200, png(), std::nullopt});
        http.setReply("POST", "/v1/rooms/leave", {200, "{}", std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller = std::make_unique<ClientUnderTest>("01011112222", "민지", "", config, platform);
        controller->showMain();
        ASSERT_TRUE(chat.waitForConnection());
        ASSERT_TRUE(
            waitUntil([&] { return controller->session().directory->rooms().size() == 2; }));
    }

    template <typename T> T* widget(const char* name) const {
        return controller->window()->findChild<T*>(QString::fromLatin1(name));
    }
    // Serves `friends` and `rooms` and waits until the sidebar shows them.
    void reorderLists(const QByteArray& friends, const QByteArray& rooms) {
        http.setReply("GET", "/v1/friends", {200, friends, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, rooms, std::nullopt});
        bool changed = false;
        const QMetaObject::Connection c =
            QObject::connect(controller->session().directory.get(), &Directory::listsChanged,
                             [&] { changed = true; });
        controller->session().directory->refresh();
        waitUntil([&] { return changed; });
        QObject::disconnect(c);
    }
    QStringList leaveBodies() const {
        QStringList out;
        for (const RecordedRequest& r : http.requests())
            if (r.path == "/v1/rooms/leave")
                out << QString::fromUtf8(r.body);
        return out;
    }

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
};

TEST_F(Ownership, LeavingTheOpenRoomResetsWhatOpeningSet) {
    RoomSession& room = *controller->session().room;
    room.open("r-1", "팀");
    // The group room's own picture, on open or when it arrives.
    ASSERT_TRUE(waitUntil([&] { return controller->session().pictures->contains("pg"); }));
    auto* avatar = widget<QLabel>("roomAvatarView");
    EXPECT_TRUE(avatar->isVisible());
    EXPECT_EQ(avatar->pixmap().toImage().pixelColor(4, 4), QColor(Qt::red));
    controller->receiveFrame(
        wire::ChatMessage::kType,
        wire::ChatMessage{"r-1", "준호", "안녕 모두", "2026-12-10T10:00:00", "5", "", ""}.encode());
    room.setReply("5", "준호", "안녕 모두");
    controller->openFindBar();
    widget<QLineEdit>("findSearchField")->setText("안녕");
    ASSERT_EQ(controller->transcript().search().matches().size(), 1);
    ASSERT_TRUE(widget<QWidget>("replyBar")->isVisible());

    controller->session().directoryActions->leaveOpenRoom();
    ASSERT_TRUE(waitUntil([&] { return !room.isOpen(); }));
    EXPECT_EQ(leaveBodies().size(), 1);
    EXPECT_TRUE(room.title().isEmpty());
    EXPECT_TRUE(room.reply().msgId.isEmpty());
    EXPECT_EQ(widget<QLabel>("roomLabel")->text(), "방을 선택하세요");
    EXPECT_FALSE(avatar->isVisible());
    EXPECT_FALSE(widget<QWidget>("replyBar")->isVisible());
    EXPECT_TRUE(controller->transcript().chatItems().isEmpty());
    EXPECT_TRUE(controller->transcript().search().matches().isEmpty());
    EXPECT_EQ(widget<QLabel>("findResultLabel")->text(), "");
}

TEST_F(Ownership, SidebarLeaveActsOnTheClickedRowWhileTheListMoves) {
    controller->showSidebar(SidebarController::Mode::Chats);
    ASSERT_EQ(controller->sidebarRows().at(0).room, "r-1");
    // The confirmation is up while a refresh puts another room at that row.
    platform.duringAlert = [&] { reorderLists(kFriends, kRoomsReordered); };
    controller->actOnSidebarRow(0, SidebarController::RowAction::Leave);
    ASSERT_EQ(controller->sidebarRows().at(0).room, "r-2");
    ASSERT_TRUE(waitUntil([&] { return leaveBodies().size() == 1; }));
    EXPECT_TRUE(leaveBodies().at(0).contains("\"r-1\"")) << leaveBodies().at(0).toStdString();
    EXPECT_EQ(platform.alerts.at(0).message, "'팀' 방을 나가시겠습니까?");
}

TEST_F(Ownership, SidebarMenuActsOnTheRowItWasOpenedOn) {
    controller->showSidebar(SidebarController::Mode::Chats);
    QTableView* table = controller->session().window->sideTable();
    const QPoint onFirstRow = table->visualRect(table->model()->index(0, 1)).center();
    // While the menu is open a refresh moves another room to that row; then "방 나가기".
    QTimer::singleShot(0, [&] {
        reorderLists(kFriends, kRoomsReordered);
        QMenu* menu = controller->session().sidebar->contextMenu();
        menu->actions().at(2)->trigger();
        menu->close();
    });
    emit table->customContextMenuRequested(onFirstRow);
    ASSERT_EQ(controller->sidebarRows().at(0).room, "r-2");
    ASSERT_TRUE(waitUntil([&] { return leaveBodies().size() == 1; }));
    EXPECT_TRUE(leaveBodies().at(0).contains("\"r-1\"")) << leaveBodies().at(0).toStdString();
}

TEST_F(Ownership, ProfileChatOpensThePersonShownEvenAfterTheListMoved) {
    ASSERT_EQ(controller->sidebarRows().at(0).phone, "01033334444");
    controller->actOnSidebarRow(0, SidebarController::RowAction::ViewProfile);
    ProfileWindow* profile = controller->session().directoryActions->profileWindow();
    ASSERT_NE(profile, nullptr);
    reorderLists(kFriendsReordered, kRooms);
    ASSERT_EQ(controller->sidebarRows().at(0).phone, "01055556666");
    QTest::mouseClick(profile->chatButton(), Qt::LeftButton);
    EXPECT_EQ(controller->openRoomId(), "dm:01011112222:01033334444");
    EXPECT_EQ(controller->session().room->title(), "준호");
}

TEST_F(Ownership, ABadFrameHeaderIsAConnectionErrorAndARetry) {
    controller->session().events->setReconnectDelay(100);
    chat.sendBytes("not a frame at all");
    ASSERT_TRUE(
        waitUntil([&] { return controller->statusText() == "끊김: 연결 오류 — 재연결 예정"; }));
    EXPECT_TRUE(chat.waitForConnection(2));
}

TEST(SilentListServer, TheWindowKeepsTimeAndShowsMessages) {
    SilentPort silent;
    FakeChatServer chat;
    FakePlatform platform;
    ServerConfig config;
    config.httpPort = silent.port();
    config.chatPort = chat.port();
    auto controller =
        std::make_unique<ClientUnderTest>("01011112222", "민지", "", config, platform);
    controller->showMain();
    ASSERT_TRUE(chat.waitForConnection());
    controller->openRoom("r-1", "팀");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    chat.sendFrame(
        wire::ChatMessage::kType,
        wire::ChatMessage{"r-1", "준호", "들리나요", "2026-12-10T10:00:00", "9", "", ""}.encode());
    ASSERT_TRUE(
        waitUntil([&] { return controller->transcript().plainText().contains("들리나요"); }));
    ASSERT_TRUE(waitUntil([&] { return ticks >= 5; }));
    EXPECT_TRUE(controller->session().directory->refreshing());
    // Going away cancels the hung request instead of waiting out its limit.
    controller.reset();
}

} // namespace

namespace {

// A job that throws (out of memory on a hostile server's answer) still answers, with a
// default-made result, instead of ending the process from the pool's thread.
TEST(OffThread, AJobThatThrowsAnswersWithADefaultResult) {
    QThreadPool pool;
    QObject owner;
    std::vector<int> answers;
    const auto record = [&answers](QObject&, int value) { answers.push_back(value); };
    pool.setMaxThreadCount(1);
    runOffThread(
        pool, &owner, []() -> int { throw std::bad_alloc(); }, record);
    runOffThread(
        pool, &owner, []() -> int { throw 7; }, record);
    runOffThread(
        pool, &owner, [] { return 7; }, record);
    ASSERT_TRUE(waitUntil([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers, std::vector<int>({0, 0, 7}));
}

} // namespace
