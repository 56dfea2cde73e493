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

void PellixClient::hangupCurrentCall() {
    sharedInstance()->endCallTimeOutTimer();
    clearPellixClientCallData();
}

void PellixClient::rejectCurrentCall() {
    sharedInstance()->endCallTimeOutTimer();
    clearPellixClientCallData();
}

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

}  // namespace pellix
