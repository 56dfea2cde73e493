#include "MQTTClient/MQTTInMemoryFlow.h"

#include "MQTTClient/MQTTInMemoryPersistence.h"

namespace pellix {

std::optional<std::string> MQTTInMemoryFlow::clientId() const {
    std::lock_guard lock(mutex_);
    return clientId_;
}
void MQTTInMemoryFlow::setClientId(std::optional<std::string> v) {
    std::lock_guard lock(mutex_);
    clientId_ = std::move(v);
}

std::optional<bool> MQTTInMemoryFlow::incomingFlag() const {
    std::lock_guard lock(mutex_);
    return incomingFlag_;
}
void MQTTInMemoryFlow::setIncomingFlag(std::optional<bool> v) {
    std::lock_guard lock(mutex_);
    incomingFlag_ = std::move(v);
}

std::optional<bool> MQTTInMemoryFlow::retainedFlag() const {
    std::lock_guard lock(mutex_);
    return retainedFlag_;
}
void MQTTInMemoryFlow::setRetainedFlag(std::optional<bool> v) {
    std::lock_guard lock(mutex_);
    retainedFlag_ = std::move(v);
}

std::optional<std::uint8_t> MQTTInMemoryFlow::commandType() const {
    std::lock_guard lock(mutex_);
    return commandType_;
}
void MQTTInMemoryFlow::setCommandType(std::optional<std::uint8_t> v) {
    {
        std::lock_guard lock(mutex_);
        commandType_ = std::move(v);
    }
    MQTTInMemoryPersistence::reindex(*this);  // without our lock: the store's comes first
}

std::optional<std::uint8_t> MQTTInMemoryFlow::qosLevel() const {
    std::lock_guard lock(mutex_);
    return qosLevel_;
}
void MQTTInMemoryFlow::setQosLevel(std::optional<std::uint8_t> v) {
    std::lock_guard lock(mutex_);
    qosLevel_ = std::move(v);
}

std::optional<std::uint16_t> MQTTInMemoryFlow::messageId() const {
    std::lock_guard lock(mutex_);
    return messageId_;
}
void MQTTInMemoryFlow::setMessageId(std::optional<std::uint16_t> v) {
    std::lock_guard lock(mutex_);
    messageId_ = std::move(v);
}

std::optional<std::string> MQTTInMemoryFlow::topic() const {
    std::lock_guard lock(mutex_);
    return topic_;
}
void MQTTInMemoryFlow::setTopic(std::optional<std::string> v) {
    std::lock_guard lock(mutex_);
    topic_ = std::move(v);
}

std::optional<platform::Bytes> MQTTInMemoryFlow::data() const {
    std::lock_guard lock(mutex_);
    return data_;
}
void MQTTInMemoryFlow::setData(std::optional<platform::Bytes> v) {
    std::lock_guard lock(mutex_);
    data_ = std::move(v);
}

std::optional<double> MQTTInMemoryFlow::deadline() const {
    std::lock_guard lock(mutex_);
    return deadline_;
}
void MQTTInMemoryFlow::setDeadline(std::optional<double> v) {
    {
        std::lock_guard lock(mutex_);
        deadline_ = std::move(v);
    }
    MQTTInMemoryPersistence::reindex(*this);
}

}  // namespace pellix
