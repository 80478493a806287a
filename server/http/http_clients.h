#pragma once
// What the HTTP port keeps per client address while it has connections, and for a minute
// after wrong device secrets: its refusal lines, limited so that one client cannot fill the
// log, and its recent wrong secrets, past a few of which its answers come late. io thread only.

#include "log.h"

#include <chrono>
#include <string>
#include <unordered_map>

namespace brindlewick::server {

class HttpClients {
public:
    // A device with an outdated secret is not slowed, a guesser is.
    static constexpr int kFreeWrongSecrets = 10;
    std::chrono::milliseconds wrongSecretDelay{1000};

    void arrived(const std::string& address);
    void left(const std::string& address);
    // Logs `line` within the address's share of the log.
    void logRefusal(const std::string& address, const std::string& line);
    // Counts a wrong secret from `address`; how long its answer waits.
    std::chrono::milliseconds wrongSecretDelayFor(const std::string& address);
    // Writes what every address held back.
    void flushAll();

private:
    using Clock = std::chrono::steady_clock;
    struct Record {
        LogLimiter limiter;
        std::size_t connections = 0;
        int wrongSecrets = 0;
        Clock::time_point wrongSince;
    };
    static bool recentlyWrong(const Record& record, Clock::time_point now);

    std::unordered_map<std::string, Record> records_;
};

} // namespace brindlewick::server
