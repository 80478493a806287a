#pragma once
// One chat connection: reads frames, hands requests to the database worker in order,
// writes deliveries. io thread only. ChatServer owns it (and pending handlers keep it alive);
// the hub only refers to it weakly.

#include "connection_gate.h"
#include "log.h"
#include "rate_limit.h"

#include <chat_protocol.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindlewick::server {

class DbWorker;
class Hub;
class SenderLimits;

class ChatSession : public std::enable_shared_from_this<ChatSession> {
public:
    // More than this waiting for a client that does not read closes its connection.
    static constexpr std::size_t kMaxQueuedBytes = 8u * 1024u * 1024u;
    // Requests of one connection in flight at the worker before reading pauses. Checked per
    // frame: the rest of a read waits in the receive buffer.
    static constexpr int kMaxInFlight = 256;
    // No request of a client has more fields than this (Auth has four).
    static constexpr std::size_t kMaxFields = 16;
    // A receive buffer larger than this is given back once the large frame is handled.
    static constexpr std::size_t kKeptInboxCapacity = 64 * 1024;
    // Until a sign-in is asked for, no frame may be larger: a stranger cannot make the server
    // hold megabytes (an Auth at its longest is under 2 KiB).
    static constexpr std::size_t kMaxFrameBeforeSignIn = 4 * 1024;
    // History pages one connection may ask for per second, and at once.
    static constexpr double kHistoryPerSecond = 10;
    static constexpr double kHistoryBurst = 20;

    using Clock = std::chrono::steady_clock;
    using ClosedFn = std::function<void(ChatSession*)>;

    // Shares the hub so that the destructor can always leave it, whatever is torn down first.
    // `peer`: the client, as the gate found it (behind a proxy, not the socket's peer).
    // With `tls` the connection starts with a handshake; the sign-in deadline covers it.
    // `claimPhones`: a sign-in must hold the phone's device secret (PhoneClaims). `senders`:
    // the rates of messages per user, shared by the server's connections (none: unlimited).
    ChatSession(boost::asio::ip::tcp::socket socket, Peer peer, DbWorker& worker,
                std::shared_ptr<Hub> hub, ClosedFn onClosed,
                boost::asio::ssl::context* tls = nullptr, bool claimPhones = false,
                std::shared_ptr<SenderLimits> senders = nullptr);
    ~ChatSession();
    ChatSession(const ChatSession&) = delete;
    ChatSession& operator=(const ChatSession&) = delete;

    void start();
    void enqueue(std::shared_ptr<const std::string> frame);
    void close(const std::string& reason);
    bool closed() const { return closed_; }
    Clock::time_point lastActivity() const { return lastActivity_; }
    Clock::time_point connectedAt() const { return connectedAt_; }
    // From an Auth on (even before its answer), so the sign-in deadline no longer applies.
    bool signInRequested() const { return !phone_.empty(); }
    const std::string& peer() const { return peer_; }
    const std::string& address() const { return address_; } // without the port

private:
    // Calls `op` with the socket or its TLS stream; one branch per operation, not per byte.
    template <typename Op> void withStream(Op&& op) {
        if (tls_)
            op(*tls_);
        else
            op(socket_);
    }
    void readMore();
    void startRead();
    void onRead(std::size_t bytes);
    // Cuts frames off the receive buffer while the in-flight limit allows; false when it closed.
    bool processInbox();
    void refused(const std::string& what);
    void handleFrame(std::uint8_t type, const FieldList& fields);
    void handleAuth(const FieldList& fields);
    // The sign-in's answer once its job is done; `issued` is a new device secret, if any.
    void finishSignIn(const std::string& phone, bool committed, bool claimRefused,
                      const std::string& issued);
    void leaveHub();
    void postRoomRequest(std::uint8_t type, const FieldList& fields);
    // Charges a request to its sender's rates; over them, reading stops for the time owed.
    void chargeRates(std::uint8_t type, const FieldList& fields);
    void resumeReading();
    void sendError(std::uint8_t refusedType, const std::string& text);
    void writeMore();
    void jobDone();

    boost::asio::ip::tcp::socket socket_;
    // Over socket_, so closing the socket ends it too; declared after it, destroyed before.
    std::optional<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> tls_;
    DbWorker& worker_;
    std::shared_ptr<Hub> hub_;
    ClosedFn onClosed_;
    std::string peer_;
    std::string address_;
    LogLimiter refusals_;

    std::array<char, 64 * 1024> readChunk_;
    std::string inbox_;
    bool reading_ = false;
    bool readPaused_ = false;
    int inFlight_ = 0;

    std::deque<std::shared_ptr<const std::string>> outbox_;
    std::size_t queuedBytes_ = 0;
    std::size_t writingCount_ = 0;
    bool writeScheduled_ = false;
    // TLS writes one record per buffer: the gathered frames go out as one piece instead.
    std::string tlsWriteBuffer_;
    bool closeAfterWrite_ = false;

    std::shared_ptr<SenderLimits> senders_;
    TokenBucket historyRate_{kHistoryPerSecond, kHistoryBurst};
    boost::asio::steady_timer slowDown_;
    bool slowed_ = false;
    TokenBucket::Clock::time_point slowNoticeAt_{};

    std::string phone_; // set by Auth
    const bool claimPhones_;
    // A claimed sign-in is undecided: nothing after the Auth is read until it is, so no
    // request can act for a phone whose secret turns out wrong.
    bool claimPending_ = false;
    std::string hubPhone_; // under which the hub lists this connection
    bool closed_ = false;
    Clock::time_point lastActivity_ = Clock::now();
    const Clock::time_point connectedAt_ = lastActivity_;
};

} // namespace brindlewick::server
