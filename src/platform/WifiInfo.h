// WifiInfo: facts about the Wi-Fi network this device is joined to.
//
// The network's name comes from NetworkManager over the system D-Bus
// (DBUS_SYSTEM_BUS_ADDRESS is honoured): the first Wi-Fi device that has an
// active connection, and the SSID of that connection's access point. Every
// failure (no system bus, no NetworkManager, no Wi-Fi device, not joined, a
// reply of the wrong shape) reads as "no SSID"; nothing is thrown or logged.
// Each call asks afresh and waits at most a few seconds for the bus.
//
// Thread-safety: any thread.
#pragma once

#include <optional>
#include <string>

namespace pellix::platform {

class WifiInfo {
public:
    // The SSID's bytes as text; nullopt when not joined or unknown.
    static std::optional<std::string> currentSSID();
};

}  // namespace pellix::platform
