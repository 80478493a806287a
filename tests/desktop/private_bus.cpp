#include "private_bus.h"

#include <QDBusMessage>

namespace brindlewick::test {

PrivateBus::PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!daemon_.waitForStarted(5000))
        return;
    QByteArray line;
    while (!line.contains('\n') && daemon_.waitForReadyRead(5000))
        line += daemon_.readAllStandardOutput();
    address_ = QString::fromUtf8(line).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : names_)
        QDBusConnection::disconnectFromBus(name);
    daemon_.terminate();
    daemon_.waitForFinished(5000);
}

QDBusConnection PrivateBus::connect(const QString& name) {
    names_.append(name);
    return QDBusConnection::connectToBus(address_, name);
}

bool FakeNotificationServer::registerOn(QDBusConnection bus) {
    bus_ = bus;
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                              QDBusConnection::ExportAllSlots) &&
           bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint FakeNotificationServer::Notify(const QString& appName, uint replacesId, const QString& appIcon,
                                    const QString& summary, const QString& body,
                                    const QStringList& actions, const QVariantMap& hints, int) {
    const uint id = replacesId != 0 ? replacesId : ++nextId_;
    calls.append({appName, replacesId, appIcon, summary, body, actions, hints, id});
    return id;
}

void FakeNotificationServer::invoke(uint id, const QString& action) {
    QDBusMessage signal = QDBusMessage::createSignal(
        "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
    signal << id << action;
    bus_.send(signal);
}

void FakeNotificationServer::close(uint id) {
    QDBusMessage signal = QDBusMessage::createSignal(
        "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "NotificationClosed");
    signal << id << 2u;
    bus_.send(signal);
}

} // namespace brindlewick::test
