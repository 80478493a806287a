#include "room_sequencer.h"

#include <algorithm>

namespace brindlewick::server {

RoomSequencer::RoomSequencer(DeliverFn deliver, FillFn fill, Clock::duration holdTime, WakeFn wake)
    : deliver_(std::move(deliver)), fill_(std::move(fill)), wake_(std::move(wake)),
      holdTime_(holdTime) {}

void RoomSequencer::setBaseline(const std::vector<std::pair<std::string, std::int64_t>>& lastIds,
                                Clock::time_point now) {
    for (const auto& [id, last] : lastIds) {
        Room& room = rooms_[id];
        room.last = std::max(room.last, last);
    }
    if (ready_)
        return;
    ready_ = true;
    std::vector<Delivery> early;
    early.swap(early_);
    for (const Delivery& delivery : early)
        accept(delivery, now);
}

void RoomSequencer::submit(const Delivery& delivery, Clock::time_point now) {
    if (!ready_) {
        early_.push_back(delivery);
        return;
    }
    accept(delivery, now);
}

void RoomSequencer::accept(const Delivery& delivery, Clock::time_point now) {
    auto slot = rooms_.try_emplace(delivery.room).first;
    Room& room = slot->second;
    if (delivery.id == 0) {
        if (room.held.empty() && !room.filling && room.later.empty())
            deliver_(delivery);
        else
            room.later.push_back(
                {room.held.empty() ? room.last : room.held.rbegin()->first, delivery});
        return;
    }
    if (delivery.id <= room.last || room.held.count(delivery.id) != 0) {
        ++duplicates_;
        return;
    }
    if (delivery.id == room.last + 1 && !room.filling) {
        room.last = delivery.id;
        deliver_(delivery);
        release(room);
        return;
    }
    room.held.emplace(delivery.id, delivery);
    if (!room.waiting)
        watch(slot->first, room, now + holdTime_);
}

void RoomSequencer::watch(const std::string& id, Room& room, Clock::time_point deadline) {
    room.waiting = true;
    room.deadline = deadline;
    if (!room.watched) {
        room.watched = true;
        watch_.emplace_back(&id, &room);
        if (watch_.size() == 1 && wake_)
            wake_();
    }
}

void RoomSequencer::release(Room& room) {
    for (;;) {
        auto next = room.held.begin();
        // Edits and notices that came after a message go out after it.
        while (!room.later.empty() &&
               (room.later.front().barrier <= room.last || (room.held.empty() && !room.filling))) {
            const Delivery delivery = std::move(room.later.front().delivery);
            room.later.pop_front();
            deliver_(delivery);
        }
        if (room.filling || next == room.held.end() || next->first != room.last + 1)
            break;
        const Delivery delivery = std::move(next->second);
        room.held.erase(next);
        room.last = delivery.id;
        deliver_(delivery);
    }
    if (room.held.empty())
        room.waiting = false;
}

void RoomSequencer::tick(Clock::time_point now) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < watch_.size(); ++i) {
        auto [id, room] = watch_[i];
        if (!room->waiting && !room->filling) {
            room->watched = false;
            continue;
        }
        watch_[kept++] = watch_[i];
        if (room->waiting && !room->filling && room->deadline <= now && !room->held.empty())
            requestFill(*id, *room, room->held.begin()->first);
    }
    watch_.resize(kept);
}

void RoomSequencer::fillFailed(const std::string& id) {
    auto it = rooms_.find(id);
    if (it == rooms_.end() || !it->second.filling)
        return;
    Room& room = it->second;
    room.filling = false;
    if (room.held.empty())
        release(room); // a catch-up's fill: the next sweep asks again
    else
        watch(it->first, room, Clock::time_point::min());
}

void RoomSequencer::requestFill(const std::string& id, Room& room, std::int64_t before) {
    room.filling = true;
    ++fills_;
    fill_(id, room.last, before);
}

void RoomSequencer::filled(const std::string& id, std::int64_t after, std::int64_t before,
                           std::vector<Delivery> messages) {
    auto it = rooms_.find(id);
    if (it == rooms_.end())
        return;
    Room& room = it->second;
    room.filling = false;
    std::sort(messages.begin(), messages.end(),
              [](const Delivery& a, const Delivery& b) { return a.id < b.id; });
    for (const Delivery& delivery : messages) {
        if (delivery.id <= room.last || delivery.id <= after || delivery.id >= before)
            continue;
        room.last = delivery.id;
        deliver_(delivery);
        // A held copy of the same message is now a duplicate.
        room.held.erase(room.held.begin(), room.held.upper_bound(room.last));
    }
    // What the database lacks will not come: go on from the range's end.
    room.last = std::max(room.last, before - 1);
    room.held.erase(room.held.begin(), room.held.upper_bound(room.last));
    room.waiting = false;
    release(room);
    // Another gap further on has been waited for as long as the one just filled.
    if (!room.held.empty())
        watch(it->first, room, Clock::time_point::min());
}

void RoomSequencer::catchUp(const std::string& id, std::int64_t lastId) {
    if (!ready_)
        return;
    auto slot = rooms_.try_emplace(id).first;
    Room& room = slot->second;
    if (lastId <= room.last || room.filling)
        return;
    requestFill(slot->first, room, lastId + 1);
}

std::int64_t RoomSequencer::lastDelivered(const std::string& room) const {
    auto it = rooms_.find(room);
    return it == rooms_.end() ? 0 : it->second.last;
}

std::size_t RoomSequencer::waitingRooms() const {
    return std::size_t(std::count_if(rooms_.begin(), rooms_.end(), [](const auto& entry) {
        return !entry.second.held.empty() || entry.second.filling;
    }));
}

} // namespace brindlewick::server
