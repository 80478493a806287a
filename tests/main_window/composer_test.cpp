// Opening rooms, sending from the composer, replies and delete requests.

#include "chat_fixture.h"
#include "conversation.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kTime = QStringLiteral("2024-05-06T07:08:09");
// Items of the transcript's context menu.
constexpr int kReply = 0;
constexpr int kEdit = 1;
constexpr int kDelete = 2;
constexpr int kCopy = 3;

class Composer : public ChatWindow {
protected:
    QPlainTextEdit* composer() const { return ui().composer(); }
    void type(const QString& text) {
        composer()->setPlainText(text);
        composer()->moveCursor(QTextCursor::End);
    }
    void pressReturn(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(composer(), Qt::Key_Return, modifiers);
    }
    std::vector<ReceivedFrame> framesAfterSettle() {
        settle();
        return chat.frames();
    }
    QRect frameOf(QWidget* w) const { return w->geometry(); }
};

TEST_F(Composer, OpeningARoomInOrder) {
    controller->openRoom("r-1", "팀");
    type("남은 글");
    controller->session().room->setReply("5", "준호", "x");
    receive(MessageType::Chat, {"r-1", "준호", "안녕", kTime, "1"});
    ASSERT_FALSE(chatItems().isEmpty());

    controller->openRoom("r-2", QString());
    EXPECT_EQ(controller->openRoomId(), "r-2");
    // Named by the other person, as the lists know the room, never by its id.
    EXPECT_EQ(ui().headerText(), "준호");
    EXPECT_TRUE(named("roomAvatarView")->isVisible());
    EXPECT_EQ(status(), "방 참가: 준호");
    EXPECT_TRUE(chatItems().isEmpty());
    EXPECT_EQ(transcriptText(), "");
    EXPECT_TRUE(controller->session().room->reply().msgId.isNull());
    EXPECT_FALSE(named("replyBar")->isVisible());
    EXPECT_EQ(composer()->toPlainText(), ""); // what was written stays with r-1

    // The same room again: cleared and joined again, not left. An empty title is no name.
    controller->openRoom("r-2", "");
    EXPECT_EQ(ui().headerText(), "준호");
    // No room id: nothing at all.
    controller->openRoom("", "x");
    controller->openRoom(QString(), "x");
    EXPECT_EQ(controller->openRoomId(), "r-2");

    QStringList order;
    for (const ReceivedFrame& f : framesAfterSettle())
        if (f.type == 3 || f.type == 4)
            order << QString::number(f.type) + ":" + QString::fromStdString(f.fields.at(0));
    EXPECT_EQ(order, QStringList({"3:r-1", "4:r-1", "3:r-2", "3:r-2"}));
}

TEST_F(Composer, ReturnSendsTrimmedTextAndShiftReturnBreaksTheLine) {
    controller->openRoom("r-1", "팀");
    type("\n  첫 줄");
    pressReturn(Qt::ShiftModifier);
    composer()->insertPlainText("둘째 줄");
    composer()->insertPlainText("\n \n");
    EXPECT_EQ(composer()->toPlainText(), "\n  첫 줄\n둘째 줄\n \n");
    pressReturn();
    EXPECT_EQ(composer()->toPlainText(), "");
    // Keypad Enter sends too.
    type("둘");
    QTest::keyClick(composer(), Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(chat.waitForFrames(3));
    EXPECT_EQ(sent(5), QList<QStringList>({{"r-1", "첫 줄\n둘째 줄"}, {"r-1", "둘"}}));
    // Shown at once as the user's own, waiting until the server delivers them back.
    const QList<ChatItem> items = chatItems();
    ASSERT_EQ(items.size(), 2);
    for (const ChatItem& item : items) {
        EXPECT_TRUE(item.mine);
        EXPECT_EQ(item.sendState, SendState::Waiting);
        EXPECT_TRUE(item.msgId.isEmpty());
    }
    EXPECT_EQ(items[1].text, "둘");

    // Return in the transcript is not the composer's.
    MessageListView* transcript = named<MessageListView>("chatView");
    transcript->setFocus();
    QTest::keyClick(transcript, Qt::Key_Return);
    EXPECT_EQ(sent(5).size(), 2);
}

TEST_F(Composer, RefusedSendsKeepTheText) {
    struct Case {
        const char* room;
        const char* text;
        bool disconnect;
        const char* status; // nullptr: unchanged
    };
    const Case cases[] = {
        {"r-1", " \n\t\n ", false, nullptr},
        {"r-1", "", false, nullptr},
    };
    for (const Case& c : cases) {
        if (*c.room)
            controller->openRoom(c.room, "x");
        if (c.disconnect)
            controller->session().client->disconnect();
        const QString before = status();
        platform.clear();
        type(QString::fromUtf8(c.text));
        named<QPushButton>("sendBtn")->click();
        EXPECT_EQ(platform.calls, QStringList({"beep"})) << c.text;
        EXPECT_EQ(composer()->toPlainText(), QString::fromUtf8(c.text));
        EXPECT_EQ(status(), c.status ? QString::fromUtf8(c.status) : before);
    }
    EXPECT_TRUE(sent(MessageType::Chat).isEmpty());
}

// Without a connection Return still takes the message: it waits, shown, and goes once signed in.
TEST_F(Composer, OfflineReturnTakesTheMessageAndItGoesAfterTheSignIn) {
    controller->openRoom("r-1", "x");
    controller->session().events->setReconnectDelay(20);
    chat.resetConnection();
    ASSERT_TRUE(waitUntil([&] { return !controller->session().outbox->signedIn(); }));
    type("  안녕 ");
    named<QPushButton>("sendBtn")->click();
    EXPECT_EQ(composer()->toPlainText(), "");
    EXPECT_TRUE(platform.calls.isEmpty());
    ASSERT_EQ(chatItems().size(), 1);
    EXPECT_EQ(chatItems()[0].text, "안녕");
    EXPECT_EQ(chatItems()[0].sendState, SendState::Waiting);
    EXPECT_EQ(controller->session().outbox->waitingCount("r-1"), 1);
    settle();
    EXPECT_TRUE(sent(MessageType::Chat).isEmpty());

    // The client comes back by itself; the server has not answered its sign-in yet.
    ASSERT_TRUE(chat.waitForConnection(2));
    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::Auth).empty(); }));
    settle();
    EXPECT_TRUE(sent(MessageType::Chat).isEmpty());
    chat.sendFrame(MessageType::AuthOk, {});
    ASSERT_TRUE(waitUntil([&] { return !sent(MessageType::Chat).isEmpty(); }));
    EXPECT_EQ(sent(MessageType::Chat), QList<QStringList>({{"r-1", "안녕"}}));
    // The echo, with the request's client id, turns the row into the message in its place.
    const std::string clientId = chat.framesOfType(MessageType::Chat)[0].fields.at(3);
    receive(MessageType::Chat, {"r-1", QString::fromUtf8(kMyNick), "안녕", kTime, "31",
                                QString::fromUtf8(kMyPhone), "", QString::fromStdString(clientId)});
    ASSERT_TRUE(waitUntil([&] { return chatItems().value(0).msgId == "31"; }));
    EXPECT_EQ(chatItems().size(), 1);
    EXPECT_EQ(chatItems()[0].sendState, SendState::Sent);
    EXPECT_EQ(controller->session().outbox->size(), 0);
}

TEST_F(Composer, WithoutARoomNothingCanBeTypedOrSent) {
    ASSERT_FALSE(controller->session().room->isOpen());
    EXPECT_FALSE(composer()->isEnabled());
    EXPECT_FALSE(named<QPushButton>("sendBtn")->isEnabled());
    QTest::keyClicks(composer(), "hi");
    QTest::keyClick(composer(), Qt::Key_Return);
    EXPECT_EQ(composer()->toPlainText(), "");
    // The send request itself still refuses, should it come another way.
    controller->session().conversation->send("안녕");
    EXPECT_EQ(platform.calls, QStringList({"beep"}));
    settle();
    EXPECT_TRUE(sent(MessageType::Chat).isEmpty());
}

TEST_F(Composer, ReplyBarGeometryAndSending) {
    QWidget* bottom = named("bottomContainer");
    const int w = bottom->width();
    const int h = bottom->height();
    controller->openRoom("r-1", "팀");
    EXPECT_EQ(frameOf(named("composeScroll")), QRect(0, 0, w - 156, h));

    receive(MessageType::Chat, {"r-1", "준호", "질문", kTime, "17"});
    chooseInChatMenu(kReply);
    EXPECT_EQ(controller->session().room->reply().msgId, "17");
    EXPECT_EQ(controller->session().room->reply().sender, "준호");
    EXPECT_TRUE(named("replyBar")->isVisible());
    EXPECT_EQ(named<QLabel>("replyPreviewLabel")->text(), "준호 님에게 답장: 질문");
    const QLabel* preview = named<QLabel>("replyPreviewLabel");
    EXPECT_GE(preview->height(), preview->fontMetrics().height()); // descenders not clipped
    EXPECT_LE(preview->geometry().bottom(), named("replyBar")->height());
    EXPECT_EQ(frameOf(named("replyBar")), QRect(0, 0, w, 24));
    EXPECT_EQ(frameOf(named("composeScroll")), QRect(0, 24, w - 156, h - 24));
    EXPECT_TRUE(composer()->hasFocus() || !QApplication::activeWindow());

    type("답");
    pressReturn();
    EXPECT_FALSE(named("replyBar")->isVisible());
    EXPECT_TRUE(controller->session().room->reply().msgId.isNull());
    EXPECT_EQ(frameOf(named("composeScroll")), QRect(0, 0, w - 156, h));
    type("그냥");
    pressReturn();
    ASSERT_TRUE(chat.waitForFrames(4));
    EXPECT_EQ(sent(5), QList<QStringList>({{"r-1", "답", "17"}, {"r-1", "그냥"}}));

    // "✕" drops the reply.
    chooseInChatMenu(kReply);
    ASSERT_TRUE(named("replyBar")->isVisible());
    named<QAbstractButton>("replyCancelButton")->click();
    EXPECT_FALSE(named("replyBar")->isVisible());
    EXPECT_TRUE(controller->session().room->reply().sender.isNull());
}

TEST_F(Composer, ReplyTargetsTheClickedEntryOrTheNewest) {
    controller->openRoom("r-1", "팀");
    EXPECT_FALSE(chooseInChatMenu(kReply)); // nothing yet
    receive(MessageType::Chat, {"r-1", "준호", "하나", kTime, "1"});
    receive(MessageType::Chat, {"r-1", "서연", "둘", kTime, "2"});
    receive(MessageType::RoomNotice, {"r-1", "공지"});
    EXPECT_TRUE(chooseInChatMenu(kReply)); // off any entry: the newest entry
    EXPECT_EQ(controller->session().room->reply().msgId, "2");
    EXPECT_TRUE(chooseInChatMenu(kReply, pointAt("하나"))); // on an entry: that one
    EXPECT_EQ(controller->session().room->reply().msgId, "1");
    EXPECT_EQ(controller->session().room->reply().sender, "준호");
    EXPECT_TRUE(chooseInChatMenu(kReply, pointAt("공지"))); // a system line: the newest
    EXPECT_EQ(controller->session().room->reply().msgId, "2");
    controller->session().room->cancelReply();

    // Entries without an id cannot be answered, clicked or newest.
    receive(MessageType::Chat, {"r-1", "준호", "id 없음"});
    EXPECT_FALSE(chooseInChatMenu(kReply));
    EXPECT_FALSE(chooseInChatMenu(kReply, pointAt("id 없음")));
    EXPECT_TRUE(controller->session().room->reply().msgId.isNull());
    EXPECT_FALSE(named("replyBar")->isVisible());

    // The menu keeps the entry it was opened for, even when the transcript changes under it.
    emit ui().transcript().view()->customContextMenuRequested(pointAt("하나"));
    controller->openRoom("r-2", QString());
    chatMenu()->actions().at(kReply)->trigger();
    chatMenu()->hide();
    EXPECT_TRUE(controller->session().room->reply().msgId.isNull());
}

TEST_F(Composer, EditingAnOwnMessageSendsItsNewText) {
    controller->openRoom("r-1", "팀");
    receive(MessageType::Chat, {"r-1", "준호", "남의 글", kTime, "1"});
    receive(MessageType::Chat, {"r-1", "민지", "내 글", kTime, "2"});
    receive(MessageType::FileMeta, {"r-1", "민지", "f1", "내 파일.txt", "3", kTime, "3"});
    // Only an own text message with an id can be edited.
    EXPECT_FALSE(chooseInChatMenu(kEdit, pointAt("남의 글")));
    EXPECT_FALSE(chooseInChatMenu(kEdit, pointAt("내 파일")));
    ASSERT_TRUE(chooseInChatMenu(kEdit, pointAt("내 글")));
    EXPECT_EQ(composer()->toPlainText(), "내 글");
    EXPECT_TRUE(named("replyBar")->isVisible());
    EXPECT_EQ(named<QLabel>("replyPreviewLabel")->text(), "메시지 수정 중");

    // Escape gives up the edit and its text.
    QTest::keyClick(composer(), Qt::Key_Escape);
    EXPECT_TRUE(controller->session().room->editing().isEmpty());
    EXPECT_FALSE(named("replyBar")->isVisible());
    EXPECT_EQ(composer()->toPlainText(), "");

    // Return sends the edit for that id instead of a new message.
    ASSERT_TRUE(chooseInChatMenu(kEdit, pointAt("내 글")));
    composer()->setPlainText("고친 글");
    QTest::keyClick(composer(), Qt::Key_Return);
    settle();
    EXPECT_EQ(sent(MessageType::ChatEdit), QList<QStringList>({{"r-1", "2", "고친 글"}}));
    EXPECT_TRUE(sent(MessageType::Chat).isEmpty());
    EXPECT_EQ(composer()->toPlainText(), "");
    EXPECT_FALSE(named("replyBar")->isVisible());

    // A reply ends an edit, and opening another room too.
    ASSERT_TRUE(chooseInChatMenu(kEdit, pointAt("내 글")));
    ASSERT_TRUE(chooseInChatMenu(kReply, pointAt("남의 글")));
    EXPECT_TRUE(controller->session().room->editing().isEmpty());
    EXPECT_EQ(controller->session().room->reply().msgId, "1");
    ASSERT_TRUE(chooseInChatMenu(kEdit, pointAt("내 글")));
    controller->openRoom("r-2", "가족");
    EXPECT_TRUE(controller->session().room->editing().isEmpty());
    EXPECT_FALSE(named("replyBar")->isVisible());
}

TEST_F(Composer, DeleteAsksForTheClickedOwnMessage) {
    EXPECT_FALSE(chooseInChatMenu(kDelete)); // no room open
    // Asked for without a target: the old answer.
    controller->session().conversation->deleteEntry(QString());
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "삭제할 본인 메시지가 없습니다.");
    EXPECT_TRUE(platform.alerts[0].buttons.isEmpty());
    platform.clear();

    controller->openRoom("r-1", "팀");
    receive(MessageType::Chat, {"r-1", "준호", "남의 글", kTime, "1"});
    EXPECT_FALSE(chooseInChatMenu(kDelete));
    EXPECT_FALSE(chooseInChatMenu(kDelete, pointAt("남의 글")));

    const QString longText = QString(50, QChar(u'글'));
    receive(MessageType::Chat, {"r-1", "민지", longText, kTime, "2"});
    receive(MessageType::Chat, {"r-1", "01011112222", "내 글 2", kTime, "3"});
    receive(MessageType::Chat, {"r-1", "민지", "id 없는 내 글"});
    receive(MessageType::Chat, {"r-1", "준호", "남의 글 둘", kTime, "4"});
    EXPECT_FALSE(chooseInChatMenu(kDelete, pointAt("id 없는 내 글")));
    EXPECT_TRUE(platform.alerts.isEmpty());

    // "취소": nothing is sent.
    platform.alertAnswers = {Platform::kFirstButton + 1};
    EXPECT_TRUE(chooseInChatMenu(kDelete, pointAt(longText)));
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "이 메시지를 삭제할까요?");
    EXPECT_EQ(platform.alerts[0].informativeText, QString(40, QChar(u'글')));
    EXPECT_EQ(platform.alerts[0].buttons, QStringList({"삭제", "취소"}));
    settle();
    EXPECT_TRUE(sent(11).isEmpty());

    // "삭제" on the clicked entry, then off any entry: the newest own one with an id.
    EXPECT_TRUE(chooseInChatMenu(kDelete, pointAt(longText)));
    EXPECT_EQ(status(), "메시지 삭제 요청을 보냈습니다.");
    EXPECT_FALSE(transcriptText().contains("삭제 요청"));
    EXPECT_EQ(chatItems().size(), 5); // the entry stays until the server says so
    EXPECT_TRUE(chooseInChatMenu(kDelete));
    EXPECT_EQ(platform.alerts.last().informativeText, "내 글 2");
    ASSERT_TRUE(waitUntil([&] { return sent(11).size() == 2; }));
    EXPECT_EQ(sent(11), QList<QStringList>({{"r-1", "2"}, {"r-1", "3"}}));

    // Once the server removed it, it is offered no more.
    receive(MessageType::ChatDelete, {"r-1", "3"});
    EXPECT_FALSE(chooseInChatMenu(kDelete, pointAt("삭제된 메시지입니다")));
    EXPECT_FALSE(chooseInChatMenu(kReply, pointAt("삭제된 메시지입니다")));

    // A room change while the question is up drops the request.
    platform.alertAnswers = {Platform::kFirstButton};
    platform.duringAlert = [&] { controller->openRoom("r-2", QString()); };
    EXPECT_TRUE(chooseInChatMenu(kDelete, pointAt(longText)));
    settle();
    EXPECT_EQ(sent(11).size(), 2);
}

// "복사" and Ctrl+C copy the message the pointer chose: its whole text, line breaks kept, or a
// file's name; lines and empty space offer nothing to copy.
TEST_F(Composer, CopyTakesTheChosenMessage) {
    controller->openRoom("r-1", "팀");
    receive(MessageType::Chat, {"r-1", "준호", "첫 줄\n둘째 줄", kTime, "1"});
    receive(MessageType::FileMeta, {"r-1", "준호", "f1", "보고서.pdf", "3", kTime, "2"});
    receive(MessageType::RoomNotice, {"r-1", "공지"});
    MessageListView* view = ui().transcript().view();
    QClipboard* clipboard = QApplication::clipboard();
    EXPECT_FALSE(chooseInChatMenu(kCopy)); // nothing chosen yet

    const struct {
        const char* rowText;
        const char* copied; // nullptr: nothing to copy
    } cases[] = {
        {"첫 줄", "첫 줄\n둘째 줄"},
        {"보고서.pdf", "보고서.pdf"},
        {"공지", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rowText);
        clipboard->setText(QStringLiteral("그대로"));
        const QPoint at = pointAt(QString::fromUtf8(c.rowText));
        // A right button press chooses the message the menu is for.
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, at);
        EXPECT_EQ(chooseInChatMenu(kCopy, at), c.copied != nullptr);
        EXPECT_EQ(clipboard->text(), c.copied ? QString::fromUtf8(c.copied) : "그대로");
    }

    // A left click chooses too, and Ctrl+C in the transcript copies it.
    clipboard->setText(QStringLiteral("그대로"));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, pointAt("보고서.pdf"));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "보고서.pdf");
}

} // namespace
