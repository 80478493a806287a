#pragma once
// Thin RAII layer over one libpq connection, as sqlite_connection.h is over SQLite: statements
// prepared once per connection, errors thrown as DatabaseError, and a lost connection reopened on
// request. Locks another transaction held come back as LockConflict.

#include "storage.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace brindlewick::server {

class PgConnection {
public:
    // A parameter: text, or raw bytes for a bytea column.
    struct Param {
        Param(std::string text) : value(std::move(text)) {}
        Param(const char* text) : value(text) {}
        Param(std::int64_t number) : value(std::to_string(number)) {}
        Param(int number) : value(std::to_string(number)) {}
        static Param bytes(std::string raw) {
            Param p(std::move(raw));
            p.binary = true;
            return p;
        }
        std::string value;
        bool binary = false;
    };

    class Result {
    public:
        explicit Result(pg_result* result) : result_(result) {}
        ~Result();
        Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
        Result(const Result&) = delete;
        Result& operator=(const Result&) = delete;
        Result& operator=(Result&&) = delete;

        int rows() const;
        std::string text(int row, int column) const;
        std::int64_t integer(int row, int column) const;
        // Rows a command changed.
        std::int64_t changed() const;
        // The command's tag, such as "COMMIT" (or "ROLLBACK" for a failed transaction).
        std::string tag() const;
        pg_result* get() const { return result_; }

    private:
        pg_result* result_;
    };

    // Connects; throws DatabaseError when it cannot.
    explicit PgConnection(std::string uri);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Connects anew when the connection was lost; throws when that fails too.
    void reopenIfLost();
    // Runs SQL text without parameters (several statements allowed).
    Result exec(const std::string& sql);
    // Prepared once per connection and SQL text; parameters are $1, $2, ...
    Result query(std::string_view sql, const std::vector<Param>& params = {},
                 bool binaryResult = false);

private:
    void connect();
    // Throws LockConflict when `result` failed for a lock another transaction held.
    [[noreturn]] void fail(const std::string& what, pg_result* result = nullptr);

    std::string uri_;
    pg_conn* conn_ = nullptr;
    std::map<std::string, std::string, std::less<>> prepared_; // SQL text -> statement name
};

} // namespace brindlewick::server
