#pragma once
// What the chat connection reports, as typed events. Received frames are decoded into the
// protocol's message structs and announced one signal per kind, in arrival order. A burst is
// spread over turns of the event loop so the window keeps painting, and a lost connection is
// retried after a pause.

#include "chat_client.h"
#include "chat_client_listener.h"
#include "messages.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

namespace brindlewick {

class ChatEvents : public QObject, public ChatClientListener {
    Q_OBJECT
public:
    static constexpr int kReconnectDelayMs = 3000;
    static constexpr int kFramesPerTurn = 256;
    // A turn also ends after frames of this many bytes (a frame larger alone still goes), so a
    // flood of large messages is shown a few per turn and the window paints between them.
    static constexpr std::size_t kBytesPerTurn = 32 * 1024;
    // Beyond this many waiting frames, or bytes of them, the connection stops reading until they
    // are shown.
    static constexpr std::size_t kMaxBacklog = 8 * kFramesPerTurn;
    static constexpr std::size_t kMaxBacklogBytes = 8 * 1024 * 1024;
    // What of a history page is decoded: its newest entries within kPageBytes, each field within
    // kFieldBytes (the server's limit on a message's text). The window shows less than that of a
    // page at once; older entries come again with the next page.
    static constexpr std::size_t kPageBytes = 256 * 1024;
    static constexpr std::size_t kFieldBytes = 64 * 1024;

    enum class Connection {
        Opened,   // the socket is open; the sign-in is on its way
        SignedIn, // the server accepted the sign-in
        Lost,     // closed or failed; a retry is pending
    };
    Q_ENUM(Connection)

    // Becomes `client`'s listener.
    explicit ChatEvents(ChatClient& client, QObject* parent = nullptr);
    ~ChatEvents() override;

    bool reconnectPending() const { return reconnectTimer_.isActive(); }
    void setReconnectDelay(int milliseconds) { reconnectTimer_.setInterval(milliseconds); }
    // Frames and connection events waiting for a later turn, and the frames' bytes.
    std::size_t backlogSize() const { return waiting_.size(); }
    std::size_t backlogBytes() const { return waitingBytes_; }

    // ChatClientListener; also how tests hand in frames without a server.
    void chatConnected() override;
    void chatDisconnected(const QString& reason) override;
    void frameReceived(quint8 type, const FieldList& fields) override;

signals:
    void connectionChanged(brindlewick::ChatEvents::Connection state, const QString& reason);
    // The server claimed the phone for this device with `secret`; announced just before the
    // sign-in's connectionChanged, so requests made on that already carry it.
    void deviceSecretIssued(const QString& secret);
    void chatReceived(const brindlewick::wire::ChatMessage& message);
    void fileReceived(const brindlewick::wire::FileMessage& message);
    void edited(const brindlewick::wire::Edit& edit);
    void deleted(const brindlewick::wire::Delete& deletion);
    void notice(const brindlewick::wire::Notice& notice);
    void serverError(const brindlewick::wire::ServerError& error);
    void callInvite(const brindlewick::wire::CallInvite& invite);
    // A page of a room's past, only ever as the answer to this client's request; at most
    // kPageBytes of it.
    void historyReceived(const brindlewick::wire::HistoryPage& page);

private:
    void dispatch(quint8 type, const FieldList& fields);
    // Queues `handler` behind waiting events; false when nothing waits and this turn has room
    // (the caller goes on).
    bool deferBehindBacklog(std::function<void()> handler);
    // Queues `handler`, for a frame of `bytes`, for a later turn.
    void defer(std::function<void()> handler, std::size_t bytes);
    std::function<void()> later(quint8 type, const FieldList& fields);
    static std::optional<wire::HistoryPage> decodePage(const FieldList& fields);
    bool turnFull() const;
    void markTurn();
    void drain();

    struct Waiting {
        std::function<void()> handler;
        std::size_t bytes;
    };

    ChatClient& client_;
    QTimer reconnectTimer_;
    std::deque<Waiting> waiting_;
    std::size_t waitingBytes_ = 0;
    int handledThisTurn_ = 0;
    std::size_t bytesThisTurn_ = 0;
    bool turnMarked_ = false;     // a call that resets the count is posted
    bool drainScheduled_ = false; // a call that runs waiting handlers is posted
};

} // namespace brindlewick
