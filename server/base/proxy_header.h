#pragma once
// The PROXY protocol's version 2 header, which a load balancer in front of the server sends
// first on each connection to name the client it accepted. Only the parsing; ConnectionGate
// decides whom to believe.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace brindlewick::server::ProxyHeader {

// The signature and the four bytes after it: version and command, family, length.
inline constexpr std::size_t kFixedBytes = 16;
// Addresses and the TLVs a proxy adds (TLS details, unique ids) fit easily; more is refused.
inline constexpr std::size_t kMaxBytes = 4096;
// The signature's first byte: neither a chat frame (0xC7), a TLS record (0x16) nor an HTTP
// method starts with it, so one byte tells whether a header comes.
inline constexpr unsigned char kFirstByte = 0x0D;

// After the fixed part: how many bytes follow, or nothing when it is no version 2 header.
std::optional<std::size_t> remainingBytes(const unsigned char* fixed);

struct Source {
    bool proxied = false; // false: LOCAL (the proxy's own check) or an unknown family
    std::string address;  // as boost::asio writes it
    std::uint16_t port = 0;
};

// The whole header (fixed part and the rest); nothing when it is malformed.
std::optional<Source> parse(const unsigned char* header, std::size_t size);

} // namespace brindlewick::server::ProxyHeader
