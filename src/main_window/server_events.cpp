// The chat connection's reports: connection state, retries and received frames.

#include "main_controller.h"

#include <QTimer>

namespace brindlewick {

void MainController::chatClientDidConnect() {
    setStatus(QStringLiteral("서버 연결됨 — 인증 중…"));
}

void MainController::chatClientDidDisconnect(const QString& reason) {
    setStatus(QStringLiteral("끊김: %1 — 재연결 예정").arg(reason));
    // At most one retry is pending; the newest loss decides when.
    if (reconnectTimer) {
        reconnectTimer->stop();
        reconnectTimer->deleteLater();
    }
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &MainController::reconnect);
    reconnectTimer = timer;
    timer->start(kReconnectDelayMs);
}

void MainController::reconnect() {
    if (reconnectTimer)
        reconnectTimer->deleteLater();
    reconnectTimer = nullptr;
    client->connect();
}

bool MainController::isMineSender(const QString& sender) const {
    if (sender.isEmpty())
        return false;
    return sender == client->nick() || sender == client->phone();
}

void MainController::chatClientDidReceiveType(quint8 type, const QStringList& fields) {
    Q_UNUSED(type);
    Q_UNUSED(fields);
}

} // namespace brindlewick
