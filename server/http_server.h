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

#include <chrono>
#include <memory>
#include <unordered_map>

namespace brindlewick::server {

class HttpSession;

class HttpServer {
public:
    using BeastRequest = boost::beast::http::request<boost::beast::http::string_body>;
    // A chunk plus room for a JSON body's worth of slack; the parser refuses more.
    static constexpr std::uint64_t kBodyLimit = FileStore::kMaxChunkBytes + 64 * 1024;

    // What the API sees of a parsed request; the body is moved out.
    static HttpRequest toApiRequest(BeastRequest& request);

    // `writeIdle`: an answer is cut when one write makes no progress for this long; a large
    // download may take as long as it keeps moving. With `tls` (kept by the caller) every
    // connection is HTTPS.
    HttpServer(boost::asio::io_context& io, HttpApi& api, HttpGuard guard,
               std::chrono::seconds writeIdle, boost::asio::ssl::context* tls = nullptr);

    // Throws boost::system::system_error when the address is busy or invalid.
    void listen(const boost::asio::ip::tcp::endpoint& endpoint);
    std::uint16_t port() const;
    void stop();

private:
    void accept();

    boost::asio::io_context& io_;
    HttpApi& api_;
    HttpGuard guard_;
    std::chrono::seconds writeIdle_;
    boost::asio::ssl::context* tls_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::unordered_map<HttpSession*, std::weak_ptr<HttpSession>> sessions_;
    bool stopped_ = false;
};

} // namespace brindlewick::server
