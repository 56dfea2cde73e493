// HOSIPv6PrefixResolver: the NAT64 prefix of the current network, and IPv6
// addresses synthesised from IPv4 ones with it (RFC 6052 section 2.2).
//
// The prefix is discovered by asking DNS for the AAAA records of
// "ipv4only.arpa" (RFC 7050) on the global default-priority queue; until an
// answer arrives, conversions use the well-known prefix 64:ff9b::/96 (or the
// last prefix found). Only the seven prefixes of V6_PREFIX_CONTENT_TABLE are
// recognised. A row matches when the answer starts with its bytes and
// carries one of the well-known IPv4 addresses 192.0.0.170 / 192.0.0.171 at
// that prefix length's positions: the rows share leading bytes, so the bytes
// alone would always pick the shortest 2001:db8 row.
//
// States: 0 idle, 1 resolving, 2 resolved. `resolveIPv6Prefix` starts a
// lookup only from idle; `updateIPv6Prefix` returns to idle and starts one.
// A failed lookup, or an answer no row matches, keeps the prefix and goes
// back to idle, so the next conversion tries again. Malformed DNS replies are
// ignored with a log line.
//
// The name server asked is the system's (resolv.conf) unless one is set.
//
// Thread-safety: every member from any thread. Lock order, where both are
// held: the adapter's, then this one's.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace pellix {

inline constexpr int V6_PREFIX_TABLE_SIZE = 7;
inline constexpr std::uint8_t V6_PREFIX_CONTENT_TABLE[V6_PREFIX_TABLE_SIZE][12] = {
    {0x00, 0x64, 0xff, 0x9b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0x20, 0x01, 0x0d, 0xb8},
    {0x20, 0x01, 0x0d, 0xb8, 0x01},
    {0x20, 0x01, 0x0d, 0xb8, 0x01, 0x22},
    {0x20, 0x01, 0x0d, 0xb8, 0x01, 0x22, 0x03},
    {0x20, 0x01, 0x0d, 0xb8, 0x01, 0x22, 0x03, 0x44},
    {0x20, 0x01, 0x0d, 0xb8, 0x01, 0x22, 0x03, 0x44, 0x00, 0x00, 0x00, 0x00},
};
inline constexpr int V6_PREFIX_SIZE_TABLE[V6_PREFIX_TABLE_SIZE] = {12, 4, 5, 6, 7, 8, 12};

class HOSIPv6PrefixResolver {
public:
    enum Status : std::int32_t { kIdle = 0, kResolving = 1, kResolved = 2 };

    static HOSIPv6PrefixResolver& getInstance();
    HOSIPv6PrefixResolver(const HOSIPv6PrefixResolver&) = delete;
    HOSIPv6PrefixResolver& operator=(const HOSIPv6PrefixResolver&) = delete;

    // Back to idle, and a new lookup in the background.
    void updateIPv6Prefix();
    // Copies the current prefix into `buffer` (16 bytes), starts a lookup
    // when idle, and returns the prefix length in bytes; 0 for no buffer.
    int resolveIPv6Prefix(std::uint8_t* buffer);
    // Whether the first min(prefixLen, ipLen) bytes are equal.
    static bool isIPv6Prefix(const std::uint8_t* prefix, int prefixLen, const std::uint8_t* ip, int ipLen);
    // The IPv6 text synthesised from dotted IPv4 text with the current
    // prefix; nullopt for empty text, text that is not an IPv4 address, or a
    // prefix length without a layout.
    std::optional<std::string> convertIPv4toIPv6(const std::string& ipv4);

    // RFC 6052 layout: the IPv4 bytes placed into `prefix` (byte 8 left 0);
    // nullopt for a length other than 4, 5, 6, 7, 8 or 12.
    static std::optional<std::array<std::uint8_t, 16>> synthesize(std::span<const std::uint8_t> prefix,
                                                                   const std::array<std::uint8_t, 4>& ipv4);

    // The name server to ask (an IPv4 address and port); nullopt: the
    // system's. Takes effect for the next lookup.
    void setNameserver(std::optional<sockaddr_in> nameserver);

    std::int32_t ipv6PrefixResolveStatus() const;
    // The current prefix's bytes (prefixLen of them).
    std::array<std::uint8_t, 12> ipv6Prefix() const;
    std::int32_t prefixLen() const;

private:
    HOSIPv6PrefixResolver() = default;
    void startLookup();  // with mutex_ held
    void lookUp(std::uint64_t generation);  // on the global queue

    mutable std::mutex mutex_;
    std::int32_t status_ = kIdle;
    int row_ = 0;
    std::uint64_t generation_ = 0;  // of the newest lookup started
    std::optional<sockaddr_in> nameserver_;
};

}  // namespace pellix
