#include "HOSSDK/HOSIPv6/HOSIPv6PrefixResolver.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "platform/DNSResolver.h"
#include "platform/DispatchQueue.h"

namespace pellix {

namespace {

// Byte positions of a, b, c, d for each prefix length (byte 8 is skipped).
std::optional<std::array<int, 4>> layout(std::size_t prefixLen) {
    switch (prefixLen) {
        case 4: return std::array<int, 4>{4, 5, 6, 7};
        case 5: return std::array<int, 4>{5, 6, 7, 9};
        case 6: return std::array<int, 4>{6, 7, 9, 10};
        case 7: return std::array<int, 4>{7, 9, 10, 11};
        case 8: return std::array<int, 4>{9, 10, 11, 12};
        case 12: return std::array<int, 4>{12, 13, 14, 15};
        default: return std::nullopt;
    }
}

// Whether `address` is row `row`'s prefix around 192.0.0.170 or .171.
bool rowMatches(int row, const platform::DNSResolver::Address6& address) {
    int len = V6_PREFIX_SIZE_TABLE[row];
    if (!HOSIPv6PrefixResolver::isIPv6Prefix(V6_PREFIX_CONTENT_TABLE[row], len, address.data(), 16)) return false;
    auto at = layout(static_cast<std::size_t>(len));
    if (!at) return false;
    const std::uint8_t a = address[(*at)[0]], b = address[(*at)[1]], c = address[(*at)[2]], d = address[(*at)[3]];
    return a == 192 && b == 0 && c == 0 && (d == 170 || d == 171);
}

}  // namespace

HOSIPv6PrefixResolver& HOSIPv6PrefixResolver::getInstance() {
    static HOSIPv6PrefixResolver* instance = new HOSIPv6PrefixResolver();
    return *instance;
}

void HOSIPv6PrefixResolver::updateIPv6Prefix() {
    std::lock_guard lock(mutex_);
    status_ = kIdle;
    startLookup();
}

int HOSIPv6PrefixResolver::resolveIPv6Prefix(std::uint8_t* buffer) {
    if (!buffer) return 0;
    std::lock_guard lock(mutex_);
    int len = V6_PREFIX_SIZE_TABLE[row_];
    std::memcpy(buffer, V6_PREFIX_CONTENT_TABLE[row_], static_cast<std::size_t>(len));
    if (status_ == kIdle) startLookup();
    return len;
}

void HOSIPv6PrefixResolver::startLookup() {
    status_ = kResolving;
    std::uint64_t generation = ++generation_;
    platform::DispatchQueue::global()->async([this, generation] { lookUp(generation); });
}

void HOSIPv6PrefixResolver::lookUp(std::uint64_t generation) {
    std::optional<sockaddr_in> server;
    {
        std::lock_guard lock(mutex_);
        server = nameserver_;
    }
    auto answer = platform::DNSResolver::queryAAAA("ipv4only.arpa", server);
    int found = -1;
    if (answer.addresses.empty()) {
        HOS_LOG_DEBUG("NAT64 prefix lookup of ipv4only.arpa failed: %s", answer.error.c_str());
    } else {
        for (int row = 0; row < V6_PREFIX_TABLE_SIZE && found < 0; ++row)
            if (rowMatches(row, answer.addresses.front())) found = row;
        if (found < 0) HOS_LOG_DEBUG("NAT64 prefix of ipv4only.arpa matches no known prefix");
    }
    std::lock_guard lock(mutex_);
    // An update that came meanwhile (a new network) has started a newer
    // lookup: this answer belongs to the old network.
    if (generation != generation_) return;
    if (found >= 0) {
        row_ = found;
        status_ = kResolved;
    } else {
        status_ = kIdle;
    }
}

bool HOSIPv6PrefixResolver::isIPv6Prefix(const std::uint8_t* prefix, int prefixLen, const std::uint8_t* ip,
                                         int ipLen) {
    int n = std::min(prefixLen, ipLen);
    if (n <= 0 || !prefix || !ip) return n <= 0;
    return std::memcmp(prefix, ip, static_cast<std::size_t>(n)) == 0;
}

std::optional<std::array<std::uint8_t, 16>> HOSIPv6PrefixResolver::synthesize(std::span<const std::uint8_t> prefix,
                                                                              const std::array<std::uint8_t, 4>& ipv4) {
    auto at = layout(prefix.size());
    if (!at) return std::nullopt;
    std::array<std::uint8_t, 16> out{};
    std::copy(prefix.begin(), prefix.end(), out.begin());
    for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>((*at)[i])] |= ipv4[static_cast<std::size_t>(i)];
    return out;
}

std::optional<std::string> HOSIPv6PrefixResolver::convertIPv4toIPv6(const std::string& ipv4) {
    if (ipv4.empty()) return std::nullopt;
    // Strict parsing: text that is not a dotted IPv4 address gives nothing,
    // never the all-ones address.
    std::array<std::uint8_t, 4> v4{};
    if (::inet_pton(AF_INET, ipv4.c_str(), v4.data()) != 1) return std::nullopt;
    std::uint8_t prefix[16] = {};
    int len = resolveIPv6Prefix(prefix);
    if (len == 0) return std::nullopt;
    auto bytes = synthesize(std::span<const std::uint8_t>(prefix, static_cast<std::size_t>(len)), v4);
    if (!bytes) return std::nullopt;
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, bytes->data(), text, sizeof text)) return std::nullopt;
    return std::string(text);
}

void HOSIPv6PrefixResolver::setNameserver(std::optional<sockaddr_in> nameserver) {
    std::lock_guard lock(mutex_);
    nameserver_ = nameserver;
}

std::int32_t HOSIPv6PrefixResolver::ipv6PrefixResolveStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::array<std::uint8_t, 12> HOSIPv6PrefixResolver::ipv6Prefix() const {
    std::lock_guard lock(mutex_);
    std::array<std::uint8_t, 12> out{};
    std::memcpy(out.data(), V6_PREFIX_CONTENT_TABLE[row_], static_cast<std::size_t>(V6_PREFIX_SIZE_TABLE[row_]));
    return out;
}

std::int32_t HOSIPv6PrefixResolver::prefixLen() const {
    std::lock_guard lock(mutex_);
    return V6_PREFIX_SIZE_TABLE[row_];
}

}  // namespace pellix
