// Reachability: whether a host, an address or the network as a whole can be
// reached, from the kernel's routing table (rtnetlink).
//
// The answer is the platform's reachability flags: kReachable when the kernel
// has a usable route (for the whole network, i.e. the all-zero IPv4 address: a
// default route of either family; for an address or a host name: the route
// the kernel would pick for it), plus kIsWWAN when that route leaves through a
// mobile-broadband device (sysfs DEVTYPE "wwan"), plus kIsDirect when it
// reaches its destination without a gateway (on-link, or a local address) or
// leaves through a wireless (802.11) device, and kIsLocalAddress for an
// address of this host. A host name is resolved on
// every reading; a name that does not resolve reads as not reachable. No
// packet is ever sent: only the routing table is asked.
//
// Watching: `schedule` starts a thread that listens to the kernel's link,
// address and route announcements and, whenever the flags differ from the
// last ones it saw, calls the callback with the new flags on the main queue.
// `unschedule` stops it (and waits for the thread, never for the main queue).
//
// Thread-safety: every member from any thread; the callback runs on the main
// queue only.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellix::platform {

class Reachability {
public:
    // The platform's flag bits.
    enum Flag : std::uint32_t {
        kTransientConnection = 1u << 0,
        kReachable = 1u << 1,
        kConnectionRequired = 1u << 2,
        kConnectionOnTraffic = 1u << 3,
        kInterventionRequired = 1u << 4,
        kConnectionOnDemand = 1u << 5,
        kIsLocalAddress = 1u << 16,
        kIsDirect = 1u << 17,
        kIsWWAN = 1u << 18,
    };
    using Callback = std::function<void(std::uint32_t flags)>;

    // One IPv4 default route of the main table, as the kernel holds it.
    struct IPv4DefaultRoute {
        std::string interfaceName;  // "" when the interface has gone meanwhile
        int interfaceIndex = 0;
        std::optional<in_addr> gateway;  // none for an on-link default route
        bool wireless = false;           // the interface is an 802.11 device
        bool wwan = false;               // the interface is a mobile-broadband device
    };
    // The IPv4 default routes in the kernel's order; nullopt when the kernel
    // could not be asked. Reads the table once; never watches.
    static std::optional<std::vector<IPv4DefaultRoute>> ipv4DefaultRoutes();
    // Whether the named interface is an 802.11 device (sysfs "wireless" or
    // "phy80211", or DEVTYPE "wlan"); false for an unknown name.
    static bool isWirelessInterface(const std::string& name);
    // Where interface facts (a device's sysfs "uevent", "wireless") are read:
    // by default "/sys/class/net". Tests point it at a folder of their own to
    // give an interface another type; "" restores the default.
    static void setInterfaceInfoDirectory(std::string directory);

    // nullptr for an address family other than IPv4 / IPv6 or a null address.
    static std::shared_ptr<Reachability> withAddress(const sockaddr* address);
    // nullptr for an empty name.
    static std::shared_ptr<Reachability> withName(const std::string& hostName);

    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // The current flags; nullopt when the kernel could not be asked.
    std::optional<std::uint32_t> flags() const;

    // Replaces the callback (empty: none).
    void setCallback(Callback callback);
    // Starts watching (again); false when the kernel's announcements cannot
    // be subscribed to.
    bool schedule();
    void unschedule();

private:
    struct Target;
    struct Watcher;
    explicit Reachability(std::shared_ptr<const Target> target);
    // Wakes a watcher's thread and waits for it.
    static void stop(std::unique_ptr<Watcher> watcher);

    std::shared_ptr<const Target> target_;
    mutable std::mutex mutex_;
    std::shared_ptr<Callback> callback_;
    std::unique_ptr<Watcher> watcher_;
};

}  // namespace pellix::platform
