#include "hub.h"

#include "chat_session.h"

#include <algorithm>

namespace brindlewick::server {

void Hub::add(const std::string& phone, ChatSession* session) {
    auto& list = byPhone_[phone];
    if (std::find(list.begin(), list.end(), session) == list.end()) {
        list.push_back(session);
        ++count_;
    }
}

void Hub::remove(const std::string& phone, ChatSession* session) {
    auto it = byPhone_.find(phone);
    if (it == byPhone_.end())
        return;
    auto& list = it->second;
    auto pos = std::find(list.begin(), list.end(), session);
    if (pos != list.end()) {
        list.erase(pos);
        --count_;
    }
    if (list.empty())
        byPhone_.erase(it);
}

void Hub::deliver(const Delivery& delivery) {
    for (const std::string& phone : delivery.recipients) {
        auto it = byPhone_.find(phone);
        if (it == byPhone_.end())
            continue;
        // A copy: a slow reader closed by enqueue() removes itself from the list.
        const std::vector<ChatSession*> sessions = it->second;
        for (ChatSession* session : sessions)
            session->enqueue(delivery.frame);
    }
}

} // namespace brindlewick::server
