#include "Wifi/PellixWifiOpenDoor.h"

#include <atomic>

#include "PellixProxyInfo/PellixProxyInfo.h"
#include "TVNetworking/TVHTTPSessionManager.h"
#include "TVNetworking/TVJSONResponseSerializer.h"
#include "TVNetworking/TVSecurityPolicy.h"

namespace pellix {

namespace {

std::atomic<std::uint16_t> doorPort{8090};

void fail(const PellixWifiOpenDoor::Completion& completion, std::int64_t code,
          std::optional<std::string> message) {
    if (!completion) return;
    auto error = std::make_shared<PellixError>();
    error->setErrorCode(code);
    if (message) error->setMessage(std::move(message));
    completion(false, error);
}

}  // namespace

PellixWifiOpenDoor::PellixWifiOpenDoor() : wifiTool_(PellixWifiTool::create()) {
    wifiTool_->startObserveWifiStatus();
}

std::uint16_t PellixWifiOpenDoor::doorUnitPort() { return doorPort.load(); }
void PellixWifiOpenDoor::setDoorUnitPort(std::uint16_t port) { doorPort.store(port); }

bool PellixWifiOpenDoor::isConnectByWifi() const { return wifiTool_->isConnectedByWifi(); }
std::optional<std::string> PellixWifiOpenDoor::getSSID() const { return wifiTool_->ssidStr(); }
std::optional<std::string> PellixWifiOpenDoor::getGatewayAddress() const { return wifiTool_->gatewayAddress(); }

void PellixWifiOpenDoor::openDoorWithRoomId(const std::optional<std::string>& roomId,
                                            const std::optional<std::string>& ssidKey, Completion completion) {
    const auto ssid = wifiTool_->ssidStr();
    const auto gateway = wifiTool_->gatewayAddress();
    const auto& info = PellixProxyInfo::sharedInstance();
    if (!ssid || !gateway || gateway->empty()) return fail(completion, kWifiErrorCode, kNoWifiMessage);
    if (!roomId || roomId->empty()) return fail(completion, kWifiErrorCode, kNoRoomMessage);

    auto manager = TVHTTPSessionManager::manager();
    auto policy = TVSecurityPolicy::defaultPolicy();
    policy->setAllowInvalidCertificates(true);
    policy->setValidatesDomainName(false);
    manager->setSecurityPolicy(policy);

    auto request = TVHTTPRequestSerializer::serializer();
    request->setAuthorizationHeaderFieldWithUsername(info->appId().value_or(""), info->secretKey().value_or(""));
    if (ssidKey) request->setValue(*ssidKey, "pellix");
    request->setTimeoutInterval(10);
    manager->setRequestSerializer(request);

    auto response = TVJSONResponseSerializer::serializer();
    auto types = response->acceptableContentTypes().value_or(std::set<std::string>{});
    types.insert({"application/json", "text/json", "text/javascript", "text/html", "text/plain",
                  "application/atom+xml", "application/xml", "text/xml"});
    response->setAcceptableContentTypes(std::move(types));
    manager->setResponseSerializer(response);

    // The door unit's certificate proves nothing, so the app's credentials
    // must not follow a redirect to wherever it points.
    manager->setTaskWillPerformHTTPRedirectionBlock(
        [](const auto&, const auto&, const auto&, const platform::URLRequest& next) {
            platform::URLRequest stripped = next;
            stripped.setValue(std::nullopt, "Authorization");
            return std::optional<platform::URLRequest>(std::move(stripped));
        });

    platform::Dictionary query;
    if (auto user = info->userInfo(); user && user->user_id()) query.set("user_id", *user->user_id());
    query.set("room_id", *roomId);

    std::string url = "https://" + *gateway + ":" + std::to_string(doorUnitPort()) + kDoorPath;
    manager->GET(
        url, platform::Value(std::move(query)),
        [completion](const auto&, const auto&) {
            if (completion) completion(true, nullptr);
        },
        [completion](const auto&, const platform::ErrorPtr& error) {
            fail(completion, error ? error->code() : -1, std::nullopt);
        });
    // Let the manager go once its task runs: the task still completes.
    manager->invalidateSessionCancelingTasks(false);
}

}  // namespace pellix
