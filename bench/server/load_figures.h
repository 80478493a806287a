#pragma once
// Figures both load benchmarks take the same way: latency percentiles and a process's CPU time.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace brindlewick::bench {

// The p-th percentile of nanosecond samples, in milliseconds (reorders `v`).
inline double percentileMs(std::vector<std::int64_t>& v, double p) {
    if (v.empty())
        return 0;
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()));
    std::nth_element(v.begin(), v.begin() + k, v.end());
    return v[k] / 1e6;
}

// User plus system CPU time of a process so far, in seconds; 0 when it cannot be read.
inline double processCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    // The command name may hold spaces; the fields after it do not.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> f((std::istream_iterator<std::string>(fields)),
                               std::istream_iterator<std::string>());
    // After the name the state is field 3; utime is 14 and stime 15 (proc(5), from 1).
    if (f.size() < 13)
        return 0;
    return (std::stod(f[11]) + std::stod(f[12])) / double(::sysconf(_SC_CLK_TCK));
}

} // namespace brindlewick::bench
