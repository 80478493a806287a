#pragma once
// Command line of brindlewick-server.

#include <cstdint>
#include <string>
#include <vector>

namespace brindlewick::server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    std::uint16_t chatPort = 9000;
    std::uint16_t httpPort = 9001;
    std::string dataDir; // empty: the default below
    std::uint64_t maxUploadBytes = 1024ull * 1024 * 1024;
    int idleSeconds = 90;
};

struct OptionsResult {
    enum Kind { Run, Help, Error } kind = Run;
    ServerOptions options;
    std::string error; // for Error
};

OptionsResult parseServerOptions(const std::vector<std::string>& args);
std::string serverUsage();
// $XDG_DATA_HOME/brindlewick-server, else ~/.local/share/brindlewick-server.
std::string defaultDataDir();

} // namespace brindlewick::server
