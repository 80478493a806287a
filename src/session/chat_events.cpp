#include "chat_events.h"

namespace brindlewick {

ChatEvents::ChatEvents(ChatClient& client, QObject* parent) : QObject(parent), client_(client) {
    client_.setListener(this);
    reconnectTimer_.setSingleShot(true);
    reconnectTimer_.setInterval(kReconnectDelayMs);
    connect(&reconnectTimer_, &QTimer::timeout, this, [this] { client_.connect(); });
}

ChatEvents::~ChatEvents() {
    if (client_.listener() == this)
        client_.setListener(nullptr);
}

void ChatEvents::chatConnected() {
    // Behind frames still waiting, so the texts keep the order of events.
    if (deferBehindBacklog([this] { chatConnected(); }))
        return;
    emit connectionChanged(Connection::Opened, QString());
}

void ChatEvents::chatDisconnected(const QString& reason) {
    // What arrived before the loss is shown before it.
    if (deferBehindBacklog([this, reason] { chatDisconnected(reason); }))
        return;
    // At most one retry is pending; the newest loss decides when.
    reconnectTimer_.start();
    emit connectionChanged(Connection::Lost, reason);
}

// The connection hands over everything it read at once, which can be thousands of frames;
// beyond kFramesPerTurn they wait for the next turn. Turns are marked with posted calls, not
// zero timers, which the event loop starves while the socket keeps it busy.
void ChatEvents::frameReceived(quint8 type, const FieldList& fields) {
    markTurn();
    if (deferBehindBacklog([this, type, fields] { dispatch(type, fields); }))
        return;
    ++handledThisTurn_;
    dispatch(type, fields);
}

void ChatEvents::markTurn() {
    if (turnMarked_)
        return;
    turnMarked_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            turnMarked_ = false;
            handledThisTurn_ = 0;
        },
        Qt::QueuedConnection);
}

bool ChatEvents::deferBehindBacklog(std::function<void()> handler) {
    if (waiting_.empty() && handledThisTurn_ < kFramesPerTurn)
        return false;
    waiting_.push_back(std::move(handler));
    // A flood waits in the network's buffers, not as decoded frames in memory.
    if (waiting_.size() >= kMaxBacklog)
        client_.setReadingPaused(true);
    if (!drainScheduled_) {
        drainScheduled_ = true;
        QMetaObject::invokeMethod(this, &ChatEvents::drain, Qt::QueuedConnection);
    }
    return true;
}

void ChatEvents::drain() {
    drainScheduled_ = false;
    // A handler may open rooms or drop the connection; each step re-reads the queue.
    for (int i = 0; i < kFramesPerTurn && !waiting_.empty(); ++i) {
        const std::function<void()> handler = std::move(waiting_.front());
        waiting_.pop_front();
        handler();
    }
    if (waiting_.size() <= kMaxBacklog / 2)
        client_.setReadingPaused(false);
    if (!waiting_.empty() && !drainScheduled_) {
        drainScheduled_ = true;
        QMetaObject::invokeMethod(this, &ChatEvents::drain, Qt::QueuedConnection);
    }
}

namespace {

// Emits `signal` with the decoded message; frames short of the message's fields are dropped.
template <typename Message, typename Signal>
void emitDecoded(ChatEvents* events, Signal signal, const FieldList& fields) {
    if (const std::optional<Message> message = Message::decode(fields))
        emit(events->*signal)(*message);
}

} // namespace

void ChatEvents::dispatch(quint8 type, const FieldList& fields) {
    switch (type) {
    case MessageType::AuthOk:
        if (const auto ok = wire::AuthOk::decode(fields); ok && !ok->secret.empty())
            emit deviceSecretIssued(QString::fromStdString(ok->secret));
        emit connectionChanged(Connection::SignedIn, QString());
        break;
    case MessageType::Chat:
        emitDecoded<wire::ChatMessage>(this, &ChatEvents::chatReceived, fields);
        break;
    case MessageType::FileMeta:
        emitDecoded<wire::FileMessage>(this, &ChatEvents::fileReceived, fields);
        break;
    case MessageType::RoomNotice:
        emitDecoded<wire::Notice>(this, &ChatEvents::notice, fields);
        break;
    case MessageType::ChatEdit:
        emitDecoded<wire::Edit>(this, &ChatEvents::edited, fields);
        break;
    case MessageType::ChatDelete:
        emitDecoded<wire::Delete>(this, &ChatEvents::deleted, fields);
        break;
    case MessageType::ServerError:
        emitDecoded<wire::ServerError>(this, &ChatEvents::serverError, fields);
        break;
    case MessageType::CallInvite:
        emitDecoded<wire::CallInvite>(this, &ChatEvents::callInvite, fields);
        break;
    case MessageType::HistoryPage:
        emitDecoded<wire::HistoryPage>(this, &ChatEvents::historyReceived, fields);
        break;
    default:
        // QuietEvent and types this client does not know have no effect.
        break;
    }
}

} // namespace brindlewick
