// Moving between rooms from the keyboard and the mouse, and what each room keeps unsent.

#include "chat_events.h"
#include "chat_protocol.h"
#include "client_under_test.h"
#include "conversation.h"
#include "main_window.h"
#include "room_session.h"
#include "segmented_control.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"
#include "signed_in_window.h"
#include "transcript_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class RoomKeys : public ::testing::Test, protected SignedInWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(start(R"([{"phone":"01033334444","nick":"준호"}])",
                          R"([{"room_name":"r-1","title":"팀"},{"room_name":"r-2","title":"가족"},)"
                          R"({"room_name":"r-3","title":"동아리"}])"));
        QApplication::setActiveWindow(controller->window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    }
    MainWindow& ui() const { return *controller->session().window; }
    QPlainTextEdit* composer() const { return ui().composer(); }
    QString openRoom() const { return controller->openRoomId(); }
    void showChats() { controller->showSidebar(SidebarController::Mode::Chats); }
    QPoint rowCentre(int row) const {
        QTableView* table = ui().sideTable();
        return table->visualRect(table->model()->index(row, SidebarModel::NameColumn)).center();
    }
    void type(const QString& text) { composer()->insertPlainText(text); }
    // As a person does it: the view acts on a double click only over the row the first click
    // pressed.
    void doubleClickRow(int row) {
        QTest::mouseClick(ui().sideTable()->viewport(), Qt::LeftButton, {}, rowCentre(row));
        QTest::mouseDClick(ui().sideTable()->viewport(), Qt::LeftButton, {}, rowCentre(row));
    }
    // The user's own message `msgId` as the server echoes it, shown in the open room.
    void ownMessage(const QString& msgId, const QString& text) {
        controller->receiveFrame(MessageType::Chat,
                                 {openRoom().toStdString(), "민지", text.toStdString(),
                                  "2026-12-10T07:08:00Z", msgId.toStdString(), "01011112222"});
        ASSERT_TRUE(waitUntil([&] { return ui().transcript().rowOfMsgId(msgId) >= 0; }));
    }
};

TEST_F(RoomKeys, OpeningARoomPutsTheCursorInTheComposer) {
    QTableView* table = ui().sideTable();
    struct Case {
        const char* how;
        std::function<void()> open;
        QString room;
    };
    const Case cases[] = {
        {"click on a room",
         [&] {
             showChats();
             QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCentre(1));
         },
         "r-2"},
        {"double click on a room",
         [&] {
             showChats();
             doubleClickRow(2);
         },
         "r-3"},
        {"Return on a room",
         [&] {
             showChats();
             table->setFocus();
             table->setCurrentIndex(table->model()->index(0, SidebarModel::NameColumn));
             QTest::keyClick(table, Qt::Key_Return);
         },
         "r-1"},
        {"double click on a friend",
         [&] {
             controller->showSidebar(SidebarController::Mode::Friends);
             doubleClickRow(0);
         },
         "dm:01011112222:01033334444"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        controller->closeRoom();
        table->setFocus();
        ASSERT_TRUE(waitUntil([&] { return table->hasFocus(); }));
        c.open();
        EXPECT_EQ(openRoom(), c.room);
        EXPECT_TRUE(waitUntil([&] { return composer()->hasFocus(); }));
    }
    // A single click on a friend opens nothing: two open the conversation, as with a profile.
    controller->closeRoom();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCentre(0));
    EXPECT_FALSE(controller->session().room->isOpen());
}

TEST_F(RoomKeys, TheClickBeforeADoubleClickOpensTheRoomOnce) {
    showChats();
    QSignalSpy opened(controller->session().room.get(), &RoomSession::roomChanged);
    doubleClickRow(1);
    EXPECT_EQ(openRoom(), "r-2");
    EXPECT_EQ(opened.count(), 1);
    EXPECT_TRUE(waitUntil([&] { return composer()->hasFocus(); }));
}

TEST_F(RoomKeys, EscapeCancelsAReplyAsItCancelsAnEdit) {
    controller->openRoom("r-1", "팀");
    composer()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return composer()->hasFocus(); }));
    type("쓰던 말");
    controller->session().room->setReply("5", "준호", "원래 말");
    ASSERT_TRUE(ui().window()->findChild<QWidget*>("replyBar")->isVisible());
    QTest::keyClick(composer(), Qt::Key_Escape);
    EXPECT_TRUE(controller->session().room->reply().msgId.isEmpty());
    EXPECT_FALSE(ui().window()->findChild<QWidget*>("replyBar")->isVisible());
    EXPECT_EQ(composer()->toPlainText(), "쓰던 말"); // only the reply goes
    // With nothing pending, Escape changes nothing.
    QTest::keyClick(composer(), Qt::Key_Escape);
    EXPECT_EQ(composer()->toPlainText(), "쓰던 말");
    EXPECT_EQ(openRoom(), "r-1");
}

TEST_F(RoomKeys, AltUpAndDownStepThroughTheChatsList) {
    // From the friends list: the chats list comes first, and with no room open Down starts at
    // the top.
    QTest::keyClick(ui().window(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Chats);
    EXPECT_EQ(openRoom(), "r-1");
    EXPECT_TRUE(waitUntil([&] { return composer()->hasFocus(); }));
    const struct {
        Qt::Key key;
        QString room;
    } steps[] = {
        {Qt::Key_Down, "r-2"}, {Qt::Key_Down, "r-3"}, {Qt::Key_Down, "r-3"}, // stays at the end
        {Qt::Key_Up, "r-2"},   {Qt::Key_Up, "r-1"},   {Qt::Key_Up, "r-1"},
    };
    for (const auto& step : steps) {
        QTest::keyClick(composer(), step.key, Qt::AltModifier);
        EXPECT_EQ(openRoom(), step.room);
        EXPECT_EQ(ui().sideTable()->currentIndex().row(),
                  controller->session().sidebar->model()->rowOfRoom(step.room));
    }
    // Counted from the open room, wherever the list's cursor was left.
    controller->openRoom("r-3", "동아리");
    ui().sideTable()->setCurrentIndex(QModelIndex());
    QTest::keyClick(composer(), Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(openRoom(), "r-2");
    EXPECT_EQ(composer()->toPlainText(), ""); // Alt+Up typed nothing
}

TEST_F(RoomKeys, TheListSwitchIsOneTabStopWithArrowKeys) {
    SegmentedControl* segments = ui().sideSegments();
    const QList<QAbstractButton*> buttons = segments->findChildren<QAbstractButton*>();
    ASSERT_EQ(buttons.size(), 2);
    QAbstractButton* friends = buttons[0]->text() == "친구" ? buttons[0] : buttons[1];
    QAbstractButton* chats = friends == buttons[0] ? buttons[1] : buttons[0];
    // Only the selected side takes focus from Tab.
    EXPECT_EQ(friends->focusPolicy(), Qt::TabFocus);
    EXPECT_EQ(chats->focusPolicy(), Qt::NoFocus);
    friends->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitUntil([&] { return friends->hasFocus(); }));
    QTest::keyClick(friends, Qt::Key_Right);
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Chats);
    EXPECT_TRUE(chats->hasFocus());
    EXPECT_EQ(chats->focusPolicy(), Qt::TabFocus);
    EXPECT_EQ(friends->focusPolicy(), Qt::NoFocus);
    QTest::keyClick(chats, Qt::Key_Right); // the last side: nothing further
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Chats);
    QTest::keyClick(chats, Qt::Key_Left);
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Friends);
    EXPECT_TRUE(friends->hasFocus());
    // Tab goes on past the switch in one step.
    QTest::keyClick(friends, Qt::Key_Tab);
    EXPECT_FALSE(friends->hasFocus());
    EXPECT_FALSE(chats->hasFocus());
}

TEST_F(RoomKeys, EachRoomKeepsItsDraft) {
    controller->openRoom("r-1", "팀");
    type("첫 방의 초안");
    controller->openRoom("r-2", "가족");
    EXPECT_EQ(composer()->toPlainText(), "");
    type("둘째 방");
    controller->openRoom("r-1", "팀");
    EXPECT_EQ(composer()->toPlainText(), "첫 방의 초안");
    controller->openRoom("r-2", "가족");
    EXPECT_EQ(composer()->toPlainText(), "둘째 방");

    // An edit borrows the composer and gives the draft back when it ends, cancelled or sent.
    ownMessage("7", "고칠 말");
    controller->session().conversation->editEntry("7");
    EXPECT_EQ(composer()->toPlainText(), "고칠 말");
    QTest::keyClick(composer(), Qt::Key_Escape);
    EXPECT_TRUE(controller->session().room->editing().isEmpty());
    EXPECT_EQ(composer()->toPlainText(), "둘째 방");
    controller->session().conversation->editEntry("7");
    composer()->setPlainText("고친 말");
    ASSERT_TRUE(waitUntil([&] { return controller->session().client->connected(); }));
    controller->session().conversation->send(composer()->toPlainText());
    EXPECT_EQ(composer()->toPlainText(), "둘째 방");
    // Switching rooms mid-edit keeps the draft, not the edit.
    controller->session().conversation->editEntry("7");
    controller->openRoom("r-3", "동아리");
    controller->openRoom("r-2", "가족");
    EXPECT_EQ(composer()->toPlainText(), "둘째 방");

    // A sent message leaves nothing behind.
    controller->session().conversation->send(composer()->toPlainText());
    EXPECT_EQ(composer()->toPlainText(), "");
    controller->openRoom("r-1", "팀");
    controller->openRoom("r-2", "가족");
    EXPECT_EQ(composer()->toPlainText(), "");
    // A room left (closed) takes its draft with it.
    controller->openRoom("r-1", "팀");
    controller->closeRoom();
    EXPECT_EQ(composer()->toPlainText(), "");
    controller->openRoom("r-1", "팀");
    EXPECT_EQ(composer()->toPlainText(), "");
}

} // namespace
