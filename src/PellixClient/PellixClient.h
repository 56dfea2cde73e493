// PellixClient: the client facade, one object per process from the first
// registration call on.
//
// On creation it starts observing "PellixSDKClientInitUserInfo" (a user
// record became available: the SIP account and the MQTT connection start
// from it) and "PellixSDKClientLogout" (the resident logged out: calls end,
// MQTT closes, SIP unregisters), so registration creates it before any user
// record can be posted. Observers run on the posting thread.
#pragma once

#include <cstdint>
#include <memory>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"
#include "platform/NotificationCenter.h"

namespace pellix {

class PellixClient {
public:
    static constexpr const char* kInitUserInfoNotification = "PellixSDKClientInitUserInfo";
    static constexpr const char* kLogoutNotification = "PellixSDKClientLogout";
    // Seconds before an unanswered outgoing call is given up.
    static constexpr std::int64_t kCallOutTimerNumber = 30;

    static const std::shared_ptr<PellixClient>& sharedInstance();
    // Creates the facade if needed; true when the session holds a user record.
    static bool isPellixSDKLogin();

    std::int64_t callOutTimerNumber() const { return callOutTimerNumber_; }

    PellixClient(const PellixClient&) = delete;
    PellixClient& operator=(const PellixClient&) = delete;

private:
    PellixClient();
    void setupPellixClientData();
    // The handlers of the two notifications.
    void initPellixSDKWithUserInfo(const std::shared_ptr<PellixInitUserInfo>& userInfo);
    void logoutCurrentAccount();

    std::int64_t callOutTimerNumber_ = 0;
    platform::NotificationCenter::Token userInfoObserver_ = 0;
    platform::NotificationCenter::Token logoutObserver_ = 0;
};

}  // namespace pellix
