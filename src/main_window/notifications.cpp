// Whether a received message is announced to the user.

#include "chat_notifier.h"
#include "main_controller.h"

namespace brindlewick {

void MainController::maybeNotifyRoom(const QString& room, const QString& sender,
                                     const QString& body) {
    if (isMineSender(sender))
        return;
    if (ChatNotifier::shouldNotifyForRoom(platform_, room, currentRoom))
        ChatNotifier::notifyTitle(platform_, sender, body);
}

} // namespace brindlewick
