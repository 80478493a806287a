#include "postgres_schema.h"

#include "database_error.h"

#include <string>

namespace brindlewick::server {

namespace {

// Version 1: the tables of the SQLite back end, with upload chunks as rows.
const char* const kSchemaV1 = R"sql(
CREATE TABLE users(
    phone TEXT PRIMARY KEY,
    nickname TEXT NOT NULL DEFAULT '',
    status TEXT NOT NULL DEFAULT '',
    profile_pic TEXT NOT NULL DEFAULT '');
CREATE TABLE friends(
    owner TEXT NOT NULL,
    friend TEXT NOT NULL,
    alias TEXT NOT NULL DEFAULT '',
    added BIGINT NOT NULL,
    PRIMARY KEY(owner, friend));
CREATE TABLE rooms(
    id TEXT PRIMARY KEY,
    kind TEXT NOT NULL,
    title TEXT NOT NULL DEFAULT '',
    creator TEXT NOT NULL DEFAULT '',
    last_msg_id BIGINT NOT NULL DEFAULT 0,
    activity BIGINT NOT NULL DEFAULT 0);
CREATE TABLE members(
    room TEXT NOT NULL,
    phone TEXT NOT NULL,
    read_mark BIGINT NOT NULL DEFAULT 0,
    PRIMARY KEY(room, phone));
CREATE INDEX members_by_phone ON members(phone);
CREATE TABLE messages(
    room TEXT NOT NULL,
    id BIGINT NOT NULL,
    kind TEXT NOT NULL,
    sender TEXT NOT NULL,
    sender_name TEXT NOT NULL,
    text TEXT NOT NULL DEFAULT '',
    time TEXT NOT NULL,
    reply_to TEXT NOT NULL DEFAULT '',
    file_id TEXT NOT NULL DEFAULT '',
    file_name TEXT NOT NULL DEFAULT '',
    file_size BIGINT NOT NULL DEFAULT 0,
    edited SMALLINT NOT NULL DEFAULT 0,
    deleted SMALLINT NOT NULL DEFAULT 0,
    PRIMARY KEY(room, id));
CREATE TABLE files(
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL DEFAULT '',
    declared_size BIGINT NOT NULL,
    received BIGINT NOT NULL DEFAULT 0,
    chunks BIGINT NOT NULL DEFAULT 0,
    complete SMALLINT NOT NULL DEFAULT 0,
    created BIGINT NOT NULL,
    sha256 TEXT NOT NULL DEFAULT '',
    owner TEXT NOT NULL DEFAULT '',
    touched BIGINT NOT NULL DEFAULT 0);
CREATE INDEX files_pending ON files(owner) WHERE complete=0;
CREATE TABLE file_chunks(
    file TEXT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    seq BIGINT NOT NULL,
    bytes BYTEA NOT NULL,
    PRIMARY KEY(file, seq));
)sql";

// Version 2: phones claimed by a device (the SHA-256 of its secret).
const char* const kSchemaV2 = R"sql(
CREATE TABLE claims(
    phone TEXT PRIMARY KEY,
    secret_sha256 TEXT NOT NULL UNIQUE,
    claimed BIGINT NOT NULL);
)sql";

// Version 3: when each room was made (rooms made before count as made long ago), and the log
// of released claims every server reads to close the phone's connections.
const char* const kSchemaV3 = R"sql(
ALTER TABLE rooms ADD COLUMN created BIGINT NOT NULL DEFAULT 0;
CREATE INDEX rooms_by_creator ON rooms(creator, created);
CREATE TABLE claim_releases(
    seq BIGSERIAL PRIMARY KEY,
    phone TEXT NOT NULL,
    released BIGINT NOT NULL);
)sql";

// Version 4: the client ids of each sender's requests, unique per sender, kept for a while so a
// resent request is stored once. The id leads the key: ids begin with their time, so the key
// grows at one end whoever sends, instead of at each sender's own place.
const char* const kSchemaV4 = R"sql(
CREATE TABLE client_ids(
    sender TEXT NOT NULL,
    client_id TEXT NOT NULL,
    kind TEXT NOT NULL,
    room TEXT NOT NULL,
    msg_id BIGINT NOT NULL,
    created BIGINT NOT NULL,
    PRIMARY KEY(client_id, sender));
CREATE INDEX client_ids_by_created ON client_ids(created);
ALTER TABLE messages ADD COLUMN client_id TEXT NOT NULL DEFAULT '';
)sql";

// Each entry takes the schema from the version before it to its own.
const char* const kUpgrades[] = {kSchemaV1, kSchemaV2, kSchemaV3, kSchemaV4};

// Any number shared by every process that creates the schema.
constexpr long long kSchemaLock = 0x6272696e646c65LL;

} // namespace

void createPostgresSchema(PgConnection& db) {
    // One process at a time, so two starting together do not both create the tables.
    db.exec("BEGIN");
    try {
        db.query("SELECT pg_advisory_xact_lock($1)", {std::int64_t(kSchemaLock)});
        db.exec("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");
        PgConnection::Result current = db.query("SELECT version FROM schema_version");
        int version = current.rows() > 0 ? static_cast<int>(current.integer(0, 0)) : 0;
        if (version > kPostgresSchemaVersion)
            throw DatabaseError("the database's schema version " + std::to_string(version) +
                                " is newer than this server's " +
                                std::to_string(kPostgresSchemaVersion));
        if (current.rows() == 0)
            db.query("INSERT INTO schema_version(version) VALUES(0)");
        for (; version < kPostgresSchemaVersion; ++version)
            db.exec(kUpgrades[version]);
        db.query("UPDATE schema_version SET version=$1", {kPostgresSchemaVersion});
        // A transaction that failed earlier "commits" as a rollback.
        if (db.exec("COMMIT").tag() != "COMMIT")
            throw DatabaseError("schema: the transaction was rolled back");
    } catch (...) {
        try {
            db.exec("ROLLBACK");
        } catch (const DatabaseError&) {
        }
        throw;
    }
}

} // namespace brindlewick::server
