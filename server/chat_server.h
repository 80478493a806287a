#pragma once
// The chat port: accepts connections and closes the silent ones.

#include "hub.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <unordered_map>

namespace brindlewick::server {

class ChatSession;
class DbWorker;

class ChatServer {
public:
    ChatServer(boost::asio::io_context& io, DbWorker& worker, std::shared_ptr<Hub> hub,
               std::chrono::seconds idleTimeout);

    // Throws boost::system::system_error when the address is busy or invalid.
    void listen(const boost::asio::ip::tcp::endpoint& endpoint);
    std::uint16_t port() const;
    void stop();

private:
    void accept();
    void sweep();

    boost::asio::io_context& io_;
    DbWorker& worker_;
    std::shared_ptr<Hub> hub_;
    std::chrono::seconds idleTimeout_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer sweepTimer_;
    std::unordered_map<ChatSession*, std::shared_ptr<ChatSession>> sessions_;
    bool stopped_ = false;
};

} // namespace brindlewick::server
