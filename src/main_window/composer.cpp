// The open room, the composer and replies.

#include "chat_protocol.h"
#include "main_controller.h"
#include "platform.h"
#include "user_picture.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>

namespace brindlewick {

namespace {

// Trims white space and line breaks at both ends; inner line breaks stay.
QString trimmedMessage(const QString& text) {
    return text.trimmed();
}

} // namespace

void MainController::openRoom(const QString& room, const QString& title) {
    if (room.isEmpty())
        return;
    cancelReply();
    // Leave before joining, so the server never counts us in two rooms.
    if (!currentRoom.isEmpty() && currentRoom != room)
        client->leaveRoom(currentRoom);
    currentRoom = room;
    clearChat();
    if (roomLabel)
        roomLabel->setText(QStringLiteral("%1  (%2)").arg(title.isNull() ? room : title, room));

    QString pictureId = peerPictureInDmRoom(room);
    if (pictureId.isEmpty()) {
        for (const RoomRecord& record : rooms) {
            if (record.room == room) {
                pictureId = record.profilePic;
                break;
            }
        }
    }
    if (roomAvatarView) {
        roomAvatarView->show();
        const QImage image = pictureId.isEmpty() ? QImage() : imageForFileId(pictureId);
        roomAvatarView->setPixmap(image.isNull() ? genericUserPicture()
                                                 : QPixmap::fromImage(image));
    }
    // Only after clearing: whatever the server sends for the room lands in an empty transcript.
    client->joinRoom(room);
    setStatus(QStringLiteral("방 참가: %1").arg(room));
}

void MainController::sendMessage() {
    if (!composeView)
        return;
    const QString text = trimmedMessage(composeView->toPlainText());
    if (text.isEmpty() || currentRoom.isEmpty()) {
        platform_.beep();
        return;
    }
    // A message handed to a closed connection would be lost with the composer emptied.
    if (!client->connected()) {
        platform_.beep();
        setStatus(QStringLiteral("연결되지 않아 보내지 못했습니다"));
        return;
    }
    if (!replyMsgId.isEmpty()) {
        client->sendChatToRoom(currentRoom, text, replyMsgId);
        cancelReply();
    } else {
        client->sendChatToRoom(currentRoom, text);
    }
    composeView->clear();
}

bool MainController::textViewDoCommandBySelector(QObject* textView, QKeyEvent* event) {
    if (!composeView || textView != composeView || !event)
        return false;
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ShiftModifier) {
        composeView->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    // Other combinations keep the editor's own meaning.
    if (modifiers != Qt::NoModifier)
        return false;
    sendMessage();
    return true;
}

void MainController::cancelReply() {
    replyMsgId = QString();
    replySender = QString();
    if (!replyBar)
        return;
    replyBar->hide();
    composeTopInset_ = 0; // the composer takes the whole height from now on
    layoutBottomContainer();
}

void MainController::setReplyToMsgId(const QString& msgId, const QString& sender,
                                     const QString& preview) {
    if (msgId.isEmpty())
        return;
    replyMsgId = msgId;
    replySender = sender;
    if (!replyBar)
        return;
    replyPreviewLabel->setText(QStringLiteral("%1 님에게 답장: %2")
                                   .arg(sender, preview.isNull() ? QStringLiteral("") : preview));
    replyBar->show();
    composeTopInset_ = 0;
    layoutBottomContainer();
    composeView->setFocus();
}

void MainController::chatMenuReply() {
    const QList<ChatItem>& items = chatItems();
    if (items.isEmpty())
        return;
    const ChatItem& last = items.constLast();
    setReplyToMsgId(last.msgId, last.sender, last.text);
}

void MainController::chatMenuDelete() {
    if (!currentRoom.isEmpty()) {
        const QList<ChatItem>& items = chatItems();
        for (auto it = items.crbegin(); it != items.crend(); ++it) {
            if (!it->mine || it->msgId.isEmpty())
                continue;
            client->sendChatDeleteToRoom(currentRoom, it->msgId);
            appendChat(QStringLiteral("[시스템] 메시지 삭제 요청을 보냈습니다."));
            return;
        }
    }
    platform_.runAlert(window_.get(), QStringLiteral("삭제할 본인 메시지가 없습니다."),
                       QStringLiteral(""), {});
}

} // namespace brindlewick
