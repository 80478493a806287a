#include "sqlite_connection.h"

#include <sqlite3.h>

namespace brindlewick::server {

namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw DatabaseError(what + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}

} // namespace

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, const std::string& value) {
    if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        fail(sqlite3_db_handle(stmt_), "bind");
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK)
        fail(sqlite3_db_handle(stmt_), "bind");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3* db = sqlite3_db_handle(stmt_);
    const std::string message = sqlite3_errmsg(db);
    sqlite3_reset(stmt_);
    throw DatabaseError("step: " + message);
}

void Statement::run() {
    while (step()) {
    }
}

std::string Statement::text(int column) const {
    const auto* data = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

SqliteConnection::SqliteConnection(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
}

SqliteConnection::~SqliteConnection() {
    cache_.clear(); // finalizes before the close
    sqlite3_close(db_);
}

void SqliteConnection::exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw DatabaseError(message);
    }
}

Statement& SqliteConnection::prepare(std::string_view sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) {
        it->second->reset();
        return *it->second;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, nullptr) != SQLITE_OK)
        fail(db_, "prepare " + std::string(sql));
    auto statement = std::make_unique<Statement>(stmt);
    Statement& ref = *statement;
    cache_.emplace(std::string(sql), std::move(statement));
    return ref;
}

std::int64_t SqliteConnection::changes() const {
    return sqlite3_changes(db_);
}

} // namespace brindlewick::server
