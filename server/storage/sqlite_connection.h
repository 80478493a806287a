#pragma once
// Thin RAII layer over the SQLite C API: one connection, cached prepared statements.
// Errors throw DatabaseError so a job can be rolled back as a whole.

#include "database_error.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace brindlewick::server {

class Statement {
public:
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& value);
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, int value) { return bind(index, std::int64_t(value)); }
    // True while a row is available.
    bool step();
    // Runs to completion; for statements without rows.
    void run();
    std::string text(int column) const;
    std::int64_t integer(int column) const;
    void reset();

private:
    sqlite3_stmt* stmt_;
};

class SqliteConnection {
public:
    explicit SqliteConnection(const std::string& path);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    void exec(const std::string& sql);
    // Prepared once per connection and SQL text, and reset on every call; bind from 1.
    Statement& prepare(std::string_view sql);
    std::int64_t changes() const;

private:
    sqlite3* db_ = nullptr;
    // Keyed by the text, not its address: a caller's temporary string may be freed and its
    // address reused by different SQL. std::less<> looks up without copying the text.
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> cache_;
};

} // namespace brindlewick::server
