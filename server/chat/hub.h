#pragma once
// Which chat connections belong to which signed-in user. io thread only.
// The hub never owns a connection: it holds weak references, and a connection takes itself
// out when it closes and, at the latest, in its destructor.

#include "delivery.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace brindlewick::server {

class ChatSession;

class Hub {
public:
    void add(const std::string& phone, const std::shared_ptr<ChatSession>& session);
    // Takes a plain pointer so a destructor can call it after its weak references expired.
    void remove(const std::string& phone, const ChatSession* session);
    // Every connection of every recipient gets the frame, in call order. The recipients are
    // copied first: a slow reader that enqueue() closes leaves the hub during the loop.
    void deliver(const Delivery& delivery);
    // With a relay (a cluster), deliver() hands every delivery to it, and the relay calls
    // deliverHere() for this process's connections once the delivery's turn has come.
    void setRelay(std::function<void(const Delivery&)> relay) { relay_ = std::move(relay); }
    void deliverHere(const Delivery& delivery);
    // Closes every connection of `phone` here.
    void closeUser(const std::string& phone, const std::string& reason);
    // Whether `phone` has a connection here.
    bool hasUser(const std::string& phone) const { return byPhone_.count(phone) != 0; }
    std::size_t connectionCount() const { return count_; }

private:
    struct Entry {
        const ChatSession* key; // identity even after the session is gone
        std::weak_ptr<ChatSession> session;
    };
    std::unordered_map<std::string, std::vector<Entry>> byPhone_;
    std::size_t count_ = 0;
    std::function<void(const Delivery&)> relay_;
};

} // namespace brindlewick::server
