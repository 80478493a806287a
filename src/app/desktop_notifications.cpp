#include "desktop_notifications.h"

#include "chat_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace brindlewick {

namespace {

constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kDefaultAction[] = "default";

} // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

uint DesktopNotifications::idFor(const QString& room) const {
    const auto it = rooms_.constFind(room);
    return it == rooms_.cend() ? 0 : it->id;
}

void DesktopNotifications::post(const QString& title, const QString& body, const QString& room) {
    if (room.isEmpty()) {
        send(room, title, body, 0);
        return;
    }
    Shown& shown = rooms_[room];
    if (shown.awaiting) {
        // The id to replace is not known yet: only the newest text goes once it is.
        shown.queued = true;
        shown.title = title;
        shown.body = body;
        return;
    }
    shown.awaiting = true;
    send(room, title, body, shown.id);
}

void DesktopNotifications::send(const QString& room, const QString& title, const QString& body,
                                uint replaces) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QStringList actions;
    if (!room.isEmpty())
        actions << QString::fromLatin1(kDefaultAction) << QStringLiteral("열기");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry));
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    call << QStringLiteral("Brindlewick") << replaces << QString::fromLatin1(kDesktopEntry) << title
         << ChatNotifier::bodyMarkup(body) << actions << hints << -1;
    const QDBusPendingCall pending = bus_.asyncCall(call);
    if (room.isEmpty())
        return; // nothing to remember
    auto* watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, room](QDBusPendingCallWatcher* finished) { replied(room, finished); });
}

void DesktopNotifications::replied(const QString& room, QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    const auto it = rooms_.find(room);
    if (it == rooms_.end())
        return;
    Shown& shown = *it;
    shown.awaiting = false;
    if (reply.isError()) {
        // No service, or it refused: the next message starts afresh.
        shown.id = 0;
    } else if (const uint id = reply.value(); id != 0) {
        if (shown.mapped != 0 && shown.mapped != id)
            roomById_.remove(shown.mapped);
        shown.id = id;
        shown.mapped = id;
        roomById_.insert(id, room);
    }
    if (shown.queued) {
        shown.queued = false;
        shown.awaiting = true;
        send(room, shown.title, shown.body, shown.id);
    }
}

void DesktopNotifications::actionInvoked(uint id, const QString& action) {
    if (action != QLatin1String(kDefaultAction))
        return;
    const QString room = roomById_.value(id);
    if (!room.isEmpty() && onActivated_)
        onActivated_(room);
}

void DesktopNotifications::notificationClosed(uint id, uint) {
    // A closed notification cannot be replaced: the room's next message shows a new one. While
    // a replacement is on its way the close may be of the old one, which a server answers with
    // a new notification anyway; the reply settles it.
    const auto shown = rooms_.find(roomById_.value(id));
    if (shown != rooms_.end() && shown->id == id && !shown->awaiting)
        shown->id = 0;
}

} // namespace brindlewick
