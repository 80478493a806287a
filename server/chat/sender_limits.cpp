#include "sender_limits.h"

#include <algorithm>

namespace brindlewick::server {

TokenBucket::Clock::duration SenderLimits::charge(const std::string& phone, std::size_t bytes,
                                                  TokenBucket::Clock::time_point now) {
    auto it = senders_.find(phone);
    if (it == senders_.end())
        it = senders_
                 .emplace(phone,
                          Buckets{TokenBucket(rates_.messagesPerSecond,
                                              rates_.messagesPerSecond * rates_.burstSeconds, now),
                                  TokenBucket(rates_.bytesPerSecond,
                                              rates_.bytesPerSecond * rates_.burstSeconds, now)})
                 .first;
    it->second.messages.charge(1, now);
    it->second.bytes.charge(static_cast<double>(bytes), now);
    return std::max(it->second.messages.wait(now), it->second.bytes.wait(now));
}

void SenderLimits::forgetIdle(TokenBucket::Clock::time_point now) {
    for (auto it = senders_.begin(); it != senders_.end();)
        if (it->second.messages.full(now) && it->second.bytes.full(now))
            it = senders_.erase(it);
        else
            ++it;
}

} // namespace brindlewick::server
