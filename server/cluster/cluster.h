#pragma once
// Several server processes on one shared database: each delivery committed here is published
// on NATS, and what the other instances publish is delivered to this process's connections.
// Every delivery, this process's own included, passes the RoomSequencer, so each connection
// sees a room's messages in id order without gaps or duplicates. What NATS did not bring (a
// lost connection, an instance killed between its commit and its publish) is read from the
// database: after every (re)connect and whenever another instance falls silent.
//
// Subjects: brindlewick.room.<room id in hex> for deliveries (all instances listen to
// brindlewick.room.*), brindlewick.instance for each instance's heartbeat.
// nats.c calls back on its own threads; everything is posted to the io thread from there.

#include "delivery.h"
#include "log.h"
#include "room_sequencer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace brindlewick::server {

class DbWorker;
class Hub;

// A delivery as it travels between instances. Decoding checks every length: a short or
// malformed message is nothing, never a read past its end.
std::string encodeFanout(const Delivery& delivery);
std::optional<Delivery> decodeFanout(const char* data, std::size_t size);
// NATS subject tokens cannot hold dots, spaces or wildcards; room ids can.
std::string roomSubject(const std::string& room);

class Cluster {
public:
    // Missing ids are waited for this long before the database is asked.
    static constexpr std::chrono::milliseconds kHoldTime{150};
    static constexpr std::chrono::milliseconds kHeartbeat{1000};
    // An instance silent this long is taken for dead: its last commits may be unpublished.
    static constexpr std::chrono::milliseconds kPeerSilence{3000};

    Cluster(boost::asio::io_context& io, DbWorker& worker, Hub& hub, std::string natsUrl);
    ~Cluster();
    Cluster(const Cluster&) = delete;
    Cluster& operator=(const Cluster&) = delete;

    // Connects (retrying in the background while NATS is down) and subscribes; false with a
    // reason for a URL nats.c refuses.
    bool start(std::string& error);
    void stop();
    // Hub's relay: publishes a delivery committed here, and delivers it here in its turn.
    void relay(const Delivery& delivery);

    // From nats.c's threads, by way of the io thread.
    void relayReceived(Delivery delivery);
    void linkUp();
    void peerAlive(const std::string& peer);

    struct Bridge; // what nats.c's threads hold

private:
    // Reads every room's newest id as the start for the sequencer; again a second later when
    // the database fails.
    void takeBaseline();
    // Compares every room's newest id in the database with what was delivered here.
    void sweep();
    void fill(const std::string& room, std::int64_t after, std::int64_t before);
    // The sequencer's clock runs only while it waits for something (the sequencer wakes it):
    // an idle instance sleeps.
    void scheduleTick();
    void scheduleHeartbeat();

    boost::asio::io_context& io_;
    DbWorker& worker_;
    Hub& hub_;
    std::string url_;
    std::string name_; // this instance, for heartbeats
    RoomSequencer sequencer_;
    std::shared_ptr<Bridge> bridge_;
    boost::asio::steady_timer tick_;
    boost::asio::steady_timer beat_;
    boost::asio::steady_timer retry_;
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> peers_;
    LogLimiter publishFailures_;
    bool stopped_ = false;
    bool ticking_ = false;
    // Shared with database jobs posted before a stop, whose completions may run after it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace brindlewick::server
