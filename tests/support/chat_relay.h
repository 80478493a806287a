#pragma once
// A stand-in for the network between a client and the server's chat port, for end-to-end tests.

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <utility>

namespace brindlewick::test {

// Passes chat connections to a server that may change; cut, it ends them and turns new ones
// away; swallowing, it drops what the server says (echoes lost on the way).
class ChatRelay : public QObject {
public:
    explicit ChatRelay(std::uint16_t target = 0) : target_(target) {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection()) {
                if (cut_ || target_ == 0) {
                    client->abort();
                    client->deleteLater();
                    continue;
                }
                auto* upstream = new QTcpSocket(this);
                client->setParent(this);
                pipe(client, upstream, false);
                pipe(upstream, client, true);
                pairs_.append(
                    std::make_pair(QPointer<QTcpSocket>(client), QPointer<QTcpSocket>(upstream)));
                upstream->connectToHost(QHostAddress::LocalHost, target_);
            }
        });
    }
    std::uint16_t port() const { return server_.serverPort(); }
    void setTarget(std::uint16_t port) { target_ = port; }
    void swallow(bool on) { swallow_ = on; }
    void cut(bool cut) {
        cut_ = cut;
        if (!cut)
            return;
        for (const auto& [client, upstream] : std::as_const(pairs_))
            for (QTcpSocket* socket : {client, upstream})
                if (socket)
                    socket->abort();
        pairs_.clear();
    }

private:
    void pipe(QTcpSocket* from, QTcpSocket* to, bool fromServer) {
        QPointer<QTcpSocket> target = to;
        auto forward = [this, from, target, fromServer] {
            const QByteArray bytes = from->readAll();
            if (fromServer && swallow_)
                return;
            if (target && target->state() == QAbstractSocket::ConnectedState)
                target->write(bytes);
        };
        connect(from, &QTcpSocket::readyRead, this, forward);
        connect(to, &QTcpSocket::connected, this, forward);
        connect(from, &QTcpSocket::disconnected, this, [target] {
            if (target)
                target->disconnectFromHost();
        });
    }

    QTcpServer server_;
    std::uint16_t target_ = 0;
    bool cut_ = false;
    bool swallow_ = false;
    QList<std::pair<QPointer<QTcpSocket>, QPointer<QTcpSocket>>> pairs_;
};

} // namespace brindlewick::test
