// MQTTInMemoryPersistence: a flow store in process-wide maps.
//
// Every store of this kind shares one set of maps (client id -> direction ->
// message id -> flow), created once and never released; the flows handed out
// are the stored records (MQTTInMemoryFlow), so a setter changes the store at
// once. Storing for an existing triple replaces the flow by a new one: a flow
// obtained before is then no longer stored, and deleteFlow() with it removes
// whatever flow its triple holds now. Only maxMessages is tested when
// storing; persistent and maxSize are kept and have no effect. sync() does
// nothing. allFlowsforClientId() answers in message-id order. Each client's
// outgoing flows in flight are counted and its queued ones indexed in
// sending order as flows are stored, changed and deleted.
//
// Threads: one process-wide re-entrant lock makes each operation, including
// setting the fields of a new flow, atomic. A flow's own fields have a lock
// of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MQTTClient/MQTTPersistence.h"

namespace pellix {

class MQTTInMemoryFlow;

class MQTTInMemoryPersistence : public MQTTPersistence {
public:
    // maxMessages 1024, maxWindowSize 16, maxSize 0, persistent false.
    static std::shared_ptr<MQTTInMemoryPersistence> create();
    ~MQTTInMemoryPersistence() override = default;

    std::uint64_t windowSize(const std::string& clientId) override;
    std::uint64_t flowCountforClientId(const std::string& clientId, bool incomingFlag) override;
    std::uint64_t queuedCountforClientId(const std::string& clientId) override;
    std::vector<MQTTFlowPtr> queuedFlowsforClientId(const std::string& clientId, std::size_t limit) override;
    std::vector<MQTTFlowPtr> inFlightFlowsforClientId(const std::string& clientId) override;
    MQTTFlowPtr storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                        const platform::Bytes& data, bool retainFlag, std::uint8_t qos,
                                        std::uint16_t msgId, bool incomingFlag, std::uint8_t commandType,
                                        double deadline) override;
    void deleteFlow(const MQTTFlowPtr& flow) override;
    void deleteAllFlowsForClientId(const std::string& clientId) override;
    std::vector<MQTTFlowPtr> allFlowsforClientId(const std::string& clientId, bool incomingFlag) override;
    MQTTFlowPtr flowforClientId(const std::string& clientId, bool incomingFlag, std::uint16_t messageId) override;
    void sync() override {}

    std::uint64_t maxWindowSize() const override;
    void setMaxWindowSize(std::uint64_t size) override;
    std::uint64_t maxMessages() const override;
    void setMaxMessages(std::uint64_t messages) override;
    bool persistent() const override;
    void setPersistent(bool persistent) override;
    std::uint64_t maxSize() const override;
    void setMaxSize(std::uint64_t size) override;

    // A new flow with only the triple set, entered under the triple
    // (replacing what was there).
    MQTTFlowPtr createFlowforClientId(const std::string& clientId, bool incomingFlag, std::uint16_t messageId);

private:
    friend class MQTTInMemoryFlow;
    MQTTInMemoryPersistence();
    // Brings the client's counts and queue in line with the flow's fields
    // after a change (nothing for a flow no longer in the maps).
    static void reindex(MQTTInMemoryFlow& flow);
    // Takes the flow out of its client's counts (store lock held).
    static void unindex(MQTTInMemoryFlow& flow, const std::string& clientId);

    mutable std::mutex mutex_;  // guards the four properties
    bool persistent_ = false;
    std::uint64_t maxSize_ = 0;
    std::uint64_t maxMessages_ = MQTT_MAX_MESSAGES;
    std::uint64_t maxWindowSize_ = MQTT_MAX_WINDOW_SIZE;
};

}  // namespace pellix
