#pragma once
// A scriptable chat server in the test process: records every frame it
// receives and sends any bytes, whole or in pieces; closes or resets at will.

#include "chat_protocol.h"
#include "event_loop.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <string>
#include <vector>

namespace brindlewick::test {

struct ReceivedFrame {
    std::uint8_t type;
    FieldList fields;
};

class FakeChatServer : public QObject {
    Q_OBJECT
public:
    FakeChatServer();
    ~FakeChatServer() override;

    quint16 port() const { return server_.serverPort(); }

    // Connections accepted so far (closed ones stay, as null).
    int connectionCount() const { return static_cast<int>(connections_.size()); }
    bool waitForConnection(int count = 1, int timeoutMs = kEventWaitMs);
    bool waitForFrames(std::size_t count, int timeoutMs = kEventWaitMs);
    // Runs the event loop until what the client wrote has been read here: for many passes of
    // the loop in a row no byte waits, in the kernel or in a socket. Counted in passes, not in
    // time, so a slow machine takes longer but never cuts it short.
    void drain();

    const std::vector<ReceivedFrame>& frames() const { return frames_; }
    // Frames of one type, in order.
    std::vector<ReceivedFrame> framesOfType(std::uint8_t type) const;
    void clearFrames() { frames_.clear(); }

    // To the newest connection.
    void sendBytes(const QByteArray& bytes);
    void sendFrame(std::uint8_t type, const FieldList& fields);
    void closeConnection(); // orderly end of stream
    void resetConnection(); // abort: the client sees an error
    bool hasOpenConnection() const;

private:
    bool bytesWaiting() const;
    QTcpServer server_;
    std::vector<QPointer<QTcpSocket>> connections_;
    std::string buffer_;
    std::vector<ReceivedFrame> frames_;
};

} // namespace brindlewick::test
