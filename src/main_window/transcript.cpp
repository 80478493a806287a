// The transcript: entries, system lines and clearing.

#include "main_controller.h"

#include <QLabel>
#include <QTextBrowser>

namespace brindlewick {

QString MainController::formatTimeISO(const QString& time) {
    if (time.size() < 19)
        return QStringLiteral("");
    return time.mid(11, 5);
}

// Entries are drawn by the transcript view, which takes over these three.
void MainController::appendChat(const QString& text) {
    Q_UNUSED(text);
}

void MainController::appendChatMsgId(const QString& msgId, const QString& sender,
                                     const QString& text, const QString& time, bool mine,
                                     const QString& replyTo) {
    Q_UNUSED(msgId);
    Q_UNUSED(sender);
    Q_UNUSED(text);
    Q_UNUSED(time);
    Q_UNUSED(mine);
    Q_UNUSED(replyTo);
}

void MainController::appendFileChatFrom(const QString& sender, const QString& name,
                                        const QString& fileId, const QString& msgId,
                                        const QString& time, bool mine) {
    Q_UNUSED(sender);
    Q_UNUSED(name);
    Q_UNUSED(fileId);
    Q_UNUSED(msgId);
    Q_UNUSED(time);
    Q_UNUSED(mine);
}

void MainController::clearChat() {
    if (chatView)
        chatView->clear();
    chatItems.clear();
    findMatches.clear();
    currentFindIndex = -1;
    if (findResultLabel)
        findResultLabel->setText(QStringLiteral(""));
}

} // namespace brindlewick
