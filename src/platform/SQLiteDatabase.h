// SQLiteDatabase: one connection to a SQLite database (a file, or memory
// only), for the stores that keep records in tables (the MQTT flow store).
//
// Statements are prepared once per SQL text and kept; parameters are bound
// from Values in order (null, bool and integers as INTEGER, double as REAL,
// string as TEXT, bytes as BLOB) and result columns come back as Values the
// same way. Failures come back as errors in "NSSQLiteErrorDomain" with the
// SQLite result code and its message; nothing throws.
//
// Not thread-safe: one owner serialises every call (the stores hold a lock).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

typedef struct sqlite3 sqlite3;
typedef struct sqlite3_stmt sqlite3_stmt;

namespace pellix::platform {

class SQLiteDatabase {
public:
    using Row = std::vector<Value>;
    static constexpr const char* kErrorDomain = "NSSQLiteErrorDomain";
    static constexpr const char* kInMemory = ":memory:";

    // Opens (creating with mode 0600 when missing) the file at path, or a
    // memory-only database for kInMemory. Null with *error on failure.
    static std::unique_ptr<SQLiteDatabase> open(const std::string& path, ErrorPtr* error);
    ~SQLiteDatabase();
    SQLiteDatabase(const SQLiteDatabase&) = delete;
    SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

    // Runs one statement; result rows are appended to *rows when given.
    bool execute(const std::string& sql, const std::vector<Value>& params = {}, std::vector<Row>* rows = nullptr,
                 ErrorPtr* error = nullptr);
    std::int64_t lastInsertRowId() const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    std::int64_t changes() const;
    // True inside an explicit transaction (BEGIN not yet committed).
    bool inTransaction() const;
    const std::string& path() const { return path_; }

private:
    SQLiteDatabase(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    ErrorPtr lastError(int rc) const;

    sqlite3* db_;
    std::string path_;
    std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace pellix::platform
