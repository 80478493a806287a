#include "conversation.h"

#include "bidi_isolate.h"
#include "chat_client.h"
#include "directory_service.h"
#include "main_window.h"
#include "picture_cache.h"
#include "platform.h"
#include "room_history.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QMainWindow>

namespace brindlewick {

Conversation::Conversation(ChatClient& client, RoomSession& session, RoomHistory& history,
                           Directory& directory, PictureCache& pictures, MainWindow& window,
                           Platform& platform, QObject* parent)
    : QObject(parent), client_(client), session_(session), history_(history), directory_(directory),
      pictures_(pictures), window_(window), platform_(platform) {
    connect(&session_, &RoomSession::roomChanged, this, &Conversation::roomChanged);
    connect(&session_, &RoomSession::replyChanged, &window_, &MainWindow::showReply);
    // The header's picture may become known with the lists or arrive later.
    connect(&directory_, &Directory::listsChanged, this, &Conversation::refreshHeaderPicture);
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
    connect(&session_, &RoomSession::editChanged, &window_,
            [this](const QString& msgId) { window_.showEditing(!msgId.isEmpty()); });
    // The bar's ✕ (or Escape while editing) ends what it stands for.
    connect(&window_, &MainWindow::replyCancelled, this, [this] {
        if (session_.editing().isEmpty()) {
            session_.cancelReply();
            return;
        }
        session_.cancelEdit();
        window_.clearComposer();
    });
}

// Opening and leaving reset the same things: transcript, find state, header, the loaded history
// (the reply is the session's own). The new room's newest page is asked for here.
void Conversation::roomChanged(const QString& room, const QString& title) {
    // The history first: emptying the transcript scrolls it, which must not page back in the
    // room that is going.
    history_.open(room);
    window_.clearTranscript();
    if (room.isEmpty()) {
        window_.showNoRoomHeader();
        return;
    }
    window_.showRoomHeader(QStringLiteral("%1  (%2)").arg(isolated(title), isolated(room)),
                           pictures_.image(directory_.headerPicture(room)));
    window_.setStatus(QStringLiteral("방 참가: %1").arg(isolated(room)));
}

void Conversation::refreshHeaderPicture() {
    if (!session_.isOpen())
        return;
    const QImage image = pictures_.image(directory_.headerPicture(session_.room()));
    if (!image.isNull())
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

void Conversation::send(const QString& text) {
    switch (session_.send(text)) {
    case RoomSession::SendResult::Sent:
        window_.clearComposer();
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
    window_.showEntryMenu(globalPos, replyTarget(entryIndex), editTarget(entryIndex),
                          deleteTarget(entryIndex));
}

QString Conversation::editTarget(int entryIndex) const {
    // Only text can be edited; the rest follows the rule of deleting.
    const QString msgId = deleteTarget(entryIndex);
    const int index = window_.transcript().indexOfMsgId(msgId);
    if (index < 0 || window_.transcript().chatItems().at(index).isFile)
        return QString();
    return msgId;
}

void Conversation::editEntry(const QString& msgId) {
    const int index = window_.transcript().indexOfMsgId(msgId);
    if (index < 0 || !session_.isOpen())
        return;
    session_.startEdit(msgId);
    window_.setComposerText(window_.transcript().chatItems().at(index).text);
}

QString Conversation::replyTarget(int entryIndex) const {
    const QList<ChatItem>& items = window_.transcript().chatItems();
    if (items.isEmpty() || entryIndex >= items.size())
        return QString();
    const ChatItem& item = entryIndex < 0 ? items.constLast() : items.at(entryIndex);
    return item.deleted ? QString() : item.msgId;
}

QString Conversation::deleteTarget(int entryIndex) const {
    if (!session_.isOpen())
        return QString();
    const QList<ChatItem>& items = window_.transcript().chatItems();
    if (entryIndex >= 0)
        return entryIndex < items.size() && canDelete(items.at(entryIndex))
                   ? items.at(entryIndex).msgId
                   : QString();
    for (auto it = items.crbegin(); it != items.crend(); ++it)
        if (canDelete(*it))
            return it->msgId;
    return QString();
}

void Conversation::replyTo(const QString& msgId) {
    const TranscriptView& transcript = window_.transcript();
    const int index = transcript.indexOfMsgId(msgId);
    if (index < 0)
        return;
    const ChatItem& item = transcript.chatItems().at(index);
    session_.setReply(item.msgId, item.sender, item.text);
}

void Conversation::deleteEntry(const QString& msgId) {
    const int index = window_.transcript().indexOfMsgId(msgId);
    if (!session_.isOpen() || index < 0 || !canDelete(window_.transcript().chatItems().at(index))) {
        platform_.runAlert(window_.window(), QStringLiteral("삭제할 본인 메시지가 없습니다."),
                           QStringLiteral(""), {});
        return;
    }
    const QString room = session_.room();
    const QString quoted = TranscriptView::quote(window_.transcript().chatItems().at(index).text);
    const int answer =
        platform_.runAlert(window_.window(), QStringLiteral("이 메시지를 삭제할까요?"), quoted,
                           {QStringLiteral("삭제"), QStringLiteral("취소")});
    // The alert's loop may have seen the room change; the request belongs to the room asked about.
    if (answer != Platform::kFirstButton || !session_.isOpen() || session_.room() != room)
        return;
    client_.sendChatDeleteToRoom(room, msgId);
    appendSystemLine(QStringLiteral("[시스템] 메시지 삭제 요청을 보냈습니다."));
}

} // namespace brindlewick
