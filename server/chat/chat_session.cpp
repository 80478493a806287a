#include "chat_session.h"

#include "db_worker.h"
#include "directory_logic.h"
#include "field_limits.h"
#include "hub.h"
#include "phone_claims.h"
#include "room_logic.h"
#include "sender_limits.h"

#include <messages.h>
#include <phone_number.h>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <new>
#include <vector>

namespace brindlewick::server {

namespace asio = boost::asio;

ChatSession::ChatSession(asio::ip::tcp::socket socket, Peer peer, DbWorker& worker,
                         std::shared_ptr<Hub> hub, ClosedFn onClosed, asio::ssl::context* tls,
                         bool claimPhones, std::shared_ptr<SenderLimits> senders)
    : socket_(std::move(socket)), worker_(worker), hub_(std::move(hub)),
      onClosed_(std::move(onClosed)), peer_(std::move(peer.text)),
      address_(std::move(peer.address)), senders_(std::move(senders)),
      slowDown_(socket_.get_executor()), claimPhones_(claimPhones) {
    if (tls)
        tls_.emplace(socket_, *tls);
    refusals_.setPrefix("chat: " + peer_ + " refused ");
    boost::system::error_code ec;
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
}

ChatSession::~ChatSession() {
    leaveHub();
}

void ChatSession::leaveHub() {
    if (!hubPhone_.empty())
        hub_->remove(hubPhone_, this);
    hubPhone_.clear();
}

void ChatSession::start() {
    logLine("chat: connection from " + peer_);
    if (!tls_) {
        readMore();
        return;
    }
    // Plain bytes or a stalled handshake: the handshake fails or the sign-in sweep closes it.
    reading_ = true;
    tls_->async_handshake(asio::ssl::stream_base::server,
                          [self = shared_from_this()](boost::system::error_code ec) {
                              self->reading_ = false;
                              if (self->closed_)
                                  return;
                              if (ec) {
                                  self->close("TLS handshake failed: " + ec.message());
                                  return;
                              }
                              self->readMore();
                          });
}

void ChatSession::readMore() {
    if (closed_ || reading_ || closeAfterWrite_)
        return;
    if (inFlight_ >= kMaxInFlight || claimPending_ || slowed_) {
        readPaused_ = true;
        return;
    }
    reading_ = true;
    // Starting a read allocates its handler; if that fails the connection would hang, neither
    // reading nor closed, so it ends instead.
    try {
        startRead();
    } catch (const std::bad_alloc&) {
        reading_ = false;
        close("out of memory");
    }
}

void ChatSession::startRead() {
    withStream([this](auto& stream) {
        stream.async_read_some(
            asio::buffer(readChunk_),
            [self = shared_from_this()](boost::system::error_code ec, std::size_t bytes) {
                self->reading_ = false;
                if (ec) {
                    self->close(ec == asio::error::eof || ec == asio::ssl::error::stream_truncated
                                    ? "closed by peer"
                                    : ec.message());
                    return;
                }
                self->onRead(bytes);
            });
    });
}

void ChatSession::onRead(std::size_t bytes) {
    if (closed_)
        return;
    // Whatever one connection sends, running out of memory ends that connection only.
    try {
        inbox_.append(readChunk_.data(), bytes);
        if (!processInbox())
            return;
    } catch (const std::bad_alloc&) {
        inbox_ = std::string();
        close("out of memory");
        return;
    }
    readMore();
}

bool ChatSession::processInbox() {
    if (claimPending_ || slowed_)
        return !closed_;
    // Frames before bad bytes are handled; then the connection closes.
    const ConsumeResult result = ChatProtocol::consumeFrames(
        inbox_,
        [this](std::uint8_t type, const FieldList& fields) {
            if (closed_ || closeAfterWrite_)
                return false;
            handleFrame(type, fields);
            return !closed_ && !closeAfterWrite_ && !claimPending_ && !slowed_ &&
                   inFlight_ < kMaxInFlight;
        },
        kMaxFields);
    // After a large frame the buffer would otherwise keep its capacity for good.
    if (inbox_.capacity() > kKeptInboxCapacity && inbox_.size() <= kKeptInboxCapacity / 2)
        std::string(inbox_).swap(inbox_);
    switch (result.status) {
    case ConsumeStatus::BadMagic:
        close("bad magic bytes");
        return false;
    case ConsumeStatus::ProtocolError:
        close("frame over 16 MiB");
        return false;
    case ConsumeStatus::TooManyFields:
        close("frame with more than " + std::to_string(kMaxFields) + " fields");
        return false;
    case ConsumeStatus::NeedMore:
        break;
    }
    const auto* h = reinterpret_cast<const unsigned char*>(inbox_.data());
    const std::size_t length = inbox_.size() < ChatProtocol::kHeaderSize
                                   ? 0
                                   : (std::size_t(h[4]) << 24) | (std::size_t(h[5]) << 16) |
                                         (std::size_t(h[6]) << 8) | h[7];
    if (phone_.empty() && length > kMaxFrameBeforeSignIn) {
        close("frame of " + std::to_string(length) + " bytes before sign-in");
        return false;
    }
    // A large frame under way gets room for all of it at once rather than doubling its way
    // there, copying as it goes; only once it has really started, so a bare header costs nothing.
    if (inbox_.size() > kKeptInboxCapacity) {
        // Unchecked when reading paused in front of it: an oversized one is refused later.
        if (length <= ChatProtocol::kMaxPayloadLength)
            inbox_.reserve(ChatProtocol::kHeaderSize + length);
    }
    return !closed_;
}

void ChatSession::refused(const std::string& what) {
    refusals_.line("chat: " + peer_ + (phone_.empty() ? "" : " (" + phone_ + ")") + " refused " +
                   what);
}

void ChatSession::handleFrame(std::uint8_t type, const FieldList& fields) {
    lastActivity_ = Clock::now();
    switch (type) {
    case MessageType::Ping:
        return;
    case MessageType::Auth:
        handleAuth(fields);
        return;
    default:
        break;
    }
    if (phone_.empty()) {
        sendError(type, ErrorText::kLoginRequired);
        refused("type " + std::to_string(type) + " before login");
        return;
    }
    switch (type) {
    case MessageType::JoinRoom:
    case MessageType::Chat:
    case MessageType::FileMeta:
    case MessageType::ChatEdit:
    case MessageType::ChatDelete:
    case MessageType::ReadWatermark:
    case MessageType::HistoryRequest:
        if (std::string tooLong = RoomLogic::refusedBySize(fields); !tooLong.empty()) {
            sendError(type, tooLong);
            refused("type " + std::to_string(type) + ": " + tooLong);
            return;
        }
        postRoomRequest(type, fields);
        chargeRates(type, fields);
        return;
    default:
        // LeaveRoom only closes the room on the client; CallReject and unknown types need nothing.
        return;
    }
}

void ChatSession::handleAuth(const FieldList& fields) {
    const auto auth = wire::Auth::decode(fields);
    // Stored, compared and put in room ids in one spelling only.
    const std::string phone = auth ? normalizePhone(auth->phone) : std::string();
    std::string refusal = phone.empty() ? ErrorText::kNeedPhone : tooLong(Field::Phone, phone);
    if (refusal.empty())
        refusal = tooLong(Field::Nickname, auth->nick);
    if (refusal.empty())
        refusal = hiddenCharacters(Field::Nickname, auth->nick);
    if (refusal.empty())
        refusal = tooLong(Field::Status, auth->statusMsg);
    if (!refusal.empty()) {
        sendError(MessageType::Auth, refusal);
        refused("sign-in: " + refusal);
        closeAfterWrite_ = true;
        writeMore();
        return;
    }
    // Made here rather than on the worker: a generator that fails refuses this sign-in only.
    std::string fresh;
    if (claimPhones_) {
        fresh = PhoneClaims::newSecret();
        if (fresh.empty()) {
            sendError(MessageType::Auth, ErrorText::kServerFailure);
            logLine("chat: no random bytes for a device secret");
            return;
        }
    }
    leaveHub();
    phone_ = phone;
    claimPending_ = claimPhones_;
    UserRecord user{phone, auth->nick, auth->statusMsg, auth->profilePic};
    ++inFlight_;
    auto self = shared_from_this();
    worker_.post(
        [self, phone, user, presented = auth->secret, fresh](Storage& storage) -> Completion {
            PhoneClaims::SignIn claim;
            if (self->claimPhones_)
                claim = PhoneClaims::signIn(storage, phone, presented, fresh);
            if (!claim.refused)
                DirectoryLogic::signIn(storage, user);
            return [self, phone, claim](bool committed) {
                self->finishSignIn(phone, committed, claim.refused, claim.issued);
                self->jobDone();
            };
        },
        [self](bool) {
            if (self->claimPending_) {
                self->claimPending_ = false;
                self->phone_.clear();
            }
            self->sendError(MessageType::Auth, ErrorText::kServerFailure);
            self->jobDone();
        });
}

void ChatSession::finishSignIn(const std::string& phone, bool committed, bool claimRefused,
                               const std::string& issued) {
    // Decided before jobDone lets the frames behind the Auth be read.
    claimPending_ = false;
    if (closed_ || phone_ != phone)
        return;
    if (!committed || claimRefused) {
        if (claimRefused)
            refused("sign-in: " + phone + " is claimed by another device");
        sendError(MessageType::Auth,
                  claimRefused ? ClaimText::kClaimedElsewhere : ErrorText::kServerFailure);
        phone_.clear();
        if (claimRefused) {
            closeAfterWrite_ = true;
            writeMore();
        }
        return;
    }
    hub_->add(phone, shared_from_this());
    hubPhone_ = phone;
    enqueue(std::make_shared<const std::string>(wire::encodeFrame(wire::AuthOk{phone, issued})));
    logLine("chat: " + peer_ + " signed in as " + phone +
            (issued.empty() ? "" : ", phone claimed"));
}

void ChatSession::postRoomRequest(std::uint8_t type, const FieldList& fields) {
    ++inFlight_;
    auto self = shared_from_this();
    Job job = [self, phone = phone_, type, fields](Storage& storage) -> Completion {
        auto result =
            std::make_shared<RoomResult>(RoomLogic::handleFrame(storage, phone, type, fields));
        return [self, type, result](bool committed) {
            self->jobDone();
            if (!committed) {
                self->sendError(type, ErrorText::kServerFailure);
                return;
            }
            if (!result->error.empty()) {
                self->sendError(type, result->error);
                self->refused("type " + std::to_string(type) + ": " + result->error);
            }
            if (result->reply)
                self->enqueue(result->reply);
            for (const Delivery& delivery : result->deliveries)
                self->hub_->deliver(delivery);
        };
    };
    Completion failed = [self, type](bool) {
        self->jobDone();
        self->sendError(type, ErrorText::kServerFailure);
    };
    // A history page only reads: it goes to a reader, beside everyone's writes.
    if (type == MessageType::HistoryRequest)
        worker_.read(phone_, std::move(job), std::move(failed));
    else
        worker_.post(std::move(job), std::move(failed), RoomLogic::messageRoom(type, fields));
}

void ChatSession::chargeRates(std::uint8_t type, const FieldList& fields) {
    const auto now = TokenBucket::Clock::now();
    TokenBucket::Clock::duration wait{};
    bool message = false;
    switch (type) {
    case MessageType::HistoryRequest:
        historyRate_.charge(1, now);
        wait = historyRate_.wait(now);
        break;
    case MessageType::Chat:
    case MessageType::FileMeta:
    case MessageType::ChatEdit:
    case MessageType::ChatDelete: {
        if (!senders_)
            return;
        // Fields past the largest a request may hold never get here (refusedBySize).
        std::size_t bytes = 0;
        for (const std::string& field : fields)
            bytes += field.size();
        wait = senders_->charge(phone_, bytes, now);
        message = true;
        break;
    }
    default:
        return;
    }
    if (wait <= TokenBucket::Clock::duration::zero() || closed_)
        return;
    slowed_ = true;
    // Once a few seconds at most, so the notices themselves cannot flood the sender.
    if (message && now - slowNoticeAt_ >= std::chrono::seconds(5)) {
        slowNoticeAt_ = now;
        const auto room = fields.empty() ? std::string() : fields.front();
        enqueue(std::make_shared<const std::string>(
            wire::encodeFrame(wire::Notice{room, SendText::kTooFast})));
        logLine("chat: " + peer_ + " (" + phone_ + ") slowed down: sending too fast");
    }
    slowDown_.expires_after(wait);
    slowDown_.async_wait([self = shared_from_this()](boost::system::error_code ec) {
        if (ec || self->closed_)
            return;
        self->slowed_ = false;
        self->resumeReading();
    });
}

void ChatSession::resumeReading() {
    if (!readPaused_ || inFlight_ >= kMaxInFlight / 2 || slowed_ || closed_)
        return;
    readPaused_ = false;
    try {
        if (!processInbox())
            return;
    } catch (const std::bad_alloc&) {
        close("out of memory");
        return;
    }
    readMore();
}

void ChatSession::jobDone() {
    --inFlight_;
    resumeReading();
}

void ChatSession::sendError(std::uint8_t refusedType, const std::string& text) {
    enqueue(std::make_shared<const std::string>(
        wire::encodeFrame(wire::ServerError{std::to_string(refusedType), text})));
}

void ChatSession::enqueue(std::shared_ptr<const std::string> frame) {
    if (closed_)
        return;
    if (queuedBytes_ + frame->size() > kMaxQueuedBytes) {
        close("not reading its deliveries");
        return;
    }
    queuedBytes_ += frame->size();
    outbox_.push_back(std::move(frame));
    // One commit's deliveries reach many sessions in one handler; writing once that handler
    // is done sends all of a session's share with one system call instead of one each.
    if (writingCount_ > 0 || writeScheduled_)
        return;
    writeScheduled_ = true;
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        self->writeScheduled_ = false;
        self->writeMore();
    });
}

void ChatSession::writeMore() {
    if (closed_ || writingCount_ > 0)
        return;
    if (outbox_.empty()) {
        if (closeAfterWrite_)
            close("sign-in refused");
        return;
    }
    // Everything queued goes out in one gathered write.
    const std::size_t count = std::min<std::size_t>(outbox_.size(), 256);
    writingCount_ = count;
    auto done = [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
        for (std::size_t i = 0; i < self->writingCount_ && !self->outbox_.empty(); ++i) {
            self->queuedBytes_ -= self->outbox_.front()->size();
            self->outbox_.pop_front();
        }
        self->writingCount_ = 0;
        // Like the receive buffer, not kept at the size of a burst.
        if (self->tlsWriteBuffer_.capacity() > kKeptInboxCapacity)
            std::string().swap(self->tlsWriteBuffer_);
        if (ec) {
            self->close(ec.message());
            return;
        }
        self->writeMore();
    };
    if (tls_) {
        tlsWriteBuffer_.clear();
        for (std::size_t i = 0; i < count; ++i)
            tlsWriteBuffer_ += *outbox_[i];
        asio::async_write(*tls_, asio::buffer(tlsWriteBuffer_), std::move(done));
        return;
    }
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        buffers.emplace_back(asio::buffer(*outbox_[i]));
    asio::async_write(socket_, buffers, std::move(done));
}

void ChatSession::close(const std::string& reason) {
    if (closed_)
        return;
    closed_ = true;
    leaveHub();
    boost::system::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    slowDown_.cancel();
    refusals_.flush();
    logLine("chat: " + peer_ + (phone_.empty() ? "" : " (" + phone_ + ")") + " closed: " + reason);
    // Keeps this object alive until the caller's stack has unwound.
    asio::post(socket_.get_executor(), [self = shared_from_this()] {});
    if (onClosed_)
        onClosed_(this);
}

} // namespace brindlewick::server
