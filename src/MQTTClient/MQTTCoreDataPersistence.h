// MQTTCoreDataPersistence: the flow store every session makes by default.
//
// Flows are rows of one table "MQTTFlow": in SQLite, in the file "MQTTClient"
// of the Documents directory (platform::Paths), when persistent() is set
// before the first flow operation, else in memory only. The flows
// it hands out are proxies (MQTTCoreDataFlow) that read and write their row;
// two proxies of one row see the same row. Changes reach the file at sync().
//
// Every client's rows are indexed in memory (by triple, counted per
// direction and in flight, queued ones in sending order), built as rows are
// made or, for a file-backed store, read from the table on the client's first
// use, then kept in step with every change this store makes: it assumes, as
// its row cache does, that no other store changes the same table meanwhile.
//
// The kind of store (file-backed or memory-only) is fixed at first use:
// setPersistent() after that is ignored and persistent() tells the kind in
// force, so existing flows never disappear from view.
//
// Limits tested when storing: maxMessages() per client and direction, and
// (file-backed only) the file size measured at the last sync against
// maxSize(). Storing for an existing triple overwrites that row.
//
// Failure: a database that cannot be opened or read is logged (error level);
// the store then finds no flows and refuses every store. Nothing throws.
//
// Threads: every access to rows (each proxy accessor too) runs under the
// store's one re-entrant lock; any thread may call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "MQTTClient/MQTTPersistence.h"
#include "platform/Value.h"

namespace pellix {

namespace platform {
class SQLiteDatabase;
}

class MQTTCoreDataPersistence : public MQTTPersistence,
                                public std::enable_shared_from_this<MQTTCoreDataPersistence> {
public:
    // persistent false, maxSize 64 MiB, maxMessages 1024, maxWindowSize 16;
    // the database is opened on first use.
    static std::shared_ptr<MQTTCoreDataPersistence> create();
    ~MQTTCoreDataPersistence() override;
    MQTTCoreDataPersistence(const MQTTCoreDataPersistence&) = delete;
    MQTTCoreDataPersistence& operator=(const MQTTCoreDataPersistence&) = delete;

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
    void sync() override;

    std::uint64_t maxWindowSize() const override;
    void setMaxWindowSize(std::uint64_t size) override;
    std::uint64_t maxMessages() const override;
    void setMaxMessages(std::uint64_t messages) override;
    bool persistent() const override;
    void setPersistent(bool persistent) override;
    std::uint64_t maxSize() const override;
    void setMaxSize(std::uint64_t size) override;

    // The existing row's proxy, or a proxy on a new row with only the triple
    // set (null when the database is unusable).
    MQTTFlowPtr createFlowforClientId(const std::string& clientId, bool incomingFlag, std::uint16_t messageId);

    // File size and free space of its file system at the last measure (0
    // for a memory-only store).
    std::uint64_t fileSize() const;
    std::uint64_t fileSystemFreeSize() const;
    // Documents/MQTTClient.
    static std::string storePath();

private:
    friend class MQTTCoreDataFlow;
    MQTTCoreDataPersistence();
    // Opens on first use; null when unusable or memory-only (lock held).
    platform::SQLiteDatabase* database();
    // Whether the store keeps its rows in memory only (decided at first use).
    bool memoryOnly();
    void sizes();
    // Starts the transaction that sync() commits (lock held).
    bool begin(platform::SQLiteDatabase* db);
    std::optional<std::int64_t> rowFor(const std::string& clientId, bool incomingFlag, std::uint16_t messageId);
    MQTTFlowPtr proxy(std::int64_t row);
    // For the proxies.
    std::optional<platform::Value> readColumn(std::int64_t row, const char* column);
    void writeColumn(std::int64_t row, const char* column, platform::Value value);

    // The in-memory index of one client's rows.
    struct ClientIndex {
        // (incoming, message id) -> rows of that triple, newest last.
        std::map<std::pair<bool, std::uint16_t>, std::vector<std::int64_t>> triples;
        std::uint64_t count[2] = {0, 0};  // rows per direction (outgoing, incoming)
        // Outgoing rows by (deadline, row): queued ones in sending order, the
        // ones in flight by when they are due again.
        std::set<std::pair<double, std::int64_t>> inFlight;
        std::set<std::pair<double, std::int64_t>> queued;
    };
    // What a row added to its client's index, to take it out again.
    struct Indexed {
        std::string clientId;
        bool incoming = false;
        std::optional<std::uint16_t> messageId;
        bool queued = false;                                 // else in flight
        std::optional<std::pair<double, std::int64_t>> key;  // outgoing rows only
    };
    // The client's index, built on first use (lock held).
    ClientIndex& clientIndex(const std::string& clientId);
    void index(std::int64_t row, const std::vector<platform::Value>& values);
    void unindex(std::int64_t row);
    // The row's values, read into the cache when needed (lock held).
    const std::vector<platform::Value>* cachedRow(std::int64_t row);

    mutable std::recursive_mutex mutex_;
    bool persistent_ = MQTT_PERSISTENT;
    // The kind in force, fixed by the first operation (set when opened_).
    bool fileBacked_ = false;
    std::uint64_t maxSize_ = MQTT_MAX_SIZE;
    std::uint64_t maxMessages_ = MQTT_MAX_MESSAGES;
    std::uint64_t maxWindowSize_ = MQTT_MAX_WINDOW_SIZE;
    std::uint64_t fileSize_ = 0;
    std::uint64_t fileSystemFreeSize_ = 0;
    bool opened_ = false;
    std::unique_ptr<platform::SQLiteDatabase> db_;
    // Row id -> column values (in the order of the table's columns): every
    // row of a memory-only store; in a file-backed one, the rows read or
    // written through this store, kept in step with every change it makes.
    std::unordered_map<std::int64_t, std::vector<platform::Value>> rows_;
    std::unordered_map<std::string, ClientIndex> clients_;
    std::unordered_map<std::int64_t, Indexed> indexed_;
    std::int64_t nextRow_ = 1;  // memory-only row ids, never reused
    // Changes since the last sync (inserted, updated, deleted rows).
    std::uint64_t inserted_ = 0, updated_ = 0, deleted_ = 0;
};

}  // namespace pellix
