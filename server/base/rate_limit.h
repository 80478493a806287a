#pragma once
// A token bucket that may go into debt: a request is charged after it is taken, and the
// caller waits until the level is back at zero. So one large request is never refused for its
// size, and a steady sender settles at the rate.

#include <algorithm>
#include <chrono>

namespace brindlewick::server {

class TokenBucket {
public:
    using Clock = std::chrono::steady_clock;

    TokenBucket(double perSecond, double burst, Clock::time_point now = Clock::now())
        : rate_(perSecond), burst_(burst), level_(burst), at_(now) {}

    // Takes `cost` now; the level may fall below zero.
    void charge(double cost, Clock::time_point now = Clock::now()) {
        refill(now);
        level_ -= cost;
    }
    // How long until the level is back at zero; zero when it is not in debt.
    Clock::duration wait(Clock::time_point now = Clock::now()) {
        refill(now);
        if (level_ >= 0 || rate_ <= 0)
            return Clock::duration::zero();
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(-level_ / rate_));
    }
    // Full again: nothing to remember about this sender.
    bool full(Clock::time_point now = Clock::now()) {
        refill(now);
        return level_ >= burst_;
    }

private:
    void refill(Clock::time_point now) {
        if (now <= at_)
            return;
        level_ =
            std::min(burst_, level_ + rate_ * std::chrono::duration<double>(now - at_).count());
        at_ = now;
    }

    double rate_;
    double burst_;
    double level_;
    Clock::time_point at_;
};

} // namespace brindlewick::server
