#include "Wifi/PellixWifiTool.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "Wifi/PXGateway.h"
#include "platform/WifiInfo.h"

namespace pellix {

namespace {

std::mutex providersMutex;
PellixWifiTool::Providers installedProviders;

std::optional<std::string> defaultGateway() {
    unsigned char* bytes = px_getdefaultgateway(nullptr);
    if (!bytes) return std::nullopt;
    std::optional<std::string> text;
    // All zero: no wireless gateway; the door request must not be sent.
    if (bytes[0] | bytes[1] | bytes[2] | bytes[3]) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
        text = buf;
    }
    std::free(bytes);
    return text;
}

PellixWifiTool::Providers currentProviders() {
    std::lock_guard lock(providersMutex);
    PellixWifiTool::Providers p = installedProviders;
    if (!p.ssid) p.ssid = [] { return platform::WifiInfo::currentSSID(); };
    if (!p.gateway) p.gateway = defaultGateway;
    return p;
}

}  // namespace

void PellixWifiTool::setProviders(Providers providers) {
    std::lock_guard lock(providersMutex);
    installedProviders = std::move(providers);
}

std::shared_ptr<PellixWifiTool> PellixWifiTool::create() {
    std::shared_ptr<PellixWifiTool> tool(new PellixWifiTool());
    tool->reachability_ = PXReachability::reachabilityForLocalWiFi();
    tool->startObserveWifiStatus();
    std::weak_ptr<PellixWifiTool> weak = tool;
    tool->observer_ = platform::NotificationCenter::defaultCenter().addObserver(
        kPXReachabilityChangedNotification, nullptr, nullptr, [weak](const platform::Notification& n) {
            if (auto self = weak.lock()) self->reachabilityChanged(n);
        });
    return tool;
}

PellixWifiTool::~PellixWifiTool() {
    if (observer_) platform::NotificationCenter::defaultCenter().removeObserver(observer_);
    stopObserveWifiStatus();
    reachability_.reset();
}

bool PellixWifiTool::isConnectedByWifi() const {
    return reachability_ && reachability_->currentReachabilityStatus() == PXReachableViaWiFi;
}

void PellixWifiTool::refresh() {
    auto p = currentProviders();
    ssidStr_ = p.ssid();
    gatewayAddress_ = p.gateway();
}

void PellixWifiTool::startObserveWifiStatus() {
    if (!reachability_) return;
    if (isConnectedByWifi()) refresh();
    reachability_->startNotifier();
}

void PellixWifiTool::stopObserveWifiStatus() {
    if (reachability_) reachability_->stopNotifier();
}

void PellixWifiTool::reachabilityChanged(const platform::Notification& notification) {
    if (!reachability_ || notification.objectIdentity() != reachability_.get()) return;
    if (reachability_->currentReachabilityStatus() == PXReachableViaWiFi) {
        refresh();
    } else {
        ssidStr_.reset();
        gatewayAddress_.reset();
    }
}

}  // namespace pellix
