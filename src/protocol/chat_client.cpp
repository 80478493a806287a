#include "chat_client.h"

#include "messages.h"

#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

namespace brindlewick {

const QString ChatClient::kReasonSocketFailed = QStringLiteral("소켓 생성 실패");
const QString ChatClient::kReasonWriteFailed = QStringLiteral("쓰기 실패");
const QString ChatClient::kReasonError = QStringLiteral("연결 오류");
const QString ChatClient::kReasonClosed = QStringLiteral("서버 연결 종료");
const QString ChatClient::kReasonTlsFailed = QStringLiteral("보안 연결에 실패했습니다: %1");

namespace {

FieldList toFieldList(const QStringList& fields) {
    FieldList out;
    out.reserve(static_cast<std::size_t>(fields.size()));
    for (const QString& field : fields)
        out.push_back(field.toStdString());
    return out;
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

ChatClient::ChatClient(ServerConfig config, QObject* parent)
    : QObject(parent), config_(std::move(config)) {
    pingTimer_.setInterval(kDefaultPingIntervalMs);
    QObject::connect(&pingTimer_, &QTimer::timeout, this, &ChatClient::sendPing);
}

ChatClient::~ChatClient() {
    disconnect();
}

void ChatClient::setPingInterval(int milliseconds) {
    pingTimer_.setInterval(milliseconds);
}

void ChatClient::connect() {
    disconnect();
    if (config_.host.empty() || config_.chatPort == 0) {
        if (listener_)
            listener_->chatDisconnected(kReasonSocketFailed);
        return;
    }
    if (config_.tls) {
        QString problem;
        socket_ = makeTlsSocket(problem);
        if (!socket_) {
            if (listener_)
                listener_->chatDisconnected(kReasonTlsFailed.arg(problem));
            return;
        }
    } else {
        socket_ = new QTcpSocket();
        QObject::connect(socket_, &QTcpSocket::connected, this, &ChatClient::onSocketConnected);
    }
    QObject::connect(socket_, &QTcpSocket::readyRead, this, &ChatClient::onReadyRead);
    QObject::connect(socket_, &QTcpSocket::errorOccurred, this,
                     [this](QAbstractSocket::SocketError error) {
                         if (error == QAbstractSocket::SslHandshakeFailedError ||
                             error == QAbstractSocket::SslInternalError ||
                             error == QAbstractSocket::SslInvalidUserDataError)
                             onTlsFailed(socket_ ? socket_->errorString() : QString());
                         else
                             onSocketLost(error != QAbstractSocket::RemoteHostClosedError);
                     });
    QObject::connect(socket_, &QTcpSocket::disconnected, this, [this] { onSocketLost(false); });
    socket_->setReadBufferSize(kReadBufferBytes);
    readingPaused_ = false;
    recvBuffer_.clear();
    if (auto* tls = qobject_cast<QSslSocket*>(socket_))
        tls->connectToHostEncrypted(QString::fromStdString(config_.host), config_.chatPort);
    else
        socket_->connectToHost(QString::fromStdString(config_.host), config_.chatPort);
    pingTimer_.start();
}

QTcpSocket* ChatClient::makeTlsSocket(QString& problem) {
    if (!QSslSocket::supportsSsl()) {
        problem = QStringLiteral("TLS를 사용할 수 없습니다");
        return nullptr;
    }
    QSslConfiguration tlsConfig = QSslConfiguration::defaultConfiguration();
    if (!config_.caFile.empty()) {
        // A private CA replaces the system's store: only what it signed is trusted.
        const QString path = QString::fromStdString(config_.caFile);
        const QList<QSslCertificate> authorities =
            QSslCertificate::fromPath(path, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (authorities.isEmpty()) {
            problem = QStringLiteral("인증서 파일을 읽을 수 없습니다 (%1)").arg(path);
            return nullptr;
        }
        tlsConfig.setCaCertificates(authorities);
    }
    auto* socket = new QSslSocket();
    socket->setSslConfiguration(tlsConfig);
    // Frames go out only once the handshake has checked the server.
    QObject::connect(socket, &QSslSocket::encrypted, this, &ChatClient::onSocketConnected);
    QObject::connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& error : errors)
            texts.append(error.errorString());
        onTlsFailed(texts.join(QStringLiteral("; ")));
    });
    return socket;
}

void ChatClient::onTlsFailed(const QString& detail) {
    if (!socket_)
        return;
    QPointer<ChatClient> self(this);
    ++callbackDepth_;
    failWith(kReasonTlsFailed.arg(detail));
    if (self)
        --callbackDepth_;
}

void ChatClient::disconnect() {
    pingTimer_.stop();
    releaseSocket();
    writeQueue_.clear();
    authQueued_ = false;
    ++generation_;
}

void ChatClient::releaseSocket() {
    if (!socket_)
        return;
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    // Deleting a socket inside one of its own signals is not allowed.
    if (callbackDepth_ > 0)
        socket->deleteLater();
    else
        delete socket;
}

void ChatClient::failWith(const QString& reason) {
    disconnect();
    if (listener_)
        listener_->chatDisconnected(reason);
}

void ChatClient::onSocketConnected() {
    // Only takes effect on a connected socket; without it small frames wait for delayed acks.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QPointer<ChatClient> self(this);
    ++callbackDepth_;
    // Auth goes out ahead of anything requested while the connection opened:
    // the server cannot take a message before it knows who sends it.
    const quint64 generation = generation_;
    writeFrame(wire::encodeFrame(authMessage()));
    if (generation_ == generation) {
        authQueued_ = true;
        flushWriteQueue();
    }
    if (generation_ == generation && listener_)
        listener_->chatConnected();
    if (self)
        --callbackDepth_;
}

void ChatClient::flushWriteQueue() {
    const quint64 generation = generation_;
    while (!writeQueue_.empty() && generation_ == generation) {
        std::string frame = std::move(writeQueue_.front());
        writeQueue_.pop_front();
        writeFrame(frame);
    }
}

void ChatClient::writeFrame(const std::string& frame) {
    if (!socket_)
        return;
    // The socket buffers whatever it cannot send yet, so a frame is never cut.
    const qint64 written = socket_->write(frame.data(), static_cast<qint64>(frame.size()));
    if (written < 0)
        failWith(kReasonWriteFailed);
}

void ChatClient::setReadingPaused(bool paused) {
    if (readingPaused_ == paused)
        return;
    readingPaused_ = paused;
    // What arrived while paused announced itself already; read it on the next turn.
    if (!paused && socket_ && socket_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ChatClient::onReadyRead, Qt::QueuedConnection);
}

void ChatClient::onReadyRead() {
    readAvailable(false);
}

void ChatClient::readAvailable(bool evenIfPaused) {
    if (!socket_ || (readingPaused_ && !evenIfPaused))
        return;
    QPointer<ChatClient> self(this);
    ++callbackDepth_;
    const QByteArray data = socket_->readAll();
    recvBuffer_.append(data.constData(), static_cast<std::size_t>(data.size()));
    if (delivering_) {
        // A listener running a nested event loop: the outer delivery picks these bytes up.
        --callbackDepth_;
        return;
    }
    delivering_ = true;
    const quint64 generation = generation_;
    bool protocolError = false;
    while (!recvBuffer_.empty()) {
        // The listener may reenter (nested event loop) and append; cut a private copy.
        std::string work;
        work.swap(recvBuffer_);
        const ConsumeResult result =
            ChatProtocol::consumeBuffer(work, [&](std::uint8_t type, const FieldList& fields) {
                if (!self || generation_ != generation)
                    return;
                if (listener_)
                    listener_->frameReceived(type, fields);
            });
        if (!self)
            return;
        if (generation_ != generation)
            break; // the connection was replaced; its buffer is not ours
        const bool arrivedMeanwhile = !recvBuffer_.empty();
        work.append(recvBuffer_);
        recvBuffer_.swap(work);
        if (result.status != ConsumeStatus::NeedMore) {
            protocolError = true;
            break;
        }
        if (!arrivedMeanwhile)
            break;
    }
    delivering_ = false;
    if (protocolError && generation_ == generation)
        failWith(kReasonError); // reconnecting starts a clean stream
    if (self)
        --callbackDepth_;
}

void ChatClient::onSocketLost(bool error) {
    if (!socket_)
        return;
    QPointer<ChatClient> self(this);
    const quint64 generation = generation_;
    if (socket_->bytesAvailable() > 0)
        readAvailable(true);
    if (!self || generation_ != generation)
        return;
    ++callbackDepth_;
    failWith(error ? kReasonError : kReasonClosed);
    if (self)
        --callbackDepth_;
}

void ChatClient::sendType(quint8 type, const FieldList& fields) {
    if (!socket_)
        return;
    if (!authQueued_) {
        writeQueue_.push_back(ChatProtocol::encodeType(type, fields));
        return;
    }
    writeFrame(ChatProtocol::encodeType(type, fields));
}

void ChatClient::sendType(quint8 type, const QStringList& fields) {
    if (!socket_)
        return;
    sendType(type, toFieldList(fields));
}

wire::Auth ChatClient::authMessage() const {
    return wire::Auth{utf8(phone_), utf8(nick_), utf8(profilePic_), utf8(statusMsg_),
                      config_.deviceSecret ? config_.deviceSecret->get() : std::string()};
}

void ChatClient::authenticate() {
    send(authMessage());
}

void ChatClient::sendPing() {
    sendType(MessageType::Ping, FieldList{});
}

void ChatClient::joinRoom(const QString& room) {
    if (room.isEmpty())
        return;
    send(wire::JoinRoom{utf8(room)});
}

void ChatClient::leaveRoom(const QString& room) {
    if (room.isEmpty())
        return;
    send(wire::LeaveRoom{utf8(room)});
}

void ChatClient::sendChatToRoom(const QString& room, const QString& text,
                                const QString& replyToId) {
    if (room.isEmpty() || text.isEmpty())
        return;
    send(wire::ChatRequest{utf8(room), utf8(text), utf8(replyToId)});
}

void ChatClient::sendChatEditToRoom(const QString& room, const QString& msgId,
                                    const QString& newText) {
    if (room.isEmpty() || msgId.isEmpty() || newText.isEmpty())
        return;
    send(wire::Edit{utf8(room), utf8(msgId), utf8(newText)});
}

void ChatClient::sendChatDeleteToRoom(const QString& room, const QString& msgId) {
    if (room.isEmpty() || msgId.isEmpty())
        return;
    send(wire::Delete{utf8(room), utf8(msgId)});
}

void ChatClient::sendReadWatermarkToRoom(const QString& room, const QString& msgId) {
    if (room.isEmpty() || msgId.isEmpty())
        return;
    send(wire::ReadWatermark{utf8(room), utf8(msgId)});
}

void ChatClient::sendFileMetaToRoom(const QString& room, const QString& fileId, const QString& name,
                                    const QString& size) {
    if (room.isEmpty() || fileId.isEmpty())
        return;
    send(wire::FileRequest{utf8(room), utf8(fileId), utf8(name), utf8(size)});
}

void ChatClient::rejectCall(const QString& callId) {
    if (callId.isEmpty())
        return;
    send(wire::CallReject{utf8(callId), "unsupported"});
}

void ChatClient::requestHistory(const QString& room, const QString& before, int limit) {
    if (room.isEmpty())
        return;
    send(wire::HistoryRequest{utf8(room), utf8(before), std::to_string(limit)});
}

} // namespace brindlewick
