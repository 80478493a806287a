#include "pg_connection.h"

#include <libpq-fe.h>

#include <cstring>

namespace brindlewick::server {

PgConnection::Result::~Result() {
    PQclear(result_);
}

int PgConnection::Result::rows() const {
    return PQntuples(result_);
}

std::string PgConnection::Result::text(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<std::size_t>(PQgetlength(result_, row, column)));
}

std::int64_t PgConnection::Result::integer(int row, int column) const {
    const char* value = PQgetvalue(result_, row, column);
    return value[0] ? std::strtoll(value, nullptr, 10) : 0;
}

std::int64_t PgConnection::Result::changed() const {
    const char* n = PQcmdTuples(result_);
    return n[0] ? std::strtoll(n, nullptr, 10) : 0;
}

std::string PgConnection::Result::tag() const {
    return PQcmdStatus(result_);
}

PgConnection::PgConnection(std::string uri) : uri_(std::move(uri)) {
    connect();
}

PgConnection::~PgConnection() {
    if (conn_)
        PQfinish(conn_);
}

void PgConnection::reopenIfLost() {
    if (PQstatus(conn_) != CONNECTION_OK)
        connect();
}

void PgConnection::connect() {
    if (conn_)
        PQfinish(conn_);
    prepared_.clear();
    conn_ = PQconnectdb(uri_.c_str());
    if (!conn_)
        throw DatabaseError("PostgreSQL: out of memory");
    if (PQstatus(conn_) != CONNECTION_OK) {
        try {
            fail("cannot connect to PostgreSQL");
        } catch (...) {
            // A constructor that throws has no destructor to close it.
            PQfinish(conn_);
            conn_ = nullptr;
            throw;
        }
    }
    exec("SET client_min_messages = warning");
}

void PgConnection::fail(const std::string& what, pg_result* result) {
    std::string message = conn_ ? PQerrorMessage(conn_) : "no connection";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    // deadlock_detected, serialization_failure, lock_not_available
    if (state && (std::strcmp(state, "40P01") == 0 || std::strcmp(state, "40001") == 0 ||
                  std::strcmp(state, "55P03") == 0))
        throw LockConflict(what + ": " + message);
    throw DatabaseError(what + ": " + message);
}

PgConnection::Result PgConnection::exec(const std::string& sql) {
    Result result(PQexec(conn_, sql.c_str()));
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(sql.substr(0, sql.find_first_of("(\n")));
    return result;
}

PgConnection::Result PgConnection::query(std::string_view sql, const std::vector<Param>& params,
                                         bool binaryResult) {
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
        const std::string name = "s" + std::to_string(prepared_.size());
        Result made(PQprepare(conn_, name.c_str(), std::string(sql).c_str(),
                              static_cast<int>(params.size()), nullptr));
        if (PQresultStatus(made.get()) != PGRES_COMMAND_OK)
            fail("prepare " + std::string(sql.substr(0, sql.find(' ', 7))));
        it = prepared_.emplace(std::string(sql), name).first;
    }
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    values.reserve(params.size());
    for (const Param& p : params) {
        values.push_back(p.value.data());
        lengths.push_back(static_cast<int>(p.value.size()));
        formats.push_back(p.binary ? 1 : 0);
    }
    Result result(PQexecPrepared(conn_, it->second.c_str(), static_cast<int>(params.size()),
                                 values.data(), lengths.data(), formats.data(),
                                 binaryResult ? 1 : 0));
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(std::string(sql.substr(0, sql.find(' ', 7))), result.get());
    return result;
}

} // namespace brindlewick::server
