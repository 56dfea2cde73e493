#include "PellixClient/PellixClient.h"

#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PellixLog/PellixLog.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "PellixOCRAPI/PellixOCRAPIManager.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "PellixSipCallManager/PellixSipCallManager.h"
#include "platform/Device.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"

namespace pellix {

namespace {
// The SIP state of a connected call.
constexpr std::int64_t kSipCallStateConnected = 6;

std::string errorText(const platform::ErrorPtr& error) { return error ? error->description() : std::string(); }

// What the data manager reaches above itself through.
PellixDataManagerHooks dataManagerHooks() {
    PellixDataManagerHooks hooks;
    hooks.configureImageTool = &PellixUploadAndDownloadImageTool::pellixUploadAndDownloadConfiguration;
    hooks.uploadImageData = &PellixUploadAndDownloadImageTool::uploadImageData;
    hooks.uploadImageDatas = &PellixUploadAndDownloadImageTool::uploadImageDatas;
    hooks.downloadWithImageObjectKey = &PellixUploadAndDownloadImageTool::downloadWithImageObjectKey;
    hooks.resubscribeTopics = &PellixMQTTManager::resubcribleTopics;
    hooks.detectIdentifyCard = &PellixOCRAPIManager::detectionIdentifyCardImageWithImageData;
    return hooks;
}
}  // namespace

// Registration is where the SDK starts: the facade first, so that it
// observes the user record registration may post and has handed the data
// manager its hooks, then the data manager's part.
void PellixDataManager::registSDKWithAppId(const PellixText& appId, const PellixText& secretKey,
                                           const std::shared_ptr<PellixOptions>& options, Completion completion) {
    PellixClient::isPellixSDKLogin();
    PellixDataManagerPrivate::registSDKWithStartedClient(appId, secretKey, options, std::move(completion));
}

const std::shared_ptr<PellixClient>& PellixClient::sharedInstance() {
    static const std::shared_ptr<PellixClient> instance(new PellixClient());
    return instance;
}

bool PellixClient::isPellixSDKLogin() {
    sharedInstance();
    return PellixProxyInfo::sharedInstance()->userInfo() != nullptr;
}

PellixClient::PellixClient() { setupPellixClientData(); }

PellixClient::~PellixClient() = default;

void PellixClient::setupPellixClientData() {
    callOutTimerNumber_ = kCallOutTimerNumber;
    PellixDataManagerHooks::install(dataManagerHooks());
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

void PellixClient::registClientDelegate(std::weak_ptr<PellixClientDelegate> delegate) {
    sharedInstance()->clientDelegate_ = std::move(delegate);
}
void PellixClient::removeClientDelegate() { sharedInstance()->clientDelegate_.reset(); }
void PellixClient::registCallManagerDelegate(std::weak_ptr<PellixCallManagerDelegate> delegate) {
    sharedInstance()->callManagerDelegate_ = std::move(delegate);
}
void PellixClient::removeCallManagerDelegate() { sharedInstance()->callManagerDelegate_.reset(); }

void PellixClient::addTokenInvalideObserver(const void* observer,
                                            std::function<void(const platform::Notification&)> handler) {
    platform::NotificationCenter::defaultCenter().addObserverWithOwner(observer, kTokenInvalideNotification, nullptr,
                                                                        std::move(handler));
}

void PellixClient::initPellixSDKWithUserInfo(const std::shared_ptr<PellixInitUserInfo>& userInfo) {
    if (!userInfo) return;
    PellixSipCallManager::registrationDelegate(sharedInstance());
    // The registrar is "<sip_domain>:<udp_port>". A record without a domain
    // names no registrar: the domain stays empty and nothing is registered,
    // rather than registering at a made-up host.
    const auto& host = userInfo->sip_domain();
    const std::string domain = host && !host->empty() ? *host + ":" + userInfo->udp_port().value_or("") : "";
    PellixSipCallManager::registerSipAccount(userInfo->sip_no().value_or(""), "", userInfo->sip_password(), domain,
                                             false, "", 0, false, false, kSipExpire, "", true, 0, "", "0", "", "0",
                                             "", "");
    // MQTT follows a moment later, once the registration has started. A
    // logout (or a later login) in between wins: a session a logout closed
    // is not reopened.
    const auto login = ++loginGeneration_;
    platform::DispatchQueue::main()->after(kMqttConnectDelay, [userInfo, login] {
        if (sharedInstance()->loginGeneration_ != login) return;
        PellixMQTTManager::setDelegate(sharedInstance());
        PellixMQTTManager::conenctWithTopics(userInfo->topic(), userInfo->sip_no());
    });
}

void PellixClient::logoutCurrentAccount() {
    ++loginGeneration_;
    // The resident's call does not outlive the session, nor does a caller
    // still ringing.
    if (sipCallExists()) PellixSipCallManager::hangupCurrentCall();
    untoldCallCurrent_ = false;
    clearPellixClientCallData();
    endCallTimeOutTimer();
    PellixMQTTManager::clearCurrentSession();
    PellixSipCallManager::logoutSipAccount();
}

bool PellixClient::sipCallExists() { return PellixSipCallManager::isExistCall(); }
std::int64_t PellixClient::sipCallStatus() { return PellixSipCallManager::currentCallStatus(); }
bool PellixClient::isExistCall() { return PellixSipCallManager::isExistCall(); }
bool PellixClient::isCalling() { return PellixSipCallManager::isCalling(); }

bool PellixClient::switchMicrophone(bool on) { return PellixSipCallManager::switchMicrophone(on); }
bool PellixClient::switchSpeaker(bool on) { return PellixSipCallManager::switchSpeaker(on); }
bool PellixClient::switchCameraDirection() { return PellixSipCallManager::switchCameraDirection(); }
bool PellixClient::switchVideoModeToAudioMode() { return PellixSipCallManager::switchVideoModeToAudioMode(); }

void PellixClient::makeEachFamilyAccessCallWithMediaCallType(
    std::int64_t mediaCallType, bool localMicrophoneEnable, bool localSpeakerEnable,
    std::int64_t localCameraOrientation, std::shared_ptr<PellixVideoView> localVideoView,
    std::shared_ptr<PellixVideoView> remoteVideoView, const PellixText& fromRoomID, const PellixText& toRoomNo,
    FailureBlock failure) {
    auto& self = *sharedInstance();
    self.makeCallType_ = 0;
    self.isHTTPMakeCallOther_ = true;
    self.httpMakeCallAnswered_ = false;
    self.httpMakeCallMediaCallType_ = mediaCallType;
    self.httpMakeCallLocalMicrophoneEnable_ = localMicrophoneEnable;
    self.httpMakeCallLocalSpeakerEnable_ = localSpeakerEnable;
    self.httpMakeCallLocalCameraOrientation_ = localCameraOrientation;
    self.httpMakeCallLocalVideoView_ = std::move(localVideoView);
    self.httpMakeCallRemoteVideoView_ = std::move(remoteVideoView);
    const std::string callType = mediaCallType == PellixMediaCallTypeAudio ? "0" : "1";
    PellixDataManagerPrivate::makeCall(
        platform::Device::currentDevice().identifierForVendor(), fromRoomID, std::string(), toRoomNo, callType,
        [failure = std::move(failure)](const std::shared_ptr<PellixCall>& call, const PellixErrorPtr& error) {
            if (error) {
                if (failure) failure(error);
                clearPellixClientCallData();
                return;
            }
            sharedInstance()->pellixCallModel_ = call;
            sharedInstance()->startCallTimeOutTimer();
        });
}

void PellixClient::makeDoorCallWithMediaCallType(std::int64_t mediaCallType, const std::string& remoteCallerNO,
                                                 std::shared_ptr<PellixVideoView> remoteVideoView) {
    sharedInstance()->makeCallType_ = 1;
    PellixSipCallManager::makeCallWithCallType(1, mediaCallType, true, true, nullptr, 0, remoteCallerNO,
                                               std::move(remoteVideoView));
    sharedInstance()->startCallTimeOutTimer();
}

void PellixClient::answerEachFamilyAccessCallMediaCallType(std::int64_t mediaCallType, bool localMicrophoneEnable,
                                                           bool localSpeakerEnable,
                                                           std::int64_t localCameraOrientation,
                                                           const std::string& remoteCallerNO,
                                                           std::shared_ptr<PellixVideoView> localVideoView,
                                                           std::shared_ptr<PellixVideoView> remoteVideoView) {
    sharedInstance()->makeCallType_ = 0;
    PellixSipCallManager::makeCallWithCallType(0, mediaCallType, localMicrophoneEnable, localSpeakerEnable,
                                               std::move(localVideoView), localCameraOrientation, remoteCallerNO,
                                               std::move(remoteVideoView));
}

void PellixClient::answerDoorMediaCallType(std::int64_t mediaCallType, const std::string& remoteCallerNO,
                                           std::shared_ptr<PellixVideoView> remoteVideoView) {
    // The incoming door call's time-out keeps running: it ends the call if
    // the door station never connects.
    sharedInstance()->makeCallType_ = 1;
    PellixSipCallManager::makeCallWithCallType(1, mediaCallType, true, true, nullptr, 0, remoteCallerNO,
                                               std::move(remoteVideoView));
}

void PellixClient::hangupCurrentCall() {
    auto& self = *sharedInstance();
    // The host ends the call it knows of: a caller that only rings here,
    // unknown to the host, is left to its ringing time-out.
    if (sipCallExists() && !self.untoldCallCurrent_) {
        PellixSipCallManager::hangupCurrentCall();
    } else if (const auto call = self.pellixCallModel_) {
        // The family call's SIP leg has not arrived yet: withdraw the call on
        // the called room's topic so its devices stop ringing.
        PellixText room;
        if (!call->toRoomId().isNull()) room = call->toRoomId().description();
        PellixMQTTManager::publishCallEnd(std::string(), room, call->transactionId());
    }
    self.endOfCall();
}

void PellixClient::rejectCurrentCall() {
    if (!sharedInstance()->untoldCallCurrent_) PellixSipCallManager::rejectCurrentCall();
    sharedInstance()->endOfCall();
}

void PellixClient::clearPellixClientCallData() {
    auto& self = *sharedInstance();
    self.makeCallType_ = -1;
    self.pellixCallModel_.reset();
    self.receiveCallToRoomID_.reset();
    self.isHTTPMakeCallOther_ = false;
    PellixMqttMessageHandle::sharedInstance()->clearTransaction();
    self.httpMakeCallMediaCallType_ = -1;
    self.httpMakeCallLocalMicrophoneEnable_ = false;
    self.httpMakeCallLocalSpeakerEnable_ = false;
    self.httpMakeCallLocalCameraOrientation_ = 0;
    self.httpMakeCallLocalVideoView_.reset();
    self.httpMakeCallRemoteVideoView_.reset();
    self.httpMakeCallAnswered_ = false;
}

void PellixClient::startCallTimeOutTimer() {
    endCallTimeOutTimer();
    callTimeOutTimer_ = platform::Timer::create(static_cast<double>(callOutTimerNumber_), false,
                                                [](platform::Timer&) { sharedInstance()->callTimeOutEnd(); });
    platform::RunLoop::main()->addTimer(callTimeOutTimer_);
}

void PellixClient::endCallTimeOutTimer() {
    if (!callTimeOutTimer_) return;
    callTimeOutTimer_->invalidate();
    callTimeOutTimer_.reset();
}

void PellixClient::callTimeOutEnd() {
    callTimeOutTimer_.reset();
    PellixLog::debug("呼叫超时---了");
    // The call data goes first, as the host's hang-up notice may start anew.
    clearPellixClientCallData();
    hangupMessage();
}

void PellixClient::mqttConnectedSuccess() { PellixLog::debug("长连接-连接成功"); }
void PellixClient::mqttConnectedClosed() { PellixLog::debug("长连接-断开了"); }
void PellixClient::mqttConnectError(platform::ErrorPtr error) { PellixLog::debug("长连接-连接失败" + errorText(error)); }
void PellixClient::mqttConnectRefused(platform::ErrorPtr error) {
    PellixLog::debug("长连接-连接被拒" + errorText(error));
}

void PellixClient::doorIncomingMessage(std::shared_ptr<PellixDoorCallModel> call) {
    if (!call) return;
    const auto user = PellixProxyInfo::sharedInstance()->userInfo();
    if (user && call->doorCallerNO() == user->sip_no()) return;
    // A caller that only rings here, and that the host never heard of, does
    // not keep the door from the host; a call in progress does.
    if (PellixSipCallManager::hasLiveCall()) return;
    PellixLog::debug("远程推送-有新来电（门禁）");
    receiveCallToRoomID_ = call->appRoomID();
    const auto delegate = clientDelegate();
    if (delegate && delegate->implements(PellixClientDelegate::Method::CallDidReceiveDoor)) {
        delegate->callDidReceiveDoor(call);
        startCallTimeOutTimer();
    }
}

void PellixClient::hangupMessage() {
    if (sipCallExists() && sipCallStatus() == kSipCallStateConnected) return;
    PellixLog::debug("远程推送-收到挂断通知");
    if (const auto delegate = clientDelegate();
        delegate && delegate->implements(PellixClientDelegate::Method::CallDidHangupMessage)) {
        delegate->callDidHangupMessage();
    }
    clearPellixClientCallData();
    if (sipCallStatus() != kSipCallStateConnected) hangupCurrentCall();
}

void PellixClient::propertyNoticeMessage(std::shared_ptr<PellixPropertyNotice> notice) {
    const auto proxy = PellixProxyInfo::sharedInstance();
    if (!proxy->userInfo() || !proxy->token()) return;
    if (const auto delegate = clientDelegate();
        delegate && delegate->implements(PellixClientDelegate::Method::ReceivePropertyNoticeMessage)) {
        delegate->receivePropertyNoticeMessage(std::move(notice));
    }
}

void PellixClient::authorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange> change) {
    const auto proxy = PellixProxyInfo::sharedInstance();
    if (!proxy->userInfo() || !proxy->token()) return;
    if (const auto delegate = clientDelegate();
        delegate && delegate->implements(PellixClientDelegate::Method::ReceiveAuthorizationChangeMessage)) {
        delegate->receiveAuthorizationChangeMessage(std::move(change));
    }
}

using CM = PellixCallManagerDelegate::Method;
using Host = PellixCallManagerDelegate;

bool PellixClient::endOfUntoldCall() {
    // Whatever the host has in hand (a door call it was told of, say) is
    // not what ended.
    if (!untoldCallCurrent_) return false;
    untoldCallCurrent_ = false;
    return true;
}

void PellixClient::endOfCall() {
    endCallTimeOutTimer();
    clearPellixClientCallData();
}

void PellixClient::sipNewCallDirection(std::int64_t direction, std::int64_t, const std::optional<std::string>&,
                                       const std::optional<std::string>&) {
    // Only the family call's own SIP leg is taken: an incoming call, and
    // only the first one while the call is pending.
    const bool taken = isHTTPMakeCallOther_ && !httpMakeCallAnswered_ && direction == PellixSipCallDirectionIncoming;
    untoldCallCurrent_ = direction == PellixSipCallDirectionIncoming && !taken;
    if (!taken) return;
    httpMakeCallAnswered_ = true;
    PellixSipCallManager::answerSipCallWithMediaCallType(
        httpMakeCallMediaCallType_, httpMakeCallLocalMicrophoneEnable_, httpMakeCallLocalSpeakerEnable_,
        httpMakeCallLocalCameraOrientation_, httpMakeCallLocalVideoView_, httpMakeCallRemoteVideoView_);
}

void PellixClient::sipRegistrationSuccess() {
    forward(CM::CallDidRegistrationSuccess, [](Host& h) { h.callDidRegistrationSuccess(); });
}
void PellixClient::sipRegistrationFailed(std::int64_t code, const std::optional<std::string>& message) {
    forward(CM::CallDidRegistrationFailed, [&](Host& h) { h.callDidRegistrationFailed(code, message); });
}
void PellixClient::sipTheCallIsCanceledDirection(std::int64_t) {
    if (endOfUntoldCall()) return;
    endOfCall();
    forward(CM::CallDidTheCallIsCanceled, [](Host& h) { h.callDidTheCallIsCanceled(); });
}
void PellixClient::sipCallFailedOrWrong(std::int64_t code, const std::optional<std::string>& message) {
    if (endOfUntoldCall()) return;
    endOfCall();
    forward(CM::CallDidCallFailedOrWrong, [&](Host& h) { h.callDidCallFailedOrWrong(code, message); });
}
void PellixClient::sipTheCallWasRejected(std::int64_t code, const std::optional<std::string>& message) {
    if (endOfUntoldCall()) return;
    endOfCall();
    forward(CM::CallDidTheCallWasRejected, [&](Host& h) { h.callDidTheCallWasRejected(code, message); });
}
void PellixClient::sipCallConnectionIsBeingEstablished() {
    forward(CM::CallDidCallConnectionIsBeingEstablished, [](Host& h) { h.callDidCallConnectionIsBeingEstablished(); });
}
void PellixClient::sipTheCalledPartyRings() {
    forward(CM::CallDidTheCalledPartyRings, [](Host& h) { h.callDidTheCalledPartyRings(); });
}
void PellixClient::sipTheCallIsConnectedDirection(std::int64_t, bool supportVideo, bool supportData) {
    // An answered door call: the room's other devices stop ringing.
    if (!isHTTPMakeCallOther_ && makeCallType_ != -1) {
        PellixMQTTManager::publishCallConnected(PellixSipCallManager::getUserSipAccount(), receiveCallToRoomID_,
                                                PellixMqttMessageHandle::sharedInstance()->transcationID());
    }
    endCallTimeOutTimer();
    forward(CM::CallDidTheCallIsConnected,
            [&](Host& h) { h.callDidTheCallIsConnectedSupportVideo(supportVideo, supportData); });
}
void PellixClient::sipTheCallEndsDirection(std::int64_t) {
    if (endOfUntoldCall()) return;
    // An ended call's time-out would otherwise report a stray hang-up later.
    endOfCall();
    forward(CM::CallDidTheCallEnds, [](Host& h) { h.callDidTheCallEnds(); });
}
void PellixClient::sipACallPauseIsBeingSetDirection(std::int64_t) {
    forward(CM::CallDidACallPauseIsBeingSet, [](Host& h) { h.callDidACallPauseIsBeingSet(); });
}
void PellixClient::sipTheCallIsPausedDirection(std::int64_t) {
    forward(CM::CallDidTheCallIsPaused, [](Host& h) { h.callDidTheCallIsPaused(); });
}
void PellixClient::sipSettingUpTerminationCallPauseDirection(std::int64_t) {
    forward(CM::CallDidSettingUpTerminationCallPause, [](Host& h) { h.callDidSettingUpTerminationCallPause(); });
}
void PellixClient::sipTerminatedCallPauseResumeCallDirection(std::int64_t) {
    forward(CM::CallDidTerminatedCallPauseResume, [](Host& h) { h.callDidTerminatedCallPauseResume(); });
}
void PellixClient::sipCallRemoteSettingsAreBeingUpdated() {
    forward(CM::CallDidCallRemoteSettingsAreBeingUpdated,
            [](Host& h) { h.callDidCallRemoteSettingsAreBeingUpdated(); });
}
void PellixClient::sipCallRemoteSettingsHaveBeenUpdated() {
    forward(CM::CallDidCallRemoteSettingsHaveBeenUpdated,
            [](Host& h) { h.callDidCallRemoteSettingsHaveBeenUpdated(); });
}
void PellixClient::sipCallTransferIsAcceptedDirection(std::int64_t) {
    forward(CM::CallDidCallTransferIsAccepted, [](Host& h) { h.callDidCallTransferIsAccepted(); });
}
void PellixClient::sipCallForwardingIsRejectedDirection(std::int64_t) {
    forward(CM::CallDidCallForwardingIsRejected, [](Host& h) { h.callDidCallForwardingIsRejected(); });
}
void PellixClient::sipVoiceMediaStreamReady() {
    forward(CM::CallDidVoiceMediaStreamReady, [](Host& h) { h.callDidVoiceMediaStreamReady(); });
}
void PellixClient::sipVideoMediaStreamReady() {
    forward(CM::CallDidVideoMediaStreamReady, [](Host& h) { h.callDidVideoMediaStreamReady(); });
}
void PellixClient::sipDataMediaStreamReady() {
    forward(CM::CallDidDataMediaStreamReady, [](Host& h) { h.callDidDataMediaStreamReady(); });
}
void PellixClient::sipRemoteVideoScreenSizeChangeWidth(std::int64_t width, std::int64_t height) {
    forward(CM::CallDidRemoteVideoScreenSizeChange,
            [&](Host& h) { h.callDidRemoteVideoScreenSizeChangeWidth(width, height); });
}
void PellixClient::sipRemoteVideoFps(std::int64_t fps, std::int64_t bitrate) {
    forward(CM::CallDidRemoteVideoFps, [&](Host& h) { h.callDidRemoteVideoFps(fps, bitrate); });
}
void PellixClient::sipLocalVideoFps(std::int64_t fps, std::int64_t bitrate) {
    forward(CM::CallDidLocalVideoFps, [&](Host& h) { h.callDidLocalVideoFps(fps, bitrate); });
}
void PellixClient::sipReceiveRemoteSwitchVideoModeToAudioMode() {
    forward(CM::CallDidReceiveRemoteSwitchVideoModeToAudioMode,
            [](Host& h) { h.callDidReceiveRemoteSwitchVideoModeToAudioMode(); });
}

}  // namespace pellix
