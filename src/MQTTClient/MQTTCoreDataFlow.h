// MQTTCoreDataFlow: a flow of MQTTCoreDataPersistence — a proxy onto one row
// of its table. Every accessor reads or writes the row under the store's
// lock; two proxies of one row see the same values. A change is in the
// store's open transaction at once and reaches the file at the next sync().
// Once the row is deleted, getters answer nullopt and setters do nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "MQTTClient/MQTTPersistence.h"

namespace pellix {

class MQTTCoreDataPersistence;

class MQTTCoreDataFlow : public MQTTFlow {
public:
    MQTTCoreDataFlow(std::shared_ptr<MQTTCoreDataPersistence> context, std::int64_t object);

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

    // The store and the row id.
    const std::shared_ptr<MQTTCoreDataPersistence>& context() const { return context_; }
    std::int64_t object() const { return object_; }

private:
    std::optional<platform::Value> get(const char* column) const;
    void set(const char* column, platform::Value value);

    const std::shared_ptr<MQTTCoreDataPersistence> context_;
    const std::int64_t object_;
};

}  // namespace pellix
