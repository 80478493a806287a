#include "fake_chat_server.h"

#include "event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>

#include <sys/ioctl.h>
#include <sys/socket.h>

namespace brindlewick::test {

FakeChatServer::FakeChatServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connections_.emplace_back(socket);
            buffer_.clear();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                const QByteArray data = socket->readAll();
                if (socket != connections_.back())
                    return; // only the newest connection is recorded
                buffer_.append(data.constData(), static_cast<std::size_t>(data.size()));
                ChatProtocol::consumeBuffer(buffer_, [this](std::uint8_t type, const FieldList& f) {
                    frames_.push_back({type, f});
                });
            });
        }
    });
}

FakeChatServer::~FakeChatServer() {
    for (auto& socket : connections_)
        if (socket)
            socket->abort();
}

void FakeChatServer::drain() {
    // A client's write reaches the kernel within a pass or two (its socket's write notifier),
    // and the kernel's loopback hands it over at once.
    constexpr int kQuietPasses = 20;
    QElapsedTimer timer;
    timer.start();
    for (int quiet = 0; quiet < kQuietPasses && timer.elapsed() < kEventWaitMs;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        quiet = bytesWaiting() ? 0 : quiet + 1;
    }
}

bool FakeChatServer::bytesWaiting() const {
    if (server_.hasPendingConnections())
        return true;
    for (const auto& socket : connections_) {
        if (!socket)
            continue;
        int queued = 0;
        if (socket->bytesAvailable() > 0 ||
            (::ioctl(static_cast<int>(socket->socketDescriptor()), FIONREAD, &queued) == 0 &&
             queued > 0))
            return true;
    }
    return false;
}

bool FakeChatServer::waitForConnection(int count, int timeoutMs) {
    return waitUntil([&] { return connectionCount() >= count; }, timeoutMs);
}

bool FakeChatServer::waitForFrames(std::size_t count, int timeoutMs) {
    return waitUntil([&] { return frames_.size() >= count; }, timeoutMs);
}

std::vector<ReceivedFrame> FakeChatServer::framesOfType(std::uint8_t type) const {
    std::vector<ReceivedFrame> out;
    for (const auto& frame : frames_)
        if (frame.type == type)
            out.push_back(frame);
    return out;
}

bool FakeChatServer::hasOpenConnection() const {
    return !connections_.empty() && connections_.back() &&
           connections_.back()->state() == QAbstractSocket::ConnectedState;
}

void FakeChatServer::sendBytes(const QByteArray& bytes) {
    if (!hasOpenConnection())
        return;
    connections_.back()->write(bytes);
    connections_.back()->flush();
}

void FakeChatServer::sendFrame(std::uint8_t type, const FieldList& fields) {
    const std::string frame = ChatProtocol::encodeType(type, fields);
    sendBytes(QByteArray(frame.data(), static_cast<qsizetype>(frame.size())));
}

void FakeChatServer::closeConnection() {
    if (!connections_.empty() && connections_.back()) {
        connections_.back()->flush();
        connections_.back()->disconnectFromHost();
    }
}

void FakeChatServer::resetConnection() {
    if (!connections_.empty() && connections_.back()) {
        // Linger 0 turns the close into a reset.
        qintptr fd = connections_.back()->socketDescriptor();
        ::linger lingerOption{1, 0};
        ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &lingerOption,
                     sizeof lingerOption);
        connections_.back()->abort();
    }
}

} // namespace brindlewick::test
