#include "MQTTClient/MQTTCoreDataFlow.h"

#include "MQTTClient/MQTTCoreDataPersistence.h"

namespace pellix {

using platform::Value;

MQTTCoreDataFlow::MQTTCoreDataFlow(std::shared_ptr<MQTTCoreDataPersistence> context, std::int64_t object)
    : context_(std::move(context)), object_(object) {}

std::optional<Value> MQTTCoreDataFlow::get(const char* column) const {
    auto v = context_->readColumn(object_, column);
    if (!v || v->isNull()) return std::nullopt;
    return v;
}

void MQTTCoreDataFlow::set(const char* column, Value value) { context_->writeColumn(object_, column, std::move(value)); }

template <typename T>
static Value optionalValue(const std::optional<T>& v) {
    return v ? Value(*v) : Value();
}

std::optional<std::string> MQTTCoreDataFlow::clientId() const {
    auto v = get("clientId");
    return v && v->isString() ? std::optional<std::string>(v->asString()) : std::nullopt;
}
void MQTTCoreDataFlow::setClientId(std::optional<std::string> v) { set("clientId", optionalValue(v)); }

std::optional<bool> MQTTCoreDataFlow::incomingFlag() const {
    auto v = get("incomingFlag");
    return v ? std::optional<bool>(v->intValue() != 0) : std::nullopt;
}
void MQTTCoreDataFlow::setIncomingFlag(std::optional<bool> v) { set("incomingFlag", optionalValue(v)); }

std::optional<bool> MQTTCoreDataFlow::retainedFlag() const {
    auto v = get("retainedFlag");
    return v ? std::optional<bool>(v->intValue() != 0) : std::nullopt;
}
void MQTTCoreDataFlow::setRetainedFlag(std::optional<bool> v) { set("retainedFlag", optionalValue(v)); }

std::optional<std::uint8_t> MQTTCoreDataFlow::commandType() const {
    auto v = get("commandType");
    return v ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(v->intValue())) : std::nullopt;
}
void MQTTCoreDataFlow::setCommandType(std::optional<std::uint8_t> v) {
    set("commandType", v ? Value(static_cast<int>(*v)) : Value());
}

std::optional<std::uint8_t> MQTTCoreDataFlow::qosLevel() const {
    auto v = get("qosLevel");
    return v ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(v->intValue())) : std::nullopt;
}
void MQTTCoreDataFlow::setQosLevel(std::optional<std::uint8_t> v) {
    set("qosLevel", v ? Value(static_cast<int>(*v)) : Value());
}

std::optional<std::uint16_t> MQTTCoreDataFlow::messageId() const {
    auto v = get("messageId");
    return v ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(v->intValue())) : std::nullopt;
}
void MQTTCoreDataFlow::setMessageId(std::optional<std::uint16_t> v) {
    set("messageId", v ? Value(static_cast<int>(*v)) : Value());
}

std::optional<std::string> MQTTCoreDataFlow::topic() const {
    auto v = get("topic");
    return v && v->isString() ? std::optional<std::string>(v->asString()) : std::nullopt;
}
void MQTTCoreDataFlow::setTopic(std::optional<std::string> v) { set("topic", optionalValue(v)); }

std::optional<platform::Bytes> MQTTCoreDataFlow::data() const {
    auto v = get("data");
    return v && v->isBytes() ? std::optional<platform::Bytes>(v->asBytes()) : std::nullopt;
}
void MQTTCoreDataFlow::setData(std::optional<platform::Bytes> v) { set("data", optionalValue(v)); }

std::optional<double> MQTTCoreDataFlow::deadline() const {
    auto v = get("deadline");
    return v ? std::optional<double>(v->doubleValue()) : std::nullopt;
}
void MQTTCoreDataFlow::setDeadline(std::optional<double> v) { set("deadline", optionalValue(v)); }

}  // namespace pellix
