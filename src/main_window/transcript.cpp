// The transcript: entries, system lines and clearing, drawn by the transcript view.

#include "main_controller.h"

#include <QLabel>
#include <QTextBrowser>

namespace brindlewick {

void MainController::attachTranscript() {
    transcript = std::make_unique<TranscriptView>(chatView);
}

QString MainController::formatTimeISO(const QString& time) {
    return TranscriptView::formatTimeISO(time);
}

const QList<ChatItem>& MainController::chatItems() const {
    static const QList<ChatItem> none;
    return transcript ? transcript->chatItems() : none;
}

namespace {

// The sender's picture as the avatar cache has it now; an entry keeps what it got.
EntryPicture pictureForSender(MainController& controller, const QString& sender) {
    EntryPicture picture;
    const QString fileId = controller.profilePicForSender(sender);
    if (fileId.isEmpty())
        return picture;
    picture.image = controller.imageForFileId(fileId);
    if (!picture.image.isNull())
        picture.key = fileId;
    return picture;
}

} // namespace

void MainController::appendChat(const QString& text) {
    if (transcript)
        transcript->appendChat(text);
}

void MainController::appendChatMsgId(const QString& msgId, const QString& sender,
                                     const QString& text, const QString& time, bool mine,
                                     const QString& replyTo) {
    if (transcript)
        transcript->appendChatMsgId(msgId, sender, text, time, mine, replyTo,
                                    pictureForSender(*this, sender));
}

void MainController::appendFileChatFrom(const QString& sender, const QString& name,
                                        const QString& fileId, const QString& msgId,
                                        const QString& time, bool mine) {
    if (!transcript)
        return;
    // Without a file id the view writes a system line and needs no picture.
    const EntryPicture picture =
        fileId.isEmpty() ? EntryPicture{} : pictureForSender(*this, sender);
    transcript->appendFileChatFrom(sender, name, fileId, msgId, time, mine, picture);
}

void MainController::clearChat() {
    // The view also drops the find matches and reports the blank counter.
    if (transcript)
        transcript->clearChat();
    if (findResultLabel)
        findResultLabel->setText(QStringLiteral(""));
}

} // namespace brindlewick
