#pragma once
// One line per event on stderr; the server keeps no log file.

#include <chrono>
#include <string>
#include <string_view>

namespace brindlewick::server {

// Writes `text` with escapeForLog applied, so no value a peer sent can start a line of its own.
void logLine(const std::string& text);

// Control characters (C0, DEL, C1) as \n, \r, \t or \xNN, invalid UTF-8 bytes as \xNN, and
// the backslash doubled; other text unchanged.
std::string escapeForLog(std::string_view text);

// Lets the first `burst` lines of every `window` through and counts the rest, so that one
// peer cannot fill the log; the count is written when the next window starts, or by flush().
class LogLimiter {
public:
    explicit LogLimiter(int burst = 5, std::chrono::seconds window = std::chrono::seconds(60));
    void line(const std::string& text);
    // "<prefix>N more not logged", when lines were held back.
    void flush();
    // Flushes once the window is over, for a flood that stopped.
    void flushIfDue();
    void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }

private:
    using Clock = std::chrono::steady_clock;
    int burst_;
    std::chrono::seconds window_;
    std::string prefix_;
    Clock::time_point windowStart_;
    int logged_ = 0;
    long held_ = 0;
};

} // namespace brindlewick::server
