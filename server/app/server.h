#pragma once
// Everything the process runs: database worker, file store, chat port and HTTP port.

#include "options.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace brindlewick::server {

class ChatServer;
class Cluster;
class ConnectionGate;
class DbWorker;
class FileStore;
class HttpApi;
class HttpServer;
class Hub;

class Server {
public:
    Server(boost::asio::io_context& io, ServerOptions options);
    ~Server();

    // Opens the database and both ports; false with a reason on failure.
    bool start(std::string& error);
    // Closes ports and connections; queued database work still finishes in the destructor.
    void stop();
    std::uint16_t chatPort() const;
    std::uint16_t httpPort() const;

private:
    // Drops abandoned uploads on the database worker, repeatedly.
    void scheduleExpiry();
    // Forgets client ids older than kClientIdKeep, repeatedly; `now`: one more round at once.
    void scheduleClientIdSweep(bool now = false);
    // With claims: closes the connections of phones whose claim was released, repeatedly.
    void scheduleReleaseCheck();

    // Database connections for reads beside the one that writes.
    static constexpr int kReaders = 2;
    static constexpr std::chrono::seconds kReleaseCheck{1};
    // A client keeps resending for a day at most; a day more covers clocks and slow clients.
    static constexpr std::chrono::hours kClientIdKeep{48};
    static constexpr std::chrono::minutes kClientIdSweep{10};
    // Per job, so a sweep never holds the writer long; a full round is followed by another.
    static constexpr std::int64_t kClientIdSweepRows = 10000;

    boost::asio::io_context& io_;
    ServerOptions options_;
    std::unique_ptr<boost::asio::ssl::context> tls_; // outlives both ports' connections
    std::shared_ptr<Hub> hub_; // sessions share it: they leave it in their destructors
    std::unique_ptr<FileStore> files_;
    std::unique_ptr<DbWorker> worker_;
    std::unique_ptr<HttpApi> api_;
    std::unique_ptr<ConnectionGate> gate_; // both ports admit through it; it outlives them
    std::unique_ptr<ChatServer> chat_;
    std::unique_ptr<HttpServer> http_;
    std::unique_ptr<boost::asio::steady_timer> expiryTimer_;
    std::unique_ptr<boost::asio::steady_timer> releaseTimer_;
    std::unique_ptr<boost::asio::steady_timer> clientIdTimer_;
    std::int64_t releasesRead_ = 0;    // the newest release acted on
    std::unique_ptr<Cluster> cluster_; // before the worker and hub it uses are gone
    bool stopped_ = false;
};

} // namespace brindlewick::server
