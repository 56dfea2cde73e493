#include "MQTTClient/MQTTInMemoryPersistence.h"

#include <limits>
#include <map>

#include "MQTTClient/MQTTInMemoryFlow.h"
#include "MQTTClient/MQTTLog.h"

namespace pellix {

namespace {

// client id -> incoming flag -> message id -> flow, shared by every store of
// this kind; created once, never released.
using IdMap = std::map<std::uint16_t, std::shared_ptr<MQTTInMemoryFlow>>;
using DirectionMap = std::map<bool, IdMap>;
// A client's outgoing flows, in flight and queued, each by (deadline, order
// of storing): the queue in sending order, the flows in flight by when they
// are due again.
using Ordered = std::map<std::pair<double, std::uint64_t>, std::shared_ptr<MQTTInMemoryFlow>>;
struct Outgoing {
    Ordered inFlight;
    Ordered queued;
};
struct ClientIds {
    std::recursive_mutex lock;
    std::map<std::string, DirectionMap> map;
    std::map<std::string, Outgoing> outgoing;
    std::uint64_t sequence = 0;
};

ClientIds& clientIds() {
    static ClientIds* ids = new ClientIds();
    return *ids;
}

// No deadline sorts first, as in the SQLite store.
double orderOf(const std::optional<double>& deadline) {
    return deadline ? *deadline : -std::numeric_limits<double>::infinity();
}

Ordered& orderedFor(Outgoing& out, const MQTTInMemoryFlowIndexed& indexed) {
    return indexed.queued ? out.queued : out.inFlight;
}

std::vector<MQTTFlowPtr> firstOf(const Ordered& ordered, std::size_t limit) {
    std::vector<MQTTFlowPtr> flows;
    for (const auto& [key, flow] : ordered) {
        if (flows.size() >= limit) break;
        flows.push_back(flow);
    }
    return flows;
}

}  // namespace

void MQTTInMemoryPersistence::unindex(MQTTInMemoryFlow& flow, const std::string& clientId) {
    auto& indexed = flow.indexed_;
    if (!indexed) return;
    orderedFor(clientIds().outgoing[clientId], *indexed).erase({indexed->deadline, indexed->sequence});
    indexed.reset();
}

// Only outgoing flows count, and only while they stand in the maps.
void MQTTInMemoryPersistence::reindex(MQTTInMemoryFlow& flow) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    if (!flow.indexed_) return;
    const auto clientId = flow.clientId();
    if (!clientId) return;
    auto& map = ids.map[*clientId][false];
    auto entry = map.find(flow.messageId().value_or(0));
    if (entry == map.end() || entry->second.get() != &flow) return;
    auto& out = ids.outgoing[*clientId];
    auto& indexed = *flow.indexed_;
    orderedFor(out, indexed).erase({indexed.deadline, indexed.sequence});
    indexed.queued = flow.commandType().value_or(MQTTFlowCommandQueued) == MQTTFlowCommandQueued;
    indexed.deadline = orderOf(flow.deadline());
    indexed.sequence = flow.sequence_;
    orderedFor(out, indexed)[{indexed.deadline, indexed.sequence}] = entry->second;
}


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
    flow->sequence_ = ++ids.sequence;
    auto& slot = ids.map[clientId][incomingFlag][messageId];
    if (slot) unindex(*slot, clientId);
    slot = flow;
    if (!incomingFlag) {
        flow->indexed_.emplace();
        reindex(*flow);
    }
    return flow;
}

MQTTFlowPtr MQTTInMemoryPersistence::storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                             const platform::Bytes& data, bool retainFlag,
                                                             std::uint8_t qos, std::uint16_t msgId, bool incomingFlag,
                                                             std::uint8_t commandType, double deadline) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    if (flowCountforClientId(clientId, incomingFlag) > maxMessages()) return nullptr;
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
    auto f = d->second.find(*messageId);
    if (f == d->second.end()) return;
    unindex(*f->second, *clientId);
    d->second.erase(f);
}

void MQTTInMemoryPersistence::deleteAllFlowsForClientId(const std::string& clientId) {
    MQTT_LOG_INFO("[MQTTInMemoryPersistence] deleteAllFlowsForClientId %s", clientId.c_str());
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    if (auto c = ids.map.find(clientId); c != ids.map.end()) {
        for (auto& [id, flow] : c->second[false]) flow->indexed_.reset();
        ids.map.erase(c);
    }
    ids.outgoing.erase(clientId);
}

std::uint64_t MQTTInMemoryPersistence::windowSize(const std::string& clientId) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto out = ids.outgoing.find(clientId);
    return out == ids.outgoing.end() ? 0 : out->second.inFlight.size();
}

std::uint64_t MQTTInMemoryPersistence::flowCountforClientId(const std::string& clientId, bool incomingFlag) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto c = ids.map.find(clientId);
    if (c == ids.map.end()) return 0;
    auto d = c->second.find(incomingFlag);
    return d == c->second.end() ? 0 : d->second.size();
}

std::uint64_t MQTTInMemoryPersistence::queuedCountforClientId(const std::string& clientId) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto out = ids.outgoing.find(clientId);
    return out == ids.outgoing.end() ? 0 : out->second.queued.size();
}

std::vector<MQTTFlowPtr> MQTTInMemoryPersistence::queuedFlowsforClientId(const std::string& clientId,
                                                                         std::size_t limit) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto out = ids.outgoing.find(clientId);
    return out == ids.outgoing.end() ? std::vector<MQTTFlowPtr>{} : firstOf(out->second.queued, limit);
}

std::vector<MQTTFlowPtr> MQTTInMemoryPersistence::inFlightFlowsforClientId(const std::string& clientId) {
    auto& ids = clientIds();
    std::lock_guard lock(ids.lock);
    auto out = ids.outgoing.find(clientId);
    return out == ids.outgoing.end() ? std::vector<MQTTFlowPtr>{} : firstOf(out->second.inFlight, SIZE_MAX);
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
