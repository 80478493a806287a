#pragma once
// The HTTP port on Boost.Beast: reads requests, hands them to HttpApi, writes the answers.

#include "file_store.h"
#include "http_api.h"
#include "http_guard.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "log.h"

#include <chrono>
#include <memory>
#include <string>
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
    // Past a few refused bearers a minute from one address, each waits this long for its
    // answer: a device with an outdated secret is not slowed, a guesser is.
    std::chrono::milliseconds wrongSecretDelay{1000};
    static constexpr int kFreeWrongSecrets = 10;
    // What is kept per client address while it has connections: its refusal lines, limited so
    // one client cannot fill the log, and its recent wrong secrets.
    struct AddressLog {
        LogLimiter limiter;
        std::size_t connections = 0;
        int wrongSecrets = 0;
        std::chrono::steady_clock::time_point wrongSince;
    };
    std::unordered_map<std::string, AddressLog> refusalLogs;
    void logRefusal(const std::string& address, const std::string& line);
    // How long the answer to a refused bearer from `address` waits.
    std::chrono::milliseconds wrongSecretDelayFor(const std::string& address);
    bool recentlyWrong(const AddressLog& entry) const;
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
