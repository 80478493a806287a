#include "chat_server.h"

#include "chat_session.h"
#include "log.h"

#include <vector>

namespace brindlewick::server {

namespace asio = boost::asio;

ChatServer::ChatServer(asio::io_context& io, DbWorker& worker, std::shared_ptr<Hub> hub,
                       ChatLimits limits, asio::ssl::context* tls)
    : io_(io), worker_(worker), hub_(std::move(hub)), limits_(limits), tls_(tls), acceptor_(io),
      sweepTimer_(io) {
    turnedAway_.setPrefix("chat: turned away ");
}

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
        std::string address;
        if (admit(socket, address)) {
            auto session = std::make_shared<ChatSession>(
                std::move(socket), worker_, hub_, [this](ChatSession* s) { closed(s); }, tls_,
                limits_.claimPhones);
            sessions_.emplace(session.get(), session);
            ++perAddress_[session->address()];
            session->start();
        }
        accept();
    });
}

bool ChatServer::admit(asio::ip::tcp::socket& socket, std::string& address) {
    boost::system::error_code ec;
    const auto endpoint = socket.remote_endpoint(ec);
    address = ec ? std::string("?") : endpoint.address().to_string();
    const auto it = perAddress_.find(address);
    const std::size_t fromAddress = it == perAddress_.end() ? 0 : it->second;
    std::string full;
    if (sessions_.size() >= limits_.maxConnections)
        full = std::to_string(sessions_.size()) + " connections in all";
    else if (fromAddress >= limits_.maxConnectionsPerAddress)
        full = std::to_string(fromAddress) + " connections from it";
    if (full.empty())
        return true;
    turnedAway_.line("chat: turned away " + address + ": already " + full);
    socket.close(ec);
    return false;
}

void ChatServer::closed(ChatSession* session) {
    const auto it = perAddress_.find(session->address());
    if (it != perAddress_.end() && --it->second == 0)
        perAddress_.erase(it);
    sessions_.erase(session);
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
    turnedAway_.flushIfDue();
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
