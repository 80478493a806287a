#include "chat_server.h"

#include "chat_session.h"
#include "log.h"

#include <vector>

namespace brindlewick::server {

namespace asio = boost::asio;

ChatServer::ChatServer(asio::io_context& io, DbWorker& worker, std::shared_ptr<Hub> hub,
                       std::chrono::seconds idleTimeout)
    : io_(io), worker_(worker), hub_(std::move(hub)), idleTimeout_(idleTimeout), acceptor_(io),
      sweepTimer_(io) {}

void ChatServer::listen(const asio::ip::tcp::endpoint& endpoint) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(asio::socket_base::max_listen_connections);
    accept();
    sweep();
}

std::uint16_t ChatServer::port() const {
    return acceptor_.local_endpoint().port();
}

void ChatServer::accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, asio::ip::tcp::socket socket) {
        if (stopped_)
            return;
        if (ec) {
            // Out of descriptors and the like: try again shortly instead of spinning.
            logLine("chat: accept failed: " + ec.message());
            auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
            timer->async_wait([this, timer](boost::system::error_code) {
                if (!stopped_)
                    accept();
            });
            return;
        }
        auto session = std::make_shared<ChatSession>(
            std::move(socket), worker_, hub_, [this](ChatSession* s) { sessions_.erase(s); });
        sessions_.emplace(session.get(), session);
        session->start();
        accept();
    });
}

void ChatServer::sweep() {
    const auto now = ChatSession::Clock::now();
    std::vector<std::shared_ptr<ChatSession>> idle;
    for (const auto& entry : sessions_)
        if (now - entry.second->lastActivity() >= idleTimeout_)
            idle.push_back(entry.second);
    for (const auto& session : idle)
        session->close("silent for " + std::to_string(idleTimeout_.count()) + " s");
    sweepTimer_.expires_after(std::chrono::seconds(1));
    sweepTimer_.async_wait([this](boost::system::error_code ec) {
        if (!ec && !stopped_)
            sweep();
    });
}

void ChatServer::stop() {
    stopped_ = true;
    boost::system::error_code ec;
    acceptor_.close(ec);
    sweepTimer_.cancel();
    std::vector<std::shared_ptr<ChatSession>> all;
    for (const auto& entry : sessions_)
        all.push_back(entry.second);
    for (const auto& session : all)
        session->close("server stopping");
}

} // namespace brindlewick::server
