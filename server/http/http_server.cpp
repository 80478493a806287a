#include "http_server.h"

#include "connection_gate.h"
#include "file_store.h"
#include "http_api.h"
#include "log.h"
#include "open_failure.h"
#include "verified_file.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <type_traits>
#include <vector>

namespace brindlewick::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// What the server keeps of a connection, whatever it runs over.
class HttpSession {
public:
    virtual ~HttpSession() = default;
    virtual void start() = 0;
    virtual void close() = 0;
};

namespace {

const char* const kBusyText = "서버가 바쁩니다. 잠시 후 다시 시도하세요";

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// One connection over `Stream`: plain TCP or TLS over it.
template <class Stream>
class HttpConnection : public HttpSession,
                       public std::enable_shared_from_this<HttpConnection<Stream>> {
public:
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;
    // A receive buffer larger than this is given back after its request.
    static constexpr std::size_t kKeptBufferBytes = 64 * 1024;

    template <class... StreamArgs>
    HttpConnection(HttpShared& shared, Peer peer, std::function<void(HttpSession*)> onClosed,
                   StreamArgs&&... streamArgs)
        : stream_(std::forward<StreamArgs>(streamArgs)...), shared_(shared), api_(shared.api),
          guard_(shared.guard), writeIdle_(shared.writeIdle), onClosed_(std::move(onClosed)),
          peer_(std::move(peer.text)), address_(std::move(peer.address)),
          delay_(tcp().socket().get_executor()) {}

    void start() override {
        if constexpr (kTls) {
            // The handshake gets the time a request's header has to arrive: a peer that starts
            // one and stops holds its buffers no longer than that.
            tcp().expires_after(shared_.headerTimeout);
            stream_.async_handshake(asio::ssl::stream_base::server,
                                    [self = this->shared_from_this()](beast::error_code ec) {
                                        if (self->closed_)
                                            return;
                                        if (ec) {
                                            self->shared_.clients.logRefusal(
                                                self->address_,
                                                "http: " + self->peer_ +
                                                    " TLS handshake failed: " + ec.message());
                                            self->close();
                                            return;
                                        }
                                        self->readRequest();
                                    });
        } else {
            readRequest();
        }
    }

    void close() override {
        if (closed_)
            return;
        closed_ = true;
        releaseBody();
        delay_.cancel();
        boost::system::error_code ec;
        tcp().socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
        tcp().socket().close(ec);
        if (onClosed_)
            onClosed_(this);
    }

private:
    beast::tcp_stream& tcp() { return beast::get_lowest_layer(stream_); }

    void readRequest() {
        if (closed_)
            return;
        parser_.emplace();
        parser_->body_limit(HttpServer::kBodyLimit);
        // What a large request left behind is not kept for the next one.
        if (buffer_.capacity() > kKeptBufferBytes && buffer_.size() <= kKeptBufferBytes / 2)
            buffer_.shrink_to_fit();
        tcp().expires_after(shared_.headerTimeout);
        // The header first: a refused request is answered before its body is read.
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = this->shared_from_this()](
                                    beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    // True when the error was handled (the connection answered or closed).
    bool failed(beast::error_code ec) {
        if (!ec)
            return false;
        if (ec == http::error::end_of_stream || ec == asio::error::eof) {
            close();
        } else if (ec == http::error::body_limit) {
            refuseAndClose(413, FileText::kChunkTooLarge);
        } else if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
                   ec != http::error::partial_message) {
            // Timeouts and broken requests: a bad request gets a word, a dead peer nothing.
            refuseAndClose(400, "잘못된 요청입니다");
        } else {
            close();
        }
        return true;
    }

    void onHeader(beast::error_code ec) {
        if (closed_ || failed(ec))
            return;
        const auto& header = parser_->get();
        // A load balancer's check names no host of ours, and the answer tells nothing.
        const bool healthCheck =
            header.method() == http::verb::get && header.target() == "/healthz";
        const auto refusal =
            healthCheck ? std::nullopt
                        : guard_.check(std::string_view(header.method_string().data(),
                                                        header.method_string().size()),
                                       header.find(http::field::origin) != header.end(),
                                       std::string_view(header[http::field::host].data(),
                                                        header[http::field::host].size()),
                                       std::string_view(header[http::field::content_type].data(),
                                                        header[http::field::content_type].size()));
        if (refusal) {
            refuseAndClose(refusal->status, refusal->text);
            return;
        }
        // Room for the whole body is taken from the budget before any of it is read.
        const auto length = parser_->content_length();
        const std::uint64_t expected =
            length ? std::min<std::uint64_t>(*length, HttpServer::kBodyLimit)
                   : (parser_->chunked() ? HttpServer::kBodyLimit : 0);
        if (expected > 0) {
            if (shared_.bodyBytesInUse + expected > shared_.bodyBudget) {
                refuseAndClose(503, kBusyText);
                return;
            }
            shared_.bodyBytesInUse += expected;
            bodyReserved_ = expected;
        }
        tcp().expires_after(shared_.bodyTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             self->onRead(ec);
                         });
    }

    void onRead(beast::error_code ec) {
        if (closed_ || failed(ec))
            return;
        auto& request = parser_->get();
        keepAlive_ = request.keep_alive();
        HttpRequest r = HttpServer::toApiRequest(request);
        r.peer = address_;
        const std::string line = r.method + " " + r.target;
        tcp().expires_never();
        // The parser's copy is gone; what the API holds is released with its answer.
        parser_.reset();
        api_.handle(r, [self = this->shared_from_this(), line](HttpReply reply) {
            self->releaseBody();
            if (reply.status >= 400)
                self->shared_.clients.logRefusal(
                    self->address_, "http: " + self->peer_ + " " + line + " refused " +
                                        std::to_string(reply.status) + " " + reply.body);
            const auto delay = reply.wrongSecret
                                   ? self->shared_.clients.wrongSecretDelayFor(self->address_)
                                   : std::chrono::milliseconds::zero();
            if (delay == std::chrono::milliseconds::zero() || self->closed_) {
                self->send(std::move(reply));
                return;
            }
            self->delay_.expires_after(delay);
            self->delay_.async_wait(
                [self, reply = std::move(reply)](boost::system::error_code ec) mutable {
                    if (!ec)
                        self->send(std::move(reply));
                });
        });
    }

    void releaseBody() {
        shared_.bodyBytesInUse -= bodyReserved_;
        bodyReserved_ = 0;
    }

    void refuseAndClose(unsigned status, const std::string& text) {
        shared_.clients.logRefusal(address_, "http: " + peer_ + " refused " +
                                                 std::to_string(status) + " " + text);
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
        if (reply.file) {
            sendFile(std::move(reply));
            return;
        }
        auto response = std::make_shared<http::response<http::string_body>>();
        response->result(static_cast<http::status>(reply.status));
        response->set(http::field::content_type, reply.contentType);
        response->body() = std::move(reply.body);
        response->keep_alive(keepAlive_);
        response->prepare_payload();
        write(response);
    }

    void sendText(unsigned status, const char* text) {
        HttpReply reply;
        reply.status = status;
        reply.contentType = "text/plain; charset=utf-8";
        reply.body = text;
        send(std::move(reply));
    }

    struct Download {
        std::shared_ptr<VerifiedFile> file;
        std::string piece;
        std::size_t written = 0; // of `piece`
        http::response<http::empty_body> header;
        std::optional<http::response_serializer<http::empty_body>> serializer;
    };

    void sendFile(HttpReply reply) {
        auto d = std::make_shared<Download>();
        d->file = std::move(reply.file);
        if (!d->file->open()) {
            const int error = errno;
            logLine("http: cannot open " + d->file->id() + ": " + std::strerror(error));
            if (outOfDescriptors(error))
                sendText(503, kOutOfDescriptorsText);
            else
                sendText(404, FileText::kNotFound);
            return;
        }
        // The first piece before the header, so a file of one piece is checked whole first.
        nextPiece(d, [self = this->shared_from_this(), d,
                      contentType = std::move(reply.contentType)](bool ok) {
            if (!ok) {
                logLine("http: " + d->file->id() + " does not match its record; not served");
                self->sendText(404, FileText::kNotFound);
                return;
            }
            d->header.result(http::status::ok);
            d->header.set(http::field::content_type, contentType);
            d->header.keep_alive(self->keepAlive_);
            d->header.content_length(d->file->size());
            d->serializer.emplace(d->header);
            self->tcp().expires_after(self->writeIdle_);
            http::async_write_header(self->stream_, *d->serializer,
                                     [self, d](beast::error_code ec, std::size_t) {
                                         if (ec) {
                                             self->cutDownload(*d, ec.message());
                                             return;
                                         }
                                         self->sendPiece(d);
                                     });
        });
    }

    // Into d->piece; false when the file cannot be read or does not match its record. A piece
    // read off the I/O thread may come after the connection closed: then nothing runs.
    void nextPiece(const std::shared_ptr<Download>& d, std::function<void(bool)> then) {
        d->file->next([self = this->shared_from_this(), d,
                       then = std::move(then)](std::optional<std::string> piece) {
            if (self->closed_)
                return;
            if (!piece) {
                then(false);
                return;
            }
            d->piece = std::move(*piece);
            d->written = 0;
            then(true);
        });
    }

    // Each write must make progress within the idle time; a slow reader of a large file is
    // cut only when it stops reading.
    void sendPiece(std::shared_ptr<Download> d) {
        if (d->written == d->piece.size()) {
            if (d->file->done()) {
                afterWrite();
                return;
            }
            nextPiece(d, [self = this->shared_from_this(), d](bool ok) {
                if (!ok) {
                    self->cutDownload(*d, "the file does not match its record");
                    return;
                }
                self->sendPiece(d);
            });
            return;
        }
        tcp().expires_after(writeIdle_);
        stream_.async_write_some(
            asio::buffer(d->piece.data() + d->written, d->piece.size() - d->written),
            [self = this->shared_from_this(), d](beast::error_code ec, std::size_t n) {
                d->written += n;
                if (ec) {
                    self->cutDownload(*d, ec.message());
                    return;
                }
                self->sendPiece(d);
            });
    }

    void cutDownload(const Download& d, const std::string& why) {
        const std::uint64_t sent = d.file->offset() - d.piece.size() + d.written;
        logLine("http: " + peer_ + " download of " + d.file->id() + " cut after " +
                std::to_string(sent) + " of " + std::to_string(d.file->size()) + " bytes: " + why);
        close();
    }

    // Piece by piece, each within the idle time.
    template <class Body> void write(std::shared_ptr<http::response<Body>> response) {
        auto serializer = std::make_shared<http::response_serializer<Body>>(*response);
        writeSome(std::move(response), std::move(serializer));
    }

    template <class Body>
    void writeSome(std::shared_ptr<http::response<Body>> response,
                   std::shared_ptr<http::response_serializer<Body>> serializer) {
        tcp().expires_after(writeIdle_);
        auto& sr = *serializer;
        http::async_write_some(stream_, sr,
                               [self = this->shared_from_this(), response,
                                serializer](beast::error_code ec, std::size_t) mutable {
                                   if (ec) {
                                       self->close();
                                       return;
                                   }
                                   if (!serializer->is_done()) {
                                       self->writeSome(std::move(response), std::move(serializer));
                                       return;
                                   }
                                   self->afterWrite();
                               });
    }

    void afterWrite() {
        if (!keepAlive_) {
            close();
            return;
        }
        readRequest();
    }

    Stream stream_;
    HttpShared& shared_;
    HttpApi& api_;
    const HttpGuard& guard_;
    std::chrono::seconds writeIdle_;
    std::function<void(HttpSession*)> onClosed_;
    std::string peer_;    // address:port, for the log
    std::string address_; // what caps and logs count by
    asio::steady_timer delay_;
    std::uint64_t bodyReserved_ = 0;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool keepAlive_ = true;
    bool closed_ = false;
};

// The token of "Authorization: Bearer <token>" (the scheme in any case), or empty.
std::string bearerToken(beast::string_view header) {
    std::string_view value(header.data(), header.size());
    constexpr std::string_view scheme = "bearer ";
    if (value.size() <= scheme.size() ||
        !beast::iequals(beast::string_view(value.data(), scheme.size()),
                        beast::string_view(scheme.data(), scheme.size())))
        return {};
    value.remove_prefix(scheme.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    return std::string(value);
}

} // namespace

HttpRequest HttpServer::toApiRequest(BeastRequest& request) {
    return {std::string(request.method_string()),
            std::string(request.target()),
            std::move(request.body()),
            {},
            bearerToken(request[http::field::authorization])};
}

HttpServer::HttpServer(asio::io_context& io, HttpApi& api, HttpGuard guard,
                       std::chrono::seconds writeIdle, ConnectionGate& gate,
                       asio::ssl::context* tls)
    : io_(io), shared_(api, std::move(guard), writeIdle), gate_(gate), tls_(tls), acceptor_(io) {}

void HttpServer::listen(const asio::ip::tcp::endpoint& endpoint) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(asio::socket_base::max_listen_connections);
    shared_.guard.setPort(port());
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
        gate_.arrive(std::move(socket), "http", [this](asio::ip::tcp::socket s, Peer peer) {
            start(std::move(s), std::move(peer));
        });
        accept();
    });
}

void HttpServer::start(asio::ip::tcp::socket socket, Peer peer) {
    if (stopped_) {
        gate_.leave(peer.address);
        return;
    }
    shared_.clients.arrived(peer.address);
    const std::string address = peer.address;
    auto onClosed = [this, address](HttpSession* s) { closed(s, address); };
    std::shared_ptr<HttpSession> session;
    if (tls_)
        session = std::make_shared<HttpConnection<TlsStream>>(shared_, std::move(peer), onClosed,
                                                              std::move(socket), *tls_);
    else
        session = std::make_shared<HttpConnection<PlainStream>>(shared_, std::move(peer), onClosed,
                                                                std::move(socket));
    sessions_[session.get()] = session;
    session->start();
}

void HttpServer::closed(HttpSession* session, const std::string& address) {
    if (!sessions_.erase(session))
        return;
    gate_.leave(address);
    shared_.clients.left(address);
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
    shared_.clients.flushAll();
}

} // namespace brindlewick::server
