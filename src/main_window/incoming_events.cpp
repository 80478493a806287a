#include "incoming_events.h"

#include "bidi_isolate.h"
#include "chat_client.h"
#include "chat_events.h"
#include "chat_notifier.h"
#include "conversation.h"
#include "directory_service.h"
#include "display_text.h"
#include "main_window.h"
#include "outbox.h"
#include "room_session.h"
#include "transcript_view.h"

namespace brindlewick {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

IncomingEvents::IncomingEvents(ChatClient& client, ChatEvents& events, RoomSession& session,
                               Directory& directory, Conversation& conversation, MainWindow& window,
                               Platform& platform, Outbox& outbox, QObject* parent)
    : QObject(parent), client_(client), session_(session), directory_(directory),
      conversation_(conversation), window_(window), platform_(platform), outbox_(outbox) {
    connect(&events, &ChatEvents::connectionChanged, this,
            [this](ChatEvents::Connection state, const QString& reason) {
                switch (state) {
                case ChatEvents::Connection::Opened:
                    window_.setStatus(QStringLiteral("서버 연결됨 — 인증 중…"));
                    break;
                case ChatEvents::Connection::Lost:
                    window_.setStatus(QStringLiteral("끊김: %1 — 재연결 예정").arg(reason));
                    break;
                case ChatEvents::Connection::SignedIn:
                    window_.setStatus(QStringLiteral("로그인 완료"));
                    session_.rejoin();
                    directory_.refresh();
                    break;
                }
            });
    // Opening a room reads it: its count goes at once. The newest message that arrived for it
    // here tells the server too; read marks only move forward there, so an older one is harmless.
    connect(&session_, &RoomSession::roomChanged, this, [this](const QString& room) {
        if (directory_.markRead(room) <= 0)
            return;
        if (const QString last = directory_.lastMessageId(room); !last.isEmpty())
            client_.sendReadWatermarkToRoom(room, last);
    });
    connect(&events, &ChatEvents::chatReceived, this, &IncomingEvents::chatReceived);
    connect(&events, &ChatEvents::fileReceived, this, &IncomingEvents::fileReceived);
    connect(&events, &ChatEvents::callInvite, this, &IncomingEvents::callInvite);
    connect(&events, &ChatEvents::notice, this, [this](const wire::Notice& notice) {
        if (inOpenRoom(notice.room))
            conversation_.appendSystemLine(shownText(notice.text));
    });
    // An entry in view changes in place; a marker line stands in for one that is not.
    connect(&events, &ChatEvents::edited, this, [this](const wire::Edit& edit) {
        outbox_.settleEdit(edit);
        const QString text = shownMessage(edit.text);
        // The chats list shows the new text when it was the room's last message.
        directory_.noteEdit(qt(edit.room), qt(edit.msgId), text);
        if (!inOpenRoom(edit.room))
            return;
        if (!window_.transcript().markEdited(qt(edit.msgId), text))
            conversation_.appendSystemLine(
                QStringLiteral("[수정 #%1] %2")
                    .arg(isolated(shownText(edit.msgId, kSummaryChars)), text));
    });
    connect(&events, &ChatEvents::deleted, this, [this](const wire::Delete& deletion) {
        outbox_.settleDelete(deletion);
        if (inOpenRoom(deletion.room) && !window_.transcript().markDeleted(qt(deletion.msgId)))
            conversation_.appendSystemLine(
                QStringLiteral("[메시지 삭제됨 #%1]")
                    .arg(isolated(shownText(deletion.msgId, kSummaryChars))));
    });
    connect(&events, &ChatEvents::serverError, this, [this](const wire::ServerError& error) {
        // A request of the outbox refused: its row says so and the status line why.
        if (!outbox_.refused(error).isEmpty())
            return;
        conversation_.appendSystemLine(QStringLiteral("[오류] %1").arg(shownText(error.text)));
    });
}

bool IncomingEvents::isMine(const QString& sender) const {
    if (sender.isEmpty())
        return false;
    return sender == client_.nick() || sender == client_.phone();
}

bool IncomingEvents::isMine(const QString& sender, const QString& senderPhone) const {
    // Nicknames are not unique; the phone, where the server names it, is.
    if (!senderPhone.isEmpty())
        return senderPhone == client_.phone();
    return isMine(sender);
}

bool IncomingEvents::inOpenRoom(const std::string& room) const {
    return session_.isOpen() && qt(room) == session_.room();
}

void IncomingEvents::maybeNotify(const QString& room, const QString& sender, const QString& body) {
    maybeNotify(room, sender, body, isMine(sender));
}

void IncomingEvents::maybeNotify(const QString& room, const QString& sender, const QString& body,
                                 bool mine) {
    if (mine)
        return;
    if (ChatNotifier::shouldNotifyForRoom(platform_, room, session_.room()))
        ChatNotifier::notifyTitle(platform_, isolated(summaryText(sender)), summaryText(body),
                                  room);
}

// A received message as the window takes it in. Chat messages and files differ only in these
// values: the row, the chats list's line and the texts that tell of it.
struct IncomingEvents::Arrival {
    QString room;
    TranscriptEntry entry; // sender, text or file, time, id, mine; as shown
    LastMessage last;
    // The status line for another room's message: %1 the sender, %2 the subject.
    QString statusFormat;
    QString subject;
    QString notification;
    // The outbox's waiting row this message is the echo of, if any.
    QString settled;
};

void IncomingEvents::chatReceived(const wire::ChatMessage& message) {
    Arrival arrival;
    TranscriptEntry& entry = arrival.entry;
    arrival.room = qt(message.room);
    // Cut to what the window shows before anything else reads them.
    entry.sender = shownText(message.sender);
    entry.text = shownMessage(message.text);
    entry.msgId = qt(message.msgId);
    entry.time = qt(message.time);
    entry.mine = isMine(entry.sender, qt(message.senderPhone));
    entry.replyTo = shownText(message.replyTo, kSummaryChars);
    arrival.last = {entry.text, QString(), entry.time};
    arrival.statusFormat = QStringLiteral("새 메시지 · %1: %2");
    arrival.subject = entry.text;
    arrival.notification = entry.text;
    arrival.settled = outbox_.settleChat(message, entry.mine);
    received(arrival);
}

void IncomingEvents::fileReceived(const wire::FileMessage& message) {
    Arrival arrival;
    TranscriptEntry& entry = arrival.entry;
    arrival.room = qt(message.room);
    entry.sender = shownText(message.sender);
    entry.text = shownText(message.name);
    entry.msgId = qt(message.msgId);
    entry.time = qt(message.time);
    entry.mine = isMine(entry.sender, qt(message.senderPhone));
    entry.isFile = true;
    entry.fileId = qt(message.fileId);
    bool sized = false;
    const qint64 size = qt(message.size).toLongLong(&sized);
    entry.fileSize = sized && size >= 0 ? size : -1;
    arrival.last = {QString(), entry.text, entry.time};
    arrival.statusFormat = QStringLiteral("파일 · %1: %2");
    arrival.subject = isolated(entry.text);
    arrival.notification = QStringLiteral("[파일] %1").arg(arrival.subject);
    arrival.settled = outbox_.settleFile(message, entry.mine);
    received(arrival);
}

void IncomingEvents::received(Arrival& arrival) {
    TranscriptEntry& entry = arrival.entry;
    const bool inView = session_.isOpen() && arrival.room == session_.room();
    // The room goes to the top of the chats list; what nobody has seen yet counts as unread.
    directory_.noteMessage(arrival.room, entry.msgId, !entry.mine && !inView, arrival.last);
    if (inView) {
        TranscriptView& transcript = window_.transcript();
        // The row that waited for it becomes the message, in its place.
        if (arrival.settled.isEmpty() || !transcript.settleUnsent(arrival.settled, entry)) {
            // A file without an id has nothing to save and needs no picture.
            if (!entry.isFile || !entry.fileId.isEmpty())
                entry.picture = conversation_.pictureForSender(entry.sender);
            transcript.appendEntry(entry);
        }
        if (!entry.msgId.isEmpty())
            client_.sendReadWatermarkToRoom(arrival.room, entry.msgId);
    } else if (!entry.mine) {
        window_.setStatus(
            summaryText(arrival.statusFormat.arg(isolated(entry.sender), arrival.subject)));
    }
    maybeNotify(arrival.room, entry.sender, arrival.notification, entry.mine);
}

void IncomingEvents::callInvite(const wire::CallInvite& invite) {
    const QString caller = isolated(summaryText(shownText(invite.caller, kSummaryChars)));
    ChatNotifier::notifyTitle(platform_, QStringLiteral("수신 전화"),
                              QStringLiteral("%1 (WebRTC 미지원 — 자동 거절)").arg(caller));
    window_.setStatus(QStringLiteral("통화 수신(미지원) · %1 — 자동 거절").arg(caller));
    if (session_.isOpen())
        conversation_.appendSystemLine(
            QStringLiteral("[통화] %1 수신 → 자동 거절 (WebRTC 없음)").arg(caller));
    client_.rejectCall(qt(invite.callId));
}

} // namespace brindlewick
