#include "HOSSDK/HOSIPv6/HOSReachabilityManager.h"

#include <mutex>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"

namespace pellix {

namespace {
std::mutex& classLock() {
    static auto* m = new std::mutex();
    return *m;
}
std::string& watchedHostNameStorage() {
    static auto* name = new std::string(HOSReachabilityManager::kDefaultWatchedHostName);
    return *name;
}
HOSReachabilityManager* s_SPDYNetworkStatusManager = nullptr;
}  // namespace

HOSReachabilityManager& HOSReachabilityManager::shareInstance() {
    std::lock_guard lock(classLock());
    if (!s_SPDYNetworkStatusManager) s_SPDYNetworkStatusManager = new HOSReachabilityManager();
    return *s_SPDYNetworkStatusManager;
}

void HOSReachabilityManager::setWatchedHostName(std::string hostName) {
    std::lock_guard lock(classLock());
    watchedHostNameStorage() = std::move(hostName);
}

std::string HOSReachabilityManager::watchedHostName() {
    std::lock_guard lock(classLock());
    return watchedHostNameStorage();
}

// Called with the class lock held (from shareInstance).
HOSReachabilityManager::HOSReachabilityManager() : hostName_(watchedHostNameStorage()) {
    reachabilityRef_ = platform::Reachability::withName(hostName_);
    _startNotifier();
}

bool HOSReachabilityManager::_startNotifier() {
    if (!reachabilityRef_) reachabilityRef_ = platform::Reachability::withName(hostName_);
    if (!reachabilityRef_) return false;
    if (!reachabilityQueue_) reachabilityQueue_ = platform::DispatchQueue::serial(kReachabilityQueueLabel);
    // The platform reports on the main queue; the adapter's re-evaluation
    // reads the resolver configuration, so it moves to our own queue.
    std::weak_ptr<platform::DispatchQueue> queue = reachabilityQueue_;
    reachabilityRef_->setCallback([this, queue](std::uint32_t) {
        if (auto q = queue.lock()) q->async([this] { networkChanged(); });
    });
    return reachabilityRef_->schedule();
}

void HOSReachabilityManager::networkChanged() {
    HOSIPv6Adapter& adapter = HOSIPv6Adapter::getInstance();
    if (adapter.isIPv6OnlyNetwork())
        HOS_LOG_DEBUG("[HalvaneReachabilityManager]: Network changed, Pre network status is IPv6-Only.");
    else
        HOS_LOG_DEBUG("[HalvaneReachabilityManager]: Network changed, Pre network status is not IPv6-Only.");
    adapter.reResolveIPv6OnlyStatus();
}

}  // namespace pellix
