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

namespace brindlewick {

class ChatEvents : public QObject, public ChatClientListener {
    Q_OBJECT
public:
    static constexpr int kReconnectDelayMs = 3000;
    static constexpr int kFramesPerTurn = 256;
    // Beyond this many waiting frames the connection stops reading until they are shown.
    static constexpr std::size_t kMaxBacklog = 8 * kFramesPerTurn;

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
    // Frames and connection events waiting for a later turn.
    std::size_t backlogSize() const { return waiting_.size(); }

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
    // A page of a room's past, only ever as the answer to this client's request.
    void historyReceived(const brindlewick::wire::HistoryPage& page);

private:
    void dispatch(quint8 type, const FieldList& fields);
    // Queues `handler` behind waiting events; false when nothing waits (the caller goes on).
    bool deferBehindBacklog(std::function<void()> handler);
    void markTurn();
    void drain();

    ChatClient& client_;
    QTimer reconnectTimer_;
    std::deque<std::function<void()>> waiting_;
    int handledThisTurn_ = 0;
    bool turnMarked_ = false;     // a call that resets the count is posted
    bool drainScheduled_ = false; // a call that runs waiting handlers is posted
};

} // namespace brindlewick
