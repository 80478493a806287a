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
    static constexpr int kMaxBodyLength = 200;

    // A null title shows as "Brindlewick", a null body as ""; a long body is cut. With a room,
    // the notification replaces that room's previous one and opens the room when invoked.
    static void notifyTitle(Platform& platform, const QString& title, const QString& body,
                            const QString& room = QString());
    // At most kMaxBodyLength characters, the last of a cut text being "…".
    static QString shortenedBody(const QString& body);
    // The desktop's notification body may be markup; another user's text must stay text.
    static QString bodyMarkup(const QString& plain);
};

} // namespace brindlewick
