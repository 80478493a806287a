#pragma once
// What every accepted connection, chat or HTTP, passes before it becomes a session: a
// PROXY header when it comes from a trusted proxy (so the client's own address counts), then
// the caps on connections in all and from one address, shared by both ports. io thread only.

#include "log.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace brindlewick::server {

struct GateLimits {
    std::size_t maxConnections = 10000;
    std::size_t maxConnectionsPerAddress = 64;
    // Proxies whose PROXY header is believed; from anyone else the peer address counts.
    std::vector<boost::asio::ip::address> trustedProxies;
    // A trusted proxy's header must arrive within this.
    std::chrono::seconds headerTimeout{10};
};

// Who is on the other end: the client's address and port, behind a proxy or not.
struct Peer {
    std::string address;
    std::string text; // "address:port", for the log
};

class ConnectionGate {
public:
    // Called with the socket and its client once admitted; the caller calls `leave` with
    // `peer.address` when the connection ends.
    using Admitted = std::function<void(boost::asio::ip::tcp::socket, Peer)>;

    ConnectionGate(boost::asio::io_context& io, GateLimits limits);
    ~ConnectionGate();

    // `port` names the port in the log ("chat", "http").
    void arrive(boost::asio::ip::tcp::socket socket, const char* port, Admitted admitted);
    void leave(const std::string& address);
    std::size_t connections() const { return total_; }
    // Writes the counts of lines held back once their window is over.
    void flushLogs();
    void stop();

private:
    struct Waiting;
    // A trusted proxy's connection: peek, then the header's fixed part, then the rest.
    void readHeader(std::shared_ptr<Waiting> waiting);
    void readFixedPart(std::shared_ptr<Waiting> waiting);
    void readRest(std::shared_ptr<Waiting> waiting);
    // No longer waiting: out of the count and the list, its timer stopped.
    void settle(Waiting& waiting);
    void badHeader(const std::shared_ptr<Waiting>& waiting, const std::string& why);
    void admitWaiting(const std::shared_ptr<Waiting>& waiting, Peer peer);
    void admit(boost::asio::ip::tcp::socket socket, Peer peer, const char* port,
               const Admitted& admitted);
    bool trusted(const boost::asio::ip::address& address) const;

    boost::asio::io_context& io_;
    GateLimits limits_;
    std::size_t total_ = 0;
    std::unordered_map<std::string, std::size_t> perAddress_;
    std::unordered_map<Waiting*, std::weak_ptr<Waiting>> waiting_;
    LogLimiter turnedAway_;
    LogLimiter badHeaders_;
    bool stopped_ = false;
};

} // namespace brindlewick::server
