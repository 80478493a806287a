#pragma once
// The open room: which one, its title and the reply or edit being written. open() and close() are
// the only ways to change the room, so everything that depends on it listens to roomChanged.

#include "transcript_model.h"

#include <QObject>
#include <QString>

namespace brindlewick {

class ChatClient;
class Outbox;

struct PendingReply {
    QString msgId; // empty: no reply pending
    QString sender;
    QString preview;
};

class RoomSession : public QObject {
    Q_OBJECT
public:
    enum class SendResult { Sent, NothingToSend, NotConnected };

    explicit RoomSession(ChatClient& client, QObject* parent = nullptr);
    // With an outbox, send takes every message, connected or not, and it waits there.
    void setOutbox(Outbox* outbox) { outbox_ = outbox; }
    Outbox* outbox() const { return outbox_; }

    const QString& room() const { return room_; } // empty: no room open
    const QString& title() const { return title_; }
    bool isOpen() const { return !room_.isEmpty(); }
    const PendingReply& reply() const { return reply_; }
    // What the open room's transcript shows; the window's transcript view fills and shows it.
    TranscriptModel& transcript() { return transcript_; }
    // The id of the own message being edited; empty while writing a new one.
    const QString& editing() const { return editing_; }

    // Opens `room` (the title may be null: the room id stands in). An empty room does nothing.
    void open(const QString& room, const QString& title);
    // No room open any more, as after leaving it.
    void close();
    // The server forgets the open room with every sign-in.
    void rejoin();

    // Sends `text` (trimmed) to the open room: as the new text of the message being edited,
    // else as a reply when one is pending, else as a new message. A new message's client id
    // goes to `clientId` when given ("" without an outbox).
    SendResult send(const QString& text, QString* clientId = nullptr);
    // Asks the server to delete the own message `msgId` of the open room (through the outbox
    // when there is one).
    void sendDelete(const QString& msgId);
    void setReply(const QString& msgId, const QString& sender, const QString& preview);
    void cancelReply();
    // A reply and an edit exclude each other; starting one ends the other.
    void startEdit(const QString& msgId);
    void cancelEdit();

signals:
    // After the room changed; whatever the server sends for the new room comes after this.
    void roomChanged(const QString& room, const QString& title);
    void replyChanged(const brindlewick::PendingReply& reply);
    void editChanged(const QString& msgId);

private:
    ChatClient& client_;
    Outbox* outbox_ = nullptr;
    QString room_;
    QString title_;
    PendingReply reply_;
    TranscriptModel transcript_;
    QString editing_;
};

} // namespace brindlewick
