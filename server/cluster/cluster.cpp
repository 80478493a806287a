#include "cluster.h"

#include "db_worker.h"
#include "hub.h"
#include "ids.h"
#include "log.h"
#include "room_logic.h"

#include <nats/nats.h>

#include <boost/asio/post.hpp>

#include <condition_variable>
#include <mutex>

namespace brindlewick::server {

namespace asio = boost::asio;

namespace {

constexpr char kRoomPrefix[] = "brindlewick.room.";
constexpr char kRoomWildcard[] = "brindlewick.room.*";
constexpr char kInstanceSubject[] = "brindlewick.instance";
constexpr std::uint8_t kFormat = 1;
constexpr std::size_t kMaxRecipients = 1000000;

void putNumber(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putText(std::string& out, const std::string& text) {
    putNumber(out, text.size(), 4);
    out += text;
}

class Reader {
public:
    Reader(const char* data, std::size_t size) : data_(data), left_(size) {}
    bool number(std::uint64_t& value, int bytes) {
        if (left_ < std::size_t(bytes))
            return false;
        value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | static_cast<unsigned char>(data_[i]);
        advance(bytes);
        return true;
    }
    bool text(std::string& value) {
        std::uint64_t length = 0;
        if (!number(length, 4) || length > left_)
            return false;
        value.assign(data_, length);
        advance(length);
        return true;
    }
    std::string rest() { return std::string(data_, left_); }
    std::size_t left() const { return left_; }

private:
    void advance(std::size_t n) {
        data_ += n;
        left_ -= n;
    }
    const char* data_;
    std::size_t left_;
};

} // namespace

std::string encodeFanout(const Delivery& delivery) {
    std::string out;
    out.reserve(32 + delivery.room.size() + delivery.frame->size() +
                delivery.recipients->size() * 16);
    putNumber(out, kFormat, 1);
    putText(out, delivery.room);
    putNumber(out, std::uint64_t(delivery.id), 8);
    putNumber(out, delivery.recipients->size(), 4);
    for (const std::string& phone : *delivery.recipients)
        putText(out, phone);
    out += *delivery.frame;
    return out;
}

std::optional<Delivery> decodeFanout(const char* data, std::size_t size) {
    Reader in(data, size);
    std::uint64_t format = 0, id = 0, count = 0;
    Delivery delivery;
    if (!in.number(format, 1) || format != kFormat || !in.text(delivery.room) ||
        delivery.room.empty() || !in.number(id, 8) || id > std::uint64_t(INT64_MAX) ||
        !in.number(count, 4) || count > kMaxRecipients || count * 4 > in.left())
        return std::nullopt;
    delivery.id = std::int64_t(id);
    std::vector<std::string> recipients(count);
    for (std::string& phone : recipients)
        if (!in.text(phone))
            return std::nullopt;
    // A frame of the chat protocol, at least its header.
    if (in.left() < ChatProtocol::kHeaderSize)
        return std::nullopt;
    delivery.recipients = std::make_shared<const std::vector<std::string>>(std::move(recipients));
    delivery.frame = std::make_shared<const std::string>(in.rest());
    return delivery;
}

std::string roomSubject(const std::string& room) {
    static const char digits[] = "0123456789abcdef";
    std::string subject = kRoomPrefix;
    for (unsigned char c : room) {
        subject.push_back(digits[c >> 4]);
        subject.push_back(digits[c & 15]);
    }
    return subject;
}

struct Cluster::Bridge {
    Bridge(asio::io_context& context, Cluster* cluster, std::weak_ptr<bool> flag)
        : io(context), owner(cluster), alive(std::move(flag)) {}
    asio::io_context& io;
    Cluster* owner;
    std::weak_ptr<bool> alive; // the owner's; checked on the io thread before using it
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    int subscriptionsDone = 0;
    natsConnection* connection = nullptr;
    natsSubscription* rooms = nullptr;
    natsSubscription* beats = nullptr;

    // Runs `fn` on the io thread while the owner lives.
    template <typename Fn> void post(Fn fn) {
        asio::post(io, [owner = owner, alive = alive, fn = std::move(fn)]() mutable {
            if (auto flag = alive.lock(); flag && *flag)
                fn(*owner);
        });
    }
};

namespace {

void onRoomMessage(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
    auto* bridge = static_cast<Cluster::Bridge*>(closure);
    auto delivery = decodeFanout(natsMsg_GetData(msg), std::size_t(natsMsg_GetDataLength(msg)));
    natsMsg_Destroy(msg);
    if (!delivery)
        return; // not ours, or from an incompatible version
    bridge->post([delivery = std::move(*delivery)](Cluster& cluster) mutable {
        cluster.relayReceived(std::move(delivery));
    });
}

void onBeat(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
    auto* bridge = static_cast<Cluster::Bridge*>(closure);
    std::string peer(natsMsg_GetData(msg), std::size_t(natsMsg_GetDataLength(msg)));
    natsMsg_Destroy(msg);
    if (peer.empty() || peer.size() > 64)
        return;
    bridge->post([peer = std::move(peer)](Cluster& cluster) { cluster.peerAlive(peer); });
}

void onConnected(natsConnection*, void* closure) {
    static_cast<Cluster::Bridge*>(closure)->post([](Cluster& cluster) { cluster.linkUp(); });
}

void onDisconnected(natsConnection*, void* closure) {
    static_cast<Cluster::Bridge*>(closure)->post(
        [](Cluster&) { logLine("cluster: lost the connection to NATS; reconnecting"); });
}

void onClosed(natsConnection*, void* closure) {
    auto* bridge = static_cast<Cluster::Bridge*>(closure);
    std::lock_guard<std::mutex> lock(bridge->mutex);
    bridge->closed = true;
    bridge->changed.notify_all();
}

void onSubscriptionDone(void* closure) {
    auto* bridge = static_cast<Cluster::Bridge*>(closure);
    std::lock_guard<std::mutex> lock(bridge->mutex);
    ++bridge->subscriptionsDone;
    bridge->changed.notify_all();
}

std::string natsError(const std::string& what, natsStatus status) {
    return what + ": " + natsStatus_GetText(status);
}

} // namespace

Cluster::Cluster(asio::io_context& io, DbWorker& worker, Hub& hub, std::string natsUrl)
    : io_(io), worker_(worker), hub_(hub), url_(std::move(natsUrl)), name_(randomHex128()),
      sequencer_([this](const Delivery& delivery) { hub_.deliverHere(delivery); },
                 [this](const std::string& room, std::int64_t after, std::int64_t before) {
                     fill(room, after, before);
                 },
                 kHoldTime, [this] { scheduleTick(); }),
      tick_(io), beat_(io), retry_(io) {}

Cluster::~Cluster() {
    stop();
}

bool Cluster::start(std::string& error) {
    bridge_ = std::make_shared<Bridge>(io_, this, alive_);
    Bridge* bridge = bridge_.get();
    natsOptions* options = nullptr;
    natsStatus status = natsOptions_Create(&options);
    if (status == NATS_OK)
        status = natsOptions_SetURL(options, url_.c_str());
    if (status == NATS_OK)
        status = natsOptions_SetName(options, ("brindlewick-server " + name_).c_str());
    // Our own deliveries are handed to the sequencer directly.
    if (status == NATS_OK)
        status = natsOptions_SetNoEcho(options, true);
    if (status == NATS_OK)
        status = natsOptions_SetMaxReconnect(options, -1);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectWait(options, 250);
    if (status == NATS_OK)
        status = natsOptions_SetPingInterval(options, 2000);
    if (status == NATS_OK)
        status = natsOptions_SetMaxPingsOut(options, 2);
    if (status == NATS_OK)
        status = natsOptions_SetRetryOnFailedConnect(options, true, onConnected, bridge);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectedCB(options, onConnected, bridge);
    if (status == NATS_OK)
        status = natsOptions_SetDisconnectedCB(options, onDisconnected, bridge);
    if (status == NATS_OK)
        status = natsOptions_SetClosedCB(options, onClosed, bridge);
    if (status != NATS_OK) {
        natsOptions_Destroy(options);
        error = natsError("NATS options", status);
        return false;
    }
    status = natsConnection_Connect(&bridge->connection, options);
    natsOptions_Destroy(options);
    const bool waiting = status == NATS_NOT_YET_CONNECTED;
    if (status != NATS_OK && !waiting) {
        error = natsError("NATS " + url_, status);
        return false;
    }
    status = natsConnection_Subscribe(&bridge->rooms, bridge->connection, kRoomWildcard,
                                      onRoomMessage, bridge);
    if (status == NATS_OK)
        status = natsSubscription_SetOnCompleteCB(bridge->rooms, onSubscriptionDone, bridge);
    // A burst from the other instances must not be dropped by the client library's default
    // limit: a slow moment here would cost a database fill per room.
    if (status == NATS_OK)
        status = natsSubscription_SetPendingLimits(bridge->rooms, -1, 256 * 1024 * 1024);
    if (status == NATS_OK)
        status = natsConnection_Subscribe(&bridge->beats, bridge->connection, kInstanceSubject,
                                          onBeat, bridge);
    if (status == NATS_OK)
        status = natsSubscription_SetOnCompleteCB(bridge->beats, onSubscriptionDone, bridge);
    if (status != NATS_OK) {
        error = natsError("NATS subscribe", status);
        return false;
    }
    logLine("cluster: instance " + name_ + (waiting ? ", waiting for NATS at " : ", NATS at ") +
            url_);
    hub_.setRelay([this](const Delivery& delivery) { relay(delivery); });
    takeBaseline();
    scheduleHeartbeat();
    return true;
}

void Cluster::takeBaseline() {
    // Everything committed before this point is history; later commits are published after
    // our subscription exists, or found by the sweep after connecting.
    std::weak_ptr<bool> alive = alive_;
    auto retry = [this, alive] {
        if (auto flag = alive.lock(); !flag || !*flag)
            return;
        logLine("cluster: cannot read the rooms' newest ids; trying again");
        retry_.expires_after(std::chrono::seconds(1));
        retry_.async_wait([this](boost::system::error_code ec) {
            if (!ec && !stopped_)
                takeBaseline();
        });
    };
    worker_.post(
        [this, alive, retry](Storage& storage) -> Completion {
            auto ids = std::make_shared<std::vector<std::pair<std::string, std::int64_t>>>(
                storage.lastMessageIds());
            return [this, alive, ids, retry](bool committed) {
                auto flag = alive.lock();
                if (!flag || !*flag)
                    return;
                if (committed)
                    sequencer_.setBaseline(*ids, RoomSequencer::Clock::now());
                else
                    retry();
            };
        },
        [retry](bool) { retry(); });
}

void Cluster::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    *alive_ = false;
    tick_.cancel();
    beat_.cancel();
    retry_.cancel();
    hub_.setRelay(nullptr);
    if (!bridge_)
        return;
    Bridge& bridge = *bridge_;
    if (bridge.connection) {
        natsConnection_Close(bridge.connection);
        const int subscriptions = (bridge.rooms ? 1 : 0) + (bridge.beats ? 1 : 0);
        std::unique_lock<std::mutex> lock(bridge.mutex);
        // nats.c's threads hold the bridge until they are done with it.
        bridge.changed.wait_for(lock, std::chrono::seconds(3), [&] {
            return bridge.closed && bridge.subscriptionsDone >= subscriptions;
        });
    }
    natsSubscription_Destroy(bridge.rooms);
    natsSubscription_Destroy(bridge.beats);
    natsConnection_Destroy(bridge.connection);
    bridge.rooms = bridge.beats = nullptr;
    bridge.connection = nullptr;
    nats_CloseAndWait(2000);
}

void Cluster::relay(const Delivery& delivery) {
    if (stopped_) {
        hub_.deliverHere(delivery);
        return;
    }
    const std::string payload = encodeFanout(delivery);
    const natsStatus status =
        natsConnection_Publish(bridge_->connection, roomSubject(delivery.room).c_str(),
                               payload.data(), int(payload.size()));
    if (status != NATS_OK)
        publishFailures_.line("cluster: publish failed (" +
                              std::string(natsStatus_GetText(status)) +
                              "); the other instances read it from the database");
    sequencer_.submit(delivery, RoomSequencer::Clock::now());
}

void Cluster::relayReceived(Delivery delivery) {
    sequencer_.submit(delivery, RoomSequencer::Clock::now());
}

void Cluster::linkUp() {
    logLine("cluster: connected to NATS; reading what was missed");
    sweep();
}

void Cluster::peerAlive(const std::string& peer) {
    if (peers_.emplace(peer, std::chrono::steady_clock::now()).second)
        logLine("cluster: instance " + peer + " is up");
    else
        peers_[peer] = std::chrono::steady_clock::now();
}

void Cluster::sweep() {
    std::weak_ptr<bool> alive = alive_;
    worker_.post([this, alive](Storage& storage) -> Completion {
        auto ids = std::make_shared<std::vector<std::pair<std::string, std::int64_t>>>(
            storage.lastMessageIds());
        return [this, alive, ids](bool committed) {
            auto flag = alive.lock();
            if (!committed || !flag || !*flag)
                return;
            for (const auto& [room, last] : *ids)
                sequencer_.catchUp(room, last);
        };
    });
}

void Cluster::fill(const std::string& room, std::int64_t after, std::int64_t before) {
    std::weak_ptr<bool> alive = alive_;
    worker_.post(
        [this, alive, room, after, before](Storage& storage) -> Completion {
            auto missed = std::make_shared<std::vector<Delivery>>(
                RoomLogic::missedMessages(storage, room, after, before));
            return [this, alive, room, after, before, missed](bool committed) {
                auto flag = alive.lock();
                if (!flag || !*flag)
                    return;
                if (committed)
                    sequencer_.filled(room, after, before, std::move(*missed));
                else
                    sequencer_.fillFailed(room);
            };
        },
        [this, alive, room](bool) {
            if (auto flag = alive.lock(); flag && *flag)
                sequencer_.fillFailed(room);
        });
}

void Cluster::scheduleTick() {
    if (ticking_ || stopped_ || !sequencer_.watching())
        return;
    ticking_ = true;
    tick_.expires_after(std::chrono::milliseconds(25));
    tick_.async_wait([this](boost::system::error_code ec) {
        ticking_ = false;
        if (ec || stopped_)
            return;
        sequencer_.tick(RoomSequencer::Clock::now());
        scheduleTick();
    });
}

void Cluster::scheduleHeartbeat() {
    beat_.expires_after(kHeartbeat);
    beat_.async_wait([this](boost::system::error_code ec) {
        if (ec || stopped_)
            return;
        natsConnection_Publish(bridge_->connection, kInstanceSubject, name_.data(),
                               int(name_.size()));
        const auto now = std::chrono::steady_clock::now();
        bool lost = false;
        for (auto it = peers_.begin(); it != peers_.end();) {
            if (now - it->second > kPeerSilence) {
                logLine("cluster: instance " + it->first + " fell silent; reading its commits");
                it = peers_.erase(it);
                lost = true;
            } else {
                ++it;
            }
        }
        if (lost)
            sweep();
        scheduleHeartbeat();
    });
}

} // namespace brindlewick::server
