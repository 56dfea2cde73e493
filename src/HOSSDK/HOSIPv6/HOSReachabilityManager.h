// HOSReachabilityManager: watches the network for the storage runtime and
// makes HOSIPv6Adapter re-evaluate whenever it changes.
//
// Created once, on first use (the storage client creates it when it is set
// up), it watches the route toward one host name (kDefaultWatchedHostName
// unless setWatchedHostName named another before) for the life of the
// process. Every change is handled on the serial queue
// "com.halvane.hos.network.ReachabilityQueue": it logs the status before the
// change and calls reResolveIPv6OnlyStatus. A watch that cannot start stays
// off (the adapter is then refreshed only when the application becomes
// active).
//
// Thread-safety: every member from any thread.
#pragma once

#include <memory>
#include <string>

#include "platform/DispatchQueue.h"
#include "platform/Reachability.h"

namespace pellix {

class HOSReachabilityManager {
public:
    static constexpr const char* kDefaultWatchedHostName = "www.halvane.com";
    static constexpr const char* kReachabilityQueueLabel = "com.halvane.hos.network.ReachabilityQueue";

    static HOSReachabilityManager& shareInstance();
    // The host name the storage runtime probes: the manager watches it (read
    // once, when the manager is created) and HOSUtil's network-state text
    // asks for it.
    static void setWatchedHostName(std::string hostName);
    static std::string watchedHostName();

    HOSReachabilityManager(const HOSReachabilityManager&) = delete;
    HOSReachabilityManager& operator=(const HOSReachabilityManager&) = delete;

    // Whether watching started.
    bool _startNotifier();

    const std::shared_ptr<platform::Reachability>& reachabilityRef() const { return reachabilityRef_; }
    const std::shared_ptr<platform::DispatchQueue>& reachabilityQueue() const { return reachabilityQueue_; }

private:
    HOSReachabilityManager();
    void networkChanged();  // on reachabilityQueue_

    std::string hostName_;
    std::shared_ptr<platform::Reachability> reachabilityRef_;
    std::shared_ptr<platform::DispatchQueue> reachabilityQueue_;
};

}  // namespace pellix
