#pragma once
// The one TCP connection of a signed-in user to the chat server, over TLS when configured.

#include "chat_client_listener.h"
#include "chat_protocol.h"
#include "messages.h"
#include "server_config.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <string>

class QTcpSocket;

namespace brindlewick {

class ChatClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultPingIntervalMs = 25000;
    // What the socket holds for us at most; while reading is paused the rest waits in the
    // network's buffers and the server is slowed down instead of the client's memory growing.
    static constexpr qint64 kReadBufferBytes = 256 * 1024;

    // Reasons given to chatDisconnected.
    static const QString kReasonSocketFailed; // "소켓 생성 실패"
    static const QString kReasonWriteFailed;  // "쓰기 실패"
    static const QString kReasonError;        // "연결 오류"
    static const QString kReasonClosed;       // "서버 연결 종료"
    // With what went wrong: an untrusted certificate, a failed handshake, an unreadable CA file.
    static const QString kReasonTlsFailed; // "보안 연결에 실패했습니다: %1"

    explicit ChatClient(ServerConfig config = {}, QObject* parent = nullptr);
    ~ChatClient() override;

    void setListener(ChatClientListener* listener) { listener_ = listener; }
    ChatClientListener* listener() const { return listener_; }

    void setPhone(const QString& phone) { phone_ = phone; }
    void setNick(const QString& nick) { nick_ = nick; }
    void setProfilePic(const QString& profilePic) { profilePic_ = profilePic; }
    void setStatusMsg(const QString& statusMsg) { statusMsg_ = statusMsg; }
    QString phone() const { return phone_; }
    QString nick() const { return nick_; }
    QString profilePic() const { return profilePic_; }
    QString statusMsg() const { return statusMsg_; }

    const ServerConfig& config() const { return config_; }
    // Tests shorten it; the product keeps 25 s.
    void setPingInterval(int milliseconds);

    // Opening, open, or closing but not yet reported as lost.
    bool connected() const { return socket_ != nullptr; }

    void connect();
    void disconnect();

    void sendType(quint8 type, const QStringList& fields);
    void authenticate();
    void sendPing();
    void joinRoom(const QString& room);
    void leaveRoom(const QString& room);
    void sendChatToRoom(const QString& room, const QString& text,
                        const QString& replyToId = QString());
    void sendChatEditToRoom(const QString& room, const QString& msgId, const QString& newText);
    void sendChatDeleteToRoom(const QString& room, const QString& msgId);
    void sendReadWatermarkToRoom(const QString& room, const QString& msgId);
    void sendFileMetaToRoom(const QString& room, const QString& fileId, const QString& name,
                            const QString& size);
    void rejectCall(const QString& callId);
    // A page of `room`'s past: the `limit` messages before `before` ("" for the newest).
    void requestHistory(const QString& room, const QString& before, int limit);
    // While paused, received bytes stay in the socket (frames already read are delivered);
    // a closing connection still hands over everything. Each connection starts unpaused.
    void setReadingPaused(bool paused);
    bool readingPaused() const { return readingPaused_; }
    // Any typed message, queued like the others while the connection opens.
    template <typename Message> void send(const Message& message) {
        sendType(Message::kType, message.encode());
    }

private:
    void onSocketConnected();
    void onReadyRead();
    void readAvailable(bool evenIfPaused);
    void onSocketLost(bool error);
    void onTlsFailed(const QString& detail);
    // A TLS socket set up from the configuration, or null with `problem` said.
    QTcpSocket* makeTlsSocket(QString& problem);
    void writeFrame(const std::string& frame);
    void flushWriteQueue();
    void failWith(const QString& reason);
    void sendType(quint8 type, const FieldList& fields);
    void releaseSocket();
    wire::Auth authMessage() const;

    ServerConfig config_;
    QTcpSocket* socket_ = nullptr;
    std::string recvBuffer_;
    QTimer pingTimer_;
    std::deque<std::string> writeQueue_; // frames requested while the connection opens
    bool authQueued_ = false;
    bool delivering_ = false;
    bool readingPaused_ = false;
    int callbackDepth_ = 0;
    quint64 generation_ = 0; // changes with every connect and disconnect
    ChatClientListener* listener_ = nullptr;
    QString phone_;
    QString nick_;
    QString profilePic_;
    QString statusMsg_;
};

} // namespace brindlewick
