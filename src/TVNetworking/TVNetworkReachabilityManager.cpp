#include "TVNetworking/TVNetworkReachabilityManager.h"

#include <netinet/in.h>

#include <cstring>

#include "TVNetworking/TVNetworkingSupport.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"

namespace pellix {

using platform::Reachability;

std::string TVStringFromNetworkReachabilityStatus(int status) {
    switch (status) {
        case TVNetworkReachabilityStatusNotReachable:
            return TVNetworkingLocalizedString("Not Reachable");
        case TVNetworkReachabilityStatusReachableViaWWAN:
            return TVNetworkingLocalizedString("Reachable via WWAN");
        case TVNetworkReachabilityStatusReachableViaWiFi:
            return TVNetworkingLocalizedString("Reachable via WiFi");
        default:
            return TVNetworkingLocalizedString("Unknown");
    }
}

int TVNetworkReachabilityStatusForFlags(std::uint32_t flags) {
    const bool reachable = flags & Reachability::kReachable;
    const bool needsConnection = flags & Reachability::kConnectionRequired;
    const bool canConnectAutomatically =
        (flags & Reachability::kConnectionOnDemand) || (flags & Reachability::kConnectionOnTraffic);
    const bool canConnectWithoutUser = canConnectAutomatically && !(flags & Reachability::kInterventionRequired);
    const bool isNetworkReachable = reachable && (!needsConnection || canConnectWithoutUser);
    if (!isNetworkReachable) return TVNetworkReachabilityStatusNotReachable;
    if (flags & Reachability::kIsWWAN) return TVNetworkReachabilityStatusReachableViaWWAN;
    return TVNetworkReachabilityStatusReachableViaWiFi;
}

namespace {

// The status is worked out on the calling thread; the callback and then the
// notification follow on the main queue.
void TVPostReachabilityStatusChange(std::uint32_t flags, const std::function<void(int)>& callback) {
    const int status = TVNetworkReachabilityStatusForFlags(flags);
    platform::DispatchQueue::main()->async([callback, status] {
        if (callback) callback(status);
        platform::Dictionary userInfo;
        userInfo.set(TVNetworkingReachabilityNotificationStatusItem, status);
        platform::NotificationCenter::defaultCenter().post(TVNetworkingReachabilityDidChangeNotification, nullptr,
                                                           std::move(userInfo));
    });
}

}  // namespace

std::shared_ptr<TVNetworkReachabilityManager> TVNetworkReachabilityManager::sharedManager() {
    static auto* shared = new std::shared_ptr<TVNetworkReachabilityManager>(manager());
    return *shared;
}

std::shared_ptr<TVNetworkReachabilityManager> TVNetworkReachabilityManager::manager() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    return managerForAddress(reinterpret_cast<const sockaddr*>(&address));
}

std::shared_ptr<TVNetworkReachabilityManager> TVNetworkReachabilityManager::managerForDomain(
    const std::string& domain) {
    return std::make_shared<TVNetworkReachabilityManager>(Reachability::withName(domain));
}

std::shared_ptr<TVNetworkReachabilityManager> TVNetworkReachabilityManager::managerForAddress(
    const sockaddr* address) {
    return std::make_shared<TVNetworkReachabilityManager>(Reachability::withAddress(address));
}

TVNetworkReachabilityManager::TVNetworkReachabilityManager(std::shared_ptr<Reachability> reachability)
    : reachability_(std::move(reachability)) {}

TVNetworkReachabilityManager::~TVNetworkReachabilityManager() { stopMonitoring(); }

void TVNetworkReachabilityManager::startMonitoring() {
    stopMonitoring();
    if (!reachability_) return;

    std::weak_ptr<TVNetworkReachabilityManager> weakSelf = weak_from_this();
    std::function<void(int)> callback = [weakSelf](int status) {
        auto self = weakSelf.lock();
        if (!self) return;
        self->status_.store(status);
        std::shared_ptr<StatusBlock> block;
        {
            std::lock_guard lock(self->statusBlockMutex_);
            block = self->statusBlock_;
        }
        if (block) (*block)(status);
    };
    reachability_->setCallback([callback](std::uint32_t flags) { TVPostReachabilityStatusChange(flags, callback); });
    reachability_->schedule();

    std::weak_ptr<Reachability> weakReachability = reachability_;
    platform::DispatchQueue::global(platform::QoS::Background)->async([weakReachability, callback] {
        auto reachability = weakReachability.lock();
        if (!reachability) return;
        if (auto flags = reachability->flags()) TVPostReachabilityStatusChange(*flags, callback);
    });
}

void TVNetworkReachabilityManager::stopMonitoring() {
    if (reachability_) reachability_->unschedule();
}

std::string TVNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
    return TVStringFromNetworkReachabilityStatus(status_.load());
}

void TVNetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
    auto replacement = block ? std::make_shared<StatusBlock>(std::move(block)) : nullptr;
    std::lock_guard lock(statusBlockMutex_);
    statusBlock_.swap(replacement);
}

}  // namespace pellix
