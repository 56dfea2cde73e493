#include "MQTTClient/MQTTInMemoryPersistence.h"

#include <map>

#include "MQTTClient/MQTTInMemoryFlow.h"
#include "MQTTClient/MQTTLog.h"

namespace pellix {

namespace {

// client id -> incoming flag -> message id -> flow, shared by every store of
// this kind; created once, never released.
using IdMap = std::map<std::uint16_t, std::shared_ptr<MQTTInMemoryFlow>>;
using DirectionMap = std::map<bool, IdMap>;
struct ClientIds {
    std::recursive_mutex lock;
    std::map<std::string, DirectionMap> map;
};

ClientIds& clientIds() {
    static ClientIds* ids = new ClientIds();
    return *ids;
}

}  // namespace

std::shared_ptr<MQTTInMemoryPersistence> MQTTInMemoryPersistence::create() {
    return std::shared_ptr<MQTTInMemoryPersistence>(new MQTTInMemoryPersistence());
}

MQTTInMemoryPersistence::MQTTInMemoryPersistence() { clientIds(); }

MQTTFlowPtr MQTTInMemoryPersistence::createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                           std::uint16_t messageId) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto flow = std::make_shared<MQTTInMemoryFlow>();
    flow->setClientId(clientId);
    flow->setIncomingFlag(incomingFlag);
    flow->setMessageId(messageId);
    ids.map[clientId][incomingFlag][messageId] = flow;
    return flow;
}

MQTTFlowPtr MQTTInMemoryPersistence::storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                             const platform::Bytes& data, bool retainFlag,
                                                             std::uint8_t qos, std::uint16_t msgId, bool incomingFlag,
                                                             std::uint8_t commandType, double deadline) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    std::uint64_t n = allFlowsforClientId(clientId, incomingFlag).size();
    if (n > maxMessages()) return nullptr;
    auto flow = createFlowforClientId(clientId, incomingFlag, msgId);
    flow->setTopic(topic);
    flow->setData(data);
    flow->setRetainedFlag(retainFlag);
    flow->setQosLevel(qos);
    flow->setCommandType(commandType);
    flow->setDeadline(deadline);
    return flow;
}

std::vector<MQTTFlowPtr> MQTTInMemoryPersistence::allFlowsforClientId(const std::string& clientId, bool incomingFlag) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    std::vector<MQTTFlowPtr> flows;
    auto c = ids.map.find(clientId);
    if (c == ids.map.end()) return flows;
    auto d = c->second.find(incomingFlag);
    if (d == c->second.end()) return flows;
    flows.reserve(d->second.size());
    for (const auto& [id, flow] : d->second) flows.push_back(flow);  // the map keeps message-id order
    return flows;
}

MQTTFlowPtr MQTTInMemoryPersistence::flowforClientId(const std::string& clientId, bool incomingFlag,
                                                     std::uint16_t messageId) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto c = ids.map.find(clientId);
    if (c == ids.map.end()) return nullptr;
    auto d = c->second.find(incomingFlag);
    if (d == c->second.end()) return nullptr;
    auto f = d->second.find(messageId);
    return f == d->second.end() ? nullptr : f->second;
}

void MQTTInMemoryPersistence::deleteFlow(const MQTTFlowPtr& flow) {
    if (!flow) return;
    auto clientId = flow->clientId();
    auto incoming = flow->incomingFlag();
    auto messageId = flow->messageId();
    if (!clientId || !incoming || !messageId) return;
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto c = ids.map.find(*clientId);
    if (c == ids.map.end()) return;
    auto d = c->second.find(*incoming);
    if (d == c->second.end()) return;
    d->second.erase(*messageId);
}

void MQTTInMemoryPersistence::deleteAllFlowsForClientId(const std::string& clientId) {
    MQTT_LOG_INFO("[MQTTInMemoryPersistence] deleteAllFlowsForClientId %s", clientId.c_str());
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    ids.map.erase(clientId);
}

std::uint64_t MQTTInMemoryPersistence::windowSize(const std::string& clientId) {
    std::uint64_t n = 0;
    for (const auto& flow : allFlowsforClientId(clientId, false)) {
        if (flow->commandType().value_or(0) != 0) ++n;
    }
    return n;
}

std::uint64_t MQTTInMemoryPersistence::maxWindowSize() const {
    std::lock_guard lock(mutex_);
    return maxWindowSize_;
}
void MQTTInMemoryPersistence::setMaxWindowSize(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    maxWindowSize_ = size;
}
std::uint64_t MQTTInMemoryPersistence::maxMessages() const {
    std::lock_guard lock(mutex_);
    return maxMessages_;
}
void MQTTInMemoryPersistence::setMaxMessages(std::uint64_t messages) {
    std::lock_guard lock(mutex_);
    maxMessages_ = messages;
}
bool MQTTInMemoryPersistence::persistent() const {
    std::lock_guard lock(mutex_);
    return persistent_;
}
void MQTTInMemoryPersistence::setPersistent(bool persistent) {
    std::lock_guard lock(mutex_);
    persistent_ = persistent;
}
std::uint64_t MQTTInMemoryPersistence::maxSize() const {
    std::lock_guard lock(mutex_);
    return maxSize_;
}
void MQTTInMemoryPersistence::setMaxSize(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    maxSize_ = size;
}

}  // namespace pellix
