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

namespace {

std::size_t frameBytes(const FieldList& fields) {
    std::size_t bytes = fields.size();
    for (const std::string& field : fields)
        bytes += field.size();
    return bytes;
}

} // namespace

// The connection hands over everything it read at once, which can be thousands of frames;
// beyond kFramesPerTurn (or kBytesPerTurn) they wait for the next turn. Turns are marked with
// posted calls, not zero timers, which the event loop starves while the socket keeps it busy.
void ChatEvents::frameReceived(quint8 type, const FieldList& fields) {
    markTurn();
    const std::size_t bytes = frameBytes(fields);
    if (!waiting_.empty() || turnFull()) {
        defer(later(type, fields), bytes);
        return;
    }
    ++handledThisTurn_;
    bytesThisTurn_ += bytes;
    dispatch(type, fields);
}

// What a waiting frame keeps: never more than is decoded when it is handled, so a frame of
// megabytes is not copied whole.
std::function<void()> ChatEvents::later(quint8 type, const FieldList& fields) {
    if (type == MessageType::HistoryPage) {
        std::optional<wire::HistoryPage> page = decodePage(fields);
        return [this, page = std::move(page)] {
            if (page)
                emit historyReceived(*page);
        };
    }
    FieldList kept;
    kept.reserve(fields.size());
    for (const std::string& field : fields)
        kept.push_back(wire::cutUtf8(field, kFieldBytes));
    return [this, type, kept = std::move(kept)] { dispatch(type, kept); };
}

std::optional<wire::HistoryPage> ChatEvents::decodePage(const FieldList& fields) {
    return wire::HistoryPage::decodeNewest(fields, kPageBytes, kFieldBytes);
}

bool ChatEvents::turnFull() const {
    return handledThisTurn_ >= kFramesPerTurn || bytesThisTurn_ >= kBytesPerTurn;
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
            bytesThisTurn_ = 0;
        },
        Qt::QueuedConnection);
}

bool ChatEvents::deferBehindBacklog(std::function<void()> handler) {
    if (waiting_.empty() && !turnFull())
        return false;
    defer(std::move(handler), 0);
    return true;
}

void ChatEvents::defer(std::function<void()> handler, std::size_t bytes) {
    waiting_.push_back(Waiting{std::move(handler), bytes});
    waitingBytes_ += bytes;
    // A flood waits in the network's buffers, not as decoded frames in memory.
    if (waiting_.size() >= kMaxBacklog || waitingBytes_ >= kMaxBacklogBytes)
        client_.setReadingPaused(true);
    if (!drainScheduled_) {
        drainScheduled_ = true;
        QMetaObject::invokeMethod(this, &ChatEvents::drain, Qt::QueuedConnection);
    }
}

void ChatEvents::drain() {
    drainScheduled_ = false;
    markTurn(); // the count starts afresh before the next drain
    // A handler may open rooms or drop the connection; each step re-reads the queue. Frames the
    // connection handed over directly this turn count against it too.
    while (!waiting_.empty() && !turnFull()) {
        const std::function<void()> handler = std::move(waiting_.front().handler);
        const std::size_t bytes = waiting_.front().bytes;
        waiting_.pop_front();
        waitingBytes_ -= bytes;
        ++handledThisTurn_;
        bytesThisTurn_ += bytes;
        handler();
    }
    if (waiting_.size() <= kMaxBacklog / 2 && waitingBytes_ <= kMaxBacklogBytes / 2)
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
        // A page may fill a frame of megabytes; copying all of it would hold the window.
        if (const std::optional<wire::HistoryPage> page = decodePage(fields))
            emit historyReceived(*page);
        break;
    default:
        // QuietEvent and types this client does not know have no effect.
        break;
    }
}

} // namespace brindlewick
