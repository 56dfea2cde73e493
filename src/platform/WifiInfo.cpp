#include "platform/WifiInfo.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace pellix::platform {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";
constexpr const char* kActiveConnection = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kAccessPoint = "org.freedesktop.NetworkManager.AccessPoint";
constexpr std::uint32_t kDeviceTypeWifi = 2;
constexpr auto kTimeout = std::chrono::seconds(3);

sdbus::Variant property(sdbus::IConnection& bus, const std::string& path, const char* interface, const char* name) {
    auto proxy = sdbus::createProxy(bus, kService, path);
    sdbus::Variant value;
    proxy->callMethod("Get")
        .onInterface("org.freedesktop.DBus.Properties")
        .withTimeout(kTimeout)
        .withArguments(interface, name)
        .storeResultsTo(value);
    return value;
}

}  // namespace

std::optional<std::string> WifiInfo::currentSSID() {
    try {
        auto bus = sdbus::createSystemBusConnection();
        auto manager = sdbus::createProxy(*bus, kService, "/org/freedesktop/NetworkManager");
        std::vector<sdbus::ObjectPath> devices;
        manager->callMethod("GetDevices").onInterface(kService).withTimeout(kTimeout).storeResultsTo(devices);
        for (const auto& device : devices) {
            try {
                if (property(*bus, device, kDevice, "DeviceType").get<std::uint32_t>() != kDeviceTypeWifi) continue;
                auto active = property(*bus, device, kDevice, "ActiveConnection").get<sdbus::ObjectPath>();
                if (active.empty() || active == "/") continue;
                auto ap = property(*bus, active, kActiveConnection, "SpecificObject").get<sdbus::ObjectPath>();
                if (ap.empty() || ap == "/") continue;
                auto ssid = property(*bus, ap, kAccessPoint, "Ssid").get<std::vector<std::uint8_t>>();
                if (ssid.empty()) continue;
                return std::string(ssid.begin(), ssid.end());
            } catch (const sdbus::Error&) {
                // A device that vanished or answers oddly is skipped.
            }
        }
    } catch (const sdbus::Error&) {
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

}  // namespace pellix::platform
