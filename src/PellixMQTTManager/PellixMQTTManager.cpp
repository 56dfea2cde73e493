#include "PellixMQTTManager/PellixMQTTManager.h"

#include "MQTTClient/MQTTCFSocketTransport.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixEachFamilyAccessCallModel.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "platform/Application.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Timer.h"

namespace pellix {

const std::shared_ptr<PellixMQTTManager>& PellixMQTTManager::sharedInstance() {
    // Never destroyed: no exit-time teardown races the main loop.
    static const auto* instance = new std::shared_ptr<PellixMQTTManager>(new PellixMQTTManager());
    return *instance;
}

PellixMQTTManager::PellixMQTTManager() { observeApplication(); }

// Never runs for the shared instance; kept so that observers never outlive
// their owner.
PellixMQTTManager::~PellixMQTTManager() { platform::NotificationCenter::defaultCenter().removeObserver(this); }

void PellixMQTTManager::observeApplication() {
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserverWithOwner(this, platform::Application::DidBecomeActiveNotification, nullptr,
                                [this](const platform::Notification&) { applicationDidBecomeActive(); });
    center.addObserverWithOwner(this, platform::Application::WillResignActiveNotification, nullptr,
                                [this](const platform::Notification&) { applicationWillResignActive(); });
}

void PellixMQTTManager::setDelegate(std::weak_ptr<PellixMQTTDelegate> delegate) {
    sharedInstance()->delegate_ = std::move(delegate);
}

void PellixMQTTManager::conenctWithTopics(const PellixTextList& topics, const PellixText& clientID) {
    clearCurrentSession();
    const auto& self = sharedInstance();
    self->topics_ = topics.value_or(std::vector<std::string>{});
    self->isNeedMqttSessionReconnect_ = true;

    const auto& config = PellixGlobleConfig::sharedInstance();
    auto transport = MQTTCFSocketTransport::create();
    transport->setHost(config->mqttServer());
    transport->setPort(config->mqttPort());

    auto session = MQTTSession::initWithClientId(clientID);
    session->setTransport(transport);
    session->setClientId(clientID);
    session->setKeepAliveInterval(kKeepAliveInterval);
    session->setCleanSessionFlag(false);
    session->setWillFlag(false);
    session->setWillTopic(std::nullopt);
    session->setWillMsg(std::nullopt);
    session->setWillQoS(0);
    session->setWillRetainFlag(false);
    session->setProtocolLevel(kProtocolLevel);
    session->setDelegate(self);
    self->session_ = std::move(session);
    connectMQTTAction();
}

void PellixMQTTManager::resubcribleTopics(const PellixTextList& topics) {
    const auto& self = sharedInstance();
    self->topics_ = topics;
    if (self->topics_ && !self->topics_->empty()) self->scheduleSubscribe();
}

void PellixMQTTManager::connectMQTTAction() {
    const auto& self = sharedInstance();
    self->isNeedMqttSessionReconnect_ = true;
    // Kept alive across connect(): a delegate call from inside it may drop the session.
    if (const std::shared_ptr<MQTTSession> session = self->session_) {
        session->setDelegate(self);
        session->connect();
    }
}

void PellixMQTTManager::reconnectMQTT() {
    const auto& self = sharedInstance();
    if (!self->session_ || self->session_->clientId().empty()) return;
    self->isNeedMqttSessionReconnect_ = true;
    connectMQTTAction();
}

void PellixMQTTManager::disconnect() {
    const auto& self = sharedInstance();
    self->isNeedMqttSessionReconnect_ = false;
    if (const std::shared_ptr<MQTTSession> session = self->session_) session->disconnect();
}

void PellixMQTTManager::clearCurrentSession() {
    const auto& self = sharedInstance();
    self->isNeedMqttSessionReconnect_ = false;
    // Kept alive to the end: disconnect() reports the close from inside.
    const std::shared_ptr<MQTTSession> session = self->session_;
    if (session && self->topics_ && !self->topics_->empty()) session->unsubscribeTopics(*self->topics_);
    if (session && session->status() == MQTTSessionStatusConnected) disconnect();
    self->invalidateReconnectTimer();
    if (session) session->setDelegate({});
    self->session_.reset();
    self->topics_.reset();
}

void PellixMQTTManager::publishMessage(const platform::Bytes& data, const std::string& topic) {
    sharedInstance()->publishMessage(data, topic, 0);
}

void PellixMQTTManager::publishMessage(const platform::Bytes& data, const std::string& topic, std::uint8_t qos) {
    if (!session_) return;
    switch (qos) {
    case 1: session_->publishDataAtLeastOnce(data, topic); break;
    case 2: session_->publishDataExactlyOnce(data, topic); break;
    default: session_->publishDataAtMostOnce(data, topic); break;
    }
}

void PellixMQTTManager::publishCallEnd(const PellixText& sipNO, const PellixText& roomID,
                                       const PellixText& transactionID) {
    if (!roomID) return;
    if (!sharedInstance()->session_ || !transactionID || transactionID->empty()) return;
    // A wildcard topic in a PUBLISH makes the broker drop the connection.
    std::optional<std::string> topic = PellixMqttMessageHandle::roomTopic(*roomID);
    if (!topic) return;
    platform::Bytes message = PellixMqttMessageHandle::hangUpCallMessage(sipNO.value_or(""), *transactionID);
    platform::DispatchQueue::main()->async([message = std::move(message), topic = std::move(*topic)] {
        // The session present when the block runs: a logout in between publishes nothing.
        if (const std::shared_ptr<MQTTSession> session = sharedInstance()->session_) {
            session->publishDataAtMostOnce(message, topic);
        }
    });
}

void PellixMQTTManager::publishCallConnected(const PellixText& sipNO, const PellixText& roomID,
                                             const PellixText& transactionID) {
    publishCallEnd(sipNO, roomID, transactionID);
}

platform::Dictionary PellixMQTTManager::subscriptionRequest(const std::vector<std::string>& topics) {
    platform::Dictionary request;
    for (const std::string& topic : topics) request.set(topic, "2");
    return request;
}

void PellixMQTTManager::scheduleSubscribe() {
    platform::DispatchQueue::main()->async([] {
        const auto& self = sharedInstance();
        if (!self->session_ || !self->topics_ || self->topics_->empty()) return;
        self->session_->subscribeToTopics(subscriptionRequest(*self->topics_),
                                          [](platform::ErrorPtr, const std::optional<platform::Array>&) {});
    });
}

void PellixMQTTManager::invalidateReconnectTimer() {
    if (!pxMQTTReconnectTimer_) return;
    pxMQTTReconnectTimer_->invalidate();
    pxMQTTReconnectTimer_.reset();
}

void PellixMQTTManager::connected(MQTTSession&) {
    invalidateReconnectTimer();
    if (topics_ && !topics_->empty()) scheduleSubscribe();
    if (auto d = delegate()) d->mqttConnectedSuccess();
}

void PellixMQTTManager::connectionClosed(MQTTSession&) {
    invalidateReconnectTimer();
    if (isNeedMqttSessionReconnect_) {
        pxMQTTReconnectTimer_ =
            platform::Timer::scheduled(kReconnectInterval, false, [](platform::Timer&) { sharedInstance()->_timeConnectMQTT(); });
    }
    if (auto d = delegate()) d->mqttConnectedClosed();
}

void PellixMQTTManager::connectionError(MQTTSession&, platform::ErrorPtr error) {
    if (auto d = delegate()) d->mqttConnectError(std::move(error));
}

void PellixMQTTManager::connectionRefused(MQTTSession&, platform::ErrorPtr error) {
    if (auto d = delegate()) d->mqttConnectRefused(std::move(error));
}

void PellixMQTTManager::newMessage(MQTTSession&, const platform::Bytes& data, const std::string&, std::uint8_t, bool,
                                   std::uint32_t) {
    PellixMqttMessageHandle::sharedInstance()->handleMessageWithMqttPayload(
        data, [this](std::int64_t type, const std::shared_ptr<PellixBaseModel>& object) {
            const auto d = delegate();
            if (!d) return;
            switch (type) {
            case PellixMqttMessageHandle::kResultFamilyCall:
                if (auto call = std::dynamic_pointer_cast<PellixEachFamilyAccessCallModel>(object)) d->appIncomingMessage(call);
                break;
            case PellixMqttMessageHandle::kResultDoorCall:
                if (auto call = std::dynamic_pointer_cast<PellixDoorCallModel>(object)) d->doorIncomingMessage(call);
                break;
            case PellixMqttMessageHandle::kResultHangUp: d->hangupMessage(); break;
            case PellixMqttMessageHandle::kResultPropertyNotice:
                if (auto notice = std::dynamic_pointer_cast<PellixPropertyNotice>(object)) d->propertyNoticeMessage(notice);
                break;
            case PellixMqttMessageHandle::kResultAuthorizationChange:
                if (auto change = std::dynamic_pointer_cast<PellixAuthorizationChange>(object)) {
                    d->authorizationChangeMessage(change);
                }
                break;
            default: break;
            }
        });
}

void PellixMQTTManager::applicationDidBecomeActive() {
    if (session_) reconnectMQTT();
}

void PellixMQTTManager::applicationWillResignActive() {
    if (session_) disconnect();
}

void PellixMQTTManager::_timeConnectMQTT() {
    // Inactive or in the background: the next activation reconnects.
    if (platform::Application::sharedApplication().applicationState() != platform::Application::State::Active) return;
    reconnectMQTT();
}

}  // namespace pellix
