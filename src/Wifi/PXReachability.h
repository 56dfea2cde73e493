// PXReachability: the status of one reachability target (a host, an
// address, the network as a whole, or the local Wi-Fi link) as a small
// number, and a notification on every change once the notifier runs.
//
// Built on platform::Reachability, the library's one route watcher: its
// flags are the kernel's routes seen through the platform's flag bits
// (reachable: a route exists; direct: on-link or through a wireless device;
// WWAN: through a mobile-broadband device).
//
// Every status reading writes one diagnostic line to the system log,
// whatever the SDK's log switch says.
//
// Notification: kPXReachabilityChangedNotification, its object this monitor,
// posted on the main queue whenever the target's flags change while the
// notifier runs. Threads: create, start and stop on the main thread; status
// reads from any thread. Destruction stops the notifier; a change already
// queued for a destroyed monitor is dropped.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Reachability.h"

namespace pellix {

inline constexpr const char* kPXReachabilityChangedNotification = "kNetworkPXReachabilityChangedNotification";

enum PXNetworkStatus : std::int64_t {
    PXNotReachable = 0,
    PXReachableViaWiFi = 1,
    PXReachableViaWWAN = 2,
};

class PXReachability : public std::enable_shared_from_this<PXReachability> {
public:
    // nullptr when the target cannot be made (an empty name, a null address
    // or one of another family than IPv4/IPv6).
    static std::shared_ptr<PXReachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<PXReachability> reachabilityWithAddress(const sockaddr* address);
    // The IPv4 address 0.0.0.0: the default route.
    static std::shared_ptr<PXReachability> reachabilityForInternetConnection();
    // The IPv4 link-local network 169.254.0.0, judged by the local Wi-Fi rule.
    static std::shared_ptr<PXReachability> reachabilityForLocalWiFi();

    ~PXReachability();
    PXReachability(const PXReachability&) = delete;
    PXReachability& operator=(const PXReachability&) = delete;

    // true when the kernel's announcements are being watched.
    bool startNotifier();
    // Stops watching; harmless when never started.
    void stopNotifier();

    // PXNetworkStatus; 0 when the flags cannot be read.
    std::int64_t currentReachabilityStatus() const;
    bool connectionRequired() const;
    // 1 when Reachable and IsDirect are both set, else 0.
    std::int64_t localWiFiStatusForFlags(std::uint32_t flags) const;
    // 0 without Reachable; else 1 unless a connection is required (and
    // cannot be made on demand or on traffic without intervention); 2 via WWAN.
    std::int64_t networkStatusForFlags(std::uint32_t flags) const;

    bool alwaysReturnLocalWiFiStatus() const { return alwaysReturnLocalWiFiStatus_; }
    const std::shared_ptr<platform::Reachability>& reachabilityRef() const { return reachabilityRef_; }

private:
    PXReachability(std::shared_ptr<platform::Reachability> ref, bool localWiFi);
    static std::shared_ptr<PXReachability> make(std::shared_ptr<platform::Reachability> ref, bool localWiFi);

    bool alwaysReturnLocalWiFiStatus_;
    std::shared_ptr<platform::Reachability> reachabilityRef_;
};

}  // namespace pellix
