// Friends, memo rooms, leaving and search with two signed-in windows against the real server.

#include "chat_events.h"
#include "client_under_test.h"
#include "directory_actions.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "main_window.h"
#include "room_session.h"
#include "server_harness.h"
#include "sidebar_controller.h"
#include "transcript_view.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

constexpr int kFirst = Platform::kFirstButton;

struct Window {
    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
    bool signedIn = false;

    QString transcript() const { return controller->transcript().plainText(); }
    QString header() const { return controller->headerText(); }
    QString status() const { return controller->statusText(); }
    QString openRoom() const { return controller->openRoomId(); }
    Directory& directory() const { return *controller->session().directory; }
    DirectoryActions& actions() const { return *controller->session().directoryActions; }
    QStringList roomIds() const {
        QStringList out;
        for (const RoomRecord& r : directory().rooms())
            out << r.room;
        return out;
    }
    // Runs `act` and waits for the refresh that follows it.
    bool actAndRefresh(const std::function<void()>& act) {
        QSignalSpy listed(&directory(), &Directory::listsChanged);
        act();
        return waitUntil([&] { return listed.count() > 0; });
    }
};

class ManageEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir_ = makeTempDir();
        server_ = std::make_unique<ServerProcess>(dataDir_);
        ASSERT_TRUE(server_->running());
        config_.host = "127.0.0.1";
        config_.chatPort = server_->chatPort;
        config_.httpPort = server_->httpPort;
        signIn(alice, "01020000001", "앨리스");
        signIn(bob, "01020000002", "밥");
    }
    void TearDown() override {
        alice.controller.reset();
        bob.controller.reset();
        server_.reset();
        QDir(QString::fromStdString(dataDir_)).removeRecursively();
    }

    void signIn(Window& w, const char* phone, const char* nick, const char* status = "") {
        w.controller =
            std::make_unique<ClientUnderTest>(QString::fromUtf8(phone), QString::fromUtf8(nick),
                                              QString::fromUtf8(status), config_, w.platform);
        QObject::connect(w.controller->session().events.get(), &ChatEvents::connectionChanged,
                         [&w](ChatEvents::Connection state, const QString&) {
                             if (state == ChatEvents::Connection::SignedIn)
                                 w.signedIn = true;
                         });
        w.controller->showMain();
        ASSERT_TRUE(waitUntil([&] { return w.signedIn; })) << phone;
        // The lists asked for on showing are in.
        ASSERT_TRUE(waitUntil([&] { return !w.directory().refreshing(); }));
        w.platform.clear();
    }
    // Types into the composer and sends; waits until the server delivered it back.
    void say(Window& w, const QString& text) {
        QPlainTextEdit* composer = w.controller->composer();
        composer->setPlainText(text);
        QTest::keyClick(composer, Qt::Key_Return);
        // Back from the server with its id: stored.
        const TranscriptView& shown = w.controller->transcript();
        ASSERT_TRUE(waitUntil([&] {
            const ChatItem* newest = shown.lastMessage();
            return newest && newest->text == text && !newest->msgId.isEmpty();
        }));
    }
    static int rowOfRoom(const Window& w, const QString& room) {
        const QList<SideRow>& rows = w.controller->sidebarRows();
        for (int i = 0; i < rows.size(); ++i)
            if (rows.at(i).room == room)
                return i;
        return -1;
    }

    Window alice;
    Window bob;

private:
    std::string dataDir_;
    std::unique_ptr<ServerProcess> server_;
    ServerConfig config_;
};

TEST_F(ManageEndToEnd, AddingFriends) {
    // Someone who never signed in is unknown to the server.
    alice.platform.addFriendAnswers = {{1, "01099990000", ""}};
    alice.actions().addFriend();
    ASSERT_TRUE(waitUntil([&] { return alice.platform.alerts.size() == 1; }));
    EXPECT_EQ(alice.platform.alerts[0].message, "친구 추가 실패");
    EXPECT_EQ(alice.platform.alerts[0].informativeText, "HTTP 404 가입하지 않은 사용자입니다");
    EXPECT_TRUE(alice.directory().friends().isEmpty());

    alice.platform.addFriendAnswers = {{1, " 01020000002 ", " 밥이 "}};
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().addFriend(); }));
    EXPECT_EQ(alice.platform.alerts.size(), 1);
    ASSERT_EQ(alice.directory().friends().size(), 1);
    EXPECT_EQ(alice.directory().friends()[0].phone, "01020000002");
    EXPECT_EQ(alice.directory().friends()[0].alias, "밥이");
    EXPECT_EQ(alice.status(), "친구 1 · 채팅 0");
    const QList<SideRow>& rows = alice.controller->sidebarRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].name, "밥이");

    // The friends list refuses to leave.
    alice.controller->actOnSidebarRow(0, SidebarController::RowAction::Leave);
    ASSERT_EQ(alice.platform.alerts.size(), 2);
    EXPECT_EQ(alice.platform.alerts[1].message, "친구 목록에서는 방 나가기를 할 수 없습니다.");
    EXPECT_EQ(alice.directory().friends().size(), 1);
}

// Braces in names and statuses reach the lists whole, and a number typed with dashes is the
// person who signed in without them.
TEST_F(ManageEndToEnd, BracesAndSpelledNumbersReachTheLists) {
    Window carol;
    signIn(carol, "01020000003", "캐럴 {x}", "hi {^_^}");
    alice.platform.addFriendAnswers = {{1, "010-2000-0003", "{캐럴}"}};
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().addFriend(); }));
    EXPECT_TRUE(alice.platform.alerts.isEmpty());
    ASSERT_EQ(alice.directory().friends().size(), 1);
    const FriendRecord& f = alice.directory().friends()[0];
    EXPECT_EQ(f.phone, "01020000003");
    EXPECT_EQ(f.alias, "{캐럴}");
    EXPECT_EQ(f.nick, "캐럴 {x}");
    EXPECT_EQ(f.status, "hi {^_^}");
    ASSERT_EQ(alice.controller->sidebarRows().size(), 1);
    const SideRow row = alice.controller->sidebarRows()[0];
    EXPECT_EQ(row.name, "{캐럴}");
    EXPECT_EQ(row.status, "hi {^_^}");

    // The direct room is titled by the alias, not by the number.
    alice.actions().openRow(row);
    EXPECT_EQ(alice.openRoom(), "dm:01020000001:01020000003");
    say(alice, QStringLiteral("안녕 {캐럴}"));
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.directory().refresh(); }));
    ASSERT_EQ(alice.directory().rooms().size(), 1);
    const RoomRecord& room = alice.directory().rooms()[0];
    EXPECT_EQ(room.room, "dm:01020000001:01020000003");
    EXPECT_EQ(room.title, "{캐럴}");
    EXPECT_EQ(room.peer, "01020000003");
    alice.controller->showSidebar(SidebarController::Mode::Chats);
    ASSERT_EQ(alice.controller->sidebarRows().size(), 1);
    EXPECT_EQ(alice.controller->sidebarRows()[0].title.left(4), "{캐럴}");

    // Carol, who added nobody, sees Alice's nickname.
    ASSERT_TRUE(carol.actAndRefresh([&] { carol.directory().refresh(); }));
    ASSERT_EQ(carol.directory().rooms().size(), 1);
    EXPECT_EQ(carol.directory().rooms()[0].title, "앨리스");
    carol.controller.reset();
}

TEST_F(ManageEndToEnd, MemoRoomOpensAndIsSearchable) {
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().createMemoRoom(); }));
    const QString memo = alice.openRoom();
    ASSERT_TRUE(memo.startsWith(QLatin1String("memo:"))) << memo.toStdString();
    EXPECT_EQ(alice.header(), "나의 메모"); // its name, never its id
    EXPECT_EQ(alice.roomIds(), QStringList({memo}));
    EXPECT_TRUE(alice.platform.alerts.isEmpty());

    // A decomposed name, as some systems send it, found by the name as typed.
    const QString decomposed =
        QStringLiteral("한글 메모.txt").normalized(QString::NormalizationForm_D);
    say(alice, "Note " + decomposed);
    say(alice, "note again");
    alice.controller->openFindBar();
    QMainWindow* window = alice.controller->window();
    auto* field = window->findChild<QLineEdit*>("findSearchField");
    auto* counter = window->findChild<QLabel*>("findResultLabel");
    field->setText(QStringLiteral("NOTE"));
    EXPECT_EQ(counter->text(), "1 / 2");
    field->setText(QStringLiteral("한글 메모"));
    EXPECT_EQ(counter->text(), "1 / 1");
    // The match marked is the text as written, decomposed.
    const TranscriptView& transcript = alice.controller->transcript();
    ASSERT_TRUE(transcript.search().currentMatch());
    const TranscriptView::Place place = transcript.placeOf(*transcript.search().currentMatch());
    ASSERT_NE(transcript.messageAt(place.row), nullptr);
    EXPECT_EQ(transcript.messageAt(place.row)->text.mid(place.start, place.length),
              QStringLiteral("한글 메모").normalized(QString::NormalizationForm_D));
}

// The name typed for a memo room is the room's title on the server: the lists, the header and
// the chats list carry it, and a second memo room keeps its own.
TEST_F(ManageEndToEnd, MemoRoomsCarryTheNameGiven) {
    alice.platform.textAnswers = {QStringLiteral("여행 계획")};
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().createMemoRoom(); }));
    ASSERT_TRUE(waitUntil([&] { return !alice.openRoom().isEmpty(); }));
    const QString trip = alice.openRoom();
    EXPECT_EQ(alice.header(), "여행 계획");
    EXPECT_EQ(alice.status(), "방 참가: 여행 계획");
    ASSERT_NE(alice.directory().room(trip), nullptr);
    EXPECT_EQ(alice.directory().room(trip)->title, "여행 계획");

    alice.platform.textAnswers = {std::nullopt}; // cancelled: nothing is made
    alice.actions().createMemoRoom();
    EXPECT_TRUE(alice.platform.textAnswers.empty()); // the name was asked for
    EXPECT_EQ(alice.roomIds(), QStringList({trip}));

    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().createMemoRoom(); })); // the default
    ASSERT_TRUE(waitUntil([&] { return alice.openRoom() != trip; }));
    const QString mine = alice.openRoom();
    EXPECT_EQ(alice.header(), "나의 메모");
    ASSERT_NE(alice.directory().room(mine), nullptr);
    EXPECT_EQ(alice.directory().room(mine)->title, "나의 메모");
    EXPECT_EQ(alice.directory().room(trip)->title, "여행 계획");
    // The cancelled one made nothing: the lists fetched since hold these two only.
    EXPECT_EQ(alice.roomIds().size(), 2);
    EXPECT_TRUE(alice.platform.alerts.isEmpty());
}

TEST_F(ManageEndToEnd, LeavingRooms) {
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().createMemoRoom(); }));
    const QString first = alice.openRoom();
    ASSERT_TRUE(alice.actAndRefresh([&] { alice.actions().createMemoRoom(); }));
    const QString second = alice.openRoom();
    ASSERT_NE(first, second);
    say(alice, QStringLiteral("두 번째 방"));
    ASSERT_EQ(alice.roomIds().size(), 2);

    // Another room, from the sidebar: the open one stays as it is.
    alice.controller->showSidebar(SidebarController::Mode::Chats);
    const int row = rowOfRoom(alice, first);
    ASSERT_GE(row, 0);
    const SideRow firstRow = alice.controller->sidebarRows().at(row);
    alice.platform.alertAnswers = {kFirst};
    ASSERT_TRUE(alice.actAndRefresh(
        [&] { alice.controller->actOnSidebarRow(row, SidebarController::RowAction::Leave); }));
    EXPECT_EQ(alice.roomIds(), QStringList({second}));
    EXPECT_EQ(alice.openRoom(), second);
    EXPECT_TRUE(alice.transcript().contains(QStringLiteral("두 번째 방")));
    EXPECT_EQ(alice.header(), "나의 메모");

    // The open room, from the header button.
    alice.platform.alertAnswers = {kFirst};
    ASSERT_TRUE(alice.actAndRefresh(
        [&] { alice.controller->window()->findChild<QPushButton*>("leaveButton")->click(); }));
    EXPECT_TRUE(alice.roomIds().isEmpty());
    EXPECT_TRUE(alice.openRoom().isEmpty());
    EXPECT_EQ(alice.transcript(), "");
    EXPECT_EQ(alice.header(), "방을 선택하세요");
    EXPECT_EQ(alice.status(), "친구 0 · 채팅 0");
    EXPECT_TRUE(alice.platform.alerts.size() == 2); // the two questions, no failure

    // Leaving a room one is no longer in (a row kept from before) is the server's to refuse;
    // the alert carries its text.
    alice.platform.alertAnswers = {kFirst};
    alice.actions().leaveRow(firstRow);
    ASSERT_TRUE(waitUntil([&] { return alice.platform.alerts.size() == 4; }));
    EXPECT_EQ(alice.platform.alerts[3].message, "방 나가기 실패");
    EXPECT_TRUE(alice.platform.alerts[3].informativeText.startsWith(QLatin1String("HTTP 4")));
    EXPECT_TRUE(alice.openRoom().isEmpty());

    // Bob's lists never saw any of it.
    ASSERT_TRUE(bob.actAndRefresh([&] { bob.directory().refresh(); }));
    EXPECT_TRUE(bob.roomIds().isEmpty());
}

} // namespace
