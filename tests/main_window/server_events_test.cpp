// Frames from the server turned into transcript lines, status texts, read marks, notifications
// and call refusals; the connection's status texts and retries.

#include "chat_client.h"
#include "chat_fixture.h"
#include "transcript_points.h"

#include <QLineEdit>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kTime = QStringLiteral("2024-05-06T07:08:09");

class ServerEvents : public ChatWindow {
protected:
    void openRoom(const QString& room = QStringLiteral("r-1")) {
        controller->openRoom(room, QStringLiteral("팀"));
        settle();
        chat.clearFrames();
        platform.clear();
    }
};

// Each type with too few, exactly enough and more fields, for the open room.
struct FieldCountCase {
    quint8 type;
    QStringList fields;
    QString transcript;   // "" when nothing is shown
    QString replyTo = {}; // what the shown message answers
};

class FieldCounts : public ServerEvents, public ::testing::WithParamInterface<FieldCountCase> {};

TEST_P(FieldCounts, ShowExactlyWhatTheMinimumAllows) {
    openRoom();
    receive(GetParam().type, GetParam().fields);
    EXPECT_EQ(transcriptText(), GetParam().transcript);
    if (!chatItems().isEmpty()) {
        EXPECT_EQ(chatItems().last().replyTo, GetParam().replyTo);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, FieldCounts,
    ::testing::Values(
        FieldCountCase{MessageType::Chat, {"r-1", "준호"}, ""},
        FieldCountCase{MessageType::Chat, {"r-1", "준호", "안녕"}, "준호: 안녕"},
        FieldCountCase{MessageType::Chat,
                       {"r-1", "준호", "안녕", kTime, "9", "x", "4", "extra"},
                       "준호, 07:08: 안녕",
                       "4"},
        // Edits and deletions of entries not in view leave a marker line.
        FieldCountCase{MessageType::RoomNotice, {"r-1"}, ""},
        FieldCountCase{MessageType::RoomNotice, {"r-1", "공지", "extra"}, "공지"},
        FieldCountCase{MessageType::FileMeta, {"r-1", "준호", "f1"}, ""},
        FieldCountCase{
            MessageType::FileMeta, {"r-1", "준호", "f1", "a b.txt"}, "준호: 파일 a b.txt"},
        FieldCountCase{MessageType::FileMeta,
                       {"r-1", "준호", "", "a.txt", "3", kTime, "9"},
                       "준호, 07:08: 파일 a.txt 3 B"},
        FieldCountCase{MessageType::ChatEdit, {"r-1", "9"}, ""},
        FieldCountCase{MessageType::ChatEdit, {"r-1", "9", "고침", "extra"}, "[수정 #9] 고침"},
        FieldCountCase{MessageType::ChatDelete, {"r-1"}, ""},
        FieldCountCase{MessageType::ChatDelete, {"r-1", "9"}, "[메시지 삭제됨 #9]"},
        FieldCountCase{MessageType::QuietEvent, {"r-1", "x", "y"}, ""},
        FieldCountCase{MessageType::ServerError, {"oops"}, ""},
        FieldCountCase{MessageType::ServerError, {"", "권한 없음"}, "[오류] 권한 없음"},
        FieldCountCase{MessageType::CallInvite, {""}, "[통화] 상대 수신 → 자동 거절 (WebRTC 없음)"},
        FieldCountCase{MessageType::Auth, {"r-1", "a", "b"}, ""},
        FieldCountCase{MessageType::ReadWatermark, {"r-1", "9"}, ""},
        FieldCountCase{200, {"r-1", "a", "b"}, ""})); // 200: a type this client does not know

TEST_F(ServerEvents, LineBreakRulesAcrossKinds) {
    openRoom();
    receive(MessageType::RoomNotice, {"r-1", "들어왔습니다"});
    receive(MessageType::Chat, {"r-1", "준호", "하나", kTime, "1"});
    receive(MessageType::Chat, {"r-1", "민지", "둘", kTime, "2", "", "1"});
    receive(MessageType::ChatDelete, {"r-1", "1"});
    receive(MessageType::FileMeta, {"r-1", "준호", "f1", "사진.png", "10", kTime, "3"});
    // One row per notice and message; a reply's quote is inside its bubble, not a row.
    EXPECT_EQ(transcriptText(), "들어왔습니다\n"
                                "준호, 07:08: 삭제된 메시지입니다\n"
                                "민지, 07:08: 둘\n"
                                "준호, 07:08: 파일 사진.png 10 B");
    const ChatItem file = chatItems().at(2);
    EXPECT_TRUE(file.isFile);
    EXPECT_EQ(file.fileId, "f1");
    EXPECT_EQ(file.fileSize, 10);
    EXPECT_EQ(chatItems().at(1).replyTo, "1");
    ASSERT_EQ(chatItems().size(), 3);
    EXPECT_TRUE(chatItems().at(1).mine);
    EXPECT_FALSE(chatItems().at(0).mine);
    EXPECT_EQ(chatItems().at(2).fileId, "f1");
    EXPECT_EQ(chatItems().at(2).time, "07:08");
}

TEST_F(ServerEvents, ABurstKeepsItsOrderAcrossTurnsAndTheLossComesLast) {
    openRoom();
    const int burst = 1000;
    for (int i = 0; i < burst; ++i)
        receive(MessageType::Chat,
                {"r-1", "준호", QString::number(i), kTime, QString::number(i + 1)});
    // A loss reported behind the burst is shown after it.
    controller->session().events->chatDisconnected("서버 연결 종료");
    EXPECT_LT(chatItems().size(), burst);
    EXPECT_FALSE(status().startsWith("끊김"));
    ASSERT_TRUE(waitUntil([&] { return chatItems().size() == burst; }));
    for (int i = 0; i < burst; ++i)
        ASSERT_EQ(chatItems().at(i).text, QString::number(i));
    ASSERT_TRUE(waitUntil([&] { return status() == "끊김: 서버 연결 종료 — 재연결 예정"; }));
    EXPECT_TRUE(controller->session().events->reconnectPending());
}

// A flood from the socket waits in the network while the window catches up: the decoded backlog
// stays bounded, nothing is lost and the order holds.
TEST_F(ServerEvents, AFloodWaitsInTheNetworkNotInMemory) {
    openRoom();
    const int flood = 20000;
    QByteArray bytes;
    for (int i = 1; i <= flood; ++i)
        bytes += QByteArray::fromStdString(ChatProtocol::encodeType(
            MessageType::Chat, {"r-1", "준호", "글 " + std::to_string(i), "", std::to_string(i)}));
    chat.sendBytes(bytes);
    std::size_t most = 0;
    QString previous;
    bool ordered = true;
    ASSERT_TRUE(waitUntil(
        [&] {
            most = std::max(most, controller->session().events->backlogSize());
            const QList<ChatItem>& items = chatItems();
            for (int i = 1; i < items.size() && ordered; i += 97)
                ordered = items[i - 1].msgId.toInt() + 1 == items[i].msgId.toInt();
            return !items.isEmpty() && items.constLast().msgId == QString::number(flood);
        },
        60000));
    EXPECT_TRUE(ordered);
    // What one read of the socket's buffer can hold comes on top of the limit.
    EXPECT_LT(most, ChatEvents::kMaxBacklog + ChatClient::kReadBufferBytes / 30);
    EXPECT_LT(most, std::size_t(flood / 2));
    EXPECT_FALSE(controller->session().client->readingPaused());
}

TEST_F(ServerEvents, NetworkTextIsNeverMarkup) {
    openRoom();
    const QString markup = QStringLiteral("<b>x</b><img src=\"file:///etc/passwd\">");
    receive(MessageType::Chat, {"r-1", "<i>준호</i>", markup, kTime, "1"});
    receive(MessageType::RoomNotice, {"r-1", markup});
    receive(MessageType::FileMeta, {"r-1", "<u>a</u>", "f1", markup});
    receive(MessageType::ServerError, {"", markup});
    const QString text = transcriptText();
    EXPECT_EQ(text.count(markup), 4);
    // Each text is read as written, the markup's characters and all.
    EXPECT_EQ(text, "<i>준호</i>, 07:08: " + markup + "\n" + markup + "\n<u>a</u>: 파일 " + markup +
                        "\n[오류] " + markup);
    EXPECT_EQ(chatItems().at(0).sender, "<i>준호</i>");
    // The senders have no pictures and the markup's image loads none.
    EXPECT_EQ(ui().transcript().pictureResourceCount(), 0);
}

TEST_F(ServerEvents, ChatForTheOpenRoomIsShownAndMarkedRead) {
    openRoom();
    receive(MessageType::Chat, {"r-1", "준호", "안녕", kTime, "41", "", ""});
    ASSERT_TRUE(chat.waitForFrames(1));
    EXPECT_EQ(sent(12), QList<QStringList>({{"r-1", "41"}}));
    // Active application with this room open: no notification.
    EXPECT_TRUE(platform.calls.isEmpty());
    // Exactly three fields: no id, so no read mark.
    receive(MessageType::Chat, {"r-1", "준호", "둘"});
    settle();
    EXPECT_EQ(sent(12).size(), 1);
    // In the background even the open room is announced.
    platform.active = false;
    receive(MessageType::Chat, {"r-1", "준호", "셋", kTime, "42"});
    ASSERT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(platform.notifications[0].title, "준호");
    EXPECT_EQ(platform.notifications[0].body, "셋");
}

TEST_F(ServerEvents, OtherRoomsGoToTheStatusLineAndNotify) {
    openRoom();
    const QString before = transcriptText();
    receive(MessageType::Chat, {"r-9", "준호", "[sticker:12]", kTime, "7"});
    EXPECT_EQ(status(), "새 메시지 · 준호: [이모티콘]");
    ASSERT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(platform.notifications[0].body, "[이모티콘]");
    EXPECT_EQ(platform.calls, QStringList({"beep", "attention", "notify"}));

    receive(MessageType::FileMeta, {"r-9", "준호", "f1", "보고서.pdf"});
    EXPECT_EQ(status(), "파일 · 준호: 보고서.pdf");
    EXPECT_EQ(platform.notifications.last().body, "[파일] 보고서.pdf");

    // Own messages elsewhere: no status change, no notification.
    platform.clear();
    const QString shown = status();
    for (const QString& me : {QStringLiteral("민지"), QStringLiteral("01011112222")}) {
        receive(MessageType::Chat, {"r-9", me, "내 글", kTime, "8"});
        receive(MessageType::FileMeta, {"r-9", me, "f2", "x"});
    }
    EXPECT_EQ(status(), shown);
    EXPECT_TRUE(platform.calls.isEmpty());
    // Edits, deletions and notices of other rooms change nothing.
    receive(MessageType::ChatEdit, {"r-9", "7", "고침"});
    receive(MessageType::ChatDelete, {"r-9", "7"});
    receive(MessageType::RoomNotice, {"r-9", "공지"});
    EXPECT_EQ(transcriptText(), before);
    settle();
    EXPECT_TRUE(sent(12).isEmpty());
}

TEST_F(ServerEvents, EditsAndDeletionsChangeTheEntryInView) {
    openRoom();
    receive(MessageType::Chat, {"r-1", "준호", "원래 글", kTime, "1"});
    receive(MessageType::Chat, {"r-1", "준호", "지울 글", kTime, "2"});
    receive(MessageType::Chat, {"r-1", "민지", "답", kTime, "3", "", "1"});
    receive(MessageType::ChatEdit, {"r-1", "1", "고친 글"});
    receive(MessageType::ChatDelete, {"r-1", "2"});
    receive(MessageType::ChatEdit, {"r-9", "1", "다른 방"}); // another room's id
    receive(MessageType::ChatDelete, {"r-1", "77"});         // not in view
    EXPECT_EQ(transcriptText(), "준호, 07:08: 고친 글 (수정됨)\n"
                                "준호, 07:08: 삭제된 메시지입니다\n"
                                "민지, 07:08: 답\n"
                                "[메시지 삭제됨 #77]");
    // The reply's quote, drawn in its bubble, is the answered message as it is now.
    ASSERT_EQ(chatItems().size(), 3);
    EXPECT_EQ(chatItems()[2].replyTo, "1");
    const ChatItem* answered = ui().transcript().model().answered(chatItems()[2]);
    ASSERT_NE(answered, nullptr);
    EXPECT_EQ(answered->text, "고친 글");
    EXPECT_TRUE(answered->edited);
    EXPECT_TRUE(chatItems()[1].deleted);
    EXPECT_EQ(chatItems()[0].text, "고친 글");
    EXPECT_EQ(chatItems()[1].text, "삭제된 메시지입니다");
    ui().openFindBar();
    named<QLineEdit>("findSearchField")->setText("지울");
    EXPECT_EQ(named<QLabel>("findResultLabel")->text(), "결과 없음");
}

TEST_F(ServerEvents, TheSendersPhoneDecidesWhatIsMine) {
    openRoom();
    const QString me = QString::fromLatin1(kMyPhone);
    // Fields: room, sender, text, time, id, sender's phone.
    receive(MessageType::Chat, {"r-1", "민지", "같은 별명", kTime, "1", "01099998888"});
    receive(MessageType::Chat, {"r-1", "다른 별명", "내 글", kTime, "2", me});
    receive(MessageType::Chat, {"r-1", "민지", "전화 없음", kTime, "3", ""});
    // Files: room, sender, file id, name, size, time, id, then the sender's phone.
    receive(MessageType::FileMeta,
            {"r-1", "민지", "f1", "남의.txt", "1", kTime, "4", "01099998888"});
    receive(MessageType::FileMeta, {"r-1", "다른 별명", "f2", "내.txt", "1", kTime, "5", me});
    receive(MessageType::FileMeta, {"r-1", "민지", "f3", "전화 없음.txt", "1", kTime, "6"});
    ASSERT_EQ(chatItems().size(), 6);
    EXPECT_FALSE(chatItems()[0].mine);
    EXPECT_TRUE(chatItems()[1].mine);
    EXPECT_TRUE(chatItems()[2].mine); // the nickname rule without the phone
    EXPECT_FALSE(chatItems()[3].mine);
    EXPECT_TRUE(chatItems()[4].mine);
    EXPECT_TRUE(chatItems()[5].mine);

    // Another user with the user's nickname is announced; the user's own phone is not.
    platform.clear();
    receive(MessageType::Chat, {"r-9", "민지", "동명이인", kTime, "4", "01099998888"});
    EXPECT_EQ(status(), "새 메시지 · 민지: 동명이인");
    EXPECT_EQ(platform.notifications.size(), 1);
    receive(MessageType::Chat, {"r-9", "아무개", "내 글", kTime, "5", me});
    EXPECT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(status(), "새 메시지 · 민지: 동명이인");
}

TEST_F(ServerEvents, AddressesOpenThroughTheDesktop) {
    openRoom();
    receive(MessageType::Chat, {"r-1", "준호", "여기 https://a.kr/x 봐", kTime, "1"});
    MessageListView* view = named<MessageListView>("chatView");
    ui().transcript().flush();
    const QPoint link = linkPointIn(view, ui().transcript().rowOfMsgId("1"));
    ASSERT_FALSE(link.isNull());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, link);
    ASSERT_EQ(platform.openedUrls.size(), 1);
    EXPECT_EQ(platform.openedUrls[0], QUrl("https://a.kr/x"));
    EXPECT_EQ(platform.count("openUrl"), 1);
}

TEST_F(ServerEvents, TagLabels) {
    openRoom();
    const std::pair<QString, QString> cases[] = {
        {"[sticker:1]", "[이모티콘]"}, {"[file:x]", "[파일]"},       {"[loc:1,2]", "[위치]"},
        {"[call:x]", "[통화]"},        {"hi [loc:1]", "hi [loc:1]"}, {"[sticker", "[sticker"},
    };
    for (const auto& [text, shown] : cases) {
        receive(MessageType::Chat, {"r-1", "준호", text});
        EXPECT_EQ(chatItems().last().text, shown) << text.toStdString();
    }
}

TEST_F(ServerEvents, NothingOpenStillShowsErrorsButNotEdits) {
    receive(MessageType::ChatEdit, {"", "1", "x"});
    receive(MessageType::ChatDelete, {"", "1"});
    receive(MessageType::RoomNotice, {"", "x"});
    receive(MessageType::Chat, {"", "준호", "안녕"}); // "" is not an open room
    EXPECT_EQ(transcriptText(), "");
    EXPECT_EQ(status(), "새 메시지 · 준호: 안녕");
    receive(MessageType::ServerError, {"x", "서버 오류"});
    EXPECT_EQ(transcriptText(), "[오류] 서버 오류");
}

TEST_F(ServerEvents, CallsAreRefusedAndAnnounced) {
    receive(MessageType::CallInvite, {""});
    EXPECT_EQ(status(), "통화 수신(미지원) · 상대 — 자동 거절");
    ASSERT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(platform.notifications[0].title, "수신 전화");
    EXPECT_EQ(platform.notifications[0].body, "상대 (WebRTC 미지원 — 자동 거절)");
    EXPECT_EQ(transcriptText(), ""); // no room open

    openRoom();
    receive(MessageType::CallInvite, {"c-1", "준호", "extra"});
    EXPECT_EQ(platform.notifications.size(), 1); // even for the active application
    EXPECT_EQ(transcriptText(), "[통화] 준호 수신 → 자동 거절 (WebRTC 없음)");
    ASSERT_TRUE(chat.waitForFrames(1));
    EXPECT_EQ(sent(19), QList<QStringList>({{"c-1", "unsupported"}}));
}

TEST_F(ServerEvents, AuthOkRejoinsTheOpenRoomAndRefreshes) {
    http.clearRequests();
    receive(MessageType::AuthOk, {""});
    EXPECT_EQ(status(), "로그인 완료");
    // The lists follow on their own.
    ASSERT_TRUE(waitUntil([&] { return status() == "친구 3 · 채팅 3"; }));
    EXPECT_EQ(http.requests().size(), 2u);
    settle();
    EXPECT_TRUE(sent(3).isEmpty());

    openRoom();
    http.clearRequests();
    receive(MessageType::AuthOk, {});
    ASSERT_TRUE(chat.waitForFrames(1));
    EXPECT_EQ(sent(3), QList<QStringList>({{"r-1"}}));
    ASSERT_TRUE(controller->waitForLists());
    EXPECT_EQ(http.requests().size(), 2u);
}

TEST_F(ServerEvents, LossRetriesUntilTheServerAnswers) {
    openRoom();
    ChatEvents& events = *controller->session().events;
    chat.resetConnection();
    ASSERT_TRUE(waitUntil([&] { return events.reconnectPending(); }));
    EXPECT_TRUE(status().startsWith("끊김: "));
    EXPECT_TRUE(status().endsWith(" — 재연결 예정"));
    // A newer loss replaces the pending retry: still one, not two.
    events.chatDisconnected("쓰기 실패");
    EXPECT_EQ(status(), "끊김: 쓰기 실패 — 재연결 예정");
    ASSERT_TRUE(events.reconnectPending());
    // Shortened for the test; the pending retry takes the new delay.
    events.setReconnectDelay(50);
    ASSERT_TRUE(chat.waitForConnection(2));
    EXPECT_FALSE(events.reconnectPending());
    settle();
    EXPECT_EQ(chat.connectionCount(), 2);
    // Signed in again: the open room is joined anew.
    ASSERT_TRUE(chat.waitForFrames(1));
    chat.sendFrame(MessageType::AuthOk, {});
    ASSERT_TRUE(waitUntil([&] { return !sent(3).isEmpty(); }));
    EXPECT_EQ(sent(3).last(), QStringList({"r-1"}));
    EXPECT_TRUE(waitUntil([&] { return status() == "친구 3 · 채팅 3"; }));
}

} // namespace
