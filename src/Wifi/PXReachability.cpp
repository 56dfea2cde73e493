#include "Wifi/PXReachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "platform/Log.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace {

using R = platform::Reachability;

void logFlags(std::uint32_t f, const char* rule) {
    auto c = [f](std::uint32_t bit, char on) { return (f & bit) ? on : '-'; };
    platform::Log::writef("Reachability Flag Status: %c%c %c%c%c%c%c%c%c %s\n", c(R::kIsWWAN, 'W'),
                          c(R::kReachable, 'R'), c(R::kTransientConnection, 't'), c(R::kConnectionRequired, 'c'),
                          c(R::kConnectionOnTraffic, 'C'), c(R::kInterventionRequired, 'i'),
                          c(R::kConnectionOnDemand, 'D'), c(R::kIsLocalAddress, 'l'), c(R::kIsDirect, 'd'), rule);
}

sockaddr_in ipv4(std::uint32_t hostOrderAddress) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(hostOrderAddress);
    return a;
}

}  // namespace

PXReachability::PXReachability(std::shared_ptr<platform::Reachability> ref, bool localWiFi)
    : alwaysReturnLocalWiFiStatus_(localWiFi), reachabilityRef_(std::move(ref)) {}

PXReachability::~PXReachability() { stopNotifier(); }

std::shared_ptr<PXReachability> PXReachability::make(std::shared_ptr<platform::Reachability> ref, bool localWiFi) {
    if (!ref) return nullptr;
    return std::shared_ptr<PXReachability>(new PXReachability(std::move(ref), localWiFi));
}

std::shared_ptr<PXReachability> PXReachability::reachabilityWithHostName(const std::string& hostName) {
    return make(R::withName(hostName), false);
}

std::shared_ptr<PXReachability> PXReachability::reachabilityWithAddress(const sockaddr* address) {
    return make(R::withAddress(address), false);
}

std::shared_ptr<PXReachability> PXReachability::reachabilityForInternetConnection() {
    auto a = ipv4(0);
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&a));
}

std::shared_ptr<PXReachability> PXReachability::reachabilityForLocalWiFi() {
    auto a = ipv4(0xA9FE0000u);  // 169.254.0.0
    return make(R::withAddress(reinterpret_cast<const sockaddr*>(&a)), true);
}

bool PXReachability::startNotifier() {
    std::weak_ptr<PXReachability> weak = weak_from_this();
    // The platform calls back on the main queue; the monitor is not kept
    // alive by its own watch.
    reachabilityRef_->setCallback([weak](std::uint32_t) {
        if (auto self = weak.lock())
            platform::NotificationCenter::defaultCenter().post(kPXReachabilityChangedNotification,
                                                               std::shared_ptr<void>(self));
    });
    if (reachabilityRef_->schedule()) return true;
    reachabilityRef_->setCallback(nullptr);
    return false;
}

void PXReachability::stopNotifier() {
    reachabilityRef_->unschedule();
    reachabilityRef_->setCallback(nullptr);
}

std::int64_t PXReachability::currentReachabilityStatus() const {
    auto flags = reachabilityRef_->flags();
    if (!flags) return PXNotReachable;
    return alwaysReturnLocalWiFiStatus_ ? localWiFiStatusForFlags(*flags) : networkStatusForFlags(*flags);
}

bool PXReachability::connectionRequired() const {
    auto flags = reachabilityRef_->flags();
    return flags && (*flags & R::kConnectionRequired);
}

std::int64_t PXReachability::localWiFiStatusForFlags(std::uint32_t flags) const {
    logFlags(flags, "localWiFiStatusForFlags");
    return (flags & R::kReachable) && (flags & R::kIsDirect) ? PXReachableViaWiFi : PXNotReachable;
}

std::int64_t PXReachability::networkStatusForFlags(std::uint32_t flags) const {
    logFlags(flags, "networkStatusForFlags");
    if (!(flags & R::kReachable)) return PXNotReachable;
    std::int64_t status = (flags & R::kConnectionRequired) ? PXNotReachable : PXReachableViaWiFi;
    if ((flags & (R::kConnectionOnDemand | R::kConnectionOnTraffic)) && !(flags & R::kInterventionRequired))
        status = PXReachableViaWiFi;
    if (flags & R::kIsWWAN) status = PXReachableViaWWAN;
    return status;
}

}  // namespace pellix
