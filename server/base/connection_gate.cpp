#include "connection_gate.h"

#include "proxy_header.h"

#include <boost/asio/read.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>

namespace brindlewick::server {

namespace asio = boost::asio;
using asio::ip::tcp;

struct ConnectionGate::Waiting {
    Waiting(tcp::socket s, asio::io_context& io) : socket(std::move(s)), timer(io) {}
    tcp::socket socket;
    asio::steady_timer timer;
    std::array<unsigned char, ProxyHeader::kMaxBytes> header{};
    std::size_t headerSize = 0;
    Peer proxy;
    const char* port = "";
    Admitted admitted;
    bool done = false;
};

ConnectionGate::ConnectionGate(asio::io_context& io, GateLimits limits)
    : io_(io), limits_(std::move(limits)) {
    turnedAway_.setPrefix("turned away: ");
    badHeaders_.setPrefix("bad PROXY headers: ");
}

ConnectionGate::~ConnectionGate() {
    stop();
}

bool ConnectionGate::trusted(const asio::ip::address& address) const {
    for (const auto& proxy : limits_.trustedProxies)
        if (proxy == address ||
            (address.is_v6() && address.to_v6().is_v4_mapped() && proxy.is_v4() &&
             asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()) == proxy.to_v4()))
            return true;
    return false;
}

void ConnectionGate::arrive(tcp::socket socket, const char* port, Admitted admitted) {
    if (stopped_)
        return;
    boost::system::error_code ec;
    const auto endpoint = socket.remote_endpoint(ec);
    Peer peer;
    peer.address = ec ? std::string("?") : endpoint.address().to_string();
    peer.text = ec ? peer.address : peer.address + ":" + std::to_string(endpoint.port());
    if (ec || !trusted(endpoint.address())) {
        admit(std::move(socket), std::move(peer), port, admitted);
        return;
    }
    // Counted in all while its header is awaited, so a stalling proxy cannot open unbounded.
    if (total_ >= limits_.maxConnections) {
        turnedAway_.line(std::string(port) + ": turned away " + peer.text + ": already " +
                         std::to_string(total_) + " connections in all");
        socket.close(ec);
        return;
    }
    ++total_;
    auto waiting = std::make_shared<Waiting>(std::move(socket), io_);
    waiting->proxy = std::move(peer);
    waiting->port = port;
    waiting->admitted = std::move(admitted);
    waiting_[waiting.get()] = waiting;
    waiting->timer.expires_after(limits_.headerTimeout);
    waiting->timer.async_wait([waiting](boost::system::error_code ec) {
        if (!ec && !waiting->done) {
            boost::system::error_code ignored;
            waiting->socket.close(ignored);
        }
    });
    readHeader(waiting);
}

void ConnectionGate::readHeader(std::shared_ptr<Waiting> waiting) {
    // One byte tells whether a header comes: a proxy may also connect for itself, and local
    // tools reach the port directly.
    waiting->socket.async_wait(tcp::socket::wait_read, [this,
                                                        waiting](boost::system::error_code ec) {
        if (waiting->done)
            return;
        unsigned char first = 0;
        const std::size_t n =
            ec ? 0
               : waiting->socket.receive(asio::buffer(&first, 1), tcp::socket::message_peek, ec);
        if (ec || n == 0)
            badHeader(waiting, ec ? ec.message() : "closed before a header");
        else if (first != ProxyHeader::kFirstByte)
            admitWaiting(waiting, waiting->proxy);
        else
            readFixedPart(waiting);
    });
}

void ConnectionGate::readFixedPart(std::shared_ptr<Waiting> waiting) {
    asio::async_read(
        waiting->socket, asio::buffer(waiting->header.data(), ProxyHeader::kFixedBytes),
        [this, waiting](boost::system::error_code ec, std::size_t) {
            if (waiting->done)
                return;
            const auto rest =
                ec ? std::nullopt : ProxyHeader::remainingBytes(waiting->header.data());
            if (!rest)
                return badHeader(waiting, ec ? ec.message() : "not a version 2 header");
            waiting->headerSize = ProxyHeader::kFixedBytes + *rest;
            readRest(waiting);
        });
}

void ConnectionGate::readRest(std::shared_ptr<Waiting> waiting) {
    asio::async_read(
        waiting->socket,
        asio::buffer(waiting->header.data() + ProxyHeader::kFixedBytes,
                     waiting->headerSize - ProxyHeader::kFixedBytes),
        [this, waiting](boost::system::error_code ec, std::size_t) {
            if (waiting->done)
                return;
            const auto source =
                ec ? std::nullopt : ProxyHeader::parse(waiting->header.data(), waiting->headerSize);
            if (!source)
                return badHeader(waiting, ec ? ec.message() : "malformed");
            admitWaiting(waiting, source->proxied
                                      ? Peer{source->address,
                                             source->address + ":" + std::to_string(source->port)}
                                      : waiting->proxy);
        });
}

void ConnectionGate::settle(Waiting& waiting) {
    waiting.done = true;
    waiting.timer.cancel();
    --total_;
    waiting_.erase(&waiting);
}

void ConnectionGate::badHeader(const std::shared_ptr<Waiting>& waiting, const std::string& why) {
    settle(*waiting);
    badHeaders_.line(std::string(waiting->port) + ": bad PROXY header from " + waiting->proxy.text +
                     ": " + why);
    boost::system::error_code ec;
    waiting->socket.close(ec);
}

void ConnectionGate::admitWaiting(const std::shared_ptr<Waiting>& waiting, Peer peer) {
    settle(*waiting);
    if (!stopped_)
        admit(std::move(waiting->socket), std::move(peer), waiting->port, waiting->admitted);
}

void ConnectionGate::admit(tcp::socket socket, Peer peer, const char* port,
                           const Admitted& admitted) {
    const auto it = perAddress_.find(peer.address);
    const std::size_t fromAddress = it == perAddress_.end() ? 0 : it->second;
    std::string full;
    if (total_ >= limits_.maxConnections)
        full = std::to_string(total_) + " connections in all";
    else if (fromAddress >= limits_.maxConnectionsPerAddress)
        full = std::to_string(fromAddress) + " connections from it";
    if (!full.empty()) {
        turnedAway_.line(std::string(port) + ": turned away " + peer.address + ": already " + full);
        boost::system::error_code ec;
        socket.close(ec);
        return;
    }
    ++total_;
    ++perAddress_[peer.address];
    admitted(std::move(socket), std::move(peer));
}

void ConnectionGate::leave(const std::string& address) {
    const auto it = perAddress_.find(address);
    if (it == perAddress_.end())
        return;
    if (--it->second == 0)
        perAddress_.erase(it);
    --total_;
}

void ConnectionGate::flushLogs() {
    turnedAway_.flushIfDue();
    badHeaders_.flushIfDue();
}

void ConnectionGate::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    std::vector<std::shared_ptr<Waiting>> all;
    for (auto& entry : waiting_)
        if (auto waiting = entry.second.lock())
            all.push_back(waiting);
    for (auto& waiting : all) {
        waiting->done = true;
        waiting->timer.cancel();
        boost::system::error_code ec;
        waiting->socket.close(ec);
    }
    waiting_.clear();
    turnedAway_.flush();
    badHeaders_.flush();
}

} // namespace brindlewick::server
