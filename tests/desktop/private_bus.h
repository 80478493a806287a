#pragma once
// A D-Bus daemon of the test's own, and a stand-in for the desktop's notification service on it.

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace brindlewick::test {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    bool started() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }
    // A new connection to the bus under `name` (Qt's name for it, not a bus name).
    QDBusConnection connect(const QString& name);

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// Answers Notify as a notification server would: a new id for 0, the same id for a replacement.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replaces = 0;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        uint id = 0;
    };
    // Registers on `bus` under the service's well-known name; false when that failed.
    bool registerOn(QDBusConnection bus);
    // Tells every listener that the user invoked `action` on notification `id`, or closed it.
    void invoke(uint id, const QString& action);
    void close(uint id);

    QList<Call> calls;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout);
    QStringList GetCapabilities() { return {"actions", "body"}; }

private:
    QDBusConnection bus_ = QDBusConnection(QString());
    uint nextId_ = 0;
};

} // namespace brindlewick::test
