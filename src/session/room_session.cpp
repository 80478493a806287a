#include "room_session.h"

#include "chat_client.h"
#include "outbox.h"

namespace brindlewick {

RoomSession::RoomSession(ChatClient& client, QObject* parent) : QObject(parent), client_(client) {}

void RoomSession::open(const QString& room, const QString& title) {
    if (room.isEmpty())
        return;
    cancelReply();
    cancelEdit();
    // Leave before joining, so the server never counts us in two rooms.
    if (!room_.isEmpty() && room_ != room)
        client_.leaveRoom(room_);
    room_ = room;
    title_ = title.isNull() ? room : title;
    emit roomChanged(room_, title_);
    // Only after the listeners reset: what the server sends for the room lands in a clean view.
    client_.joinRoom(room_);
}

void RoomSession::close() {
    cancelReply();
    cancelEdit();
    if (room_.isEmpty())
        return;
    room_.clear();
    title_.clear();
    emit roomChanged(room_, title_);
}

void RoomSession::rejoin() {
    if (!room_.isEmpty())
        client_.joinRoom(room_);
}

RoomSession::SendResult RoomSession::send(const QString& text, QString* clientId) {
    // White space and line breaks at both ends go; inner line breaks stay.
    const QString message = text.trimmed();
    if (message.isEmpty() || room_.isEmpty())
        return SendResult::NothingToSend;
    if (outbox_) {
        // Taken whatever the connection: it waits in the outbox until the server has it.
        if (!editing_.isEmpty()) {
            outbox_->sendEdit(room_, editing_, message);
            cancelEdit();
            return SendResult::Sent;
        }
        const QString id = outbox_->sendChat(room_, message, reply_.msgId);
        if (clientId)
            *clientId = id;
        cancelReply();
        return SendResult::Sent;
    }
    // A message handed to a closed connection would be lost with the composer emptied.
    if (!client_.connected())
        return SendResult::NotConnected;
    if (!editing_.isEmpty()) {
        client_.sendChatEditToRoom(room_, editing_, message);
        cancelEdit();
        return SendResult::Sent;
    }
    client_.sendChatToRoom(room_, message, reply_.msgId);
    cancelReply();
    return SendResult::Sent;
}

void RoomSession::sendDelete(const QString& msgId) {
    if (room_.isEmpty() || msgId.isEmpty())
        return;
    if (outbox_)
        outbox_->sendDelete(room_, msgId);
    else
        client_.sendChatDeleteToRoom(room_, msgId);
}

void RoomSession::setReply(const QString& msgId, const QString& sender, const QString& preview) {
    if (msgId.isEmpty())
        return;
    cancelEdit();
    reply_ = PendingReply{msgId, sender, preview.isNull() ? QStringLiteral("") : preview};
    emit replyChanged(reply_);
}

void RoomSession::cancelReply() {
    // Announced even when none was pending: the composer's first layout follows the first one.
    reply_ = PendingReply{};
    emit replyChanged(reply_);
}

void RoomSession::startEdit(const QString& msgId) {
    if (msgId.isEmpty() || room_.isEmpty())
        return;
    cancelReply();
    editing_ = msgId;
    emit editChanged(editing_);
}

void RoomSession::cancelEdit() {
    if (editing_.isEmpty())
        return;
    editing_.clear();
    emit editChanged(editing_);
}

} // namespace brindlewick
