#pragma once
// The HTTP port on Boost.Beast: reads requests, hands them to HttpApi, writes the answers.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <memory>
#include <unordered_map>

namespace brindlewick::server {

class HttpApi;
class HttpSession;

class HttpServer {
public:
    HttpServer(boost::asio::io_context& io, HttpApi& api);

    // Throws boost::system::system_error when the address is busy or invalid.
    void listen(const boost::asio::ip::tcp::endpoint& endpoint);
    std::uint16_t port() const;
    void stop();

private:
    void accept();

    boost::asio::io_context& io_;
    HttpApi& api_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::unordered_map<HttpSession*, std::weak_ptr<HttpSession>> sessions_;
    bool stopped_ = false;
};

} // namespace brindlewick::server
