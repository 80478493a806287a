#include "time_text.h"

#include <chrono>

namespace brindlewick::server {

std::string isoLocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string out(text, n);
    // strftime writes +0900; the colon form is what ISO 8601 readers expect.
    if (out.size() >= 5)
        out.insert(out.size() - 2, ":");
    return out;
}

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace brindlewick::server
