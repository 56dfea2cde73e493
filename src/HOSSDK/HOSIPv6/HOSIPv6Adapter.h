// HOSIPv6Adapter: whether the device is on an IPv6-only network, and the URL
// host to use for an IPv4 address literal there.
//
// A network counts as IPv6-only when its resolver configuration names IPv6
// name servers and no IPv4 one; interface addresses are not looked at. The
// answer is cached until the application becomes active again
// ("UIApplicationDidBecomeActiveNotification", observed from the first use)
// or the reachability manager reports a network change; both re-evaluate at
// once. Finding an IPv6-only network starts a NAT64 prefix lookup.
//
// Failures are not reported: a resolver state that cannot be read, or a
// configuration without servers, counts as not IPv6-only (logged "[%s]:
// Error."); an address that cannot be synthesised gives nullopt, never a
// host that no connection could use.
//
// Thread-safety: every member from any thread; evaluation runs under the
// adapter's lock, which may take the prefix resolver's after it.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellix {

class HOSIPv6Adapter {
public:
    // Flags of getDNSServersIpStack.
    static constexpr int kDNSServerIPv4 = 1;
    static constexpr int kDNSServerIPv6 = 2;

    static HOSIPv6Adapter& getInstance();
    HOSIPv6Adapter(const HOSIPv6Adapter&) = delete;
    HOSIPv6Adapter& operator=(const HOSIPv6Adapter&) = delete;

    // The cached result, evaluated first when there is none.
    bool isIPv6OnlyNetwork();
    // Drops the cached result and evaluates at once.
    bool reResolveIPv6OnlyStatus();
    // The URL host for an address: nullopt for empty or absent input; an
    // IPv6 literal in brackets; on an IPv6-only network an IPv4 literal's
    // synthesised IPv6 address in brackets (nullopt when that fails);
    // otherwise the input unchanged.
    std::optional<std::string> handleIpv4Address(const std::optional<std::string>& address);
    static bool isIPv4Address(const std::string& text);
    static bool isIPv6Address(const std::string& text);
    // kDNSServerIPv4 | kDNSServerIPv6 for the configured name servers; 0 when
    // the resolver state cannot be initialised or names none.
    int getDNSServersIpStack();
    // Logs and re-evaluates.
    void appDidBecomeActiveFunc();

    // The name servers to judge by instead of the resolver configuration
    // (socket addresses of any family); nullopt: the configuration's.
    void setDNSServers(std::optional<std::vector<sockaddr_storage>> servers);

private:
    HOSIPv6Adapter();
    bool evaluate();  // with mutex_ held

    std::recursive_mutex mutex_;
    bool isIPv6Only_ = false;
    bool isIPv6OnlyResolved_ = false;
    std::optional<std::vector<sockaddr_storage>> servers_;
};

}  // namespace pellix
