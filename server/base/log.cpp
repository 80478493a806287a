#include "log.h"

#include <chat_protocol.h>

#include <cstdio>
#include <ctime>

namespace brindlewick::server {

namespace {

void appendHex(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0xF];
}

// Length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t sequenceLength(std::string_view text) {
    const auto c = static_cast<unsigned char>(text[0]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (n > text.size() || !ChatProtocol::isValidUtf8(text.data(), n))
        return 0;
    return n;
}

} // namespace

std::string escapeForLog(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        std::size_t n = 1;
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            appendHex(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((n = sequenceLength(text)) == 0) {
            appendHex(out, c);
            n = 1;
        } else if (c == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0) {
            // U+0080..U+009F: C1 controls, which terminals obey too.
            appendHex(out, c);
            appendHex(out, static_cast<unsigned char>(text[1]));
        } else {
            out.append(text.data(), n);
        }
        text.remove_prefix(n);
    }
    return out;
}

void logLine(const std::string& text) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One fprintf per line so lines from the worker thread never interleave.
    std::fprintf(stderr, "%s brindlewick-server: %s\n", stamp, escapeForLog(text).c_str());
}

LogLimiter::LogLimiter(int burst, std::chrono::seconds window)
    : burst_(burst), window_(window), windowStart_(Clock::now()) {}

void LogLimiter::flushIfDue() {
    const auto now = Clock::now();
    if (now - windowStart_ < window_)
        return;
    flush();
    windowStart_ = now;
    logged_ = 0;
}

void LogLimiter::line(const std::string& text) {
    flushIfDue();
    if (logged_ < burst_) {
        ++logged_;
        logLine(text);
    } else {
        ++held_;
    }
}

void LogLimiter::flush() {
    if (held_ == 0)
        return;
    logLine(prefix_ + std::to_string(held_) + " more not logged");
    held_ = 0;
}

} // namespace brindlewick::server
