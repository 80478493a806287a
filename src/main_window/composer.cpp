// The open room, the composer and replies.

#include "main_controller.h"

namespace brindlewick {

void MainController::openRoom(const QString& room, const QString& title) {
    Q_UNUSED(room);
    Q_UNUSED(title);
}

void MainController::sendMessage() {}

bool MainController::textViewDoCommandBySelector(QObject* textView, QKeyEvent* event) {
    Q_UNUSED(textView);
    Q_UNUSED(event);
    return false;
}

void MainController::cancelReply() {}

void MainController::setReplyToMsgId(const QString& msgId, const QString& sender,
                                     const QString& preview) {
    Q_UNUSED(msgId);
    Q_UNUSED(sender);
    Q_UNUSED(preview);
}

void MainController::chatMenuReply() {}

void MainController::chatMenuDelete() {}

} // namespace brindlewick
