#pragma once
// The chat port: accepts connections within the limits and closes the silent ones and those
// that do not sign in in time.

#include "hub.h"
#include "sender_limits.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>

namespace brindlewick::server {

class ChatSession;
class DbWorker;

class ConnectionGate;
struct Peer;

struct ChatLimits {
    std::chrono::seconds idleTimeout{90};
    std::chrono::seconds authTimeout{10};
    bool claimPhones = false; // sign-ins follow PhoneClaims
    SendRates sendRates;
};

class ChatServer {
public:
    // With `tls` (kept by the caller) every connection is TLS. `gate` (kept by the caller)
    // admits connections for both ports.
    ChatServer(boost::asio::io_context& io, DbWorker& worker, std::shared_ptr<Hub> hub,
               ConnectionGate& gate, ChatLimits limits, boost::asio::ssl::context* tls = nullptr);

    // Throws boost::system::system_error when the address is busy or invalid.
    void listen(const boost::asio::ip::tcp::endpoint& endpoint);
    std::uint16_t port() const;
    void stop();

private:
    void accept();
    void start(boost::asio::ip::tcp::socket socket, Peer peer);
    void closed(ChatSession* session);
    void sweep();

    boost::asio::io_context& io_;
    DbWorker& worker_;
    std::shared_ptr<Hub> hub_;
    ConnectionGate& gate_;
    ChatLimits limits_;
    std::shared_ptr<SenderLimits> senders_;
    boost::asio::ssl::context* tls_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer sweepTimer_;
    std::unordered_map<ChatSession*, std::shared_ptr<ChatSession>> sessions_;
    bool stopped_ = false;
};

} // namespace brindlewick::server
