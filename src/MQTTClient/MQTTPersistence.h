// MQTTPersistence and MQTTFlow: the store of QoS 1 and 2 messages in flight.
//
// A flow is the record of one PUBLISH exchange, named by the triple (client
// id, direction, message id); a store holds at most one flow per triple.
// The session stores, finds, changes and deletes flows only through
// MQTTPersistence and sees a flow only through MQTTFlow. QoS 0 messages never
// become flows. Two stores implement it: MQTTCoreDataPersistence (SQLite
// file or memory; what every session makes by default) and
// MQTTInMemoryPersistence (process-wide maps).
//
// commandType steps of a flow (MQTTFlowCommandType below):
//   0 queued (outgoing; stored, PUBLISH not sent; deadline = time queued)
//   3 PUBLISH sent (outgoing; waiting for PUBACK / PUBREC; deadline = sent + dupTimeout)
//   5 PUBREC sent (incoming QoS 2; waiting for PUBREL; deadline = received + dupTimeout)
//   6 PUBREL sent (outgoing QoS 2; waiting for PUBCOMP; deadline = now + dupTimeout)
//
// What callers may rely on:
// - A refused store (limit reached, or a store that could not be opened)
//   answers null and changes nothing.
// - A flow obtained from a store stays valid and changeable until it is
//   deleted; the caller calls sync() after each store, each change of
//   commandType/deadline and each deleteFlow().
// - Every field of a flow is optional (unset until set); fields read back as
//   they were set.
// - Errors of the underlying store are logged, never thrown.
//
// Threads: every operation may be called from any thread (each store has its
// own lock); one store operation as a whole is atomic only in the in-memory
// store. The library drives a store from its session's queue.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace pellix {

// Defaults of both stores (the session manager uses the same values).
inline constexpr std::uint64_t MQTT_MAX_WINDOW_SIZE = 16;
inline constexpr std::uint64_t MQTT_MAX_MESSAGES = 1024;
inline constexpr bool MQTT_PERSISTENT = false;
inline constexpr std::uint64_t MQTT_MAX_SIZE = 64 * 1024 * 1024;

enum MQTTFlowCommandType : std::uint8_t {
    MQTTFlowCommandQueued = 0,
    MQTTFlowCommandPublishSent = 3,   // MQTTPublish
    MQTTFlowCommandPubrecSent = 5,    // MQTTPubrec
    MQTTFlowCommandPubrelSent = 6,    // MQTTPubrel
};

// One flow. The flow handed out by a store reads and writes the stored
// record directly (in-memory: the record itself; SQLite store: a proxy onto
// the record), so a setter changes the store's content at once (made durable
// by sync()). Accessors are safe from any thread.
class MQTTFlow {
public:
    virtual ~MQTTFlow() = default;

    virtual std::optional<std::string> clientId() const = 0;
    virtual void setClientId(std::optional<std::string> clientId) = 0;
    // true for a message received from the broker, false for one we publish.
    virtual std::optional<bool> incomingFlag() const = 0;
    virtual void setIncomingFlag(std::optional<bool> incoming) = 0;
    virtual std::optional<bool> retainedFlag() const = 0;
    virtual void setRetainedFlag(std::optional<bool> retained) = 0;
    // The step reached (MQTTFlowCommandType).
    virtual std::optional<std::uint8_t> commandType() const = 0;
    virtual void setCommandType(std::optional<std::uint8_t> commandType) = 0;
    // 1 or 2.
    virtual std::optional<std::uint8_t> qosLevel() const = 0;
    virtual void setQosLevel(std::optional<std::uint8_t> qos) = 0;
    virtual std::optional<std::uint16_t> messageId() const = 0;
    virtual void setMessageId(std::optional<std::uint16_t> messageId) = 0;
    virtual std::optional<std::string> topic() const = 0;
    virtual void setTopic(std::optional<std::string> topic) = 0;
    virtual std::optional<platform::Bytes> data() const = 0;
    virtual void setData(std::optional<platform::Bytes> data) = 0;
    // Wall time (seconds since 1970, platform::Clock::now()) from which the
    // session acts on the flow again.
    virtual std::optional<double> deadline() const = 0;
    virtual void setDeadline(std::optional<double> deadline) = 0;
};

using MQTTFlowPtr = std::shared_ptr<MQTTFlow>;

class MQTTPersistence {
public:
    virtual ~MQTTPersistence() = default;

    // Number of the client's outgoing flows whose commandType is set and not 0.
    virtual std::uint64_t windowSize(const std::string& clientId) = 0;

    // The counts and the queue below answer what a walk of
    // allFlowsforClientId() answers; the defaults here are that walk. The
    // library's stores keep them per client as flows change, so a session
    // pays the same per message whatever the length of its queue.
    //
    // Number of the client's flows in one direction.
    virtual std::uint64_t flowCountforClientId(const std::string& clientId, bool incomingFlag);
    // Number of the client's outgoing flows that are queued (commandType 0
    // or unset).
    virtual std::uint64_t queuedCountforClientId(const std::string& clientId);
    // The client's queued outgoing flows in sending order (deadline
    // ascending, no deadline first, equal deadlines in the order they were
    // stored), at most `limit` of them.
    virtual std::vector<MQTTFlowPtr> queuedFlowsforClientId(const std::string& clientId, std::size_t limit);
    // The client's outgoing flows in flight (commandType set and not 0),
    // deadline ascending: what the once-a-second pass may have to repeat.
    virtual std::vector<MQTTFlowPtr> inFlightFlowsforClientId(const std::string& clientId);

    // Stores (or overwrites) the flow of (clientId, incomingFlag, msgId) with
    // these fields and returns it; nothing is made durable until sync().
    // Refused (null, nothing changed) when the client's flows in this
    // direction already number more than maxMessages() (so maxMessages + 1
    // flows can be held), or, in the SQLite store, when the file measured at
    // the last sync is larger than maxSize(). An existing triple counts too.
    virtual MQTTFlowPtr storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                const platform::Bytes& data, bool retainFlag, std::uint8_t qos,
                                                std::uint16_t msgId, bool incomingFlag, std::uint8_t commandType,
                                                double deadline) = 0;

    // Removes that flow (the one stored under its triple).
    virtual void deleteFlow(const MQTTFlowPtr& flow) = 0;
    // Removes every flow of the client, both directions (clean session).
    virtual void deleteAllFlowsForClientId(const std::string& clientId) = 0;

    // The client's flows in one direction: SQLite store by deadline ascending
    // (equal deadlines in no set order), in-memory store by message id
    // ascending. Empty when there are none. The counts per direction are
    // what the session reports as flowing in and flowing out.
    virtual std::vector<MQTTFlowPtr> allFlowsforClientId(const std::string& clientId, bool incomingFlag) = 0;

    // The flow of the triple, or null. With incomingFlag false it tells the
    // message-id allocator which ids are taken.
    virtual MQTTFlowPtr flowforClientId(const std::string& clientId, bool incomingFlag, std::uint16_t messageId) = 0;

    // Makes every change since the last call durable (SQLite store: saves,
    // then measures the file); a no-op in memory.
    virtual void sync() = 0;

    // Limits; may be changed at any time, effective at the next store.
    // maxWindowSize is kept for the session and not tested by the store.
    virtual std::uint64_t maxWindowSize() const = 0;
    virtual void setMaxWindowSize(std::uint64_t size) = 0;
    virtual std::uint64_t maxMessages() const = 0;
    virtual void setMaxMessages(std::uint64_t messages) = 0;
    // SQLite store: file-backed when true, read when the store is first
    // used (set it before); a change after that is ignored, and the getter
    // then tells the kind in force. No effect in memory.
    virtual bool persistent() const = 0;
    virtual void setPersistent(bool persistent) = 0;
    // Bytes; tested by the SQLite store only.
    virtual std::uint64_t maxSize() const = 0;
    virtual void setMaxSize(std::uint64_t size) = 0;
};

}  // namespace pellix
