#include "HOSSDK/HOSIPv6/HOSReachability.h"

#include <netinet/in.h>

#include "platform/Log.h"
#include "platform/NotificationCenter.h"

namespace pellix {

using platform::Reachability;

void PrintReachabilityFlags(std::uint32_t flags, const char* comment) {
    auto c = [flags](std::uint32_t bit, char letter) { return (flags & bit) ? letter : '-'; };
    platform::Log::writef("Reachability Flag Status: %c%c %c%c%c%c%c%c%c %s\n", c(Reachability::kIsWWAN, 'W'),
                          c(Reachability::kReachable, 'R'), c(Reachability::kTransientConnection, 't'),
                          c(Reachability::kConnectionRequired, 'c'), c(Reachability::kConnectionOnTraffic, 'C'),
                          c(Reachability::kInterventionRequired, 'i'), c(Reachability::kConnectionOnDemand, 'D'),
                          c(Reachability::kIsLocalAddress, 'l'), c(Reachability::kIsDirect, 'd'),
                          comment ? comment : "");
}

std::shared_ptr<HOSReachability> HOSReachability::wrap(std::shared_ptr<Reachability> ref) {
    if (!ref) return nullptr;
    return std::shared_ptr<HOSReachability>(new HOSReachability(std::move(ref)));
}

std::shared_ptr<HOSReachability> HOSReachability::reachabilityWithHostName(const std::string& hostName) {
    return wrap(Reachability::withName(hostName));
}

std::shared_ptr<HOSReachability> HOSReachability::reachabilityWithAddress(const sockaddr* hostAddress) {
    return wrap(Reachability::withAddress(hostAddress));
}

std::shared_ptr<HOSReachability> HOSReachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zero));
}

HOSReachability::~HOSReachability() { reachabilityRef_->unschedule(); }

bool HOSReachability::startNotifier() {
    std::weak_ptr<HOSReachability> weak = weak_from_this();
    reachabilityRef_->setCallback([weak](std::uint32_t) {
        // The sender is the wrapper itself; once it is gone nothing is posted.
        if (auto self = weak.lock())
            platform::NotificationCenter::defaultCenter().post(hosReachabilityChangedNotification,
                                                               std::static_pointer_cast<void>(self));
    });
    if (reachabilityRef_->schedule()) return true;
    reachabilityRef_->setCallback(nullptr);
    return false;
}

void HOSReachability::stopNotifier() { reachabilityRef_->unschedule(); }

HOSNetworkStatus HOSReachability::networkStatusForFlags(std::uint32_t flags) {
    PrintReachabilityFlags(flags, "networkStatusForFlags");
    if (!(flags & Reachability::kReachable)) return HOSNotReachable;
    HOSNetworkStatus status = HOSNotReachable;
    if (!(flags & Reachability::kConnectionRequired)) status = HOSReachableViaWiFi;
    if ((flags & (Reachability::kConnectionOnDemand | Reachability::kConnectionOnTraffic)) &&
        !(flags & Reachability::kInterventionRequired))
        status = HOSReachableViaWiFi;
    if (flags & Reachability::kIsWWAN) status = HOSReachableViaWWAN;
    return status;
}

HOSNetworkStatus HOSReachability::currentReachabilityStatus() const {
    auto flags = reachabilityRef_->flags();
    return flags ? networkStatusForFlags(*flags) : HOSNotReachable;
}

bool HOSReachability::connectionRequired() const {
    auto flags = reachabilityRef_->flags();
    return flags && (*flags & Reachability::kConnectionRequired);
}

}  // namespace pellix
