#include "platform/SQLiteDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellix::platform {

std::unique_ptr<SQLiteDatabase> SQLiteDatabase::open(const std::string& path, ErrorPtr* error) {
    if (path != kInMemory) {
        // Create it private before SQLite does with the umask's mode.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        if (error) {
            std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
            *error = Error::make(kErrorDomain, rc,
                                 Dictionary{{Error::kLocalizedDescriptionKey, Value(message + ": " + path)}});
        }
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 2000);
    sqlite3_extended_result_codes(db, 1);
    return std::unique_ptr<SQLiteDatabase>(new SQLiteDatabase(db, path));
}

SQLiteDatabase::~SQLiteDatabase() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    if (inTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

ErrorPtr SQLiteDatabase::lastError(int rc) const {
    return Error::make(kErrorDomain, rc, Dictionary{{Error::kLocalizedDescriptionKey, Value(sqlite3_errmsg(db_))}});
}

bool SQLiteDatabase::execute(const std::string& sql, const std::vector<Value>& params, std::vector<Row>* rows,
                             ErrorPtr* error) {
    sqlite3_stmt* stmt;
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
        stmt = it->second;
    } else {
        int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
        if (rc != SQLITE_OK) {
            if (error) *error = lastError(rc);
            return false;
        }
        statements_[sql] = stmt;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    for (std::size_t i = 0; i < params.size(); ++i) {
        const Value& v = params[i];
        int idx = static_cast<int>(i + 1);
        switch (v.type()) {
        case Value::Type::Null:
            sqlite3_bind_null(stmt, idx);
            break;
        case Value::Type::Bool:
        case Value::Type::Int:
        case Value::Type::UInt:
            sqlite3_bind_int64(stmt, idx, v.intValue());
            break;
        case Value::Type::Double:
            sqlite3_bind_double(stmt, idx, v.asDouble());
            break;
        case Value::Type::String:
            sqlite3_bind_text(stmt, idx, v.asString().data(), static_cast<int>(v.asString().size()), SQLITE_TRANSIENT);
            break;
        case Value::Type::Bytes:
            // A zero-length blob, not NULL, for empty bytes.
            sqlite3_bind_blob(stmt, idx, v.asBytes().empty() ? "" : static_cast<const void*>(v.asBytes().data()),
                              static_cast<int>(v.asBytes().size()), SQLITE_TRANSIENT);
            break;
        default:
            sqlite3_bind_null(stmt, idx);
            break;
        }
    }
    for (;;) {
        int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) {
            if (error) *error = lastError(rc);
            sqlite3_reset(stmt);
            return false;
        }
        if (!rows) continue;
        Row row;
        int n = sqlite3_column_count(stmt);
        for (int c = 0; c < n; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_INTEGER:
                row.emplace_back(static_cast<long long>(sqlite3_column_int64(stmt, c)));
                break;
            case SQLITE_FLOAT:
                row.emplace_back(sqlite3_column_double(stmt, c));
                break;
            case SQLITE_TEXT:
                row.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                             static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
                break;
            case SQLITE_BLOB: {
                const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, c));
                row.emplace_back(Bytes(p, p + sqlite3_column_bytes(stmt, c)));
                break;
            }
            default:
                row.emplace_back();
                break;
            }
        }
        rows->push_back(std::move(row));
    }
    sqlite3_reset(stmt);
    return true;
}

std::int64_t SQLiteDatabase::lastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }
std::int64_t SQLiteDatabase::changes() const { return sqlite3_changes(db_); }
bool SQLiteDatabase::inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

}  // namespace pellix::platform
