// TVNetworkReachabilityManager: watches whether a host, an address or the
// network as a whole can be reached, and through which kind of interface.
//
// Changes reach, in this order and on the main queue only: the status
// property, the status block, then the notification
// TVNetworkingReachabilityDidChangeNotification (nil object, user info
// {TVNetworkingReachabilityNotificationStatusItem: status}). The first reading
// after startMonitoring runs on a background queue and is reported the same
// way. Nothing starts monitoring by itself.
//
// Threads: status reads from any thread; configure and start/stop from the
// main thread.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Reachability.h"

namespace pellix {

enum TVNetworkReachabilityStatus : int {
    TVNetworkReachabilityStatusUnknown = -1,
    TVNetworkReachabilityStatusNotReachable = 0,
    TVNetworkReachabilityStatusReachableViaWWAN = 1,
    TVNetworkReachabilityStatusReachableViaWiFi = 2,
};

inline constexpr const char* TVNetworkingReachabilityDidChangeNotification =
    "com.tessvale.networking.reachability.change";
inline constexpr const char* TVNetworkingReachabilityNotificationStatusItem =
    "TVNetworkingReachabilityNotificationStatusItem";

// "Not Reachable", "Reachable via WWAN", "Reachable via WiFi", else "Unknown"
// (through the host's "TVNetworking" strings table).
std::string TVStringFromNetworkReachabilityStatus(int status);
// The status the platform's reachability flags stand for (never -1).
int TVNetworkReachabilityStatusForFlags(std::uint32_t flags);

class TVNetworkReachabilityManager : public std::enable_shared_from_this<TVNetworkReachabilityManager> {
public:
    using StatusBlock = std::function<void(int status)>;

    // One per process, made by manager() on first use, never destroyed.
    static std::shared_ptr<TVNetworkReachabilityManager> sharedManager();
    // The whole network: the all-zero IPv4 address.
    static std::shared_ptr<TVNetworkReachabilityManager> manager();
    static std::shared_ptr<TVNetworkReachabilityManager> managerForDomain(const std::string& domain);
    static std::shared_ptr<TVNetworkReachabilityManager> managerForAddress(const sockaddr* address);

    // `reachability` may be null: the manager then never reports anything.
    explicit TVNetworkReachabilityManager(std::shared_ptr<platform::Reachability> reachability);
    ~TVNetworkReachabilityManager();
    TVNetworkReachabilityManager(const TVNetworkReachabilityManager&) = delete;
    TVNetworkReachabilityManager& operator=(const TVNetworkReachabilityManager&) = delete;

    const std::shared_ptr<platform::Reachability>& networkReachability() const { return reachability_; }
    int networkReachabilityStatus() const { return status_.load(); }
    bool isReachable() const { return isReachableViaWWAN() || isReachableViaWiFi(); }
    bool isReachableViaWWAN() const { return status_.load() == TVNetworkReachabilityStatusReachableViaWWAN; }
    bool isReachableViaWiFi() const { return status_.load() == TVNetworkReachabilityStatusReachableViaWiFi; }

    void startMonitoring();
    void stopMonitoring();

    std::string localizedNetworkReachabilityStatusString() const;
    void setReachabilityStatusChangeBlock(StatusBlock block);

private:
    std::shared_ptr<platform::Reachability> reachability_;
    std::atomic<int> status_{TVNetworkReachabilityStatusUnknown};
    mutable std::mutex statusBlockMutex_;  // the block is replaced from any thread, read on the main queue
    std::shared_ptr<StatusBlock> statusBlock_;
};

}  // namespace pellix
