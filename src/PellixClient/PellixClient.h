// PellixClient: the client facade, one object per process from the first
// registration call on.
//
// On creation it starts observing "PellixSDKClientInitUserInfo" (a user
// record became available: the SIP account and the MQTT connection start
// from it) and "PellixSDKClientLogout" (the resident logged out: calls end,
// MQTT closes, SIP unregisters), so registration creates it before any user
// record can be posted. Observers run on the posting thread.
//
// It is the MQTT manager's delegate: door calls, remote hang-ups and notices
// reach the host's PellixClientDelegate from here. It holds the little call
// state those events consult, and the call time-out: one one-shot timer of
// callOutTimerNumber() seconds on the main run loop (the process clock, so a
// test's manual clock drives it). The timer is stopped at logout and whenever
// the call data is given up by a hang-up, a refusal or a time-out, so a stale
// timer never reports a hang-up for, or hangs up, a later call.
//
// Thread-safety: main thread only, like the events that drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PellixClient/PellixClientDelegate.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"
#include "PellixMQTTManager/PellixMQTTDelegate.h"
#include "PellixSipCallManager/PellixSipCallDelegate.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace platform {
class Timer;
}

class PellixClient : public PellixMQTTDelegate, public PellixSipCallDelegate {
public:
    static constexpr const char* kInitUserInfoNotification = "PellixSDKClientInitUserInfo";
    static constexpr const char* kLogoutNotification = "PellixSDKClientLogout";
    static constexpr const char* kTokenInvalideNotification = "PellixSDKNotificationOfTokenInvalide";
    // Seconds before an unanswered call is given up.
    static constexpr std::int64_t kCallOutTimerNumber = 30;
    // Delay between the SIP registration and the MQTT connection of a login.
    static constexpr double kMqttConnectDelay = 0.5;

    static const std::shared_ptr<PellixClient>& sharedInstance();
    // Creates the facade if needed; true when the session holds a user record.
    static bool isPellixSDKLogin();

    // The host's delegates, held weakly.
    static void registClientDelegate(std::weak_ptr<PellixClientDelegate> delegate);
    static void removeClientDelegate();
    static void registCallManagerDelegate(std::weak_ptr<PellixCallManagerDelegate> delegate);
    static void removeCallManagerDelegate();

    // Runs `handler` on every "PellixSDKNotificationOfTokenInvalide", whoever
    // posts it, on the posting thread. `observer` owns the registration:
    // NotificationCenter::defaultCenter().removeObserver(observer) ends it.
    static void addTokenInvalideObserver(const void* observer,
                                         std::function<void(const platform::Notification&)> handler);

    // Ends the call in hand: the SIP call when one exists, else withdraws a
    // family call this device placed; stops the time-out, resets the call data.
    static void hangupCurrentCall();
    // Refuses the call in hand; nothing is published.
    static void rejectCurrentCall();
    static bool isExistCall();
    static bool isCalling();

    std::int64_t callOutTimerNumber() const { return callOutTimerNumber_; }
    // 0 room-to-room, 1 door station, -1 none (after a reset).
    std::int64_t makeCallType() const { return makeCallType_; }
    const std::optional<std::string>& receiveCallToRoomID() const { return receiveCallToRoomID_; }
    bool isHTTPMakeCallOther() const { return isHTTPMakeCallOther_; }
    bool callTimeOutTimerRunning() const { return callTimeOutTimer_ != nullptr; }

    // PellixMQTTDelegate
    void mqttConnectedSuccess() override;
    void mqttConnectedClosed() override;
    void mqttConnectError(platform::ErrorPtr error) override;
    void mqttConnectRefused(platform::ErrorPtr error) override;
    void doorIncomingMessage(std::shared_ptr<PellixDoorCallModel> call) override;
    void hangupMessage() override;
    void propertyNoticeMessage(std::shared_ptr<PellixPropertyNotice> notice) override;
    void authorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange> change) override;

    // PellixSipCallDelegate: call ends stop the time-out and reset the call
    // data, a connection stops the time-out; each event the host implements
    // is forwarded to its PellixCallManagerDelegate.
    void sipRegistrationSuccess() override;
    void sipRegistrationFailed(std::int64_t code, const std::optional<std::string>& message) override;
    void sipTheCallIsCanceledDirection(std::int64_t direction) override;
    void sipCallFailedOrWrong(std::int64_t code, const std::optional<std::string>& message) override;
    void sipTheCallWasRejected(std::int64_t code, const std::optional<std::string>& message) override;
    void sipCallConnectionIsBeingEstablished() override;
    void sipTheCalledPartyRings() override;
    void sipTheCallIsConnectedDirection(std::int64_t direction, bool supportVideo, bool supportData) override;
    void sipTheCallEndsDirection(std::int64_t direction) override;
    void sipACallPauseIsBeingSetDirection(std::int64_t direction) override;
    void sipTheCallIsPausedDirection(std::int64_t direction) override;
    void sipSettingUpTerminationCallPauseDirection(std::int64_t direction) override;
    void sipTerminatedCallPauseResumeCallDirection(std::int64_t direction) override;
    void sipCallRemoteSettingsAreBeingUpdated() override;
    void sipCallRemoteSettingsHaveBeenUpdated() override;
    void sipCallTransferIsAcceptedDirection(std::int64_t direction) override;
    void sipCallForwardingIsRejectedDirection(std::int64_t direction) override;
    void sipVoiceMediaStreamReady() override;
    void sipVideoMediaStreamReady() override;
    void sipDataMediaStreamReady() override;
    void sipRemoteVideoScreenSizeChangeWidth(std::int64_t width, std::int64_t height) override;
    void sipRemoteVideoFps(std::int64_t fps, std::int64_t bitrate) override;
    void sipLocalVideoFps(std::int64_t fps, std::int64_t bitrate) override;
    void sipReceiveRemoteSwitchVideoModeToAudioMode() override;

    PellixClient(const PellixClient&) = delete;
    PellixClient& operator=(const PellixClient&) = delete;
    ~PellixClient() override;

private:
    PellixClient();
    void setupPellixClientData();
    // The handlers of the two notifications.
    void initPellixSDKWithUserInfo(const std::shared_ptr<PellixInitUserInfo>& userInfo);
    void logoutCurrentAccount();

    static void clearPellixClientCallData();
    void startCallTimeOutTimer();
    void endCallTimeOutTimer();
    void callTimeOutEnd();

    // The SIP call as the call manager sees it: whether one exists and its
    // state (6 connected).
    static bool sipCallExists();
    static std::int64_t sipCallStatus();

    std::shared_ptr<PellixClientDelegate> clientDelegate() const { return clientDelegate_.lock(); }
    // Sends `send` to the host's call delegate when it implements `method`.
    template <typename Send>
    void forward(PellixCallManagerDelegate::Method method, Send send) const {
        if (const auto delegate = callManagerDelegate_.lock(); delegate && delegate->implements(method)) send(*delegate);
    }
    void endOfCall();

    std::int64_t callOutTimerNumber_ = 0;
    std::int64_t makeCallType_ = 0;
    bool isHTTPMakeCallOther_ = false;
    std::optional<std::string> receiveCallToRoomID_;
    std::shared_ptr<platform::Timer> callTimeOutTimer_;
    std::weak_ptr<PellixClientDelegate> clientDelegate_;
    std::weak_ptr<PellixCallManagerDelegate> callManagerDelegate_;
    platform::NotificationCenter::Token userInfoObserver_ = 0;
    platform::NotificationCenter::Token logoutObserver_ = 0;
};

}  // namespace pellix
