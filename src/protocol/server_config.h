#pragma once
// Where the chat server and its HTTP API live. Built-in defaults; the command line may override.

#include <cstdint>
#include <string>

namespace brindlewick {

struct ServerConfig {
    std::string host = "127.0.0.1";
    std::uint16_t chatPort = 9000;
    std::uint16_t httpPort = 9001;
    // TLS on both connections (https for the API), checked against the system's certificate
    // store, or against caFile alone when it is set.
    bool tls = false;
    std::string caFile;
};

} // namespace brindlewick
