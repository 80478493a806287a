#include "chat_server.h"

#include "chat_session.h"
#include "connection_gate.h"
#include "log.h"

#include <vector>

namespace brindlewick::server {

namespace asio = boost::asio;

ChatServer::ChatServer(asio::io_context& io, DbWorker& worker, std::shared_ptr<Hub> hub,
                       ConnectionGate& gate, ChatLimits limits, asio::ssl::context* tls)
    : io_(io), worker_(worker), hub_(std::move(hub)), gate_(gate), limits_(limits),
      senders_(std::make_shared<SenderLimits>(limits.sendRates)), tls_(tls), acceptor_(io),
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
        gate_.arrive(std::move(socket), "chat", [this](asio::ip::tcp::socket s, Peer peer) {
            start(std::move(s), std::move(peer));
        });
        accept();
    });
}

void ChatServer::start(asio::ip::tcp::socket socket, Peer peer) {
    if (stopped_) {
        gate_.leave(peer.address);
        return;
    }
    auto session = std::make_shared<ChatSession>(
        std::move(socket), std::move(peer), worker_, hub_, [this](ChatSession* s) { closed(s); },
        tls_, limits_.claimPhones, senders_);
    sessions_.emplace(session.get(), session);
    session->start();
}

void ChatServer::closed(ChatSession* session) {
    if (sessions_.erase(session))
        gate_.leave(session->address());
}

void ChatServer::sweep() {
    const auto now = ChatSession::Clock::now();
    std::vector<std::pair<std::shared_ptr<ChatSession>, std::string>> due;
    for (const auto& [key, session] : sessions_) {
        // Pings do not count here: a connection gets one chance to sign in.
        if (!session->signInRequested() && now - session->connectedAt() >= limits_.authTimeout)
            due.emplace_back(session, "not signed in after " +
                                          std::to_string(limits_.authTimeout.count()) + " s");
        else if (now - session->lastActivity() >= limits_.idleTimeout)
            due.emplace_back(session,
                             "silent for " + std::to_string(limits_.idleTimeout.count()) + " s");
    }
    for (const auto& [session, reason] : due)
        session->close(reason);
    gate_.flushLogs();
    senders_->forgetIdle();
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
