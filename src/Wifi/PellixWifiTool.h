// PellixWifiTool: watches the local Wi-Fi link and caches the joined
// network's SSID and the Wi-Fi default gateway's IPv4 address.
//
// The cache is refreshed when observing starts while on Wi-Fi and on every
// reachability change that says "on Wi-Fi"; any other change clears both
// values. The two facts come from providers: by default the SSID from
// NetworkManager (platform::WifiInfo) and the gateway from px_getdefaultgateway
// (no wireless default route: no gateway). A host or a test may replace
// either, process-wide, before tools read them.
//
// Threads: create, use and destroy on the main thread; changes arrive there.
// Destruction stops observing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Wifi/PXReachability.h"
#include "platform/NotificationCenter.h"

namespace pellix {

class PellixWifiTool : public std::enable_shared_from_this<PellixWifiTool> {
public:
    struct Providers {
        // The SSID, nullopt when unknown. Empty: the default.
        std::function<std::optional<std::string>()> ssid;
        // The gateway as dotted-quad text, nullopt when there is none. Empty: the default.
        std::function<std::optional<std::string>()> gateway;
    };
    // Replaces the providers of every tool (an empty member restores its default).
    static void setProviders(Providers providers);

    // init: the local Wi-Fi monitor, observing started, changes observed.
    static std::shared_ptr<PellixWifiTool> create();
    ~PellixWifiTool();
    PellixWifiTool(const PellixWifiTool&) = delete;
    PellixWifiTool& operator=(const PellixWifiTool&) = delete;

    const std::optional<std::string>& ssidStr() const { return ssidStr_; }
    const std::optional<std::string>& gatewayAddress() const { return gatewayAddress_; }
    const std::shared_ptr<PXReachability>& reachability() const { return reachability_; }

    // The local Wi-Fi monitor says "reachable by Wi-Fi".
    bool isConnectedByWifi() const;
    // On Wi-Fi: refreshes both values; then starts the monitor's notifier.
    void startObserveWifiStatus();
    void stopObserveWifiStatus();
    // Only for a notification about this tool's own monitor.
    void reachabilityChanged(const platform::Notification& notification);

private:
    PellixWifiTool() = default;
    void refresh();

    std::optional<std::string> ssidStr_;
    std::optional<std::string> gatewayAddress_;
    std::shared_ptr<PXReachability> reachability_;
    platform::NotificationCenter::Token observer_ = 0;
};

}  // namespace pellix
