// The chat connection's reports: connection state, retries and received frames.

#include "chat_notifier.h"
#include "main_controller.h"

#include <QTimer>

#include <deque>
#include <functional>

namespace brindlewick {

void MainController::chatClientDidConnect() {
    // Behind frames still waiting, so the texts keep the order of events.
    if (deferBehindBacklog([this] { chatClientDidConnect(); }))
        return;
    setStatus(QStringLiteral("서버 연결됨 — 인증 중…"));
}

void MainController::chatClientDidDisconnect(const QString& reason) {
    // What arrived before the loss is shown before it.
    if (deferBehindBacklog([this, reason] { chatClientDidDisconnect(reason); }))
        return;
    setStatus(QStringLiteral("끊김: %1 — 재연결 예정").arg(reason));
    // At most one retry is pending; the newest loss decides when.
    if (reconnectTimer) {
        reconnectTimer->stop();
        reconnectTimer->deleteLater();
    }
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &MainController::reconnect);
    reconnectTimer = timer;
    timer->start(kReconnectDelayMs);
}

void MainController::reconnect() {
    if (reconnectTimer)
        reconnectTimer->deleteLater();
    reconnectTimer = nullptr;
    client->connect();
}

bool MainController::isMineSender(const QString& sender) const {
    if (sender.isEmpty())
        return false;
    return sender == client->nick() || sender == client->phone();
}

namespace {

// Field `i`, or "" past the end.
QString field(const QStringList& fields, int i) {
    return i < fields.size() ? fields.at(i) : QStringLiteral("");
}

// Tagged texts shown by a short label instead of their raw form.
QString displayText(const QString& text) {
    static const std::pair<QLatin1String, QString> tags[] = {
        {QLatin1String("[sticker:"), QStringLiteral("[이모티콘]")},
        {QLatin1String("[file:"), QStringLiteral("[파일]")},
        {QLatin1String("[loc:"), QStringLiteral("[위치]")},
        {QLatin1String("[call:"), QStringLiteral("[통화]")},
    };
    for (const auto& [prefix, label] : tags)
        if (text.startsWith(prefix))
            return label;
    return text;
}

bool matches(const QString& openRoom, const QString& room) {
    return !openRoom.isEmpty() && room == openRoom;
}

} // namespace

// Frames a burst brought beyond what one turn of the event loop handles. The connection hands
// over everything it read at once, which can be thousands of frames; spreading them keeps the
// window responsive while keeping their order. Turns are marked with posted calls, not zero
// timers, which the event loop starves while the socket keeps it busy.
class FrameBacklog : public QObject {
public:
    static constexpr int kFramesPerTurn = 256;

    explicit FrameBacklog(QObject* owner) : QObject(owner) {}

    bool full() const { return !waiting.empty() || handledThisTurn >= kFramesPerTurn; }

    std::deque<std::function<void()>> waiting; // handlers of frames and connection events
    int handledThisTurn = 0;
    bool turnMarked = false;     // a call that resets the count is posted
    bool drainScheduled = false; // a call that runs waiting handlers is posted
};

void MainController::chatClientDidReceiveType(quint8 type, const QStringList& fields) {
    if (!frameBacklog_)
        frameBacklog_ = new FrameBacklog(this);
    FrameBacklog& backlog = *frameBacklog_;
    if (!backlog.turnMarked) {
        backlog.turnMarked = true;
        QMetaObject::invokeMethod(
            &backlog,
            [&backlog] {
                backlog.turnMarked = false;
                backlog.handledThisTurn = 0;
            },
            Qt::QueuedConnection);
    }
    if (deferBehindBacklog([this, type, fields] { handleFrame(type, fields); }))
        return;
    ++backlog.handledThisTurn;
    handleFrame(type, fields);
}

bool MainController::deferBehindBacklog(std::function<void()> handler) {
    if (!frameBacklog_ || !frameBacklog_->full())
        return false;
    frameBacklog_->waiting.push_back(std::move(handler));
    if (!frameBacklog_->drainScheduled) {
        frameBacklog_->drainScheduled = true;
        QMetaObject::invokeMethod(
            frameBacklog_, [this] { drainFrames(); }, Qt::QueuedConnection);
    }
    return true;
}

void MainController::drainFrames() {
    if (!frameBacklog_)
        return;
    FrameBacklog& backlog = *frameBacklog_;
    backlog.drainScheduled = false;
    // A handler may open rooms or drop the connection; each step re-reads the queue.
    for (int i = 0; i < FrameBacklog::kFramesPerTurn && !backlog.waiting.empty(); ++i) {
        const std::function<void()> handler = std::move(backlog.waiting.front());
        backlog.waiting.pop_front();
        handler();
    }
    if (!backlog.waiting.empty() && !backlog.drainScheduled) {
        backlog.drainScheduled = true;
        QMetaObject::invokeMethod(
            &backlog, [this] { drainFrames(); }, Qt::QueuedConnection);
    }
}

void MainController::handleFrame(quint8 type, const QStringList& fields) {
    const int count = int(fields.size());
    switch (type) {
    case MessageType::AuthOk:
        setStatus(QStringLiteral("로그인 완료"));
        // The server forgets the open room with every sign-in.
        if (!currentRoom.isEmpty())
            client->joinRoom(currentRoom);
        refreshLists();
        break;
    case MessageType::Chat: {
        if (count < 3)
            return;
        const QString room = fields.at(0);
        const QString sender = fields.at(1);
        const QString text = displayText(fields.at(2));
        const QString msgId = field(fields, 4);
        const bool mine = isMineSender(sender);
        if (matches(currentRoom, room)) {
            appendChatMsgId(msgId, sender, text, field(fields, 3), mine, field(fields, 6));
            if (!msgId.isEmpty())
                client->sendReadWatermarkToRoom(currentRoom, msgId);
        } else if (!mine) {
            setStatus(QStringLiteral("새 메시지 · %1: %2").arg(sender, text));
        }
        maybeNotifyRoom(room, sender, text);
        break;
    }
    case MessageType::RoomNotice:
        if (count >= 2 && matches(currentRoom, fields.at(0)))
            appendChat(fields.at(1));
        break;
    case MessageType::FileMeta: {
        if (count < 4)
            return;
        const QString room = fields.at(0);
        const QString sender = fields.at(1);
        const QString name = fields.at(3);
        const QString msgId = field(fields, 6);
        const bool mine = isMineSender(sender);
        if (matches(currentRoom, room)) {
            appendFileChatFrom(sender, name, fields.at(2), msgId, QStringLiteral(""), mine);
            if (!msgId.isEmpty())
                client->sendReadWatermarkToRoom(currentRoom, msgId);
        } else if (!mine) {
            setStatus(QStringLiteral("파일 · %1: %2").arg(sender, name));
        }
        maybeNotifyRoom(room, sender, QStringLiteral("[파일] %1").arg(name));
        break;
    }
    case MessageType::ChatEdit:
        if (count >= 3 && matches(currentRoom, fields.at(0)))
            appendChat(QStringLiteral("[수정 #%1] %2").arg(fields.at(1), fields.at(2)));
        break;
    case MessageType::ChatDelete:
        if (count >= 2 && matches(currentRoom, fields.at(0)))
            appendChat(QStringLiteral("[메시지 삭제됨 #%1]").arg(fields.at(1)));
        break;
    case MessageType::ServerError:
        if (count >= 2)
            appendChat(QStringLiteral("[오류] %1").arg(fields.at(1)));
        break;
    case MessageType::CallInvite: {
        const QString callId = field(fields, 0);
        const QString caller = count >= 2 ? fields.at(1) : QStringLiteral("상대");
        ChatNotifier::notifyTitle(platform_, QStringLiteral("수신 전화"),
                                  QStringLiteral("%1 (WebRTC 미지원 — 자동 거절)").arg(caller));
        setStatus(QStringLiteral("통화 수신(미지원) · %1 — 자동 거절").arg(caller));
        if (!currentRoom.isEmpty())
            appendChat(QStringLiteral("[통화] %1 수신 → 자동 거절 (WebRTC 없음)").arg(caller));
        if (!callId.isEmpty())
            client->sendType(MessageType::CallReject, {callId, QStringLiteral("unsupported")});
        break;
    }
    case MessageType::QuietEvent:
    default:
        break;
    }
}

} // namespace brindlewick
