// Friends, memo rooms, leaving and search with two signed-in windows against the real server.

#include "event_loop.h"
#include "fake_platform.h"
#include "main_controller.h"
#include "server_harness.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

constexpr int kFirst = Platform::kFirstButton;

// Sits between the client and its controller to tell when the server accepted the sign-in.
class SignInWatch : public ChatClientDelegate {
public:
    explicit SignInWatch(MainController& controller) : controller_(controller) {}
    void chatClientDidConnect() override { controller_.chatClientDidConnect(); }
    void chatClientDidDisconnect(const QString& reason) override {
        controller_.chatClientDidDisconnect(reason);
    }
    void chatClientDidReceiveType(quint8 type, const QStringList& fields) override {
        if (type == MessageType::AuthOk)
            signedIn = true;
        controller_.chatClientDidReceiveType(type, fields);
    }
    bool signedIn = false;

private:
    MainController& controller_;
};

struct Window {
    FakePlatform platform;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<SignInWatch> watch;

    QString transcript() const { return controller->transcript->plainText(); }
    QStringList roomIds() const {
        QStringList out;
        for (const RoomRecord& r : controller->rooms)
            out << r.room;
        return out;
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

    void signIn(Window& w, const char* phone, const char* nick) {
        w.controller =
            std::make_unique<MainController>(QString::fromUtf8(phone), QString::fromUtf8(nick),
                                             QStringLiteral(""), config_, w.platform);
        w.watch = std::make_unique<SignInWatch>(*w.controller);
        w.controller->client->setDelegate(w.watch.get());
        w.controller->showMain();
        ASSERT_TRUE(waitUntil([&] { return w.watch->signedIn; })) << phone;
        w.platform.clear();
    }
    // Types into the composer and sends; waits until the server delivered it back.
    void say(Window& w, const QString& text) {
        w.controller->composeView->setPlainText(text);
        w.controller->sendMessage();
        ASSERT_TRUE(waitUntil([&] { return w.transcript().contains(text); }));
    }
    static int rowOfRoom(const Window& w, const QString& room) {
        for (int i = 0; i < w.controller->sideRows.size(); ++i)
            if (w.controller->sideRows.at(i).room == room)
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
    alice.controller->addFriendAction();
    ASSERT_EQ(alice.platform.alerts.size(), 1);
    EXPECT_EQ(alice.platform.alerts[0].message, "친구 추가 실패");
    EXPECT_EQ(alice.platform.alerts[0].informativeText, "HTTP 404 가입하지 않은 사용자입니다");
    EXPECT_TRUE(alice.controller->friends.isEmpty());

    alice.platform.addFriendAnswers = {{1, " 01020000002 ", " 밥이 "}};
    alice.controller->addFriendAction();
    EXPECT_EQ(alice.platform.alerts.size(), 1);
    ASSERT_EQ(alice.controller->friends.size(), 1);
    EXPECT_EQ(alice.controller->friends[0].phone, "01020000002");
    EXPECT_EQ(alice.controller->friends[0].alias, "밥이");
    EXPECT_EQ(alice.controller->statusLabel->text(), "친구 1 · 채팅 0");
    ASSERT_EQ(alice.controller->sideRows.size(), 1);
    EXPECT_EQ(alice.controller->sideRows[0].name, "밥이");

    // The friends list refuses to leave.
    alice.controller->sideClickedRow = 0;
    alice.controller->sideMenuLeave();
    ASSERT_EQ(alice.platform.alerts.size(), 2);
    EXPECT_EQ(alice.platform.alerts[1].message, "친구 목록에서는 방 나가기를 할 수 없습니다.");
    EXPECT_EQ(alice.controller->friends.size(), 1);
}

TEST_F(ManageEndToEnd, MemoRoomOpensAndIsSearchable) {
    alice.controller->createMemoRoom();
    const QString memo = alice.controller->currentRoom;
    ASSERT_TRUE(memo.startsWith(QLatin1String("memo:"))) << memo.toStdString();
    EXPECT_EQ(alice.controller->roomLabel->text(), "나의 메모  (" + memo + ")");
    EXPECT_EQ(alice.roomIds(), QStringList({memo}));
    EXPECT_TRUE(alice.platform.alerts.isEmpty());

    // A decomposed name, as some systems send it, found by the name as typed.
    const QString decomposed =
        QStringLiteral("한글 메모.txt").normalized(QString::NormalizationForm_D);
    say(alice, "Note " + decomposed);
    say(alice, "note again");
    alice.controller->openFindBar();
    alice.controller->findSearchField->setText(QStringLiteral("NOTE"));
    EXPECT_EQ(alice.controller->findResultLabel->text(), "1 / 2");
    alice.controller->findSearchField->setText(QStringLiteral("한글 메모"));
    EXPECT_EQ(alice.controller->findResultLabel->text(), "1 / 1");
    EXPECT_EQ(alice.controller->chatView->textCursor().selectedText(),
              QStringLiteral("한글 메모").normalized(QString::NormalizationForm_D));
}

TEST_F(ManageEndToEnd, LeavingRooms) {
    alice.controller->createMemoRoom();
    const QString first = alice.controller->currentRoom;
    alice.controller->createMemoRoom();
    const QString second = alice.controller->currentRoom;
    ASSERT_NE(first, second);
    say(alice, QStringLiteral("두 번째 방"));
    ASSERT_EQ(alice.roomIds().size(), 2);

    // Another room, from the sidebar: the open one stays as it is.
    alice.controller->sideMode = 1;
    alice.controller->rebuildSideRows();
    alice.controller->sideClickedRow = rowOfRoom(alice, first);
    ASSERT_GE(alice.controller->sideClickedRow, 0);
    alice.platform.alertAnswers = {kFirst};
    alice.controller->sideMenuLeave();
    EXPECT_EQ(alice.roomIds(), QStringList({second}));
    EXPECT_EQ(alice.controller->currentRoom, second);
    EXPECT_TRUE(alice.transcript().contains(QStringLiteral("두 번째 방")));
    EXPECT_EQ(alice.controller->roomLabel->text(), "나의 메모  (" + second + ")");

    // The open room, from the header button.
    alice.platform.alertAnswers = {kFirst};
    alice.controller->leaveCurrentRoom();
    EXPECT_TRUE(alice.roomIds().isEmpty());
    EXPECT_TRUE(alice.controller->currentRoom.isEmpty());
    EXPECT_EQ(alice.transcript(), "");
    EXPECT_EQ(alice.controller->roomLabel->text(), "방을 선택하세요");
    EXPECT_EQ(alice.controller->statusLabel->text(), "친구 0 · 채팅 0");
    EXPECT_TRUE(alice.platform.alerts.size() == 2); // the two questions, no failure

    // Leaving a room one is no longer in is the server's to refuse; the alert carries its text.
    alice.controller->currentRoom = first;
    alice.platform.alertAnswers = {kFirst};
    alice.controller->leaveCurrentRoom();
    ASSERT_EQ(alice.platform.alerts.size(), 4);
    EXPECT_EQ(alice.platform.alerts[3].message, "방 나가기 실패");
    EXPECT_TRUE(alice.platform.alerts[3].informativeText.startsWith(QLatin1String("HTTP 4")));
    EXPECT_EQ(alice.controller->currentRoom, first);

    // Bob's lists never saw any of it.
    bob.controller->refreshLists();
    EXPECT_TRUE(bob.roomIds().isEmpty());
}

} // namespace
