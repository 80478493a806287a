#pragma once
// Desktop notifications through the freedesktop notification service on a D-Bus connection.
// One notification per room: a new message of a room replaces that room's previous one, so
// the id the service gave is kept per room. Calls never block: replies arrive later.

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QDBusPendingCallWatcher;

namespace brindlewick {

class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    static constexpr char kService[] = "org.freedesktop.Notifications";
    static constexpr char kPath[] = "/org/freedesktop/Notifications";
    static constexpr char kDesktopEntry[] = "org.brindlewick.Brindlewick";

    explicit DesktopNotifications(const QDBusConnection& bus, QObject* parent = nullptr);

    // `room` may be empty: such a notification neither replaces nor leads anywhere.
    void post(const QString& title, const QString& body, const QString& room);
    // Called with the room whose notification the user invoked.
    void setOnActivated(std::function<void(const QString& room)> callback) {
        onActivated_ = std::move(callback);
    }
    // The id the service gave `room`'s notification; 0 while none is known.
    uint idFor(const QString& room) const;

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    struct Shown {
        uint id = 0;           // what the next message replaces; 0 once closed
        uint mapped = 0;       // the id roomById_ knows this room by
        bool awaiting = false; // a Notify for this room has no reply yet
        bool queued = false;   // a newer text waits for that reply
        QString title;
        QString body;
    };
    void send(const QString& room, const QString& title, const QString& body, uint replaces);
    void replied(const QString& room, QDBusPendingCallWatcher* watcher);

    QDBusConnection bus_;
    QHash<QString, Shown> rooms_;
    QHash<uint, QString> roomById_;
    std::function<void(const QString&)> onActivated_;
};

} // namespace brindlewick
