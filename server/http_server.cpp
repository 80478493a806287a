#include "http_server.h"

#include "file_store.h"
#include "http_api.h"
#include "log.h"
#include "open_failure.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace brindlewick::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    static constexpr std::chrono::seconds kTimeout{60};

    HttpSession(asio::ip::tcp::socket socket, HttpApi& api,
                std::function<void(HttpSession*)> onClosed)
        : stream_(std::move(socket)), api_(api), onClosed_(std::move(onClosed)) {
        boost::system::error_code ec;
        const auto endpoint = stream_.socket().remote_endpoint(ec);
        peer_ = ec ? std::string("?") : endpoint.address().to_string();
    }

    void start() { readRequest(); }

    void close() {
        if (closed_)
            return;
        closed_ = true;
        boost::system::error_code ec;
        stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
        stream_.socket().close(ec);
        if (onClosed_)
            onClosed_(this);
    }

private:
    void readRequest() {
        if (closed_)
            return;
        parser_.emplace();
        parser_->body_limit(HttpServer::kBodyLimit);
        stream_.expires_after(kTimeout);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec) {
        if (closed_)
            return;
        if (ec == http::error::end_of_stream || ec == asio::error::eof) {
            close();
            return;
        }
        if (ec == http::error::body_limit) {
            refuseAndClose(413, FileText::kChunkTooLarge);
            return;
        }
        if (ec) {
            // Timeouts and broken requests: a bad request gets a word, a dead peer nothing.
            if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
                ec != http::error::partial_message)
                refuseAndClose(400, "잘못된 요청입니다");
            else
                close();
            return;
        }
        auto& request = parser_->get();
        keepAlive_ = request.keep_alive();
        HttpRequest r = HttpServer::toApiRequest(request);
        const std::string line = r.method + " " + r.target;
        stream_.expires_never();
        api_.handle(r, [self = shared_from_this(), line](HttpReply reply) {
            if (reply.status >= 400)
                logLine("http: " + self->peer_ + " " + line + " refused " +
                        std::to_string(reply.status) + " " + reply.body);
            self->send(std::move(reply));
        });
    }

    void refuseAndClose(unsigned status, const std::string& text) {
        logLine("http: " + peer_ + " refused " + std::to_string(status) + " " + text);
        keepAlive_ = false;
        HttpReply reply;
        reply.status = status;
        reply.contentType = "text/plain; charset=utf-8";
        reply.body = text;
        send(std::move(reply));
    }

    void send(HttpReply reply) {
        if (closed_)
            return;
        stream_.expires_after(kTimeout);
        if (!reply.filePath.empty()) {
            auto response = std::make_shared<http::response<http::file_body>>();
            beast::error_code ec;
            response->body().open(reply.filePath.c_str(), beast::file_mode::scan, ec);
            if (ec) {
                logLine("http: cannot open " + reply.filePath + ": " + ec.message());
                const bool busy = ec.category() == boost::system::system_category() &&
                                  outOfDescriptors(ec.value());
                HttpReply failure;
                failure.status = busy ? 503 : 404;
                failure.contentType = "text/plain; charset=utf-8";
                failure.body = busy ? kOutOfDescriptorsText : FileText::kNotFound;
                send(std::move(failure));
                return;
            }
            response->result(http::status::ok);
            response->set(http::field::content_type, reply.contentType);
            response->keep_alive(keepAlive_);
            response->prepare_payload();
            http::async_write(stream_, *response,
                              [self = shared_from_this(), response](
                                  beast::error_code ec, std::size_t) { self->afterWrite(ec); });
            return;
        }
        auto response = std::make_shared<http::response<http::string_body>>();
        response->result(static_cast<http::status>(reply.status));
        response->set(http::field::content_type, reply.contentType);
        response->body() = std::move(reply.body);
        response->keep_alive(keepAlive_);
        response->prepare_payload();
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
                              self->afterWrite(ec);
                          });
    }

    void afterWrite(beast::error_code ec) {
        if (ec || !keepAlive_) {
            close();
            return;
        }
        readRequest();
    }

    beast::tcp_stream stream_;
    HttpApi& api_;
    std::function<void(HttpSession*)> onClosed_;
    std::string peer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool keepAlive_ = true;
    bool closed_ = false;
};

HttpRequest HttpServer::toApiRequest(BeastRequest& request) {
    return {std::string(request.method_string()), std::string(request.target()),
            std::move(request.body())};
}

HttpServer::HttpServer(asio::io_context& io, HttpApi& api) : io_(io), api_(api), acceptor_(io) {}

void HttpServer::listen(const asio::ip::tcp::endpoint& endpoint) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(asio::socket_base::max_listen_connections);
    accept();
}

std::uint16_t HttpServer::port() const {
    return acceptor_.local_endpoint().port();
}

void HttpServer::accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, asio::ip::tcp::socket socket) {
        if (stopped_)
            return;
        if (ec) {
            logLine("http: accept failed: " + ec.message());
            auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
            timer->async_wait([this, timer](boost::system::error_code) {
                if (!stopped_)
                    accept();
            });
            return;
        }
        auto session = std::make_shared<HttpSession>(
            std::move(socket), api_, [this](HttpSession* s) { sessions_.erase(s); });
        sessions_[session.get()] = session;
        session->start();
        accept();
    });
}

void HttpServer::stop() {
    stopped_ = true;
    boost::system::error_code ec;
    acceptor_.close(ec);
    std::vector<std::shared_ptr<HttpSession>> all;
    for (auto& entry : sessions_)
        if (auto session = entry.second.lock())
            all.push_back(session);
    for (auto& session : all)
        session->close();
    sessions_.clear();
}

} // namespace brindlewick::server
