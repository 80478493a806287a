#include "hub.h"

#include "chat_session.h"

#include <algorithm>

namespace brindlewick::server {

void Hub::add(const std::string& phone, const std::shared_ptr<ChatSession>& session) {
    auto& list = byPhone_[phone];
    const ChatSession* key = session.get();
    if (std::none_of(list.begin(), list.end(), [key](const Entry& e) { return e.key == key; })) {
        list.push_back({key, session});
        ++count_;
    }
}

void Hub::remove(const std::string& phone, const ChatSession* session) {
    auto it = byPhone_.find(phone);
    if (it == byPhone_.end())
        return;
    auto& list = it->second;
    auto pos = std::find_if(list.begin(), list.end(),
                            [session](const Entry& e) { return e.key == session; });
    if (pos != list.end()) {
        list.erase(pos);
        --count_;
    }
    if (list.empty())
        byPhone_.erase(it);
}

void Hub::closeUser(const std::string& phone, const std::string& reason) {
    auto it = byPhone_.find(phone);
    if (it == byPhone_.end())
        return;
    // Copied first: each close takes its session out of the list.
    std::vector<std::weak_ptr<ChatSession>> targets;
    for (const Entry& entry : it->second)
        targets.push_back(entry.session);
    for (const auto& target : targets)
        if (auto session = target.lock())
            session->close(reason);
}

void Hub::deliver(const Delivery& delivery) {
    if (relay_)
        relay_(delivery);
    else
        deliverHere(delivery);
}

void Hub::deliverHere(const Delivery& delivery) {
    std::vector<std::weak_ptr<ChatSession>> targets;
    for (const std::string& phone : *delivery.recipients) {
        auto it = byPhone_.find(phone);
        if (it == byPhone_.end())
            continue;
        for (const Entry& entry : it->second)
            targets.push_back(entry.session);
    }
    for (const auto& target : targets)
        if (auto session = target.lock())
            session->enqueue(delivery.frame);
}

} // namespace brindlewick::server
