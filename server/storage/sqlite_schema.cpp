#include "sqlite_schema.h"

#include <algorithm>
#include <string>
#include <vector>

namespace brindlewick::server {

namespace {

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users(
    phone TEXT PRIMARY KEY,
    nickname TEXT NOT NULL DEFAULT '',
    status TEXT NOT NULL DEFAULT '',
    profile_pic TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS friends(
    owner TEXT NOT NULL,
    friend TEXT NOT NULL,
    alias TEXT NOT NULL DEFAULT '',
    added INTEGER NOT NULL,
    PRIMARY KEY(owner, friend)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS rooms(
    id TEXT PRIMARY KEY,
    kind TEXT NOT NULL,
    title TEXT NOT NULL DEFAULT '',
    creator TEXT NOT NULL DEFAULT '',
    last_msg_id INTEGER NOT NULL DEFAULT 0,
    activity INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS members(
    room TEXT NOT NULL,
    phone TEXT NOT NULL,
    read_mark INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(room, phone)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS members_by_phone ON members(phone);
CREATE TABLE IF NOT EXISTS messages(
    room TEXT NOT NULL,
    id INTEGER NOT NULL,
    kind TEXT NOT NULL,
    sender TEXT NOT NULL,
    sender_name TEXT NOT NULL,
    text TEXT NOT NULL DEFAULT '',
    time TEXT NOT NULL,
    reply_to TEXT NOT NULL DEFAULT '',
    file_id TEXT NOT NULL DEFAULT '',
    file_name TEXT NOT NULL DEFAULT '',
    file_size INTEGER NOT NULL DEFAULT 0,
    edited INTEGER NOT NULL DEFAULT 0,
    deleted INTEGER NOT NULL DEFAULT 0,
    client_id TEXT NOT NULL DEFAULT '',
    PRIMARY KEY(room, id)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS files(
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL DEFAULT '',
    declared_size INTEGER NOT NULL,
    received INTEGER NOT NULL DEFAULT 0,
    chunks INTEGER NOT NULL DEFAULT 0,
    complete INTEGER NOT NULL DEFAULT 0,
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS claims(
    phone TEXT PRIMARY KEY,
    secret_sha256 TEXT NOT NULL UNIQUE,
    claimed INTEGER NOT NULL);
-- The id leads the key: ids begin with their time, so inserts land at one end.
CREATE TABLE IF NOT EXISTS client_ids(
    sender TEXT NOT NULL,
    client_id TEXT NOT NULL,
    kind TEXT NOT NULL,
    room TEXT NOT NULL,
    msg_id INTEGER NOT NULL,
    created INTEGER NOT NULL,
    PRIMARY KEY(client_id, sender)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS client_ids_by_created ON client_ids(created);
CREATE TABLE IF NOT EXISTS claim_releases(
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    phone TEXT NOT NULL,
    released INTEGER NOT NULL);
)sql";

// Columns added to `files` after its first release, for databases created before them.
const char* const kFileColumns[][2] = {
    {"sha256", "sha256 TEXT NOT NULL DEFAULT ''"},
    {"owner", "owner TEXT NOT NULL DEFAULT ''"},
    {"touched", "touched INTEGER NOT NULL DEFAULT 0"},
};

void upgradeMessages(SqliteConnection& db) {
    Statement& columns =
        db.prepare("SELECT 1 FROM pragma_table_info('messages') WHERE name='client_id'");
    const bool present = columns.step();
    columns.reset();
    if (!present)
        db.exec("ALTER TABLE messages ADD COLUMN client_id TEXT NOT NULL DEFAULT ''");
}

void upgradeRooms(SqliteConnection& db) {
    Statement& columns =
        db.prepare("SELECT 1 FROM pragma_table_info('rooms') WHERE name='created'");
    const bool present = columns.step();
    columns.reset();
    // Rooms made before the column count as made long ago.
    if (!present)
        db.exec("ALTER TABLE rooms ADD COLUMN created INTEGER NOT NULL DEFAULT 0");
    db.exec("CREATE INDEX IF NOT EXISTS rooms_by_creator ON rooms(creator, created)");
}

void upgradeFiles(SqliteConnection& db) {
    std::vector<std::string> present;
    Statement& columns = db.prepare("SELECT name FROM pragma_table_info('files')");
    while (columns.step())
        present.push_back(columns.text(0));
    for (const auto& column : kFileColumns)
        if (std::find(present.begin(), present.end(), column[0]) == present.end())
            db.exec(std::string("ALTER TABLE files ADD COLUMN ") + column[1]);
    // Older rows count their idle time from their creation.
    db.exec("UPDATE files SET touched=created WHERE touched=0");
    db.exec("CREATE INDEX IF NOT EXISTS files_pending ON files(owner) WHERE complete=0");
}

} // namespace

void createSqliteSchema(SqliteConnection& db) {
    db.exec(kSchema);
    upgradeFiles(db);
    upgradeRooms(db);
    upgradeMessages(db);
}

} // namespace brindlewick::server
