#include "sqlite_storage.h"

#include "history_page.h"
#include "sqlite_schema.h"
#include "time_text.h"

#include <algorithm>
#include <chrono>

namespace brindlewick::server {

SqliteStorage::SqliteStorage(const std::string& path, bool reader) : db_(path), reader_(reader) {
    if (reader) {
        // The writer made the schema; a reader that tried to change anything would fail.
        db_.exec("PRAGMA query_only=1");
        cacheMembers_ = false;
        return;
    }
    db_.exec("PRAGMA journal_mode=WAL");
    // FULL: a commit reaches the disk before the message is delivered to anyone.
    db_.exec("PRAGMA synchronous=FULL");
    db_.exec("PRAGMA foreign_keys=OFF");
    createSqliteSchema(db_);
}

void SqliteStorage::upsertUser(const UserRecord& user, bool keepProfilePic) {
    if (keepProfilePic) {
        db_.prepare("INSERT INTO users(phone, nickname, status) VALUES(?1, ?2, ?3) "
                    "ON CONFLICT(phone) DO UPDATE SET nickname=?2, status=?3")
            .bind(1, user.phone)
            .bind(2, user.nickname)
            .bind(3, user.status)
            .run();
    } else {
        db_.prepare("INSERT INTO users(phone, nickname, status, profile_pic) "
                    "VALUES(?1, ?2, ?3, ?4) "
                    "ON CONFLICT(phone) DO UPDATE SET nickname=?2, status=?3, profile_pic=?4")
            .bind(1, user.phone)
            .bind(2, user.nickname)
            .bind(3, user.status)
            .bind(4, user.profilePic)
            .run();
    }
}

std::optional<UserRecord> SqliteStorage::user(const std::string& phone) {
    Statement& s = db_.prepare("SELECT nickname, status, profile_pic FROM users WHERE phone=?1")
                       .bind(1, phone);
    if (!s.step())
        return std::nullopt;
    UserRecord user{phone, s.text(0), s.text(1), s.text(2)};
    s.reset();
    return user;
}

void SqliteStorage::setProfilePic(const std::string& phone, const std::string& fileId) {
    db_.prepare("UPDATE users SET profile_pic=?2 WHERE phone=?1")
        .bind(1, phone)
        .bind(2, fileId)
        .run();
}

void SqliteStorage::addFriend(const std::string& owner, const std::string& friendPhone,
                              const std::string& alias) {
    db_.prepare("INSERT INTO friends(owner, friend, alias, added) VALUES(?1, ?2, ?3, ?4) "
                "ON CONFLICT(owner, friend) DO UPDATE SET alias=?3")
        .bind(1, owner)
        .bind(2, friendPhone)
        .bind(3, alias)
        .bind(4, nowMs())
        .run();
}

std::vector<FriendRow> SqliteStorage::friends(const std::string& owner) {
    std::vector<FriendRow> rows;
    Statement& s = db_.prepare("SELECT f.friend, f.alias, u.nickname, u.status, u.profile_pic "
                               "FROM friends f LEFT JOIN users u ON u.phone = f.friend "
                               "WHERE f.owner=?1 ORDER BY f.added, f.friend")
                       .bind(1, owner);
    while (s.step())
        rows.push_back({{s.text(0), s.text(2), s.text(3), s.text(4)}, s.text(1)});
    return rows;
}

std::string SqliteStorage::aliasOf(const std::string& owner, const std::string& friendPhone) {
    Statement& s = db_.prepare("SELECT alias FROM friends WHERE owner=?1 AND friend=?2")
                       .bind(1, owner)
                       .bind(2, friendPhone);
    std::string alias = s.step() ? s.text(0) : std::string();
    s.reset();
    return alias;
}

std::optional<std::string> SqliteStorage::roomKind(const std::string& room) {
    Statement& s = db_.prepare("SELECT kind FROM rooms WHERE id=?1").bind(1, room);
    if (!s.step())
        return std::nullopt;
    std::string kind = s.text(0);
    s.reset();
    return kind;
}

void SqliteStorage::createRoom(const std::string& room, const std::string& kind,
                               const std::string& title, const std::string& creator) {
    db_.prepare("INSERT INTO rooms(id, kind, title, creator, activity, created) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?5)")
        .bind(1, room)
        .bind(2, kind)
        .bind(3, title)
        .bind(4, creator)
        .bind(5, nowMs())
        .run();
    forgetMembersOf(room);
}

std::int64_t SqliteStorage::roomsCreatedSince(const std::string& creator, std::int64_t sinceMs) {
    Statement& s = db_.prepare("SELECT COUNT(*) FROM rooms WHERE creator=?1 AND created>=?2")
                       .bind(1, creator)
                       .bind(2, sinceMs);
    s.step();
    const std::int64_t count = s.integer(0);
    s.reset();
    return count;
}

bool SqliteStorage::isMember(const std::string& room, const std::string& phone) {
    Statement& s = db_.prepare("SELECT 1 FROM members WHERE room=?1 AND phone=?2")
                       .bind(1, room)
                       .bind(2, phone);
    const bool found = s.step();
    s.reset();
    return found;
}

void SqliteStorage::addMember(const std::string& room, const std::string& phone) {
    // A returning member starts with everything read that was sent while away.
    db_.prepare("INSERT OR IGNORE INTO members(room, phone, read_mark) "
                "VALUES(?1, ?2, (SELECT last_msg_id FROM rooms WHERE id=?1))")
        .bind(1, room)
        .bind(2, phone)
        .run();
    if (db_.changes() > 0)
        forgetMembersOf(room);
}

bool SqliteStorage::removeMember(const std::string& room, const std::string& phone) {
    db_.prepare("DELETE FROM members WHERE room=?1 AND phone=?2")
        .bind(1, room)
        .bind(2, phone)
        .run();
    if (db_.changes() == 0)
        return false;
    forgetMembersOf(room);
    return true;
}

void SqliteStorage::forgetMembersOf(const std::string& room) {
    if (auto it = memberCache_.find(room); it != memberCache_.end()) {
        cachedPhones_ -= it->second->size();
        memberCache_.erase(it);
    }
}

SqliteStorage::MemberList SqliteStorage::sharedMembers(const std::string& room) {
    if (auto it = memberCache_.find(room); it != memberCache_.end())
        return it->second;
    auto list = std::make_shared<const std::vector<std::string>>(members(room));
    if (!cacheMembers_)
        return list;
    if (cachedPhones_ + list->size() > kMaxCachedPhones)
        forgetCachedMembers();
    memberCache_.emplace(room, list);
    cachedPhones_ += list->size();
    return list;
}

std::vector<std::string> SqliteStorage::members(const std::string& room) {
    std::vector<std::string> phones;
    Statement& s = db_.prepare("SELECT phone FROM members WHERE room=?1").bind(1, room);
    while (s.step())
        phones.push_back(s.text(0));
    return phones;
}

std::vector<std::pair<std::string, std::int64_t>> SqliteStorage::lastMessageIds() {
    std::vector<std::pair<std::string, std::int64_t>> rows;
    Statement& s = db_.prepare("SELECT id, last_msg_id FROM rooms WHERE last_msg_id > 0");
    while (s.step())
        rows.emplace_back(s.text(0), s.integer(1));
    return rows;
}

std::vector<RoomRow> SqliteStorage::roomsOf(const std::string& phone) {
    std::vector<RoomRow> rows;
    Statement& s =
        db_.prepare("SELECT r.id, r.kind, r.title, "
                    " (SELECT COUNT(*) FROM messages g WHERE g.room = r.id "
                    "  AND g.id > m.read_mark AND g.sender <> m.phone AND g.deleted = 0), "
                    " l.kind, substr(l.text, 1, 200), l.file_name, l.time, r.last_msg_id "
                    "FROM members m JOIN rooms r ON r.id = m.room "
                    // The newest message that is not deleted: a walk back along the key.
                    "LEFT JOIN messages l ON l.room = r.id AND l.id = "
                    " (SELECT g.id FROM messages g WHERE g.room = r.id AND g.deleted = 0 "
                    "  ORDER BY g.id DESC LIMIT 1) "
                    "WHERE m.phone=?1 ORDER BY r.activity DESC, r.id")
            .bind(1, phone);
    while (s.step())
        rows.push_back({s.text(0), s.text(1), s.text(2), s.integer(3), s.text(4), s.text(5),
                        s.text(6), s.text(7), s.integer(8)});
    return rows;
}

void SqliteStorage::setReadMark(const std::string& room, const std::string& phone,
                                std::int64_t id) {
    // Marks only move forward: a late watermark from a second desktop must not resurrect unread.
    // Never past the last message, or later messages would arrive already read.
    db_.prepare("UPDATE members SET read_mark = MIN(?3, r.last_msg_id) FROM rooms r "
                "WHERE r.id = ?1 AND members.room=?1 AND members.phone=?2 "
                "AND members.read_mark < MIN(?3, r.last_msg_id)")
        .bind(1, room)
        .bind(2, phone)
        .bind(3, id)
        .run();
}

std::int64_t SqliteStorage::readMark(const std::string& room, const std::string& phone) {
    Statement& s = db_.prepare("SELECT read_mark FROM members WHERE room=?1 AND phone=?2")
                       .bind(1, room)
                       .bind(2, phone);
    const std::int64_t mark = s.step() ? s.integer(0) : 0;
    s.reset();
    return mark;
}

std::int64_t SqliteStorage::nextMessageId(const std::string& room) {
    Statement& s = db_.prepare("UPDATE rooms SET last_msg_id = last_msg_id + 1, activity=?2 "
                               "WHERE id=?1 RETURNING last_msg_id")
                       .bind(1, room)
                       .bind(2, nowMs());
    if (!s.step())
        throw DatabaseError("no room " + room);
    const std::int64_t id = s.integer(0);
    s.run();
    return id;
}

void SqliteStorage::insertMessage(const MessageRecord& m) {
    db_.prepare("INSERT INTO messages(room, id, kind, sender, sender_name, text, time, reply_to, "
                "file_id, file_name, file_size, client_id) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)")
        .bind(1, m.room)
        .bind(2, m.id)
        .bind(3, m.kind)
        .bind(4, m.sender)
        .bind(5, m.senderName)
        .bind(6, m.text)
        .bind(7, m.time)
        .bind(8, m.replyTo)
        .bind(9, m.fileId)
        .bind(10, m.fileName)
        .bind(11, m.fileSize)
        .bind(12, m.clientId)
        .run();
}

std::optional<ClientIdUse> SqliteStorage::appendMessageOnce(MessageRecord& m) {
    const std::string& clientId = m.clientId;
    if (clientId.empty()) {
        appendMessage(m);
        return std::nullopt;
    }
    // One writer: nobody can record the id between the look and the insert.
    if (auto earlier = clientIdUse(m.sender, clientId))
        return earlier;
    appendMessage(m);
    claimClientId(m.sender, clientId, {m.kind, m.room, m.id});
    return std::nullopt;
}

std::optional<ClientIdUse> SqliteStorage::claimClientId(const std::string& sender,
                                                        const std::string& clientId,
                                                        const ClientIdUse& use) {
    db_.prepare("INSERT INTO client_ids(sender, client_id, kind, room, msg_id, created) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT DO NOTHING")
        .bind(1, sender)
        .bind(2, clientId)
        .bind(3, use.kind)
        .bind(4, use.room)
        .bind(5, use.msgId)
        .bind(6, nowMs())
        .run();
    if (db_.changes() > 0)
        return std::nullopt;
    return clientIdUse(sender, clientId);
}

std::optional<ClientIdUse> SqliteStorage::clientIdUse(const std::string& sender,
                                                      const std::string& clientId) {
    Statement& s =
        db_.prepare("SELECT kind, room, msg_id FROM client_ids WHERE sender=?1 AND client_id=?2")
            .bind(1, sender)
            .bind(2, clientId);
    if (!s.step())
        return std::nullopt;
    ClientIdUse use{s.text(0), s.text(1), s.integer(2)};
    s.reset();
    return use;
}

std::int64_t SqliteStorage::forgetClientIds(std::int64_t beforeMs, std::int64_t limit) {
    db_.prepare("DELETE FROM client_ids WHERE (sender, client_id) IN "
                "(SELECT sender, client_id FROM client_ids WHERE created<?1 LIMIT ?2)")
        .bind(1, beforeMs)
        .bind(2, limit)
        .run();
    return db_.changes();
}

std::optional<MessageState> SqliteStorage::messageState(const std::string& room, std::int64_t id) {
    Statement& s = db_.prepare("SELECT sender, deleted FROM messages WHERE room=?1 AND id=?2")
                       .bind(1, room)
                       .bind(2, id);
    if (!s.step())
        return std::nullopt;
    MessageState state{s.text(0), s.integer(1) != 0};
    s.reset();
    return state;
}

void SqliteStorage::editMessage(const std::string& room, std::int64_t id, const std::string& text) {
    db_.prepare("UPDATE messages SET text=?3, edited=1 WHERE room=?1 AND id=?2")
        .bind(1, room)
        .bind(2, id)
        .bind(3, text)
        .run();
}

void SqliteStorage::deleteMessage(const std::string& room, std::int64_t id) {
    // The row stays so ids are never reused; its content goes.
    db_.prepare("UPDATE messages SET deleted=1, text='' WHERE room=?1 AND id=?2")
        .bind(1, room)
        .bind(2, id)
        .run();
}

std::int64_t SqliteStorage::messageCount() {
    Statement& s = db_.prepare("SELECT COUNT(*) FROM messages");
    s.step();
    const std::int64_t n = s.integer(0);
    s.reset();
    return n;
}

HistorySlice SqliteStorage::history(const std::string& room, std::int64_t before, int limit,
                                    std::size_t maxBytes) {
    // One row past the page tells whether anything older is left.
    Statement& s =
        db_.prepare("SELECT id, kind, sender, sender_name, text, time, reply_to, "
                    "file_id, file_name, file_size, edited, deleted, client_id FROM messages "
                    "WHERE room=?1 AND id<?2 ORDER BY id DESC LIMIT ?3")
            .bind(1, room)
            .bind(2, before)
            .bind(3, std::int64_t(limit) + 1);
    HistorySlice slice = newestWithinBudget(limit, maxBytes, [&](HistoryRow& row) {
        if (!s.step())
            return false;
        MessageRecord& m = row.message;
        m.room = room;
        m.id = s.integer(0);
        m.kind = s.text(1);
        m.sender = s.text(2);
        m.senderName = s.text(3);
        m.time = s.text(5);
        m.replyTo = s.text(6);
        m.clientId = s.text(12);
        row.edited = s.integer(10) != 0;
        row.deleted = s.integer(11) != 0;
        // A deleted file's link must not outlive it in anyone's history.
        if (!row.deleted) {
            m.text = s.text(4);
            m.fileId = s.text(7);
            m.fileName = s.text(8);
            m.fileSize = s.integer(9);
        }
        return true;
    });
    s.reset();
    return slice;
}

void SqliteStorage::createFile(const FileRecord& f) {
    const std::int64_t now = nowMs();
    db_.prepare("INSERT INTO files(id, name, declared_size, created, owner, touched) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?4)")
        .bind(1, f.id)
        .bind(2, f.name)
        .bind(3, f.declaredSize)
        .bind(4, now)
        .bind(5, f.owner)
        .run();
}

std::optional<FileRecord> SqliteStorage::file(const std::string& id) {
    Statement& s = db_.prepare("SELECT name, declared_size, received, chunks, complete, sha256, "
                               "owner FROM files WHERE id=?1")
                       .bind(1, id);
    if (!s.step())
        return std::nullopt;
    FileRecord f{id,           s.text(0),         s.integer(1), s.integer(2),
                 s.integer(3), s.integer(4) != 0, s.text(5),    s.text(6)};
    s.reset();
    return f;
}

void SqliteStorage::updateFile(const FileRecord& f) {
    db_.prepare("UPDATE files SET received=?2, chunks=?3, complete=?4, sha256=?5, touched=?6 "
                "WHERE id=?1")
        .bind(1, f.id)
        .bind(2, f.received)
        .bind(3, f.chunks)
        .bind(4, f.complete ? 1 : 0)
        .bind(5, f.sha256)
        .bind(6, nowMs())
        .run();
}

void SqliteStorage::deleteFile(const std::string& id) {
    db_.prepare("DELETE FROM files WHERE id=?1").bind(1, id).run();
}

std::int64_t SqliteStorage::pendingUploads(const std::string& owner) {
    Statement& s =
        db_.prepare("SELECT COUNT(*) FROM files WHERE owner=?1 AND complete=0").bind(1, owner);
    s.step();
    const std::int64_t count = s.integer(0);
    s.reset();
    return count;
}

std::int64_t SqliteStorage::pendingBytes() {
    Statement& s = db_.prepare(
        "SELECT COALESCE(SUM(MAX(declared_size - received, 0)), 0) FROM files WHERE complete=0");
    s.step();
    const std::int64_t bytes = s.integer(0);
    s.reset();
    return bytes;
}

std::vector<std::string> SqliteStorage::idleUploads(std::int64_t beforeMs) {
    std::vector<std::string> ids;
    Statement& s =
        db_.prepare("SELECT id FROM files WHERE complete=0 AND touched<?1").bind(1, beforeMs);
    while (s.step())
        ids.push_back(s.text(0));
    return ids;
}

std::vector<FileRecord> SqliteStorage::filesWithoutChecksum() {
    std::vector<FileRecord> files;
    Statement& s = db_.prepare("SELECT id FROM files WHERE complete=1 AND sha256=''");
    std::vector<std::string> ids;
    while (s.step())
        ids.push_back(s.text(0));
    for (const std::string& id : ids)
        if (auto f = file(id))
            files.push_back(*f);
    return files;
}

std::optional<std::string> SqliteStorage::claimHash(const std::string& phone) {
    Statement& s = db_.prepare("SELECT secret_sha256 FROM claims WHERE phone=?1").bind(1, phone);
    if (!s.step())
        return std::nullopt;
    std::string hash = s.text(0);
    s.reset();
    return hash;
}

bool SqliteStorage::addClaim(const std::string& phone, const std::string& secretHash) {
    db_.prepare("INSERT INTO claims(phone, secret_sha256, claimed) VALUES(?1, ?2, ?3) "
                "ON CONFLICT(phone) DO NOTHING")
        .bind(1, phone)
        .bind(2, secretHash)
        .bind(3, nowMs())
        .run();
    return db_.changes() > 0;
}

bool SqliteStorage::isClaimHash(const std::string& secretHash) {
    Statement& s = db_.prepare("SELECT 1 FROM claims WHERE secret_sha256=?1").bind(1, secretHash);
    const bool found = s.step();
    s.reset();
    return found;
}

bool SqliteStorage::releaseClaim(const std::string& phone) {
    db_.prepare("DELETE FROM claims WHERE phone=?1").bind(1, phone).run();
    if (db_.changes() == 0)
        return false;
    db_.prepare("INSERT INTO claim_releases(phone, released) VALUES(?1, ?2)")
        .bind(1, phone)
        .bind(2, nowMs())
        .run();
    return true;
}

std::int64_t SqliteStorage::lastRelease() {
    Statement& s = db_.prepare("SELECT COALESCE(MAX(seq), 0) FROM claim_releases");
    s.step();
    const std::int64_t last = s.integer(0);
    s.reset();
    return last;
}

std::vector<std::pair<std::int64_t, std::string>> SqliteStorage::releasesAfter(std::int64_t after) {
    std::vector<std::pair<std::int64_t, std::string>> rows;
    Statement& s = db_.prepare("SELECT seq, phone FROM claim_releases WHERE seq>?1 ORDER BY seq")
                       .bind(1, after);
    while (s.step())
        rows.emplace_back(s.integer(0), s.text(1));
    return rows;
}

} // namespace brindlewick::server
