#include "postgres_storage.h"

#include "history_page.h"
#include "postgres_schema.h"
#include "time_text.h"

#include <algorithm>
#include <chrono>

namespace brindlewick::server {

PostgresStorage::PostgresStorage(std::string uri, bool reader)
    : db_(std::move(uri)), reader_(reader) {
    if (!reader)
        createPostgresSchema(db_);
}

PostgresStorage::~PostgresStorage() = default;

void PostgresStorage::begin() {
    // A connection lost during an earlier batch is reopened here; if that fails too, this
    // batch fails with the reason and the next one tries again.
    db_.reopenIfLost();
    releaseDue_ = false;
    db_.exec(reader_ ? "BEGIN READ ONLY" : "BEGIN");
}

void PostgresStorage::commit() {
    releaseDue_ = false; // COMMIT releases every savepoint
    // A transaction that failed earlier "commits" as a rollback.
    if (db_.exec("COMMIT").tag() != "COMMIT")
        throw DatabaseError("commit: the transaction was rolled back");
}

void PostgresStorage::rollback() {
    releaseDue_ = false;
    db_.exec("ROLLBACK");
}

// Each pair of statements goes in one round trip: a job's release waits for the next job's
// savepoint (or the commit), and a rollback to the savepoint releases it at once.
void PostgresStorage::savepoint() {
    db_.exec(releaseDue_ ? "RELEASE SAVEPOINT job; SAVEPOINT job" : "SAVEPOINT job");
    releaseDue_ = false;
}

void PostgresStorage::releaseSavepoint() {
    releaseDue_ = true;
}

void PostgresStorage::rollbackToSavepoint() {
    releaseDue_ = false;
    db_.exec("ROLLBACK TO SAVEPOINT job; RELEASE SAVEPOINT job");
}

void PostgresStorage::lockRooms(const std::vector<std::string>& rooms) {
    if (rooms.empty())
        return;
    // A text[] literal: every element quoted, its quotes and backslashes escaped.
    std::string array = "{";
    for (const std::string& room : rooms) {
        if (array.size() > 1)
            array += ',';
        array += '"';
        for (char c : room) {
            if (c == '"' || c == '\\')
                array += '\\';
            array += c;
        }
        array += '"';
    }
    array += '}';
    // The rows are locked as the sort hands them out, so every process takes them in the
    // order of the database's collation, whatever order its batch named them in.
    db_.query("SELECT id FROM rooms WHERE id = ANY($1::TEXT[]) ORDER BY id FOR NO KEY UPDATE",
              {array});
}

void PostgresStorage::upsertUser(const UserRecord& user, bool keepProfilePic) {
    if (keepProfilePic)
        db_.query("INSERT INTO users(phone, nickname, status) VALUES($1, $2, $3) "
                  "ON CONFLICT(phone) DO UPDATE SET nickname=$2, status=$3",
                  {user.phone, user.nickname, user.status});
    else
        db_.query("INSERT INTO users(phone, nickname, status, profile_pic) VALUES($1, $2, $3, $4) "
                  "ON CONFLICT(phone) DO UPDATE SET nickname=$2, status=$3, profile_pic=$4",
                  {user.phone, user.nickname, user.status, user.profilePic});
}

std::optional<UserRecord> PostgresStorage::user(const std::string& phone) {
    Result r = db_.query("SELECT nickname, status, profile_pic FROM users WHERE phone=$1", {phone});
    if (r.rows() == 0)
        return std::nullopt;
    return UserRecord{phone, r.text(0, 0), r.text(0, 1), r.text(0, 2)};
}

void PostgresStorage::setProfilePic(const std::string& phone, const std::string& fileId) {
    db_.query("UPDATE users SET profile_pic=$2 WHERE phone=$1", {phone, fileId});
}

void PostgresStorage::addFriend(const std::string& owner, const std::string& friendPhone,
                                const std::string& alias) {
    db_.query("INSERT INTO friends(owner, friend, alias, added) VALUES($1, $2, $3, $4) "
              "ON CONFLICT(owner, friend) DO UPDATE SET alias=$3",
              {owner, friendPhone, alias, nowMs()});
}

std::vector<FriendRow> PostgresStorage::friends(const std::string& owner) {
    Result r = db_.query("SELECT f.friend, f.alias, u.nickname, u.status, u.profile_pic "
                         "FROM friends f LEFT JOIN users u ON u.phone = f.friend "
                         "WHERE f.owner=$1 ORDER BY f.added, f.friend",
                         {owner});
    std::vector<FriendRow> rows;
    rows.reserve(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i)
        rows.push_back({{r.text(i, 0), r.text(i, 2), r.text(i, 3), r.text(i, 4)}, r.text(i, 1)});
    return rows;
}

std::string PostgresStorage::aliasOf(const std::string& owner, const std::string& friendPhone) {
    Result r =
        db_.query("SELECT alias FROM friends WHERE owner=$1 AND friend=$2", {owner, friendPhone});
    return r.rows() > 0 ? r.text(0, 0) : std::string();
}

std::optional<std::string> PostgresStorage::roomKind(const std::string& room) {
    Result r = db_.query("SELECT kind FROM rooms WHERE id=$1", {room});
    if (r.rows() == 0)
        return std::nullopt;
    return r.text(0, 0);
}

void PostgresStorage::createRoom(const std::string& room, const std::string& kind,
                                 const std::string& title, const std::string& creator) {
    // Two processes may both find a direct room missing and create it at once: the second
    // then uses the one the first made.
    db_.query("INSERT INTO rooms(id, kind, title, creator, activity, created) "
              "VALUES($1, $2, $3, $4, $5, $5) ON CONFLICT(id) DO NOTHING",
              {room, kind, title, creator, nowMs()});
}

std::int64_t PostgresStorage::roomsCreatedSince(const std::string& creator, std::int64_t sinceMs) {
    return db_
        .query("SELECT COUNT(*) FROM rooms WHERE creator=$1 AND created>=$2", {creator, sinceMs})
        .integer(0, 0);
}

bool PostgresStorage::isMember(const std::string& room, const std::string& phone) {
    return db_.query("SELECT 1 FROM members WHERE room=$1 AND phone=$2", {room, phone}).rows() > 0;
}

void PostgresStorage::addMember(const std::string& room, const std::string& phone) {
    // A returning member starts with everything read that was sent while away.
    db_.query("INSERT INTO members(room, phone, read_mark) "
              "SELECT $1, $2, last_msg_id FROM rooms WHERE id=$1 ON CONFLICT DO NOTHING",
              {room, phone});
}

bool PostgresStorage::removeMember(const std::string& room, const std::string& phone) {
    return db_.query("DELETE FROM members WHERE room=$1 AND phone=$2", {room, phone}).changed() > 0;
}

std::vector<std::string> PostgresStorage::members(const std::string& room) {
    Result r = db_.query("SELECT phone FROM members WHERE room=$1", {room});
    std::vector<std::string> phones;
    phones.reserve(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i)
        phones.push_back(r.text(i, 0));
    return phones;
}

Storage::MemberList PostgresStorage::sharedMembers(const std::string& room) {
    // Read every time: another process may have changed the members since.
    return std::make_shared<const std::vector<std::string>>(members(room));
}

std::vector<RoomRow> PostgresStorage::roomsOf(const std::string& phone) {
    Result r = db_.query("SELECT r.id, r.kind, r.title, "
                         " (SELECT COUNT(*) FROM messages g WHERE g.room = r.id "
                         "  AND g.id > m.read_mark AND g.sender <> m.phone AND g.deleted = 0), "
                         " l.kind, substr(l.text, 1, 200), l.file_name, l.time, "
                         " r.last_msg_id "
                         "FROM members m JOIN rooms r ON r.id = m.room "
                         // The newest message that is not deleted (see the SQLite back end).
                         "LEFT JOIN messages l ON l.room = r.id AND l.id = "
                         " (SELECT g.id FROM messages g WHERE g.room = r.id AND g.deleted = 0 "
                         "  ORDER BY g.id DESC LIMIT 1) "
                         "WHERE m.phone=$1 ORDER BY r.activity DESC, r.id",
                         {phone});
    std::vector<RoomRow> rows;
    rows.reserve(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i)
        rows.push_back({r.text(i, 0), r.text(i, 1), r.text(i, 2), r.integer(i, 3), r.text(i, 4),
                        r.text(i, 5), r.text(i, 6), r.text(i, 7), r.integer(i, 8)});
    return rows;
}

void PostgresStorage::setReadMark(const std::string& room, const std::string& phone,
                                  std::int64_t id) {
    // Forward only, and never past the last message (see the SQLite back end).
    db_.query("UPDATE members SET read_mark = LEAST($3::BIGINT, r.last_msg_id) FROM rooms r "
              "WHERE r.id = $1 AND members.room=$1 AND members.phone=$2 "
              "AND members.read_mark < LEAST($3::BIGINT, r.last_msg_id)",
              {room, phone, id});
}

std::int64_t PostgresStorage::readMark(const std::string& room, const std::string& phone) {
    Result r = db_.query("SELECT read_mark FROM members WHERE room=$1 AND phone=$2", {room, phone});
    return r.rows() > 0 ? r.integer(0, 0) : 0;
}

std::int64_t PostgresStorage::nextMessageId(const std::string& room) {
    // The row stays locked until the commit, so another process sending into this room
    // waits for it and takes the next id: no gap, no duplicate.
    Result r = db_.query("UPDATE rooms SET last_msg_id = last_msg_id + 1, activity=$2 "
                         "WHERE id=$1 RETURNING last_msg_id",
                         {room, nowMs()});
    if (r.rows() == 0)
        throw DatabaseError("no room " + room);
    return r.integer(0, 0);
}

void PostgresStorage::insertMessage(const MessageRecord& m) {
    db_.query("INSERT INTO messages(room, id, kind, sender, sender_name, text, time, reply_to, "
              "file_id, file_name, file_size, client_id) "
              "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12)",
              {m.room, m.id, m.kind, m.sender, m.senderName, m.text, m.time, m.replyTo, m.fileId,
               m.fileName, m.fileSize, m.clientId});
}

void PostgresStorage::appendMessage(MessageRecord& m) {
    // nextMessageId and insertMessage in one statement, one round trip.
    Result r =
        db_.query("WITH next AS (UPDATE rooms SET last_msg_id = last_msg_id + 1, activity=$2 "
                  "WHERE id=$1 RETURNING last_msg_id) "
                  "INSERT INTO messages(room, id, kind, sender, sender_name, text, time, "
                  "reply_to, file_id, file_name, file_size) "
                  "SELECT $1, last_msg_id, $3, $4, $5, $6, $7, $8, $9, $10, $11 FROM next "
                  "RETURNING id",
                  {m.room, nowMs(), m.kind, m.sender, m.senderName, m.text, m.time, m.replyTo,
                   m.fileId, m.fileName, m.fileSize});
    if (r.rows() == 0)
        throw DatabaseError("no room " + m.room);
    m.id = r.integer(0, 0);
}

std::optional<ClientIdUse> PostgresStorage::appendMessageOnce(MessageRecord& m) {
    const std::string& clientId = m.clientId;
    if (clientId.empty()) {
        appendMessage(m);
        return std::nullopt;
    }
    // One statement: the room's row first (the order every batch locks in), then the id, whose
    // insert waits for another process's uncommitted insert of the same one and then does
    // nothing; only a claimed id takes the room's next message id, so none is lost. The locked
    // row is the newest version, so its next id is the one the update takes.
    Result r = db_.query(
        "WITH locked AS (SELECT last_msg_id + 1 AS id FROM rooms WHERE id=$1 FOR NO KEY UPDATE), "
        "claim AS (INSERT INTO client_ids(sender, client_id, kind, room, msg_id, created) "
        "SELECT $4, $12, $3, $1, id, $2 FROM locked ON CONFLICT DO NOTHING RETURNING msg_id), "
        "next AS (UPDATE rooms SET last_msg_id = last_msg_id + 1, activity=$2 "
        "WHERE id=$1 AND EXISTS (SELECT 1 FROM claim) RETURNING last_msg_id) "
        "INSERT INTO messages(room, id, kind, sender, sender_name, text, time, "
        "reply_to, file_id, file_name, file_size, client_id) "
        "SELECT $1, last_msg_id, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12 FROM next "
        "RETURNING id",
        {m.room, nowMs(), m.kind, m.sender, m.senderName, m.text, m.time, m.replyTo, m.fileId,
         m.fileName, m.fileSize, clientId});
    if (r.rows() > 0) {
        m.id = r.integer(0, 0);
        return std::nullopt;
    }
    // A new statement sees what the other process committed.
    if (auto earlier = clientIdUse(m.sender, clientId))
        return earlier;
    throw DatabaseError("no room " + m.room);
}

std::optional<ClientIdUse> PostgresStorage::claimClientId(const std::string& sender,
                                                          const std::string& clientId,
                                                          const ClientIdUse& use) {
    if (db_.query("INSERT INTO client_ids(sender, client_id, kind, room, msg_id, created) "
                  "VALUES($1, $2, $3, $4, $5, $6) ON CONFLICT DO NOTHING",
                  {sender, clientId, use.kind, use.room, use.msgId, nowMs()})
            .changed() > 0)
        return std::nullopt;
    return clientIdUse(sender, clientId);
}

std::optional<ClientIdUse> PostgresStorage::clientIdUse(const std::string& sender,
                                                        const std::string& clientId) {
    Result r =
        db_.query("SELECT kind, room, msg_id FROM client_ids WHERE sender=$1 AND client_id=$2",
                  {sender, clientId});
    if (r.rows() == 0)
        return std::nullopt;
    return ClientIdUse{r.text(0, 0), r.text(0, 1), r.integer(0, 2)};
}

std::int64_t PostgresStorage::forgetClientIds(std::int64_t beforeMs, std::int64_t limit) {
    return db_
        .query("DELETE FROM client_ids WHERE (sender, client_id) IN "
               "(SELECT sender, client_id FROM client_ids WHERE created<$1 LIMIT $2)",
               {beforeMs, limit})
        .changed();
}

std::optional<MessageState> PostgresStorage::messageState(const std::string& room,
                                                          std::int64_t id) {
    Result r =
        db_.query("SELECT sender, deleted FROM messages WHERE room=$1 AND id=$2", {room, id});
    if (r.rows() == 0)
        return std::nullopt;
    return MessageState{r.text(0, 0), r.integer(0, 1) != 0};
}

void PostgresStorage::editMessage(const std::string& room, std::int64_t id,
                                  const std::string& text) {
    db_.query("UPDATE messages SET text=$3, edited=1 WHERE room=$1 AND id=$2", {room, id, text});
}

void PostgresStorage::deleteMessage(const std::string& room, std::int64_t id) {
    // The row stays so ids are never reused; its content goes.
    db_.query("UPDATE messages SET deleted=1, text='' WHERE room=$1 AND id=$2", {room, id});
}

std::int64_t PostgresStorage::messageCount() {
    return db_.query("SELECT COUNT(*) FROM messages").integer(0, 0);
}

HistorySlice PostgresStorage::history(const std::string& room, std::int64_t before, int limit,
                                      std::size_t maxBytes) {
    // One row past the page tells whether anything older is left.
    Result r = db_.query("SELECT id, kind, sender, sender_name, text, time, reply_to, "
                         "file_id, file_name, file_size, edited, deleted, client_id FROM messages "
                         "WHERE room=$1 AND id<$2 ORDER BY id DESC LIMIT $3",
                         {room, before, std::int64_t(std::max(limit, 0)) + 1});
    int i = 0;
    return newestWithinBudget(limit, maxBytes, [&](HistoryRow& row) {
        if (i == r.rows())
            return false;
        MessageRecord& m = row.message;
        m.room = room;
        m.id = r.integer(i, 0);
        m.kind = r.text(i, 1);
        m.sender = r.text(i, 2);
        m.senderName = r.text(i, 3);
        m.time = r.text(i, 5);
        m.replyTo = r.text(i, 6);
        m.clientId = r.text(i, 12);
        row.edited = r.integer(i, 10) != 0;
        row.deleted = r.integer(i, 11) != 0;
        // A deleted file's link must not outlive it in anyone's history.
        if (!row.deleted) {
            m.text = r.text(i, 4);
            m.fileId = r.text(i, 7);
            m.fileName = r.text(i, 8);
            m.fileSize = r.integer(i, 9);
        }
        ++i;
        return true;
    });
}

void PostgresStorage::createFile(const FileRecord& f) {
    db_.query("INSERT INTO files(id, name, declared_size, created, owner, touched) "
              "VALUES($1, $2, $3, $4, $5, $4)",
              {f.id, f.name, f.declaredSize, nowMs(), f.owner});
}

std::optional<FileRecord> PostgresStorage::file(const std::string& id) {
    Result r = db_.query("SELECT name, declared_size, received, chunks, complete, sha256, owner "
                         "FROM files WHERE id=$1",
                         {id});
    if (r.rows() == 0)
        return std::nullopt;
    return FileRecord{id,
                      r.text(0, 0),
                      r.integer(0, 1),
                      r.integer(0, 2),
                      r.integer(0, 3),
                      r.integer(0, 4) != 0,
                      r.text(0, 5),
                      r.text(0, 6)};
}

void PostgresStorage::updateFile(const FileRecord& f) {
    db_.query("UPDATE files SET received=$2, chunks=$3, complete=$4, sha256=$5, touched=$6 "
              "WHERE id=$1",
              {f.id, f.received, f.chunks, f.complete ? 1 : 0, f.sha256, nowMs()});
}

void PostgresStorage::deleteFile(const std::string& id) {
    // The chunks go with it (ON DELETE CASCADE).
    db_.query("DELETE FROM files WHERE id=$1", {id});
}

std::int64_t PostgresStorage::pendingUploads(const std::string& owner) {
    return db_.query("SELECT COUNT(*) FROM files WHERE owner=$1 AND complete=0", {owner})
        .integer(0, 0);
}

std::int64_t PostgresStorage::pendingBytes() {
    return db_
        .query("SELECT COALESCE(SUM(GREATEST(declared_size - received, 0)), 0)::BIGINT "
               "FROM files WHERE complete=0")
        .integer(0, 0);
}

std::vector<std::string> PostgresStorage::idleUploads(std::int64_t beforeMs) {
    Result r = db_.query("SELECT id FROM files WHERE complete=0 AND touched<$1", {beforeMs});
    std::vector<std::string> ids;
    for (int i = 0; i < r.rows(); ++i)
        ids.push_back(r.text(i, 0));
    return ids;
}

std::vector<FileRecord> PostgresStorage::filesWithoutChecksum() {
    // Every finished file here got its checksum in the transaction that finished it.
    return {};
}

void PostgresStorage::putFileChunk(const std::string& id, std::int64_t index,
                                   const std::string& bytes) {
    // A chunk left by a transaction that was rolled back cannot exist; a retry of the same
    // index after a failed commit simply writes it.
    db_.query("INSERT INTO file_chunks(file, seq, bytes) VALUES($1, $2, $3) "
              "ON CONFLICT(file, seq) DO UPDATE SET bytes=EXCLUDED.bytes",
              {id, index, Param::bytes(bytes)});
}

std::optional<std::string> PostgresStorage::fileChunk(const std::string& id, std::int64_t index) {
    // Binary so the bytes come back as they are, without hex escaping.
    Result r =
        db_.query("SELECT bytes FROM file_chunks WHERE file=$1 AND seq=$2", {id, index}, true);
    if (r.rows() == 0)
        return std::nullopt;
    return r.text(0, 0);
}

std::vector<std::pair<std::string, std::int64_t>> PostgresStorage::lastMessageIds() {
    Result r = db_.query("SELECT id, last_msg_id FROM rooms WHERE last_msg_id > 0");
    std::vector<std::pair<std::string, std::int64_t>> rows;
    rows.reserve(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i)
        rows.emplace_back(r.text(i, 0), r.integer(i, 1));
    return rows;
}

std::optional<std::string> PostgresStorage::claimHash(const std::string& phone) {
    Result r = db_.query("SELECT secret_sha256 FROM claims WHERE phone=$1", {phone});
    if (r.rows() == 0)
        return std::nullopt;
    return r.text(0, 0);
}

bool PostgresStorage::addClaim(const std::string& phone, const std::string& secretHash) {
    // A sign-in of another process that inserted the phone first makes this insert wait for
    // its commit and then do nothing: one claim, whichever process lost the race.
    return db_.query("INSERT INTO claims(phone, secret_sha256, claimed) VALUES($1, $2, $3) "
                     "ON CONFLICT(phone) DO NOTHING",
                     {phone, secretHash, nowMs()})
               .changed() > 0;
}

bool PostgresStorage::isClaimHash(const std::string& secretHash) {
    return db_.query("SELECT 1 FROM claims WHERE secret_sha256=$1", {secretHash}).rows() > 0;
}

bool PostgresStorage::releaseClaim(const std::string& phone) {
    if (db_.query("DELETE FROM claims WHERE phone=$1", {phone}).changed() == 0)
        return false;
    db_.query("INSERT INTO claim_releases(phone, released) VALUES($1, $2)", {phone, nowMs()});
    return true;
}

std::int64_t PostgresStorage::lastRelease() {
    return db_.query("SELECT COALESCE(MAX(seq), 0) FROM claim_releases").integer(0, 0);
}

std::vector<std::pair<std::int64_t, std::string>>
PostgresStorage::releasesAfter(std::int64_t after) {
    Result r =
        db_.query("SELECT seq, phone FROM claim_releases WHERE seq>$1 ORDER BY seq", {after});
    std::vector<std::pair<std::int64_t, std::string>> rows;
    for (int i = 0; i < r.rows(); ++i)
        rows.emplace_back(r.integer(i, 0), r.text(i, 1));
    return rows;
}

} // namespace brindlewick::server
