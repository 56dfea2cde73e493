#include "MQTTClient/MQTTCoreDataPersistence.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>
#include <iterator>

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

enum Column : std::size_t { kClientId = 0, kIncomingFlag = 1, kMessageId = 5, kDeadline = 8 };

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
    return !persistent_;
}

platform::SQLiteDatabase* MQTTCoreDataPersistence::database() {
    if (opened_) return db_.get();
    opened_ = true;
    // A memory-only store keeps its rows in rows_ alone: the same rows,
    // found and ordered the same way, without a database.
    if (!persistent_) return nullptr;
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
    if (memoryOnly()) {
        std::optional<std::int64_t> found;
        for (const auto& [row, values] : rows_) {
            if (matches(values, clientId, incomingFlag) && values[kMessageId].isNumber() &&
                values[kMessageId].intValue() == messageId && (!found || row > *found)) {
                found = row;
            }
        }
        return found;
    }
    auto* db = database();
    if (!db) return std::nullopt;
    std::vector<platform::SQLiteDatabase::Row> rows;
    platform::ErrorPtr error;
    // Of several rows for one triple, the last one counts.
    if (!db->execute("SELECT id FROM MQTTFlow WHERE clientId = ? AND incomingFlag = ? AND messageId = ? "
                     "ORDER BY id DESC LIMIT 1",
                     {Value(clientId), Value(incomingFlag ? 1 : 0), Value(static_cast<int>(messageId))}, &rows,
                     &error)) {
        MQTT_LOG_ERROR("[MQTTPersistence] flowForClientId %s", error ? error->description().c_str() : "(null)");
        return std::nullopt;
    }
    if (rows.empty()) return std::nullopt;
    return rows.front()[0].intValue();
}

// Every change to the table goes through this store, so a row once read
// stays right in the cache until this store changes or deletes it; a flow's
// getters then cost no query.
std::optional<Value> MQTTCoreDataPersistence::readColumn(std::int64_t row, const char* column) {
    const int index = columnIndex(column);
    if (index < 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    auto cached = rows_.find(row);
    if (cached == rows_.end()) {
        auto* db = database();
        if (!db) return std::nullopt;  // memory-only: the row is gone
        std::vector<platform::SQLiteDatabase::Row> rows;
        if (!db->execute(kSelectRow, {Value(static_cast<long long>(row))}, &rows) || rows.empty()) {
            return std::nullopt;
        }
        cached = rows_.emplace(row, std::move(rows.front())).first;
    }
    return cached->second[static_cast<std::size_t>(index)];
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
        return;
    }
    auto* db = database();
    if (!db || !begin(db)) return;
    platform::ErrorPtr error;
    if (!db->execute(std::string("UPDATE MQTTFlow SET ") + column + " = ? WHERE id = ?",
                     {value, Value(static_cast<long long>(row))}, nullptr, &error)) {
        MQTT_LOG_ERROR("[MQTTPersistence] update %s", error ? error->description().c_str() : "(null)");
        rows_.erase(row);
        return;
    }
    updated_ += static_cast<std::uint64_t>(db->changes());
    auto cached = rows_.find(row);
    if (cached != rows_.end()) cached->second[static_cast<std::size_t>(index)] = std::move(value);
}

std::uint64_t MQTTCoreDataPersistence::windowSize(const std::string& clientId) {
    std::uint64_t n = 0;
    for (const auto& flow : allFlowsforClientId(clientId, false)) {
        if (flow->commandType().value_or(0) != 0) ++n;
    }
    return n;
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
        std::uint64_t n = 0;
        for (const auto& entry : rows_) n += matches(entry.second, clientId, incomingFlag) ? 1 : 0;
        if (n > maxMessages_) return nullptr;
        auto row = rowFor(clientId, incomingFlag, msgId);
        if (row) {
            ++updated_;
        } else {
            row = nextRow_++;
            ++inserted_;
        }
        rows_[*row] = std::move(values);
        return proxy(*row);
    }
    auto* db = database();
    if (!db) return nullptr;
    std::vector<platform::SQLiteDatabase::Row> rows;
    if (!db->execute("SELECT COUNT(*) FROM MQTTFlow WHERE clientId = ? AND incomingFlag = ?",
                     {Value(clientId), Value(incomingFlag ? 1 : 0)}, &rows)) {
        return nullptr;
    }
    std::uint64_t n = rows.empty() ? 0 : rows.front()[0].uintValue();
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
            return nullptr;
        }
        ++updated_;
        rows_.erase(*row);
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
        rows_[*row] = std::move(values);
    }
    return proxy(*row);
}

MQTTFlowPtr MQTTCoreDataPersistence::createFlowforClientId(const std::string& clientId, bool incomingFlag,
                                                           std::uint16_t messageId) {
    std::lock_guard lock(mutex_);
    if (auto row = rowFor(clientId, incomingFlag, messageId)) return proxy(*row);
    if (memoryOnly()) {
        std::vector<Value> values(std::size(kColumns));
        values[kClientId] = Value(clientId);
        values[kIncomingFlag] = Value(incomingFlag ? 1 : 0);
        values[kMessageId] = Value(static_cast<int>(messageId));
        const std::int64_t row = nextRow_++;
        rows_[row] = std::move(values);
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
    return proxy(db->lastInsertRowId());
}

void MQTTCoreDataPersistence::deleteFlow(const MQTTFlowPtr& flow) {
    auto mine = std::dynamic_pointer_cast<MQTTCoreDataFlow>(flow);
    if (!mine || mine->context().get() != this) return;
    {
        std::lock_guard lock(mutex_);
        if (memoryOnly()) {
            deleted_ += rows_.erase(mine->object());
            return;
        }
        auto* db = database();
        if (!db || !begin(db)) return;
        if (db->execute("DELETE FROM MQTTFlow WHERE id = ?", {Value(static_cast<long long>(mine->object()))})) {
            deleted_ += static_cast<std::uint64_t>(db->changes());
        }
        rows_.erase(mine->object());
    }
    sync();
}

void MQTTCoreDataPersistence::deleteAllFlowsForClientId(const std::string& clientId) {
    MQTT_LOG_INFO("[MQTTCoreDataPersistence] deleteAllFlowsForClientId %s", clientId.c_str());
    {
        std::lock_guard lock(mutex_);
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
    if (persistent_) {
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
    return persistent_;
}
void MQTTCoreDataPersistence::setPersistent(bool persistent) {
    std::lock_guard lock(mutex_);
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
