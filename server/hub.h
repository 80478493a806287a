#pragma once
// Which chat connections belong to which signed-in user. io thread only.

#include "room_logic.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace brindlewick::server {

class ChatSession;

class Hub {
public:
    void add(const std::string& phone, ChatSession* session);
    void remove(const std::string& phone, ChatSession* session);
    // Every connection of every recipient gets the frame, in call order.
    void deliver(const Delivery& delivery);
    std::size_t connectionCount() const { return count_; }

private:
    std::unordered_map<std::string, std::vector<ChatSession*>> byPhone_;
    std::size_t count_ = 0;
};

} // namespace brindlewick::server
