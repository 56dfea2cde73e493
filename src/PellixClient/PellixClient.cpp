#include "PellixClient/PellixClient.h"

#include "PellixLog/PellixLog.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"

namespace pellix {

namespace {
// The SIP state of a connected call.
constexpr std::int64_t kSipCallStateConnected = 6;

std::string errorText(const platform::ErrorPtr& error) { return error ? error->description() : std::string(); }
}  // namespace

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
    // SIP registration joins here with the SIP call manager. MQTT follows a
    // moment later, as the registration's own start-up settles first.
    platform::DispatchQueue::main()->after(kMqttConnectDelay, [userInfo] {
        PellixMQTTManager::setDelegate(sharedInstance());
        PellixMQTTManager::conenctWithTopics(userInfo->topic(), userInfo->sip_no());
    });
}

void PellixClient::logoutCurrentAccount() {
    clearPellixClientCallData();
    endCallTimeOutTimer();
    PellixMQTTManager::clearCurrentSession();
}

// The SIP call manager answers these once it joins the facade; until then
// no SIP call exists.
bool PellixClient::sipCallExists() { return false; }
std::int64_t PellixClient::sipCallStatus() { return 0; }
bool PellixClient::isExistCall() { return sipCallExists(); }
bool PellixClient::isCalling() { return sipCallExists() && sipCallStatus() == kSipCallStateConnected; }

void PellixClient::hangupCurrentCall() { sharedInstance()->endOfCall(); }

void PellixClient::rejectCurrentCall() { sharedInstance()->endOfCall(); }

void PellixClient::clearPellixClientCallData() {
    auto& self = *sharedInstance();
    self.makeCallType_ = -1;
    self.receiveCallToRoomID_.reset();
    self.isHTTPMakeCallOther_ = false;
    PellixMqttMessageHandle::sharedInstance()->clearTransaction();
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
    if (sipCallExists()) return;
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

void PellixClient::endOfCall() {
    endCallTimeOutTimer();
    clearPellixClientCallData();
}

void PellixClient::sipRegistrationSuccess() {
    forward(CM::CallDidRegistrationSuccess, [](Host& h) { h.callDidRegistrationSuccess(); });
}
void PellixClient::sipRegistrationFailed(std::int64_t code, const std::optional<std::string>& message) {
    forward(CM::CallDidRegistrationFailed, [&](Host& h) { h.callDidRegistrationFailed(code, message); });
}
void PellixClient::sipTheCallIsCanceledDirection(std::int64_t) {
    endOfCall();
    forward(CM::CallDidTheCallIsCanceled, [](Host& h) { h.callDidTheCallIsCanceled(); });
}
void PellixClient::sipCallFailedOrWrong(std::int64_t code, const std::optional<std::string>& message) {
    endOfCall();
    forward(CM::CallDidCallFailedOrWrong, [&](Host& h) { h.callDidCallFailedOrWrong(code, message); });
}
void PellixClient::sipTheCallWasRejected(std::int64_t code, const std::optional<std::string>& message) {
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
    endCallTimeOutTimer();
    forward(CM::CallDidTheCallIsConnected,
            [&](Host& h) { h.callDidTheCallIsConnectedSupportVideo(supportVideo, supportData); });
}
void PellixClient::sipTheCallEndsDirection(std::int64_t) {
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
