#pragma once
// The open room's past, page by page: which request is in flight, whether anything older is
// left, and the read mark the room had when it was opened. Opening a room asks for the newest
// page; pages for a room no longer open, or for a request no longer wanted, are dropped.
// Signing in again with a room open asks for its newest page once more: what was said while
// the connection was down reaches the reader from the server's store.
// One request at a time per room; a server that never answers leaves nothing waiting that the
// user could see, and a refusal ends the wait.

#include "chat_events.h"
#include "messages.h"

#include <QObject>
#include <QString>

#include <deque>

namespace brindlewick {

class ChatClient;

class RoomHistory : public QObject {
    Q_OBJECT
public:
    static constexpr int kPageSize = 50;

    RoomHistory(ChatClient& client, ChatEvents& events, QObject* parent = nullptr);

    const QString& room() const { return room_; }
    // A request for the open room is on its way.
    bool loading() const { return waiting_; }
    // The newest page arrived (it may have been empty).
    bool opened() const { return opened_; }
    // Something older than what was loaded exists, as far as this client knows.
    bool hasOlder() const { return hasOlder_; }
    // The user's read mark as the newest page gave it, "" before that.
    const QString& readMark() const { return readMark_; }

    // Forgets the previous room and asks for the newest page of `room` ("": no room).
    void open(const QString& room);
    // Asks for the page before `oldestMsgId`. False when a request is in flight, the newest page
    // has not come, nothing older is left, or the id is empty.
    bool requestOlder(const QString& oldestMsgId);
    // Entries before the oldest loaded one exist again (the transcript let some go).
    void olderDropped() { hasOlder_ = true; }
    // No more pages for this room (a page brought nothing older).
    void stop() { hasOlder_ = false; }

signals:
    // A page for the open room, answering its request in flight. `newest`: the room's first.
    void pageArrived(const brindlewick::wire::HistoryPage& page, bool newest);
    void loadingChanged(bool loading);
    // The newest page again, asked after signing in anew while the room was open.
    void caughtUp(const brindlewick::wire::HistoryPage& page);

private:
    struct Sent {
        std::string room;
        std::string before;
        quint64 generation; // which opening of a room asked
        bool again;         // the newest page after signing in anew
    };
    void ask(const QString& before, bool again = false);
    void pageReceived(const wire::HistoryPage& page);
    void refused(const wire::ServerError& error);
    void connectionChanged(ChatEvents::Connection state);
    void setWaiting(bool waiting);

    ChatClient& client_;
    QString room_;
    quint64 generation_ = 0;
    std::deque<Sent> sent_; // requests on the connection, oldest first; answers come in order
    bool waiting_ = false;
    bool opened_ = false;
    bool hasOlder_ = false;
    QString readMark_;
};

} // namespace brindlewick
