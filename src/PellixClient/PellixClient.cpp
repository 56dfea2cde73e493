#include "PellixClient/PellixClient.h"

#include "PellixProxyInfo/PellixProxyInfo.h"

namespace pellix {

const std::shared_ptr<PellixClient>& PellixClient::sharedInstance() {
    static const std::shared_ptr<PellixClient> instance(new PellixClient());
    return instance;
}

bool PellixClient::isPellixSDKLogin() {
    sharedInstance();
    return PellixProxyInfo::sharedInstance()->userInfo() != nullptr;
}

PellixClient::PellixClient() { setupPellixClientData(); }

void PellixClient::setupPellixClientData() {
    callOutTimerNumber_ = kCallOutTimerNumber;
    auto& center = platform::NotificationCenter::defaultCenter();
    // The facade lives for the process, so the observers may hold it plainly.
    userInfoObserver_ = center.addObserver(kInitUserInfoNotification, nullptr, nullptr,
                                           [this](const platform::Notification& note) {
                                               initPellixSDKWithUserInfo(
                                                   std::static_pointer_cast<PellixInitUserInfo>(note.object()));
                                           });
    logoutObserver_ = center.addObserver(kLogoutNotification, nullptr, nullptr,
                                         [this](const platform::Notification&) { logoutCurrentAccount(); });
}

void PellixClient::initPellixSDKWithUserInfo(const std::shared_ptr<PellixInitUserInfo>&) {
    // SIP registration and the MQTT connection are started here once the
    // call managers join the library.
}

void PellixClient::logoutCurrentAccount() {
    // Calls, MQTT and SIP are torn down here once the call managers join the
    // library.
}

}  // namespace pellix
