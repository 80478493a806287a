#pragma once
// Shows what the chat connection reports: entries of the open room in its transcript (and the
// read mark), other rooms' messages in the status line and as notifications, connection
// states in the status line, and the answer to a call this client cannot take.

#include "messages.h"

#include <QObject>
#include <QString>

namespace brindlewick {

class ChatClient;
class ChatEvents;
class Conversation;
class Directory;
class MainWindow;
class Outbox;
class Platform;
class RoomSession;

class IncomingEvents : public QObject {
    Q_OBJECT
public:
    // The outbox learns of the echoes and refusals of what it sent.
    IncomingEvents(ChatClient& client, ChatEvents& events, RoomSession& session,
                   Directory& directory, Conversation& conversation, MainWindow& window,
                   Platform& platform, Outbox& outbox, QObject* parent = nullptr);

    // A sender is the user when it is the user's nickname or phone.
    bool isMine(const QString& sender) const;
    // With the sender's phone as the server gives it: the user only when it is the user's phone;
    // without (empty), as above.
    bool isMine(const QString& sender, const QString& senderPhone) const;
    // Announces a message of `room` unless it is the user's own or the room is in view.
    void maybeNotify(const QString& room, const QString& sender, const QString& body);
    void maybeNotify(const QString& room, const QString& sender, const QString& body, bool mine);

private:
    struct Arrival;
    // Each kind of message is described as an Arrival and taken in by received.
    void chatReceived(const wire::ChatMessage& message);
    void fileReceived(const wire::FileMessage& message);
    void received(Arrival& arrival);
    void callInvite(const wire::CallInvite& invite);
    bool inOpenRoom(const std::string& room) const;

    ChatClient& client_;
    RoomSession& session_;
    Directory& directory_;
    Conversation& conversation_;
    MainWindow& window_;
    Platform& platform_;
    Outbox& outbox_;
};

} // namespace brindlewick
