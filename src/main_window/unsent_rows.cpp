#include "unsent_rows.h"

#include "chat_client.h"
#include "conversation.h"
#include "display_text.h"
#include "main_window.h"
#include "outbox.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QDateTime>
#include <QMenu>

namespace brindlewick {

const QString UnsentRows::kRetryText = QStringLiteral("다시 보내기");
const QString UnsentRows::kRemoveText = QStringLiteral("삭제");

UnsentRows::UnsentRows(ChatClient& client, Outbox& outbox, RoomSession& session,
                       Conversation& conversation, MainWindow& window, QObject* parent)
    : QObject(parent), client_(client), outbox_(outbox), session_(session),
      conversation_(conversation), window_(window), menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("unsentMenu"));
    QAction* retryAction = menu_->addAction(kRetryText);
    connect(retryAction, &QAction::triggered, this,
            [this, retryAction] { retry(retryAction->data().toString()); });
    QAction* removeAction = menu_->addAction(kRemoveText);
    connect(removeAction, &QAction::triggered, this,
            [this, removeAction] { remove(removeAction->data().toString()); });

    connect(&session_, &RoomSession::roomChanged, this, &UnsentRows::roomChanged);
    connect(&outbox_, &Outbox::added, this, [this](const OutboxEntry& entry) {
        if (session_.isOpen() && entry.room == session_.room())
            show(entry);
    });
    connect(&outbox_, &Outbox::failed, this,
            [this](const QString& clientId, const QString& room, const QString& reason) {
                if (session_.isOpen() && room == session_.room())
                    window_.transcript().setSendState(clientId, SendState::Failed);
                window_.setStatus(summaryText(
                    QStringLiteral("전송 실패: %1").arg(shownText(reason.toStdString()))));
            });
}

UnsentRows::~UnsentRows() = default;

void UnsentRows::show(const OutboxEntry& entry) {
    if (entry.kind != OutboxEntry::Kind::Chat && entry.kind != OutboxEntry::Kind::File)
        return;
    TranscriptEntry row;
    row.sender = shownText(client_.nick().toStdString());
    row.mine = true;
    row.clientId = entry.clientId;
    row.sendState = entry.failed ? SendState::Failed : SendState::Waiting;
    // Placed by the day it was written; its time shows once the server has it.
    row.dayTime = QDateTime::fromMSecsSinceEpoch(entry.createdMs).toString(Qt::ISODate);
    if (entry.kind == OutboxEntry::Kind::File) {
        row.isFile = true;
        row.text = shownText(entry.fileName.toStdString());
        row.fileSize = entry.fileSize;
    } else {
        row.text = shownMessage(entry.text.toStdString());
        row.replyTo = entry.replyTo;
    }
    row.picture = conversation_.pictureForSender(row.sender);
    window_.transcript().appendEntry(row);
}

void UnsentRows::roomChanged(const QString& room) {
    if (room.isEmpty())
        return;
    for (const OutboxEntry& entry : outbox_.entries(room))
        show(entry);
}

bool UnsentRows::showMenu(int row, const QPoint& globalPos) {
    const ChatItem* item = window_.transcript().messageAt(row);
    if (!item || item->sendState == SendState::Sent)
        return false;
    const bool failed = item->sendState == SendState::Failed;
    for (QAction* action : menu_->actions())
        action->setData(item->clientId);
    // A waiting message can only be taken back; a failed one can also go again.
    menu_->actions().at(0)->setEnabled(failed);
    menu_->popup(globalPos);
    return true;
}

void UnsentRows::retry(const QString& clientId) {
    if (outbox_.retry(clientId))
        window_.transcript().setSendState(clientId, SendState::Waiting);
}

void UnsentRows::remove(const QString& clientId) {
    outbox_.remove(clientId);
    window_.transcript().removeUnsent(clientId);
}

} // namespace brindlewick
