// HOSReachability: the connection kind toward a host, an address or the
// network as a whole, on the platform's route watcher
// (platform::Reachability), with change notifications.
//
// Kinds (HOSNetworkStatus): 0 not reachable, 1 reachable over Wi-Fi or
// another local network, 2 reachable over the cellular (WWAN) network.
//
// Between startNotifier and stopNotifier (or the object's end), every change
// of the flags posts hosReachabilityChangedNotification on the default
// notification center with the object as sender. The platform delivers
// changes on the main queue, so that is where the notification is posted.
//
// A host name is resolved on every reading (see platform::Reachability):
// read currentReachabilityStatus off the main queue when the name is not a
// literal.
//
// Thread-safety: every member from any thread.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Reachability.h"

namespace pellix {

inline constexpr const char* hosReachabilityChangedNotification = "hosNetworkReachabilityChangedNotification";

enum HOSNetworkStatus : std::int32_t { HOSNotReachable = 0, HOSReachableViaWiFi = 1, HOSReachableViaWWAN = 2 };

// Writes the flags to the system log: "Reachability Flag Status: WR tcCiDld
// <comment>" with "-" for each clear flag.
void PrintReachabilityFlags(std::uint32_t flags, const char* comment);

class HOSReachability : public std::enable_shared_from_this<HOSReachability> {
public:
    // Each returns a new object, or nullptr when the platform cannot make the
    // reference (empty name, null address or another family).
    static std::shared_ptr<HOSReachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<HOSReachability> reachabilityWithAddress(const sockaddr* hostAddress);
    // The IPv4 any-address 0.0.0.0: the network as a whole.
    static std::shared_ptr<HOSReachability> reachabilityForInternetConnection();

    ~HOSReachability();
    HOSReachability(const HOSReachability&) = delete;
    HOSReachability& operator=(const HOSReachability&) = delete;

    // Whether watching started.
    bool startNotifier();
    void stopNotifier();
    // The kind for the current flags; HOSNotReachable when they cannot be read.
    HOSNetworkStatus currentReachabilityStatus() const;
    // The connection-required flag; false when the flags cannot be read.
    bool connectionRequired() const;
    static HOSNetworkStatus networkStatusForFlags(std::uint32_t flags);

    const std::shared_ptr<platform::Reachability>& reachabilityRef() const { return reachabilityRef_; }

private:
    explicit HOSReachability(std::shared_ptr<platform::Reachability> ref) : reachabilityRef_(std::move(ref)) {}
    static std::shared_ptr<HOSReachability> wrap(std::shared_ptr<platform::Reachability> ref);

    std::shared_ptr<platform::Reachability> reachabilityRef_;
};

}  // namespace pellix
