#pragma once
// The HTTP port on Boost.Beast: reads requests, hands them to HttpApi, writes the answers.

#include "file_store.h"
#include "http_api.h"
#include "http_clients.h"
#include "http_guard.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <memory>
#include <unordered_map>

namespace brindlewick::server {

class ConnectionGate;
class HttpSession;
struct Peer;

// What the HTTP connections share: the API, the rules for requests and the budgets.
struct HttpShared {
    HttpShared(HttpApi& a, HttpGuard g, std::chrono::seconds idle)
        : api(a), guard(std::move(g)), writeIdle(idle) {}
    HttpApi& api;
    HttpGuard guard;
    // An answer is cut when one write makes no progress for this long.
    std::chrono::seconds writeIdle;
    // The TLS handshake and a request's header must each arrive within this.
    std::chrono::seconds headerTimeout{10};
    // A request's body within this.
    std::chrono::seconds bodyTimeout{60};
    // The bytes of all request bodies being received or handled at once; a request that would
    // pass it is answered 503 before its body is read.
    std::uint64_t bodyBudget = 64ull * 1024 * 1024;
    std::uint64_t bodyBytesInUse = 0;
    // Per client address: refusal lines and wrong secrets.
    HttpClients clients;
};

class HttpServer {
public:
    using BeastRequest = boost::beast::http::request<boost::beast::http::string_body>;
    // A chunk plus room for a JSON body's worth of slack; the parser refuses more.
    static constexpr std::uint64_t kBodyLimit = FileStore::kMaxChunkBytes + 64 * 1024;

    // What the API sees of a parsed request; the body is moved out.
    static HttpRequest toApiRequest(BeastRequest& request);

    // `writeIdle`: an answer is cut when one write makes no progress for this long; a large
    // download may take as long as it keeps moving. With `tls` (kept by the caller) every
    // connection is HTTPS. `gate` (kept by the caller) admits connections for both ports.
    HttpServer(boost::asio::io_context& io, HttpApi& api, HttpGuard guard,
               std::chrono::seconds writeIdle, ConnectionGate& gate,
               boost::asio::ssl::context* tls = nullptr);
    // For tests: the budgets and timeouts, before listening.
    HttpShared& shared() { return shared_; }

    // Throws boost::system::system_error when the address is busy or invalid.
    void listen(const boost::asio::ip::tcp::endpoint& endpoint);
    std::uint16_t port() const;
    void stop();

private:
    void accept();
    void start(boost::asio::ip::tcp::socket socket, Peer peer);
    void closed(HttpSession* session, const std::string& address);

    boost::asio::io_context& io_;
    HttpShared shared_;
    ConnectionGate& gate_;
    boost::asio::ssl::context* tls_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::unordered_map<HttpSession*, std::weak_ptr<HttpSession>> sessions_;
    bool stopped_ = false;
};

} // namespace brindlewick::server
