#include "log.h"

#include <cstdio>
#include <ctime>

namespace brindlewick::server {

void logLine(const std::string& text) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One fprintf per line so lines from the worker thread never interleave.
    std::fprintf(stderr, "%s brindlewick-server: %s\n", stamp, text.c_str());
}

} // namespace brindlewick::server
