#include "room_history.h"

#include "chat_client.h"

#include <algorithm>

namespace brindlewick {

RoomHistory::RoomHistory(ChatClient& client, ChatEvents& events, QObject* parent)
    : QObject(parent), client_(client) {
    connect(&events, &ChatEvents::historyReceived, this, &RoomHistory::pageReceived);
    connect(&events, &ChatEvents::serverError, this, &RoomHistory::refused);
    connect(&events, &ChatEvents::connectionChanged, this,
            [this](ChatEvents::Connection state) { connectionChanged(state); });
}

void RoomHistory::open(const QString& room) {
    ++generation_;
    room_ = room;
    opened_ = false;
    hasOlder_ = false;
    readMark_.clear();
    setWaiting(false);
    if (!room_.isEmpty())
        ask(QString());
}

bool RoomHistory::requestOlder(const QString& oldestMsgId) {
    if (room_.isEmpty() || waiting_ || !opened_ || !hasOlder_ || oldestMsgId.isEmpty())
        return false;
    ask(oldestMsgId);
    return waiting_;
}

void RoomHistory::ask(const QString& before, bool again) {
    // Without a connection the request would be lost; signing in asks again.
    if (!client_.connected())
        return;
    client_.requestHistory(room_, before, kPageSize);
    sent_.push_back(Sent{room_.toStdString(), before.toStdString(), generation_, again});
    setWaiting(true);
}

void RoomHistory::pageReceived(const wire::HistoryPage& page) {
    // Answers come in the order of the requests: the first request this page fits is the one it
    // answers, and any before it will not be answered. A page that fits none is not ours.
    const auto fits = std::find_if(sent_.begin(), sent_.end(), [&](const Sent& s) {
        return s.room == page.room && s.before == page.before;
    });
    if (fits == sent_.end())
        return;
    const Sent answered = *fits;
    sent_.erase(sent_.begin(), std::next(fits));
    if (answered.generation != generation_)
        return; // asked for an earlier opening
    if (answered.again) {
        setWaiting(false);
        emit caughtUp(page);
        return;
    }
    const bool newest = !opened_;
    opened_ = true;
    hasOlder_ = page.hasOlder;
    if (newest)
        readMark_ = QString::fromStdString(page.readMark);
    setWaiting(false);
    emit pageArrived(page, newest);
}

void RoomHistory::refused(const wire::ServerError& error) {
    if (error.refusedType != std::to_string(wire::HistoryRequest::kType) || sent_.empty())
        return;
    const Sent refusedRequest = sent_.front();
    sent_.pop_front();
    if (refusedRequest.generation != generation_)
        return;
    if (refusedRequest.again) {
        setWaiting(false); // what was loaded stays; paging goes on as before
        return;
    }
    // Asking again would be refused again.
    opened_ = true;
    hasOlder_ = false;
    setWaiting(false);
}

void RoomHistory::connectionChanged(ChatEvents::Connection state) {
    switch (state) {
    case ChatEvents::Connection::Opened:
        break;
    case ChatEvents::Connection::Lost:
        // Nothing asked on the old connection will be answered.
        sent_.clear();
        setWaiting(false);
        break;
    case ChatEvents::Connection::SignedIn:
        if (!room_.isEmpty() && !waiting_)
            ask(QString(), opened_);
        break;
    }
}

void RoomHistory::setWaiting(bool waiting) {
    if (waiting_ == waiting)
        return;
    waiting_ = waiting;
    emit loadingChanged(waiting_);
}

} // namespace brindlewick
