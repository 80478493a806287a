#include "ids.h"

#include <mutex>
#include <random>

namespace brindlewick::server {

std::string randomHex128() {
    static std::mutex mutex;
    static std::random_device device;
    static std::mt19937_64 engine((std::uint64_t(device()) << 32) ^ device() ^
                                  std::uint64_t(std::random_device{}()) << 16);
    static const char digits[] = "0123456789abcdef";
    std::uint64_t words[2];
    {
        // File and room ids are made on the worker and on the io thread.
        std::lock_guard<std::mutex> lock(mutex);
        // Mix fresh entropy in so ids stay unguessable across restarts.
        words[0] = engine() ^ (std::uint64_t(device()) << 32);
        words[1] = engine() ^ device();
    }
    std::string out(32, '0');
    for (int i = 0; i < 32; ++i)
        out[i] = digits[(words[i / 16] >> ((i % 16) * 4)) & 0xF];
    return out;
}

bool isHex128(const std::string& text) {
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::optional<std::int64_t> parseMessageId(const std::string& text) {
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace brindlewick::server
