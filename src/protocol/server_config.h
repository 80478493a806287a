#pragma once
// Where the chat server and its HTTP API live. Built-in defaults; the command line may override.

#include <cstdint>
#include <string>

namespace brindlewick {

struct ServerConfig {
    std::string host = "127.0.0.1";
    std::uint16_t chatPort = 9000;
    std::uint16_t httpPort = 9001;
};

} // namespace brindlewick
