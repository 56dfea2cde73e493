// PellixClient: the client facade, one object per process from the first
// registration call on.
//
// On creation it starts observing "PellixSDKClientInitUserInfo" (a user
// record became available: the SIP account and the MQTT connection start
// from it) and "PellixSDKClientLogout" (the resident logged out: a SIP call
// is hung up, MQTT closes, SIP unregisters), so registration creates it before any user
// record can be posted. Starting, it hands the data manager its hooks (the
// image tool, the OCR reader, the MQTT manager's resubscription), and it
// defines PellixDataManager::registSDKWithAppId, the step that starts it.
// Observers run on the posting thread.
//
// It is the MQTT manager's delegate: door calls, remote hang-ups and notices
// reach the host's PellixClientDelegate from here. It is the SIP call
// manager's delegate too: SIP registration, call progress and media reach the
// host's PellixCallManagerDelegate. A door call is answered by calling the
// door station's SIP number; a family (room-to-room) call is placed through
// the platform, whose SIP leg then reaches this device as an incoming call
// that is answered at once. It holds the little call state those events
// consult, and the call time-out: one one-shot timer of
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
#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallRecords.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"
#include "PellixMQTTManager/PellixMQTTDelegate.h"
#include "PellixSipCallManager/PellixSipCallDelegate.h"
#include "PellixVideoView/PellixVideoView.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace platform {
class Timer;
}

class PellixClient : public PellixMQTTDelegate, public PellixSipCallDelegate {
public:
    // The data manager posts these two, so their names are declared there.
    static constexpr const char* kInitUserInfoNotification = kPellixSDKClientInitUserInfoNotification;
    static constexpr const char* kLogoutNotification = kPellixSDKClientLogoutNotification;
    static constexpr const char* kTokenInvalideNotification = "PellixSDKNotificationOfTokenInvalide";
    // Seconds before an unanswered call is given up.
    static constexpr std::int64_t kCallOutTimerNumber = 30;
    // Delay between the SIP registration and the MQTT connection of a login.
    static constexpr double kMqttConnectDelay = 0.5;
    // Lifetime of the SIP registration, seconds.
    static constexpr std::int64_t kSipExpire = 1800;

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

    // ---- placing and answering calls
    // Media call types: 1 audio only, 2 audio and video. Views and camera
    // orientation mean what the SIP call manager makes of them.

    // Places a family (room-to-room) call from `fromRoomID` to the room
    // numbered `toRoomNo` through the platform. Once the platform accepts it
    // the time-out starts, and the call's SIP leg, arriving as an incoming
    // SIP call, is answered at once with these settings. A refusal by the
    // platform or the network reaches `failure` once, and the call is given
    // up.
    using FailureBlock = std::function<void(const PellixErrorPtr& error)>;
    static void makeEachFamilyAccessCallWithMediaCallType(std::int64_t mediaCallType, bool localMicrophoneEnable,
                                                          bool localSpeakerEnable,
                                                          std::int64_t localCameraOrientation,
                                                          std::shared_ptr<PellixVideoView> localVideoView,
                                                          std::shared_ptr<PellixVideoView> remoteVideoView,
                                                          const PellixText& fromRoomID, const PellixText& toRoomNo,
                                                          FailureBlock failure);
    // Calls the door station `remoteCallerNO` (microphone and speaker on, no
    // local view) and starts the time-out.
    static void makeDoorCallWithMediaCallType(std::int64_t mediaCallType, const std::string& remoteCallerNO,
                                              std::shared_ptr<PellixVideoView> remoteVideoView);
    // Answers a room-to-room call by calling the caller's SIP number.
    static void answerEachFamilyAccessCallMediaCallType(std::int64_t mediaCallType, bool localMicrophoneEnable,
                                                        bool localSpeakerEnable, std::int64_t localCameraOrientation,
                                                        const std::string& remoteCallerNO,
                                                        std::shared_ptr<PellixVideoView> localVideoView,
                                                        std::shared_ptr<PellixVideoView> remoteVideoView);
    // Answers the door call the host was told of (callDidReceiveDoor) by
    // calling the door station `remoteCallerNO`, its doorCallerNO(). The
    // time-out of the incoming door call keeps running until the call
    // connects.
    static void answerDoorMediaCallType(std::int64_t mediaCallType, const std::string& remoteCallerNO,
                                        std::shared_ptr<PellixVideoView> remoteVideoView);

    // Ends the call in hand: the SIP call when one exists, else withdraws a
    // family call this device placed ("hangUpCall" with an empty "toSipNO" on
    // the called room's topic); stops the time-out, resets the call data.
    static void hangupCurrentCall();
    // Refuses the call in hand (603 on an existing SIP call); nothing is
    // published; stops the time-out, resets the call data.
    static void rejectCurrentCall();
    // A SIP call object exists.
    static bool isExistCall();
    // A SIP call exists and is connected.
    static bool isCalling();

    // ---- the call in hand; each false without a current call
    static bool switchMicrophone(bool on);
    static bool switchSpeaker(bool on);
    static bool switchCameraDirection();
    // Stops sending video and tells the peer (DTMF "7").
    static bool switchVideoModeToAudioMode();

    std::int64_t callOutTimerNumber() const { return callOutTimerNumber_; }
    // 0 room-to-room, 1 door station, -1 none (after a reset).
    std::int64_t makeCallType() const { return makeCallType_; }
    const std::optional<std::string>& receiveCallToRoomID() const { return receiveCallToRoomID_; }
    bool isHTTPMakeCallOther() const { return isHTTPMakeCallOther_; }
    bool callTimeOutTimerRunning() const { return callTimeOutTimer_ != nullptr; }
    // The platform's record of the family call this device placed, until
    // the call data is reset.
    const std::shared_ptr<PellixCall>& pellixCallModel() const { return pellixCallModel_; }

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
    // is forwarded to its PellixCallManagerDelegate. A new SIP call is not
    // reported: while a family call placed here is pending, its incoming SIP
    // leg is answered, once.
    void sipNewCallDirection(std::int64_t direction, std::int64_t incomingCallType,
                             const std::optional<std::string>& callerSipID,
                             const std::optional<std::string>& remoteCallName) override;
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
    // The end of a call the host never heard of: nothing to reset or report.
    bool endOfUntoldCall();

    std::shared_ptr<PellixClientDelegate> clientDelegate() const { return clientDelegate_.lock(); }
    // Sends `send` to the host's call delegate when it implements `method`.
    template <typename Send>
    void forward(PellixCallManagerDelegate::Method method, Send send) const {
        if (const auto delegate = callManagerDelegate_.lock(); delegate && delegate->implements(method)) send(*delegate);
    }
    void endOfCall();

    // The settings of the pending family call, for answering its SIP leg.
    std::int64_t httpMakeCallMediaCallType_ = -1;
    bool httpMakeCallLocalMicrophoneEnable_ = false;
    bool httpMakeCallLocalSpeakerEnable_ = false;
    std::int64_t httpMakeCallLocalCameraOrientation_ = 0;
    std::shared_ptr<PellixVideoView> httpMakeCallLocalVideoView_;
    std::shared_ptr<PellixVideoView> httpMakeCallRemoteVideoView_;
    // The pending family call's SIP leg has been answered: a second incoming
    // call is not taken for it.
    bool httpMakeCallAnswered_ = false;
    // The call manager's current call is a caller that only rings here and
    // that the host was never told of: its end is not the host's news.
    bool untoldCallCurrent_ = false;

    // Counts logins and logouts: the delayed MQTT connect of a login that a
    // logout overtook is dropped.
    std::uint64_t loginGeneration_ = 0;
    std::int64_t callOutTimerNumber_ = 0;
    std::int64_t makeCallType_ = 0;
    bool isHTTPMakeCallOther_ = false;
    std::shared_ptr<PellixCall> pellixCallModel_;
    std::optional<std::string> receiveCallToRoomID_;
    std::shared_ptr<platform::Timer> callTimeOutTimer_;
    std::weak_ptr<PellixClientDelegate> clientDelegate_;
    std::weak_ptr<PellixCallManagerDelegate> callManagerDelegate_;
    platform::NotificationCenter::Token userInfoObserver_ = 0;
    platform::NotificationCenter::Token logoutObserver_ = 0;
};

}  // namespace pellix
