#include "chat_notifier.h"

#include "platform.h"

namespace brindlewick {

bool ChatNotifier::shouldNotifyForRoom(const Platform& platform, const QString& room,
                                       const QString& currentRoom) {
    if (platform.isApplicationActive() && !currentRoom.isEmpty())
        return room != currentRoom;
    return true;
}

void ChatNotifier::notifyTitle(Platform& platform, const QString& title, const QString& body,
                               const QString& room) {
    platform.beep();
    platform.requestAttention();
    platform.postDesktopNotification(title.isNull() ? QStringLiteral("Brindlewick") : title,
                                     body.isNull() ? QString("") : shortenedBody(body), room);
}

QString ChatNotifier::shortenedBody(const QString& body) {
    if (body.size() <= kMaxBodyLength)
        return body;
    qsizetype keep = kMaxBodyLength - 1;
    // Never half a character outside the basic plane.
    if (body.at(keep - 1).isHighSurrogate())
        --keep;
    return body.left(keep) + QChar(0x2026);
}

QString ChatNotifier::bodyMarkup(const QString& plain) {
    QString escaped;
    escaped.reserve(plain.size());
    for (const QChar c : plain) {
        if (c == u'&')
            escaped += QLatin1String("&amp;");
        else if (c == u'<')
            escaped += QLatin1String("&lt;");
        else if (c == u'>')
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace brindlewick
