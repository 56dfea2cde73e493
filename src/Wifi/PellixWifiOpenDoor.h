// PellixWifiOpenDoor: opens a door through the door unit's own Wi-Fi: one
// HTTPS GET to the network's default gateway (the door unit), without the
// platform.
//
// The request carries the user id and room id as query, the app's
// registration credentials as HTTP Basic authentication and the host's SSID
// key as header "pellix". It accepts the door unit's self-signed certificate
// (door units have no other), but the credentials are never forwarded on a
// redirect, and nothing is sent unless a Wi-Fi gateway and SSID are known.
//
// The completion runs exactly once when given: at once for the argument
// errors (code 400600), on the main queue for the network outcome. A fresh
// HTTP manager serves each request and is let go once its task started.
//
// Threads: main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "Wifi/PellixWifiTool.h"

namespace pellix {

class PellixWifiOpenDoor {
public:
    using Completion = std::function<void(bool success, const std::shared_ptr<PellixError>& error)>;

    static constexpr std::int64_t kWifiErrorCode = 400600;
    static constexpr const char* kNoWifiMessage = "获取Wifi信息败， 请确保连接到门禁机wifi";
    static constexpr const char* kNoRoomMessage = "请传入有效房间ID";
    // After "https://<gateway>:<port>".
    static constexpr const char* kDoorPath = "/pellix_api/api/index.php/v6/doors/open";

    // init: makes the Wi-Fi tool and starts its observing.
    PellixWifiOpenDoor();
    PellixWifiOpenDoor(const PellixWifiOpenDoor&) = delete;
    PellixWifiOpenDoor& operator=(const PellixWifiOpenDoor&) = delete;

    // The door unit's HTTPS port: 8090 unless a host or a test moves it.
    static std::uint16_t doorUnitPort();
    static void setDoorUnitPort(std::uint16_t port);

    const std::shared_ptr<PellixWifiTool>& wifiTool() const { return wifiTool_; }
    bool isConnectByWifi() const;
    std::optional<std::string> getSSID() const;
    std::optional<std::string> getGatewayAddress() const;

    void openDoorWithRoomId(const std::optional<std::string>& roomId, const std::optional<std::string>& ssidKey,
                            Completion completion);

private:
    std::shared_ptr<PellixWifiTool> wifiTool_;
};

}  // namespace pellix
