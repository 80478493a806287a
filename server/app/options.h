#pragma once
// Settings of brindlewick-server: the command line, BRINDLEWICK_<NAME> environment variables
// and a --config file, in that order of precedence, through Boost.Program_options.

#include <cstdint>
#include <string>
#include <vector>

namespace brindlewick::server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    std::uint16_t chatPort = 9000;
    std::uint16_t httpPort = 9001;
    std::string dataDir; // empty: the default below
    // A libpq connection URI; empty: the SQLite database in dataDir.
    std::string postgres;
    std::uint64_t maxUploadBytes = 1024ull * 1024 * 1024;
    int idleSeconds = 90;
    // Host names clients reach the HTTP port by, besides its listening address.
    std::vector<std::string> httpHosts;
    int downloadIdleSeconds = 60;
    // Short: a promise of a large file that never sends a byte must not hold space for long.
    int uploadExpirySeconds = 300;
    int maxPendingUploads = 16;
    int authSeconds = 10;
    std::uint64_t maxConnections = 10000;
    std::uint64_t maxConnectionsPerAddress = 64;
    std::uint64_t maxRoomMembers = 1000;
    // Both set: the chat port and the HTTP port speak TLS only. Both empty: plain TCP.
    std::string tlsCert; // PEM certificate chain, the server's own first
    std::string tlsKey;  // PEM private key
    // The first sign-in of a phone claims it for its device (PhoneClaims).
    bool claimPhones = false;
    std::string natsUrl; // empty: a single instance
    // Addresses of load balancers whose PROXY protocol v2 header names the client.
    std::vector<std::string> trustedProxies;
    // Per user, all connections together: faster senders are slowed, not refused.
    std::uint64_t maxMessagesPerSecond = 50;
    std::uint64_t maxMessageBytesPerSecond = 512 * 1024;
};

struct OptionsResult {
    // ReleasePhone: free the claim on `phone` in the database of `options.dataDir`, then exit.
    enum Kind { Run, Help, Version, ReleasePhone, Error } kind = Run;
    ServerOptions options;
    std::string error; // for Error
    std::string phone; // for ReleasePhone, as given
};

// `args` without the program name. Reads the environment, and the --config file when given.
OptionsResult parseServerOptions(const std::vector<std::string>& args);
// Generated from the options.
std::string serverUsage();
std::string serverVersion();
// The environment variable that sets `option` ("chat-port": BRINDLEWICK_CHAT_PORT).
std::string environmentName(const std::string& option);
// $XDG_DATA_HOME/brindlewick-server, else ~/.local/share/brindlewick-server.
std::string defaultDataDir();

} // namespace brindlewick::server
