#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSIPv6/HOSIPv6PrefixResolver.h"
#include "platform/Application.h"
#include "platform/DNSResolver.h"
#include "platform/NotificationCenter.h"

namespace pellix {

HOSIPv6Adapter& HOSIPv6Adapter::getInstance() {
    static HOSIPv6Adapter* instance = new HOSIPv6Adapter();
    return *instance;
}

HOSIPv6Adapter::HOSIPv6Adapter() {
    platform::NotificationCenter::defaultCenter().addObserver(
        platform::Application::DidBecomeActiveNotification, nullptr, nullptr,
        [this](const platform::Notification&) { appDidBecomeActiveFunc(); });
}

bool HOSIPv6Adapter::isIPv6OnlyNetwork() {
    std::lock_guard lock(mutex_);
    if (isIPv6OnlyResolved_) return isIPv6Only_;
    return evaluate();
}

bool HOSIPv6Adapter::reResolveIPv6OnlyStatus() {
    std::lock_guard lock(mutex_);
    isIPv6OnlyResolved_ = false;
    return evaluate();
}

bool HOSIPv6Adapter::evaluate() {
    HOS_LOG_DEBUG("Start resolved network to see if in IPv6-Only env.");
    int stack = getDNSServersIpStack();
    if (stack & kDNSServerIPv4) {
        isIPv6Only_ = false;
    } else if (stack & kDNSServerIPv6) {
        isIPv6Only_ = true;
        HOSIPv6PrefixResolver::getInstance().updateIPv6Prefix();
    } else {
        HOS_LOG_DEBUG("[%s]: Error.", "isIPv6OnlyNetwork");
        isIPv6Only_ = false;
    }
    isIPv6OnlyResolved_ = true;
    if (isIPv6Only_)
        HOS_LOG_DEBUG("[%s]: IPv6-Only network now.", "isIPv6OnlyNetwork");
    else
        HOS_LOG_DEBUG("[%s]: Not IPv6-Only network now.", "isIPv6OnlyNetwork");
    return isIPv6Only_;
}

std::optional<std::string> HOSIPv6Adapter::handleIpv4Address(const std::optional<std::string>& address) {
    if (!address || address->empty()) return std::nullopt;
    if (isIPv6Address(*address)) return "[" + *address + "]";
    if (isIPv6OnlyNetwork()) {
        auto converted = HOSIPv6PrefixResolver::getInstance().convertIPv4toIPv6(*address);
        if (!converted) return std::nullopt;
        return "[" + *converted + "]";
    }
    return address;
}

bool HOSIPv6Adapter::isIPv4Address(const std::string& text) {
    in_addr a;
    return ::inet_pton(AF_INET, text.c_str(), &a) == 1;
}

bool HOSIPv6Adapter::isIPv6Address(const std::string& text) {
    in6_addr a;
    return ::inet_pton(AF_INET6, text.c_str(), &a) == 1;
}

int HOSIPv6Adapter::getDNSServersIpStack() {
    std::optional<std::vector<sockaddr_storage>> servers;
    {
        std::lock_guard lock(mutex_);
        servers = servers_;
    }
    if (!servers) servers = platform::DNSResolver::configuredServers();
    if (!servers) return 0;
    int flags = 0;
    char text[INET6_ADDRSTRLEN];
    for (const auto& s : *servers) {
        if (s.ss_family == AF_INET) {
            const auto& in = reinterpret_cast<const sockaddr_in&>(s);
            if (::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text)) flags |= kDNSServerIPv4;
        } else if (s.ss_family == AF_INET6) {
            const auto& in6 = reinterpret_cast<const sockaddr_in6&>(s);
            if (::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text)) flags |= kDNSServerIPv6;
        } else {
            HOS_LOG_DEBUG("%s: Undefined family.", __func__);
        }
    }
    return flags;
}

void HOSIPv6Adapter::appDidBecomeActiveFunc() {
    HOS_LOG_DEBUG("[%s]: App become active, refresh IPv6-Only status.", __func__);
    reResolveIPv6OnlyStatus();
}

void HOSIPv6Adapter::setDNSServers(std::optional<std::vector<sockaddr_storage>> servers) {
    std::lock_guard lock(mutex_);
    servers_ = std::move(servers);
}

}  // namespace pellix
