// DNSResolver: the system resolver's name-server list, and one AAAA query,
// on the C library's resolver (res_ninit / res_nquery).
//
// `configuredServers` reads the resolver configuration afresh on every call
// (resolv.conf), so a changed network is seen at once. `queryAAAA` blocks
// the calling thread for at most a few seconds (two tries of two seconds per
// server); call it from a worker queue, never from the main one.
//
// Replies are untrusted: `parseAAAAReply` checks every length and offset
// before use and answers a reason instead of addresses for a reply it cannot
// read, without touching anything outside the reply's bytes.
//
// Thread-safety: every function may be called from any thread; each call
// uses its own resolver state.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pellix::platform {

class DNSResolver {
public:
    DNSResolver() = delete;

    using Address6 = std::array<std::uint8_t, 16>;

    // The name servers of the resolver configuration, in its order (IPv4 as
    // sockaddr_in, IPv6 as sockaddr_in6 inside each slot); nullopt when the
    // resolver state cannot be initialised.
    static std::optional<std::vector<sockaddr_storage>> configuredServers();

    struct AAAAAnswer {
        std::vector<Address6> addresses;  // in reply order; empty on failure
        std::string error;                // empty on success
    };
    // The AAAA records of `name`, asked of `nameserver` (an IPv4 address and
    // port) when given, else of the configured servers.
    static AAAAAnswer queryAAAA(const std::string& name, const std::optional<sockaddr_in>& nameserver);

    // The AAAA records of a reply (other records are skipped); nullopt for a
    // reply that is not a well-formed answer, with the reason in *why.
    static std::optional<std::vector<Address6>> parseAAAAReply(std::span<const std::uint8_t> reply,
                                                                std::string* why = nullptr);
};

}  // namespace pellix::platform
