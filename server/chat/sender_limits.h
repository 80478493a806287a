#pragma once
// How fast one user may send into rooms: messages and bytes per second, with a burst, for all
// of the user's connections to this instance together. A sender over the rate is slowed (its
// connection is read later), never refused, so nothing it sent is lost and no reader's queue
// fills faster than the rate. io thread only.

#include "rate_limit.h"

#include <cstddef>
#include <string>
#include <unordered_map>

namespace brindlewick::server {

namespace SendText {
// In a notice to the room the sender wrote to: its messages still go, only later.
inline const char* const kTooFast = "메시지를 너무 빨리 보내고 있습니다";
} // namespace SendText

struct SendRates {
    double messagesPerSecond = 50;
    double bytesPerSecond = 512 * 1024;
    // How many seconds' worth may come at once.
    double burstSeconds = 2;
};

class SenderLimits {
public:
    explicit SenderLimits(SendRates rates) : rates_(rates) {}

    // Charges one message of `bytes` to `phone`; how long its connections should wait before
    // reading on (zero: go on).
    TokenBucket::Clock::duration
    charge(const std::string& phone, std::size_t bytes,
           TokenBucket::Clock::time_point now = TokenBucket::Clock::now());
    // Drops the senders whose buckets are full again.
    void forgetIdle(TokenBucket::Clock::time_point now = TokenBucket::Clock::now());
    std::size_t tracked() const { return senders_.size(); }

private:
    struct Buckets {
        TokenBucket messages;
        TokenBucket bytes;
    };
    SendRates rates_;
    std::unordered_map<std::string, Buckets> senders_;
};

} // namespace brindlewick::server
