#include "proxy_header.h"

#include <boost/asio/ip/address.hpp>

#include <cstring>

namespace brindlewick::server::ProxyHeader {

namespace {

constexpr unsigned char kSignature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                          0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

std::uint16_t bigEndian16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

} // namespace

std::optional<std::size_t> remainingBytes(const unsigned char* fixed) {
    if (std::memcmp(fixed, kSignature, sizeof kSignature) != 0)
        return std::nullopt;
    if ((fixed[12] & 0xF0) != 0x20) // version 2
        return std::nullopt;
    const std::size_t rest = bigEndian16(fixed + 14);
    if (kFixedBytes + rest > kMaxBytes)
        return std::nullopt;
    return rest;
}

std::optional<Source> parse(const unsigned char* header, std::size_t size) {
    if (size < kFixedBytes)
        return std::nullopt;
    const auto rest = remainingBytes(header);
    if (!rest || kFixedBytes + *rest != size)
        return std::nullopt;
    const unsigned command = header[12] & 0x0F;
    if (command > 1)
        return std::nullopt;
    Source source;
    if (command == 0) // LOCAL: the proxy speaking for itself
        return source;
    const unsigned family = header[13] >> 4;
    const unsigned transport = header[13] & 0x0F;
    // The addresses each family needs: none, two IPv4, two IPv6, two unix paths.
    constexpr std::size_t kAddressBytes[] = {0, 12, 36, 216};
    if (family > 3 || transport > 2 || *rest < kAddressBytes[family])
        return std::nullopt;
    const unsigned char* body = header + kFixedBytes;
    namespace ip = boost::asio::ip;
    if (family == 1 && transport == 1) { // TCP over IPv4
        ip::address_v4::bytes_type bytes;
        std::memcpy(bytes.data(), body, 4);
        source.address = ip::address_v4(bytes).to_string();
        source.port = bigEndian16(body + 8);
        source.proxied = true;
    } else if (family == 2 && transport == 1) { // TCP over IPv6
        ip::address_v6::bytes_type bytes;
        std::memcpy(bytes.data(), body, 16);
        const ip::address_v6 v6(bytes);
        // A v4 client of a dual-stack proxy counts as that v4 address.
        source.address =
            v6.is_v4_mapped() ? ip::make_address_v4(ip::v4_mapped, v6).to_string() : v6.to_string();
        source.port = bigEndian16(body + 32);
        source.proxied = true;
    }
    // UNSPEC, UDP and unix sockets name no address we could count: the proxy's own stands.
    return source;
}

} // namespace brindlewick::server::ProxyHeader
