#include "MQTTClient/MQTTCoreDataPersistence.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

#include "MQTTClient/MQTTCoreDataFlow.h"
#include "MQTTClient/MQTTLog.h"
#include "platform/Paths.h"
#include "platform/SQLiteDatabase.h"

namespace pellix {

using platform::Value;

namespace {

// The one entity, "MQTTFlow", as a table; every attribute optional.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS MQTTFlow (id INTEGER PRIMARY KEY AUTOINCREMENT, clientId TEXT, incomingFlag INTEGER, "
    "retainedFlag INTEGER, commandType INTEGER, qosLevel INTEGER, messageId INTEGER, topic TEXT, data BLOB, "
    "deadline REAL)";
constexpr const char* kIndex =
    "CREATE INDEX IF NOT EXISTS MQTTFlowTriple ON MQTTFlow (clientId, incomingFlag, messageId)";

// The columns of a cached row, in the order of kColumns; -1 for any other name.
constexpr const char* kColumns[] = {"clientId", "incomingFlag", "retainedFlag", "commandType", "qosLevel",
                                    "messageId", "topic",        "data",         "deadline"};
constexpr const char* kSelectRow =
    "SELECT clientId, incomingFlag, retainedFlag, commandType, qosLevel, messageId, topic, data, deadline "
    "FROM MQTTFlow WHERE id = ?";

enum Column : std::size_t { kClientId = 0, kIncomingFlag = 1, kCommandType = 3, kMessageId = 5, kDeadline = 8 };

// The columns the index is built from.
bool indexedColumn(int index) {
    return index == kClientId || index == kIncomingFlag || index == kCommandType || index == kMessageId ||
           index == kDeadline;
}

bool ofClient(const std::vector<Value>& values, const std::string& clientId) {
    return values[kClientId].isString() && values[kClientId].asString() == clientId;
}

bool matches(const std::vector<Value>& values, const std::string& clientId, bool incomingFlag) {
    return ofClient(values, clientId) && values[kIncomingFlag].isNumber() &&
           (values[kIncomingFlag].intValue() != 0) == incomingFlag;
}

int columnIndex(const char* column) {
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        if (std::strcmp(kColumns[i], column) == 0) return i;
    }
    return -1;
}

}  // namespace

std::shared_ptr<MQTTCoreDataPersistence> MQTTCoreDataPersistence::create() {
    return std::shared_ptr<MQTTCoreDataPersistence>(new MQTTCoreDataPersistence());
}

MQTTCoreDataPersistence::MQTTCoreDataPersistence() = default;
MQTTCoreDataPersistence::~MQTTCoreDataPersistence() = default;

std::string MQTTCoreDataPersistence::storePath() { return platform::Paths::documentsDirectory() + "/MQTTClient"; }

bool MQTTCoreDataPersistence::memoryOnly() {
    database();
    return !fileBacked_;
}

platform::SQLiteDatabase* MQTTCoreDataPersistence::database() {
    if (opened_) return db_.get();
    opened_ = true;
    fileBacked_ = persistent_;
    // A memory-only store keeps its rows in rows_ alone: the same rows,
    // found and ordered the same way, without a database.
    if (!fileBacked_) return nullptr;
    const std::string path = storePath();
    MQTT_LOG_INFO("[MQTTPersistence] Persistent store: %s", path.c_str());
    platform::ErrorPtr error;
    auto db = platform::SQLiteDatabase::open(path, &error);
    // Write-ahead log without a flush per commit: a synced flow survives the
    // process ending at any moment, which is what the store promises.
    if (db) {
        db->execute("PRAGMA journal_mode=WAL");
        db->execute("PRAGMA synchronous=NORMAL");
    }
    if (db && (!db->execute(kSchema, {}, nullptr, &error) || !db->execute(kIndex, {}, nullptr, &error))) db.reset();
    if (!db) {
        MQTT_LOG_ERROR("[MQTTPersistence] managedObjectContext save: %s",
                       error ? error->description().c_str() : "(null)");
        return nullptr;
    }
    db_ = std::move(db);
    return db_.get();
}

bool MQTTCoreDataPersistence::begin(platform::SQLiteDatabase* db) {
    if (db->inTransaction()) return true;
    platform::ErrorPtr error;
    if (db->execute("BEGIN IMMEDIATE", {}, nullptr, &error)) return true;
    MQTT_LOG_ERROR("[MQTTPersistence] begin %s", error ? error->description().c_str() : "(null)");
    return false;
}

MQTTFlowPtr MQTTCoreDataPersistence::proxy(std::int64_t row) {
    return std::make_shared<MQTTCoreDataFlow>(shared_from_this(), row);
}

std::optional<std::int64_t> MQTTCoreDataPersistence::rowFor(const std::string& clientId, bool incomingFlag,
                                                            std::uint16_t messageId) {
    // Of several rows for one triple, the last one counts.
    const auto& triples = clientIndex(clientId).triples;
    auto found = triples.find({incomingFlag, messageId});
    if (found == triples.end() || found->second.empty()) return std::nullopt;
    return found->second.back();
}

MQTTCoreDataPersistence::ClientIndex& MQTTCoreDataPersistence::clientIndex(const std::string& clientId) {
    auto [entry, fresh] = clients_.try_emplace(clientId);
    ClientIndex& client = entry->second;
    if (!fresh || memoryOnly()) return client;
    auto* db = database();
    if (!db) return client;
    // Only the indexed columns: the payloads stay on disk until asked for.
    std::vector<platform::SQLiteDatabase::Row> rows;
    platform::ErrorPtr error;
    if (!db->execute("SELECT id, incomingFlag, commandType, messageId, deadline FROM MQTTFlow WHERE clientId = ?",
                     {Value(clientId)}, &rows, &error)) {
        MQTT_LOG_ERROR("[MQTTPersistence] index %s", error ? error->description().c_str() : "(null)");
        return client;
    }
    for (auto& r : rows) {
        std::vector<Value> values(std::size(kColumns));
        values[kClientId] = Value(clientId);
        values[kIncomingFlag] = std::move(r[1]);
        values[kCommandType] = std::move(r[2]);
        values[kMessageId] = std::move(r[3]);
        values[kDeadline] = std::move(r[4]);
        index(r[0].intValue(), values);
    }
    return client;
}

void MQTTCoreDataPersistence::index(std::int64_t row, const std::vector<Value>& values) {
    unindex(row);
    if (!values[kClientId].isString() || !values[kIncomingFlag].isNumber()) return;  // belongs to no client
    const std::string& clientId = values[kClientId].asString();
    if (!clients_.count(clientId)) {
        // A file-backed client is indexed from the table, this row included.
        clientIndex(clientId);
        if (!memoryOnly()) return;
    }
    ClientIndex& client = clients_[clientId];
    Indexed entry;
    entry.clientId = clientId;
    entry.incoming = values[kIncomingFlag].intValue() != 0;
    ++client.count[entry.incoming ? 1 : 0];
    if (values[kMessageId].isNumber()) {
        entry.messageId = static_cast<std::uint16_t>(values[kMessageId].intValue());
        auto& rows = client.triples[{entry.incoming, *entry.messageId}];
        rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
    }
    if (!entry.incoming) {
        const Value& command = values[kCommandType];
        const Value& deadline = values[kDeadline];
        entry.queued = !command.isNumber() || command.intValue() == MQTTFlowCommandQueued;
        entry.key.emplace(deadline.isNumber() ? deadline.doubleValue() : -std::numeric_limits<double>::infinity(),
                          row);
        (entry.queued ? client.queued : client.inFlight).insert(*entry.key);
    }
    indexed_[row] = std::move(entry);
}

void MQTTCoreDataPersistence::unindex(std::int64_t row) {
    auto found = indexed_.find(row);
    if (found == indexed_.end()) return;
    const Indexed& entry = found->second;
    if (auto c = clients_.find(entry.clientId); c != clients_.end()) {
        ClientIndex& client = c->second;
        --client.count[entry.incoming ? 1 : 0];
        if (entry.messageId) {
            auto t = client.triples.find({entry.incoming, *entry.messageId});
            if (t != client.triples.end()) {
                std::erase(t->second, row);
                if (t->second.empty()) client.triples.erase(t);
            }
        }
        if (entry.key) (entry.queued ? client.queued : client.inFlight).erase(*entry.key);
    }
    indexed_.erase(found);
}

const std::vector<Value>* MQTTCoreDataPersistence::cachedRow(std::int64_t row) {
    auto cached = rows_.find(row);
    if (cached != rows_.end()) return &cached->second;
    auto* db = database();
    if (!db) return nullptr;
    std::vector<platform::SQLiteDatabase::Row> rows;
    if (!db->execute(kSelectRow, {Value(static_cast<long long>(row))}, &rows) || rows.empty()) return nullptr;
    return &rows_.emplace(row, std::move(rows.front())).first->second;
}

// Every change to the table goes through this store, so a row once read
// stays right in the cache until this store changes or deletes it; a flow's
// getters then cost no query.
std::optional<Value> MQTTCoreDataPersistence::readColumn(std::int64_t row, const char* column) {
    const int index = columnIndex(column);
    if (index < 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto* values = cachedRow(row);  // memory-only: null once the row is gone
    if (!values) return std::nullopt;
    return (*values)[static_cast<std::size_t>(index)];
}

void MQTTCoreDataPersistence::writeColumn(std::int64_t row, const char* column, Value value) {
    const int index = columnIndex(column);
    if (index < 0) return;
    std::lock_guard lock(mutex_);
    if (memoryOnly()) {
        auto cached = rows_.find(row);
        if (cached == rows_.end()) return;
        cached->second[static_cast<std::size_t>(index)] = std::move(value);
        ++updated_;
        if (indexedColumn(index)) this->index(row, cached->second);
        return;
    }
    auto* db = database();
    if (!db || !begin(db)) return;
    // The row in the cache first, so the index can follow the change.
    cachedRow(row);
    platform::ErrorPtr error;
    if (!db->execute(std::string("UPDATE MQTTFlow SET ") + column + " = ? WHERE id = ?",
                     {value, Value(static_cast<long long>(row))}, nullptr, &error)) {
        MQTT_LOG_ERROR("[MQTTPersistence] update %s", error ? error->description().c_str() : "(null)");
        rows_.erase(row);
        unindex(row);
        return;
    }
    updated_ += static_cast<std::uint64_t>(db->changes());
    auto cached = rows_.find(row);
    if (cached != rows_.end()) {
        cached->second[static_cast<std::size_t>(index)] = std::move(value);
        if (indexedColumn(index)) this->index(row, cached->second);
    }
}

std::uint64_t MQTTCoreDataPersistence::windowSize(const std::string& clientId) {
    std::lock_guard lock(mutex_);
    return clientIndex(clientId).inFlight.size();
}

std::uint64_t MQTTCoreDataPersistence::flowCountforClientId(const std::string& clientId, bool incomingFlag) {
    std::lock_guard lock(mutex_);
    return clientIndex(clientId).count[incomingFlag ? 1 : 0];
}

std::uint64_t MQTTCoreDataPersistence::queuedCountforClientId(const std::string& clientId) {
    std::lock_guard lock(mutex_);
    return clientIndex(clientId).queued.size();
}

std::vector<MQTTFlowPtr> MQTTCoreDataPersistence::queuedFlowsforClientId(const std::string& clientId,
                                                                         std::size_t limit) {
    std::lock_guard lock(mutex_);
    std::vector<MQTTFlowPtr> flows;
    for (const auto& [deadline, row] : clientIndex(clientId).queued) {
        if (flows.size() >= limit) break;
        flows.push_back(proxy(row));
    }
    return flows;
}

std::vector<MQTTFlowPtr> MQTTCoreDataPersistence::inFlightFlowsforClientId(const std::string& clientId) {
    std::lock_guard lock(mutex_);
    std::vector<MQTTFlowPtr> flows;
    for (const auto& [deadline, row] : clientIndex(clientId).inFlight) flows.push_back(proxy(row));
    return flows;
}

MQTTFlowPtr MQTTCoreDataPersistence::storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                             const platform::Bytes& data, bool retainFlag,
                                                             std::uint8_t qos, std::uint16_t msgId, bool incomingFlag,
                                                             std::uint8_t commandType, double deadline) {
    std::lock_guard lock(mutex_);
    std::vector<Value> values{Value(clientId),
                              Value(incomingFlag ? 1 : 0),
                              Value(retainFlag ? 1 : 0),
                              Value(static_cast<int>(commandType)),
                              Value(static_cast<int>(qos)),
                              Value(static_cast<int>(msgId)),
                              Value(topic),
                              Value(data),
                              Value(deadline)};
    if (memoryOnly()) {
        if (clientIndex(clientId).count[incomingFlag ? 1 : 0] > maxMessages_) return nullptr;
        auto row = rowFor(clientId, incomingFlag, msgId);
        if (row) {
            ++updated_;
        } else {
            row = nextRow_++;
            ++inserted_;
        }
        auto& stored = rows_[*row] = std::move(values);
        index(*row, stored);
        return proxy(*row);
    }
    auto* db = database();
    if (!db) return nullptr;
    const std::uint64_t n = clientIndex(clientId).count[incomingFlag ? 1 : 0];
    if (n > maxMessages_ || fileSize_ > maxSize_) return nullptr;
    if (!begin(db)) return nullptr;
    platform::ErrorPtr error;
    std::optional<std::int64_t> row = rowFor(clientId, incomingFlag, msgId);
    std::vector<Value> fields{Value(topic), Value(data), Value(retainFlag ? 1 : 0), Value(static_cast<int>(qos)),
                              Value(static_cast<int>(commandType)), Value(deadline)};
    if (row) {
        fields.emplace_back(static_cast<long long>(*row));
        if (!db->execute("UPDATE MQTTFlow SET topic = ?, data = ?, retainedFlag = ?, qosLevel = ?, commandType = ?, "
                         "deadline = ? WHERE id = ?",
                         fields, nullptr, &error)) {
            MQTT_LOG_ERROR("[MQTTPersistence] store %s", error ? error->description().c_str() : "(null)");
            rows_.erase(*row);
            unindex(*row);
            return nullptr;
        }
        ++updated_;
        index(*row, rows_[*row] = std::move(values));
    } else {
        fields.insert(fields.begin(), {Value(clientId), Value(incomingFlag ? 1 : 0), Value(static_cast<int>(msgId))});
        if (!db->execute("INSERT INTO MQTTFlow (clientId, incomingFlag, messageId, topic, data, retainedFlag, qosLevel, "
                         "commandType, deadline) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                         fields, nullptr, &error)) {
            MQTT_LOG_ERROR("[MQTTPersistence] store %s", error ? error->description().c_str() : "(null)");
            return nullptr;
        }
        row = db->lastInsertRowId();
        ++inserted_;
        index(*row, rows_[*row] = std::move(values));
    }
    return proxy(*row);
}

MQTTFlowPtr MQTTCoreDataPersistence::createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                           std::uint16_t messageId) {
    std::lock_guard lock(mutex_);
    if (auto row = rowFor(clientId, incomingFlag, messageId)) return proxy(*row);
    std::vector<Value> values(std::size(kColumns));
    values[kClientId] = Value(clientId);
    values[kIncomingFlag] = Value(incomingFlag ? 1 : 0);
    values[kMessageId] = Value(static_cast<int>(messageId));
    if (memoryOnly()) {
        const std::int64_t row = nextRow_++;
        index(row, rows_[row] = std::move(values));
        ++inserted_;
        return proxy(row);
    }
    auto* db = database();
    if (!db || !begin(db)) return nullptr;
    if (!db->execute("INSERT INTO MQTTFlow (clientId, incomingFlag, messageId) VALUES (?, ?, ?)",
                     {Value(clientId), Value(incomingFlag ? 1 : 0), Value(static_cast<int>(messageId))})) {
        return nullptr;
    }
    ++inserted_;
    const std::int64_t row = db->lastInsertRowId();
    index(row, rows_[row] = std::move(values));
    return proxy(row);
}

void MQTTCoreDataPersistence::deleteFlow(const MQTTFlowPtr& flow) {
    auto mine = std::dynamic_pointer_cast<MQTTCoreDataFlow>(flow);
    if (!mine || mine->context().get() != this) return;
    {
        std::lock_guard lock(mutex_);
        if (memoryOnly()) {
            unindex(mine->object());
            deleted_ += rows_.erase(mine->object());
            return;
        }
        auto* db = database();
        if (!db || !begin(db)) return;
        if (db->execute("DELETE FROM MQTTFlow WHERE id = ?", {Value(static_cast<long long>(mine->object()))})) {
            deleted_ += static_cast<std::uint64_t>(db->changes());
            unindex(mine->object());
        }
        rows_.erase(mine->object());
    }
    sync();
}

void MQTTCoreDataPersistence::deleteAllFlowsForClientId(const std::string& clientId) {
    MQTT_LOG_INFO("[MQTTCoreDataPersistence] deleteAllFlowsForClientId %s", clientId.c_str());
    {
        std::lock_guard lock(mutex_);
        std::erase_if(indexed_, [&](const auto& entry) { return entry.second.clientId == clientId; });
        clients_.erase(clientId);
        if (memoryOnly()) {
            deleted_ += std::erase_if(rows_, [&](const auto& entry) { return ofClient(entry.second, clientId); });
            return;
        }
        auto* db = database();
        if (!db) return;
        std::vector<platform::SQLiteDatabase::Row> rows;
        db->execute("SELECT COUNT(*) FROM MQTTFlow WHERE clientId = ?", {Value(clientId)}, &rows);
        if (!rows.empty() && rows.front()[0].intValue() > 0 && begin(db) &&
            db->execute("DELETE FROM MQTTFlow WHERE clientId = ?", {Value(clientId)})) {
            deleted_ += static_cast<std::uint64_t>(db->changes());
        }
        std::erase_if(rows_, [&](const auto& entry) { return ofClient(entry.second, clientId); });
    }
    sync();
}

std::vector<MQTTFlowPtr> MQTTCoreDataPersistence::allFlowsforClientId(const std::string& clientId, bool incomingFlag) {
    std::lock_guard lock(mutex_);
    std::vector<MQTTFlowPtr> flows;
    if (memoryOnly()) {
        // By deadline as the database orders them: no deadline first, and
        // equal deadlines by age.
        std::vector<std::pair<std::optional<double>, std::int64_t>> order;
        for (const auto& [row, values] : rows_) {
            if (!matches(values, clientId, incomingFlag)) continue;
            const Value& d = values[kDeadline];
            order.emplace_back(d.isNumber() ? std::optional<double>(d.doubleValue()) : std::nullopt, row);
        }
        std::sort(order.begin(), order.end());
        flows.reserve(order.size());
        for (const auto& entry : order) flows.push_back(proxy(entry.second));
        return flows;
    }
    auto* db = database();
    if (!db) return flows;
    std::vector<platform::SQLiteDatabase::Row> rows;
    platform::ErrorPtr error;
    if (!db->execute("SELECT id FROM MQTTFlow WHERE clientId = ? AND incomingFlag = ? ORDER BY deadline ASC",
                     {Value(clientId), Value(incomingFlag ? 1 : 0)}, &rows, &error)) {
        MQTT_LOG_ERROR("[MQTTPersistence] allFlowsforClientId %s", error ? error->description().c_str() : "(null)");
        return flows;
    }
    flows.reserve(rows.size());
    for (const auto& r : rows) flows.push_back(proxy(r[0].intValue()));
    return flows;
}

MQTTFlowPtr MQTTCoreDataPersistence::flowforClientId(const std::string& clientId, bool incomingFlag,
                                                     std::uint16_t messageId) {
    MQTT_LOG_VERBOSE("flowforClientId requestingPerform");
    std::lock_guard lock(mutex_);
    MQTT_LOG_VERBOSE("flowforClientId performing");
    auto row = rowFor(clientId, incomingFlag, messageId);
    MQTT_LOG_VERBOSE("flowforClientId performed");
    return row ? proxy(*row) : nullptr;
}

void MQTTCoreDataPersistence::sync() {
    std::lock_guard lock(mutex_);
    auto* db = opened_ ? db_.get() : nullptr;
    if (!db || !db->inTransaction()) return;
    MQTT_LOG_VERBOSE("[MQTTPersistence] pre-sync: i%lu u%lu d%lu", static_cast<unsigned long>(inserted_),
                     static_cast<unsigned long>(updated_), static_cast<unsigned long>(deleted_));
    platform::ErrorPtr error;
    if (!db->execute("COMMIT", {}, nullptr, &error)) {
        // The changes stay in the open transaction and go with the next sync.
        MQTT_LOG_ERROR("[MQTTPersistence] sync error %s", error ? error->description().c_str() : "(null)");
    }
    if (db->inTransaction()) {
        MQTT_LOG_ERROR("[MQTTPersistence] sync not complete");
    } else {
        inserted_ = updated_ = deleted_ = 0;
    }
    MQTT_LOG_VERBOSE("[MQTTPersistence] postsync: i%lu u%lu d%lu", static_cast<unsigned long>(inserted_),
                     static_cast<unsigned long>(updated_), static_cast<unsigned long>(deleted_));
    sizes();
}

void MQTTCoreDataPersistence::sizes() {
    if (fileBacked_) {
        const std::string path = storePath();
        // The store is the database file and its write-ahead log together.
        fileSize_ = 0;
        for (const std::string& file : {path, path + "-wal"}) {
            struct stat st {};
            if (::stat(file.c_str(), &st) == 0) fileSize_ += static_cast<std::uint64_t>(st.st_size);
        }
        struct statvfs fs {};
        fileSystemFreeSize_ =
            ::statvfs(path.c_str(), &fs) == 0 ? static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize : 0;
    } else {
        fileSize_ = 0;
        fileSystemFreeSize_ = 0;
    }
    MQTT_LOG_VERBOSE("[MQTTPersistence] sizes %llu/%llu", static_cast<unsigned long long>(fileSize_),
                     static_cast<unsigned long long>(fileSystemFreeSize_));
}

std::uint64_t MQTTCoreDataPersistence::maxWindowSize() const {
    std::lock_guard lock(mutex_);
    return maxWindowSize_;
}
void MQTTCoreDataPersistence::setMaxWindowSize(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    maxWindowSize_ = size;
}
std::uint64_t MQTTCoreDataPersistence::maxMessages() const {
    std::lock_guard lock(mutex_);
    return maxMessages_;
}
void MQTTCoreDataPersistence::setMaxMessages(std::uint64_t messages) {
    std::lock_guard lock(mutex_);
    maxMessages_ = messages;
}
bool MQTTCoreDataPersistence::persistent() const {
    std::lock_guard lock(mutex_);
    return opened_ ? fileBacked_ : persistent_;
}
void MQTTCoreDataPersistence::setPersistent(bool persistent) {
    std::lock_guard lock(mutex_);
    if (opened_ && persistent != fileBacked_) {
        // Switching now would hide the flows already stored.
        MQTT_LOG_WARNING("[MQTTPersistence] persistent changed after first use ignored");
        return;
    }
    persistent_ = persistent;
}
std::uint64_t MQTTCoreDataPersistence::maxSize() const {
    std::lock_guard lock(mutex_);
    return maxSize_;
}
void MQTTCoreDataPersistence::setMaxSize(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    maxSize_ = size;
}
std::uint64_t MQTTCoreDataPersistence::fileSize() const {
    std::lock_guard lock(mutex_);
    return fileSize_;
}
std::uint64_t MQTTCoreDataPersistence::fileSystemFreeSize() const {
    std::lock_guard lock(mutex_);
    return fileSystemFreeSize_;
}

}  // namespace pellix
