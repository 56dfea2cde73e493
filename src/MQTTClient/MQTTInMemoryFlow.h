// MQTTInMemoryFlow: a flow of MQTTInMemoryPersistence — a plain record that
// is itself what the store holds. Its fields have their own lock, so any
// thread may read and write them.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "MQTTClient/MQTTPersistence.h"

namespace pellix {

// Where a stored outgoing flow stands in its client's index: in flight or
// queued, and its place there.
struct MQTTInMemoryFlowIndexed {
    bool queued = false;  // else in flight
    double deadline = 0;
    std::uint64_t sequence = 0;  // order of storing
};

class MQTTInMemoryFlow : public MQTTFlow {
public:
    std::optional<std::string> clientId() const override;
    void setClientId(std::optional<std::string> clientId) override;
    std::optional<bool> incomingFlag() const override;
    void setIncomingFlag(std::optional<bool> incoming) override;
    std::optional<bool> retainedFlag() const override;
    void setRetainedFlag(std::optional<bool> retained) override;
    std::optional<std::uint8_t> commandType() const override;
    void setCommandType(std::optional<std::uint8_t> commandType) override;
    std::optional<std::uint8_t> qosLevel() const override;
    void setQosLevel(std::optional<std::uint8_t> qos) override;
    std::optional<std::uint16_t> messageId() const override;
    void setMessageId(std::optional<std::uint16_t> messageId) override;
    std::optional<std::string> topic() const override;
    void setTopic(std::optional<std::string> topic) override;
    std::optional<platform::Bytes> data() const override;
    void setData(std::optional<platform::Bytes> data) override;
    std::optional<double> deadline() const override;
    void setDeadline(std::optional<double> deadline) override;

private:
    friend class MQTTInMemoryPersistence;
    // The store's view of this flow while it stands in the maps, kept under
    // the store's lock.
    std::optional<MQTTInMemoryFlowIndexed> indexed_;
    std::uint64_t sequence_ = 0;

    mutable std::mutex mutex_;
    std::optional<std::string> clientId_;
    std::optional<bool> incomingFlag_;
    std::optional<bool> retainedFlag_;
    std::optional<std::uint8_t> commandType_;
    std::optional<std::uint8_t> qosLevel_;
    std::optional<std::uint16_t> messageId_;
    std::optional<std::string> topic_;
    std::optional<platform::Bytes> data_;
    std::optional<double> deadline_;
};

}  // namespace pellix
