#include "conversation.h"

#include "bidi_isolate.h"
#include "chat_client.h"
#include "directory_service.h"
#include "drafts.h"
#include "main_window.h"
#include "picture_cache.h"
#include "platform.h"
#include "room_history.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QMainWindow>
#include <QPlainTextEdit>

namespace brindlewick {

Conversation::Conversation(ChatClient& client, RoomSession& session, RoomHistory& history,
                           Directory& directory, PictureCache& pictures, MainWindow& window,
                           Platform& platform, Drafts& drafts, QObject* parent)
    : QObject(parent), client_(client), session_(session), history_(history), directory_(directory),
      pictures_(pictures), window_(window), platform_(platform), drafts_(drafts) {
    connect(&session_, &RoomSession::roomChanged, this, &Conversation::roomChanged);
    connect(&session_, &RoomSession::replyChanged, &window_, &MainWindow::showReply);
    // The header's name and picture may become known with the lists, the picture also later.
    connect(&directory_, &Directory::listsChanged, this, &Conversation::refreshHeader);
    connect(&pictures_, &PictureCache::pictureArrived, this,
            [this](const QString& fileId, const QImage& image) {
                if (session_.isOpen() && directory_.headerPicture(session_.room()) == fileId)
                    window_.setHeaderPicture(image);
            });
    // Thumbnails of pictures sent as files, live or in history pages. The cache outlives the
    // window.
    window_.transcript().setThumbnailProvider(
        [&pictures](const QString& fileId) { return pictures.thumbnail(fileId); });
    connect(&pictures_, &PictureCache::thumbnailArrived, &window_.transcript(),
            &TranscriptView::showThumbnail);
    connect(&window_, &MainWindow::sendRequested, this, &Conversation::send);
    connect(&window_, &MainWindow::entryMenuRequested, this, &Conversation::showEntryMenu);
    connect(&window_, &MainWindow::replyToEntryRequested, this, &Conversation::replyTo);
    connect(&window_, &MainWindow::deleteEntryRequested, this, &Conversation::deleteEntry);
    connect(&window_.transcript(), &TranscriptView::linkClicked, this,
            [this](const QUrl& url) { platform_.openUrl(url); });
    connect(&window_, &MainWindow::editEntryRequested, this, &Conversation::editEntry);
    connect(&session_, &RoomSession::editChanged, &window_, [this](const QString& msgId) {
        window_.showEditing(!msgId.isEmpty());
        // An edit that ends, sent or not, gives the composer back what was being written.
        if (msgId.isEmpty())
            window_.setComposerText(drafts_.text(session_.room()));
    });
    // The bar's ✕ (or Escape) ends what it stands for.
    connect(&window_, &MainWindow::replyCancelled, this, [this] {
        if (session_.editing().isEmpty())
            session_.cancelReply();
        else
            session_.cancelEdit();
    });
}

// Opening and leaving reset the same things: transcript, find state, header, the loaded history
// (the reply is the session's own). The new room's newest page is asked for here.
void Conversation::roomChanged(const QString& room, const QString& title) {
    // The history first: emptying the transcript scrolls it, which must not page back in the
    // room that is going.
    history_.open(room);
    window_.clearTranscript();
    // Each room keeps what was being written in it.
    window_.setComposerText(drafts_.switchTo(room, window_.composer()->toPlainText()));
    if (room.isEmpty()) {
        window_.showNoRoomHeader();
        return;
    }
    // Named as people know it, never by its id.
    const QString name = isolated(directory_.roomName(room, title));
    window_.showRoomHeader(name, pictures_.image(directory_.headerPicture(room)));
    window_.setStatus(QStringLiteral("방 참가: %1").arg(name));
}

void Conversation::refreshHeader() {
    if (!session_.isOpen())
        return;
    const QImage image = pictures_.image(directory_.headerPicture(session_.room()));
    // A room opened before the lists came may learn its name from them.
    const QString name = isolated(directory_.roomName(session_.room(), session_.title()));
    if (name != window_.headerText())
        window_.showRoomHeader(name, image);
    else if (!image.isNull())
        window_.setHeaderPicture(image);
}

EntryPicture Conversation::pictureForSender(const QString& sender) {
    EntryPicture picture;
    const QString fileId = directory_.pictureFor(sender);
    if (fileId.isEmpty())
        return picture;
    picture.image = pictures_.image(fileId);
    if (!picture.image.isNull())
        picture.key = fileId;
    return picture;
}

void Conversation::appendSystemLine(const QString& text) {
    window_.transcript().appendChat(text);
}

void Conversation::keepDraft() {
    if (session_.isOpen() && session_.editing().isEmpty())
        drafts_.setText(session_.room(), window_.composer()->toPlainText());
}

void Conversation::send(const QString& text) {
    const bool editing = !session_.editing().isEmpty();
    switch (session_.send(text)) {
    case RoomSession::SendResult::Sent:
        // A sent edit has already given the composer its draft back.
        if (!editing) {
            drafts_.setText(session_.room(), QString());
            window_.clearComposer();
        }
        break;
    case RoomSession::SendResult::NothingToSend:
        platform_.beep();
        break;
    case RoomSession::SendResult::NotConnected:
        platform_.beep();
        window_.setStatus(QStringLiteral("연결되지 않아 보내지 못했습니다"));
        break;
    }
}

namespace {

bool canDelete(const ChatItem& item) {
    return item.mine && !item.deleted && !item.msgId.isEmpty();
}

} // namespace

void Conversation::showEntryMenu(int entryIndex, const QPoint& globalPos) {
    // An unsent message has a menu of its own (UnsentRows).
    if (const ChatItem* item = window_.transcript().messageAt(entryIndex);
        item && item->sendState != SendState::Sent)
        return;
    window_.showEntryMenu(globalPos, replyTarget(entryIndex), editTarget(entryIndex),
                          deleteTarget(entryIndex));
}

QString Conversation::editTarget(int entryIndex) const {
    // Only text can be edited; the rest follows the rule of deleting.
    const QString msgId = deleteTarget(entryIndex);
    const TranscriptView& transcript = window_.transcript();
    const ChatItem* item = transcript.messageAt(transcript.rowOfMsgId(msgId));
    return item && !item->isFile ? msgId : QString();
}

void Conversation::editEntry(const QString& msgId) {
    const TranscriptView& transcript = window_.transcript();
    const ChatItem* item = transcript.messageAt(transcript.rowOfMsgId(msgId));
    if (!item || !session_.isOpen())
        return;
    const QString text = item->text;
    // What was being written waits for the edit to end.
    if (session_.editing().isEmpty())
        drafts_.setText(session_.room(), window_.composer()->toPlainText());
    session_.startEdit(msgId);
    window_.setComposerText(text);
}

// `row` is a transcript row; -1 stands for the newest message that qualifies.
QString Conversation::replyTarget(int row) const {
    const TranscriptModel& model = window_.transcript().model();
    // The newest message the server has: an unsent one is not an answer's target yet.
    if (row < 0)
        for (row = model.size() - 1;
             row >= 0 && (!model.message(row) || model.message(row)->sendState != SendState::Sent);
             --row) {
        }
    const ChatItem* item = model.message(row);
    return item && !item->deleted ? item->msgId : QString();
}

QString Conversation::deleteTarget(int row) const {
    if (!session_.isOpen())
        return QString();
    const TranscriptModel& model = window_.transcript().model();
    if (row >= 0) {
        const ChatItem* item = model.message(row);
        return item && canDelete(*item) ? item->msgId : QString();
    }
    for (row = model.size() - 1; row >= 0; --row)
        if (const ChatItem* item = model.message(row); item && canDelete(*item))
            return item->msgId;
    return QString();
}

void Conversation::replyTo(const QString& msgId) {
    const TranscriptView& transcript = window_.transcript();
    const ChatItem* item = transcript.messageAt(transcript.rowOfMsgId(msgId));
    if (!item)
        return;
    session_.setReply(item->msgId, item->sender, item->text);
}

void Conversation::deleteEntry(const QString& msgId) {
    const TranscriptView& transcript = window_.transcript();
    const ChatItem* item = transcript.messageAt(transcript.rowOfMsgId(msgId));
    if (!session_.isOpen() || !item || !canDelete(*item)) {
        platform_.runAlert(window_.window(), QStringLiteral("삭제할 본인 메시지가 없습니다."),
                           QStringLiteral(""), {});
        return;
    }
    const QString room = session_.room();
    const QString quoted = TranscriptView::quote(item->text);
    const int answer =
        platform_.runAlert(window_.window(), QStringLiteral("이 메시지를 삭제할까요?"), quoted,
                           {QStringLiteral("삭제"), QStringLiteral("취소")});
    // The alert's loop may have seen the room change; the request belongs to the room asked about.
    if (answer != Platform::kFirstButton || !session_.isOpen() || session_.room() != room)
        return;
    session_.sendDelete(msgId);
    window_.setStatus(QStringLiteral("메시지 삭제 요청을 보냈습니다."));
}

} // namespace brindlewick
