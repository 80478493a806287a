#pragma once
// Puts each room's deliveries back into message-id order when they come from several
// instances. io thread only; no sockets, no clock of its own (the caller passes the time), so
// it can be tested alone.
//
// Message ids of a room are gap-free, so the next id a room's readers may see is always known:
// an id one past the last delivered goes out at once, a later one waits for the ids between,
// and once it has waited `holdTime` the missing ones are asked of the database. An id at or
// below the last delivered is a duplicate and dropped. Deliveries without an id (edits,
// deletions, notices) keep their place behind every message that arrived before them.

#include "delivery.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace brindlewick::server {

class RoomSequencer {
public:
    using Clock = std::chrono::steady_clock;
    using DeliverFn = std::function<void(const Delivery&)>;
    // Asks for the messages of `room` with ids in (after, before), answered by filled().
    using FillFn =
        std::function<void(const std::string& room, std::int64_t after, std::int64_t before)>;

    // `wake`: tick() has something to look at again (after nothing did); may be empty.
    using WakeFn = std::function<void()>;
    RoomSequencer(DeliverFn deliver, FillFn fill, Clock::duration holdTime, WakeFn wake = {});

    // Until the first baseline, every delivery waits: nothing is known about any room yet.
    // Rooms not listed had no message; a baseline only ever raises a room's last id.
    void setBaseline(const std::vector<std::pair<std::string, std::int64_t>>& lastIds,
                     Clock::time_point now);
    bool ready() const { return ready_; }

    void submit(const Delivery& delivery, Clock::time_point now);
    // Asks the database for what rooms waiting longer than the hold time miss.
    void tick(Clock::time_point now);
    // The database's answer to a fill, in any order; ids outside the range are ignored. After
    // it the range counts as done even when the database lacked some id.
    void filled(const std::string& room, std::int64_t after, std::int64_t before,
                std::vector<Delivery> messages);
    // The database says the room's newest id is `lastId`; anything past the last delivered
    // is fetched (after a lost connection to the other instances).
    void catchUp(const std::string& room, std::int64_t lastId);
    // The fill could not be read: the next tick asks again.
    void fillFailed(const std::string& room);

    // Whether tick() has anything to look at: some room holds deliveries or waits for a fill.
    bool watching() const { return !watch_.empty(); }

    std::int64_t lastDelivered(const std::string& room) const;
    // Rooms with held deliveries or a fill under way.
    std::size_t waitingRooms() const;
    std::uint64_t duplicatesDropped() const { return duplicates_; }
    std::uint64_t fillsRequested() const { return fills_; }

private:
    struct Later {
        std::int64_t barrier; // released once the room's last id reaches this
        Delivery delivery;
    };
    struct Room {
        std::int64_t last = 0;
        std::map<std::int64_t, Delivery> held;
        std::deque<Later> later;
        bool waiting = false; // a hold deadline is set
        Clock::time_point deadline{};
        bool filling = false;
        bool watched = false; // listed in watch_
    };
    void watch(const std::string& id, Room& room, Clock::time_point deadline);
    void release(Room& room);
    void requestFill(const std::string& id, Room& room, std::int64_t before);
    void accept(const Delivery& delivery, Clock::time_point now);

    DeliverFn deliver_;
    FillFn fill_;
    WakeFn wake_;
    Clock::duration holdTime_;
    bool ready_ = false;
    std::vector<Delivery> early_;                 // before the first baseline
    std::unordered_map<std::string, Room> rooms_; // never erased: the pointers below stay valid
    // The rooms tick() looks at, so that it costs the waiting rooms, not all of them.
    std::vector<std::pair<const std::string*, Room*>> watch_;
    std::uint64_t duplicates_ = 0;
    std::uint64_t fills_ = 0;
};

} // namespace brindlewick::server
