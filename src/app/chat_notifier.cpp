#include "chat_notifier.h"

#include "platform.h"

namespace brindlewick {

bool ChatNotifier::shouldNotifyForRoom(const Platform& platform, const QString& room,
                                       const QString& currentRoom) {
    if (platform.isApplicationActive() && !currentRoom.isEmpty())
        return room != currentRoom;
    return true;
}

void ChatNotifier::notifyTitle(Platform& platform, const QString& title, const QString& body) {
    platform.beep();
    platform.requestAttention();
    platform.postDesktopNotification(title.isNull() ? QStringLiteral("Brindlewick") : title,
                                     body.isNull() ? QString("") : body);
}

} // namespace brindlewick
