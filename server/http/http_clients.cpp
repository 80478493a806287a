#include "http_clients.h"

namespace brindlewick::server {

namespace {
// Addresses kept past their connections before the next arrival drops the stale ones.
constexpr std::size_t kSweepAbove = 4096;
} // namespace

bool HttpClients::recentlyWrong(const Record& record, Clock::time_point now) {
    return record.wrongSecrets > 0 && now - record.wrongSince < std::chrono::minutes(1);
}

void HttpClients::arrived(const std::string& address) {
    // Addresses remembered only for their wrong secrets go once their minute is over.
    if (records_.size() > kSweepAbove) {
        const auto now = Clock::now();
        for (auto it = records_.begin(); it != records_.end();)
            it = it->second.connections == 0 && !recentlyWrong(it->second, now) ? records_.erase(it)
                                                                                : std::next(it);
    }
    Record& record = records_[address];
    if (record.connections++ == 0)
        record.limiter.setPrefix("http: " + address + " ");
}

void HttpClients::left(const std::string& address) {
    const auto it = records_.find(address);
    if (it == records_.end() || --it->second.connections > 0)
        return;
    it->second.limiter.flush();
    // A guesser that opens a connection per guess is still remembered for the minute.
    if (!recentlyWrong(it->second, Clock::now()))
        records_.erase(it);
}

void HttpClients::logRefusal(const std::string& address, const std::string& line) {
    const auto it = records_.find(address);
    if (it == records_.end()) {
        logLine(line);
        return;
    }
    it->second.limiter.line(line);
}

std::chrono::milliseconds HttpClients::wrongSecretDelayFor(const std::string& address) {
    const auto it = records_.find(address);
    if (it == records_.end())
        return wrongSecretDelay;
    Record& record = it->second;
    const auto now = Clock::now();
    if (now - record.wrongSince >= std::chrono::minutes(1)) {
        record.wrongSince = now;
        record.wrongSecrets = 0;
    }
    return ++record.wrongSecrets > kFreeWrongSecrets ? wrongSecretDelay
                                                     : std::chrono::milliseconds::zero();
}

void HttpClients::flushAll() {
    for (auto& entry : records_)
        entry.second.limiter.flush();
    records_.clear();
}

} // namespace brindlewick::server
