#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace brindlewick::server {

// ISO 8601 local time with its offset, e.g. 2026-12-10T21:05:09+09:00.
std::string isoLocalTime(std::time_t when);

// Wall-clock milliseconds since the epoch, as the database records times.
std::int64_t nowMs();

} // namespace brindlewick::server
