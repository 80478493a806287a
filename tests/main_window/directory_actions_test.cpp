// Adding friends, creating the memo room and leaving rooms, against the fake HTTP server: what
// is sent, what the user is asked and told, and what the window shows afterwards.

#include "manage_fixture.h"

#include <QPushButton>
#include <QTcpServer>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

constexpr int kFirst = Platform::kFirstButton;
const QStringList kRefresh = {"GET /v1/friends", "GET /v1/rooms"};

class DirectoryActionsTest : public ManageWindow {
protected:
    void openTeamRoom() {
        room().open(QStringLiteral("r-1"), QStringLiteral("팀"));
        transcript().appendChatMsgId(QStringLiteral("1"), QStringLiteral("준호"),
                                     QStringLiteral("팀 방 기록"), QString(), false, QString());
        http.clearRequests();
        platform.clear();
    }
    void clickButton(const char* name) {
        QPushButton* button = widget<QPushButton>(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }
    // "방 나가기" in the menu opened on row `index`.
    void sideLeave(int index) { controller->actOnSidebarRow(index, RowAction::Leave); }
};

// Every way of saying no, and every action that has nothing to act on, sends no request.
TEST_F(DirectoryActionsTest, NothingIsSentWithoutConsent) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::function<void()> act;
        QStringList calls;
        QStringList alerts;
    };
    const std::vector<Case> cases = {
        {"choice alert cancelled",
         [&] { platform.alertAnswers = {kFirst + 2}; },
         [&] { clickButton("addBtn"); },
         {"alert"},
         {"추가 기능 선택"}},
        {"add-friend dialog cancelled",
         [&] {
             platform.alertAnswers = {kFirst};
             platform.addFriendAnswers = {{0, "01099998888", "친구"}};
         },
         [&] { clickButton("addBtn"); },
         {"alert", "addFriendDialog"},
         {"추가 기능 선택"}},
        {"blank phone",
         [&] {
             platform.alertAnswers = {kFirst};
             platform.addFriendAnswers = {{1, " \t\n\u3000", "친구"}};
         },
         [&] { clickButton("addBtn"); },
         {"alert", "addFriendDialog"},
         {"추가 기능 선택"}},
        {"phone without digits",
         [&] {
             platform.alertAnswers = {kFirst};
             platform.addFriendAnswers = {{1, " 준호-폰 ", "친구"}};
         },
         [&] { clickButton("addBtn"); },
         {"alert", "addFriendDialog", "alert"},
         {"추가 기능 선택", "친구 추가 실패"}},
        // The button is off without a room; the action itself still refuses.
        {"leave with no open room",
         [] {},
         [&] { controller->session().directoryActions->leaveOpenRoom(); },
         {"beep"},
         {}},
        {"leave cancelled",
         [&] {
             openTeamRoom();
             platform.alertAnswers = {kFirst + 1};
         },
         [&] { clickButton("leaveButton"); },
         {"alert"},
         {"현재 대화방을 나가시겠습니까?"}},
        {"side leave cancelled",
         [&] {
             showChats();
             platform.alertAnswers = {kFirst + 1};
         },
         [&] { sideLeave(rowOfRoom("r-2")); },
         {"alert"},
         {"'가족' 방을 나가시겠습니까?"}},
        {"side leave on no row", [] {}, [&] { sideLeave(-1); }, {}, {}},
        {"side leave past the last row", [] {}, [&] { sideLeave(99); }, {}, {}},
        {"side leave from the friends list",
         [&] { controller->showSidebar(SidebarController::Mode::Friends); },
         [&] { sideLeave(0); },
         {"alert"},
         {"친구 목록에서는 방 나가기를 할 수 없습니다."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        http.clearRequests();
        platform.clear();
        const QString roomBefore = room().room();
        const QString transcriptBefore = transcriptText();
        c.act();
        spin(50); // a request would go out from the directory's thread
        EXPECT_TRUE(http.requests().empty()) << requestLines().join(", ").toStdString();
        EXPECT_EQ(platform.calls, c.calls);
        EXPECT_EQ(alertMessages(), c.alerts);
        EXPECT_EQ(room().room(), roomBefore);
        EXPECT_EQ(transcriptText(), transcriptBefore);
        platform.alertAnswers.clear();
        platform.addFriendAnswers.clear();
    }
}

TEST_F(DirectoryActionsTest, ChoiceAlertOffersThreeButtonsAndTheSecondCreatesTheMemoRoom) {
    http.setReply("POST", "/v1/rooms", {200, R"({"room_name":"memo:1"})", std::nullopt});
    platform.alertAnswers = {kFirst + 1};
    QSignalSpy listed(&directory(), &Directory::listsChanged);
    clickButton("addBtn");
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].informativeText, "");
    EXPECT_EQ(platform.alerts[0].buttons, QStringList({"친구 추가", "메모방 생성", "취소"}));
    ASSERT_TRUE(waitUntil([&] { return listed.count() == 1; }));
    EXPECT_EQ(requestLines(), QStringList({"POST /v1/rooms"}) + kRefresh);
    EXPECT_EQ(room().room(), "memo:1");
}

TEST_F(DirectoryActionsTest, AddFriendSendsTheTrimmedFieldsAndRefreshes) {
    struct Case {
        AddFriendInput input;
        QByteArray body;
    };
    const std::vector<Case> cases = {
        {{1, " 01099998888 \n", "  친구 "},
         R"({"my_phone":"01011112222","friend_phone":"01099998888","alias":"친구"})"},
        {{1, "01099998888", ""},
         R"({"my_phone":"01011112222","friend_phone":"01099998888","alias":""})"},
        // The number as its digits, however it was typed; the alias escaped for JSON.
        {{1, "010-9999-8888", "a\\b"},
         R"({"my_phone":"01011112222","friend_phone":"01099998888","alias":"a\\b"})"},
        {{1, "+82 \"10\" 9999 8888", "{준호}"},
         R"({"my_phone":"01011112222","friend_phone":"+821099998888","alias":"{준호}"})"},
    };
    http.setReply("POST", "/v1/friends/add", {200, "", std::nullopt});
    http.setReply("GET", "/v1/friends", {200, R"([{"phone":"1"},{"phone":"2"}])", std::nullopt});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        http.clearRequests();
        platform.clear();
        platform.alertAnswers = {kFirst};
        platform.addFriendAnswers = {c.input};
        QSignalSpy listed(&directory(), &Directory::listsChanged);
        clickButton("addBtn");
        ASSERT_TRUE(waitUntil([&] { return listed.count() == 1; }));
        ASSERT_EQ(requestLines(), QStringList({"POST /v1/friends/add"}) + kRefresh);
        const RecordedRequest post = posts().at(0);
        EXPECT_EQ(post.body, c.body);
        EXPECT_EQ(post.headerValues("Content-Type"), QList<QByteArray>({"application/json"}));
        EXPECT_EQ(platform.calls, QStringList({"alert", "addFriendDialog"}));
        // The refresh's counts replace the success text.
        EXPECT_EQ(status(), "친구 2 · 채팅 2");
        EXPECT_EQ(directory().friends().size(), 2);
    }
}

TEST_F(DirectoryActionsTest, AddFriendWithoutDigitsSaysWhy) {
    platform.addFriendAnswers = {{1, " 준호 ", ""}};
    controller->session().directoryActions->addFriend();
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "친구 추가 실패");
    EXPECT_EQ(platform.alerts[0].informativeText, "전화번호에 숫자가 없습니다: 준호");
    spin(50);
    EXPECT_TRUE(http.requests().empty());
}

TEST_F(DirectoryActionsTest, AFailedRefreshKeepsTheSidebarAndSaysWhy) {
    http.setReply("GET", "/v1/rooms", {500, "boom", std::nullopt});
    http.setReply("GET", "/v1/friends",
                  {200, R"([{"phone":"01033334444"},{"phone":"01055556666"}])", std::nullopt});
    clickButton("refreshButton");
    ASSERT_TRUE(waitUntil([&] { return !directory().refreshing(); }));
    // The friends list that could be read shows; the rooms stay as they were.
    EXPECT_EQ(status(), "목록을 불러오지 못했습니다: HTTP 500 boom");
    EXPECT_EQ(controller->sidebarRows().size(), 2);
    showChats();
    ASSERT_EQ(controller->sidebarRows().size(), 2);
    EXPECT_GE(rowOfRoom("r-2"), 0);
    EXPECT_TRUE(platform.alerts.isEmpty());

    http.setReply("GET", "/v1/rooms", {200, roomsJson, std::nullopt});
    clickButton("refreshButton");
    ASSERT_TRUE(waitUntil([&] { return status() == "친구 2 · 채팅 2"; }));
}

// A refused request shows the operation's failure text with the server's answer, refreshes
// nothing and leaves the open room as it was.
TEST_F(DirectoryActionsTest, FailuresAlertWithTheErrorTextAndChangeNothing) {
    struct Case {
        const char* name;
        QString path;
        std::function<void()> act;
        QString message;
        HttpReply reply;
        QString informative;
    };
    const std::vector<Case> cases = {
        {"add friend",
         "/v1/friends/add",
         [&] {
             platform.alertAnswers = {kFirst};
             platform.addFriendAnswers = {{1, "01000000000", ""}};
             clickButton("addBtn");
         },
         "친구 추가 실패",
         {404, "가입하지 않은 사용자입니다", std::nullopt},
         "HTTP 404 가입하지 않은 사용자입니다"},
        {"memo room",
         "/v1/rooms",
         [&] { controller->session().directoryActions->createMemoRoom(); },
         "메모방 생성 실패",
         {500, "boom", std::nullopt},
         "HTTP 500 boom"},
        {"leave the open room",
         "/v1/rooms/leave",
         [&] {
             platform.alertAnswers = {kFirst};
             clickButton("leaveButton");
         },
         "방 나가기 실패",
         {403, "", std::nullopt},
         "HTTP 403 "},
        {"leave from the sidebar",
         "/v1/rooms/leave",
         [&] {
             showChats();
             platform.alertAnswers = {kFirst};
             sideLeave(rowOfRoom("r-1"));
         },
         "방 나가기 실패",
         {404, "없는 방", std::nullopt},
         "HTTP 404 없는 방"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openTeamRoom();
        http.setReply("POST", c.path, c.reply);
        const QString transcriptBefore = transcriptText();
        const QString statusBefore = status();
        c.act();
        ASSERT_TRUE(waitUntil([&] { return alertMessages().contains(c.message); }));
        spin(50); // a refresh would follow at once
        EXPECT_EQ(requestLines(), QStringList({"POST " + c.path})) << "no refresh";
        const FakePlatform::Alert& failure = platform.alerts.last();
        EXPECT_EQ(failure.message, c.message);
        EXPECT_EQ(failure.informativeText, c.informative);
        EXPECT_TRUE(failure.buttons.isEmpty());
        EXPECT_EQ(room().room(), "r-1");
        EXPECT_EQ(header(), "팀");
        EXPECT_EQ(transcriptText(), transcriptBefore);
        EXPECT_EQ(status(), statusBefore);
    }
}

// Nothing listens on the HTTP port: the transport's own description reaches the alert.
TEST(DirectoryActionsOffline, TransportFailureTextReachesTheAlert) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    ServerConfig config;
    config.host = "127.0.0.1";
    config.httpPort = probe.serverPort();
    config.chatPort = probe.serverPort();
    probe.close();
    FakePlatform platform;
    ClientUnderTest controller(QStringLiteral("010"), QStringLiteral("n"), QStringLiteral(""),
                               config, platform);
    platform.addFriendAnswers = {{1, "011", ""}};
    controller.session().directoryActions->addFriend();
    controller.session().directoryActions->createMemoRoom();
    ASSERT_TRUE(waitUntil([&] { return platform.alerts.size() == 2; }));
    EXPECT_EQ(platform.alerts[0].message, "친구 추가 실패");
    EXPECT_EQ(platform.alerts[1].message, "메모방 생성 실패");
    for (const FakePlatform::Alert& alert : platform.alerts) {
        EXPECT_FALSE(alert.informativeText.isEmpty());
        EXPECT_FALSE(alert.informativeText.startsWith(QLatin1String("HTTP")));
    }
}

TEST_F(DirectoryActionsTest, MemoRoomRefreshesThenOpensTheNamedRoom) {
    struct Case {
        const char* name;
        QByteArray answer;
        QString room; // empty: none opened
    };
    const std::vector<Case> cases = {
        {"named", R"({"room_name":"memo:ab12","title":"나의 메모","type":"memo"})", "memo:ab12"},
        {"escaped name", R"({"room_name":"memo:\u0041\/1"})", "memo:A/1"},
        {"no name", R"({"ok":true})", ""},
        {"empty name", R"({"room_name":""})", ""},
        {"not UTF-8", "{\"room_name\":\"\xff\xfe\"}", ""},
        {"empty answer", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        room().close();
        http.setReply("POST", "/v1/rooms", {200, c.answer, std::nullopt});
        http.clearRequests();
        chat.clearFrames();
        QSignalSpy listed(&directory(), &Directory::listsChanged);
        controller->session().directoryActions->createMemoRoom();
        ASSERT_TRUE(waitUntil([&] { return listed.count() == 1; }));
        ASSERT_EQ(requestLines(), QStringList({"POST /v1/rooms"}) + kRefresh);
        EXPECT_EQ(posts().at(0).body,
                  R"({"phone":"01011112222","title":"나의 메모","type":"memo"})");
        EXPECT_TRUE(platform.alerts.isEmpty());
        spin(50);
        if (c.room.isEmpty()) {
            EXPECT_FALSE(room().isOpen());
            EXPECT_EQ(header(), "방을 선택하세요");
            EXPECT_EQ(status(), "친구 1 · 채팅 2");
            EXPECT_TRUE(chat.framesOfType(MessageType::JoinRoom).empty());
        } else {
            EXPECT_EQ(room().room(), c.room);
            EXPECT_EQ(header(), "나의 메모"); // its name, never its id
            // Opened after the refresh, whose counts it replaces.
            EXPECT_EQ(status(), "방 참가: 나의 메모");
            ASSERT_EQ(chat.framesOfType(MessageType::JoinRoom).size(), 1u);
            EXPECT_EQ(chat.framesOfType(MessageType::JoinRoom)[0].fields,
                      FieldList({c.room.toStdString()}));
        }
    }
}

// The "+" menu asks for the memo room's name, "나의 메모" filled in.
TEST_F(DirectoryActionsTest, MemoRoomNameIsAskedFor) {
    struct Case {
        const char* name;
        std::optional<QString> answer;
        QString title; // sent; empty: nothing is created
    };
    const std::vector<Case> cases = {
        {"default kept", QStringLiteral("나의 메모"), "나의 메모"},
        {"own name", QStringLiteral("  여행   계획 "), "여행 계획"},
        {"blank", QStringLiteral("   "), "나의 메모"},
        {"cancelled", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        http.setReply("POST", "/v1/rooms", {200, R"({"room_name":"memo:ab12"})", std::nullopt});
        http.clearRequests();
        platform.clear();
        platform.textAnswers = {c.answer};
        controller->session().directoryActions->createMemoRoom();
        EXPECT_EQ(platform.textQuestions, QStringList({"메모방 이름:"}));
        if (c.title.isEmpty()) {
            spin(50);
            EXPECT_TRUE(posts().empty());
            continue;
        }
        ASSERT_TRUE(waitUntil([&] { return !posts().empty(); }));
        EXPECT_EQ(posts().at(0).body,
                  R"({"phone":"01011112222","title":")" + c.title.toUtf8() + R"(","type":"memo"})");
    }
}

TEST_F(DirectoryActionsTest, LeavingTheOpenRoomClearsItButKeepsTheFindBar) {
    openTeamRoom();
    controller->openFindBar();
    findField()->setText(QStringLiteral("기록"));
    ASSERT_EQ(counter(), "1 / 1");
    http.setReply("POST", "/v1/rooms/leave", {200, R"({"ok":true})", std::nullopt});
    chat.clearFrames();
    platform.alertAnswers = {kFirst};
    QSignalSpy listed(&directory(), &Directory::listsChanged);
    clickButton("leaveButton");

    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "현재 대화방을 나가시겠습니까?");
    EXPECT_EQ(platform.alerts[0].buttons, QStringList({"나가기", "취소"}));
    ASSERT_TRUE(waitUntil([&] { return listed.count() == 1; }));
    EXPECT_EQ(requestLines(), QStringList({"POST /v1/rooms/leave"}) + kRefresh);
    EXPECT_EQ(posts().at(0).body, R"({"phone":"01011112222","room":"r-1"})");
    EXPECT_FALSE(room().isOpen());
    EXPECT_EQ(header(), "방을 선택하세요");
    EXPECT_EQ(transcriptText(), "");
    EXPECT_TRUE(transcript().chatItems().isEmpty());
    EXPECT_EQ(status(), "친구 1 · 채팅 2");
    // The bar stays with its text; the matches went with the transcript.
    EXPECT_TRUE(widget<QWidget>("findBar")->isVisible());
    EXPECT_EQ(findField()->text(), "기록");
    EXPECT_EQ(counter(), "");
    EXPECT_TRUE(transcript().search().matches().isEmpty());
    // The server learns of it through the request alone.
    spin(50);
    EXPECT_TRUE(chat.framesOfType(MessageType::LeaveRoom).empty());
    // Leaving again finds no room: the button is off.
    EXPECT_FALSE(widget<QPushButton>("leaveButton")->isEnabled());
}

TEST_F(DirectoryActionsTest, LeavingFromTheSidebarClearsOnlyTheOpenRoom) {
    struct Case {
        QString room;
        QString question;
        bool isOpen;
    };
    const std::vector<Case> cases = {
        {"r-2", "'가족' 방을 나가시겠습니까?", false},
        // The row's title as shown: opening the room cleared its unread count.
        {"r-1", "'팀' 방을 나가시겠습니까?", true},
    };
    http.setReply("POST", "/v1/rooms/leave", {200, "", std::nullopt});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room.toStdString());
        openTeamRoom();
        showChats();
        const int row = rowOfRoom(c.room);
        ASSERT_GE(row, 0);
        platform.alertAnswers = {kFirst};
        QSignalSpy listed(&directory(), &Directory::listsChanged);
        sideLeave(row);
        ASSERT_EQ(alertMessages(), QStringList({c.question}));
        EXPECT_EQ(platform.alerts[0].buttons, QStringList({"나가기", "취소"}));
        ASSERT_TRUE(waitUntil([&] { return listed.count() == 1; }));
        EXPECT_EQ(requestLines(), QStringList({"POST /v1/rooms/leave"}) + kRefresh);
        EXPECT_EQ(posts().at(0).body,
                  R"({"phone":"01011112222","room":")" + c.room.toUtf8() + "\"}");
        if (c.isOpen) {
            EXPECT_FALSE(room().isOpen());
            EXPECT_EQ(header(), "방을 선택하세요");
            EXPECT_EQ(transcriptText(), "");
        } else {
            EXPECT_EQ(room().room(), "r-1");
            EXPECT_EQ(header(), "팀");
            EXPECT_EQ(transcriptText(), "준호: 팀 방 기록");
        }
        EXPECT_EQ(status(), "친구 1 · 채팅 2");
    }
}

} // namespace
