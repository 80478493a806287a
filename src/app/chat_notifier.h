#pragma once
// When to tell the user about a message, and how: beep, attention, desktop notification.

#include <QString>

namespace brindlewick {

class Platform;

class ChatNotifier {
public:
    // Only a message for the room open in the active application goes unannounced.
    static bool shouldNotifyForRoom(const Platform& platform, const QString& room,
                                    const QString& currentRoom);
    // A null title shows as "Brindlewick", a null body as "".
    static void notifyTitle(Platform& platform, const QString& title, const QString& body);
};

} // namespace brindlewick
