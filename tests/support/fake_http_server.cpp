#include "fake_http_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <thread>

namespace brindlewick::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, FakeHttpServer* server)
        : stream_(std::move(socket)), server_(server) {
        parser_.body_limit(256u * 1024u * 1024u);
    }

    void start() {
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (!ec)
                                 self->respond();
                         });
    }

private:
    void respond() {
        const auto& req = parser_.get();
        RecordedRequest rec;
        rec.method = QString::fromStdString(std::string(req.method_string()));
        const QByteArray target = QByteArray::fromStdString(std::string(req.target()));
        const qsizetype q = target.indexOf('?');
        rec.path = QString::fromUtf8(q < 0 ? target : target.left(q));
        rec.query = q < 0 ? QString() : QString::fromUtf8(target.mid(q + 1));
        for (const auto& field : req)
            rec.headers.append({QByteArray::fromStdString(std::string(field.name_string())),
                                QByteArray::fromStdString(std::string(field.value()))});
        rec.body = QByteArray::fromStdString(req.body());
        const HttpReply reply = server_->answer(std::move(rec));
        if (reply.endless) {
            head_ = "HTTP/1.1 " + std::to_string(reply.status) +
                    " Endless\r\nConnection: close\r\n\r\n";
            piece_ = reply.body.isEmpty() ? std::string(64 * 1024, 'x') : reply.body.toStdString();
            asio::async_write(stream_.socket(), asio::buffer(head_),
                              [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                  if (!ec)
                                      self->sendForever();
                              });
            return;
        }

        response_.result(static_cast<unsigned>(reply.status));
        response_.version(11);
        response_.keep_alive(false);
        const std::string full = reply.body.toStdString();
        if (reply.cutAfter) {
            response_.set(http::field::content_length, std::to_string(full.size()));
            response_.body() = full.substr(0, std::size_t(*reply.cutAfter));
        } else {
            response_.body() = full;
            response_.prepare_payload();
        }
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code, std::size_t) {
                              beast::error_code ignored;
                              self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                              self->stream_.socket().close(ignored);
                          });
    }

    void sendForever() {
        asio::async_write(stream_.socket(), asio::buffer(piece_),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (!ec)
                                  self->sendForever();
                          });
    }

    beast::tcp_stream stream_;
    FakeHttpServer* server_;
    std::string head_;
    std::string piece_;
    beast::flat_buffer buffer_;
    http::request_parser<http::string_body> parser_;
    http::response<http::string_body> response_;
};

} // namespace

struct FakeHttpServer::Impl {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    std::thread thread;

    void accept(FakeHttpServer* server) {
        acceptor.async_accept([this, server](beast::error_code ec, tcp::socket socket) {
            if (ec)
                return;
            std::make_shared<Session>(std::move(socket), server)->start();
            accept(server);
        });
    }
};

QList<QByteArray> RecordedRequest::headerValues(const QByteArray& name) const {
    QList<QByteArray> values;
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            values.append(h.second);
    return values;
}

FakeHttpServer::FakeHttpServer() : impl_(std::make_unique<Impl>()) {
    const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
    impl_->acceptor.open(endpoint.protocol());
    impl_->acceptor.bind(endpoint);
    impl_->acceptor.listen();
    port_ = impl_->acceptor.local_endpoint().port();
    impl_->accept(this);
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

FakeHttpServer::~FakeHttpServer() {
    impl_->io.stop();
    impl_->thread.join();
}

ServerConfig FakeHttpServer::config() const {
    ServerConfig c;
    c.host = "127.0.0.1";
    c.httpPort = port_;
    c.chatPort = 0;
    return c;
}

void FakeHttpServer::setReply(const QString& method, const QString& path, HttpReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[{method, path}] = std::move(reply);
}

std::vector<RecordedRequest> FakeHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void FakeHttpServer::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

HttpReply FakeHttpServer::answer(RecordedRequest request) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = replies_.find({request.method, request.path});
    requests_.push_back(std::move(request));
    if (it == replies_.end())
        return HttpReply{404, QByteArray(), std::nullopt};
    return it->second;
}

} // namespace brindlewick::test
