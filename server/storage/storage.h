#pragma once
// The server's durable state behind one interface: users, friends, rooms, members, messages,
// read marks and file records. SqliteStorage is the embedded default; PostgresStorage lets
// several server processes share one database. A storage is used by one thread at a time: the
// database worker's writes, or one reader of the ReadPool (opened with `reader`).
// Every method may throw DatabaseError; the worker then rolls back the job that called it.

#include "database_error.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindlewick::server {

// The database failed a job to break a circle of transactions waiting for each other's locks
// (processes sharing the database). The job did nothing wrong: the worker commits the jobs
// before it and runs it again at the start of a transaction of its own.
class LockConflict : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

struct UserRecord {
    std::string phone;
    std::string nickname;
    std::string status;
    std::string profilePic;
    // Nickname, or the phone number when there is none.
    std::string displayName() const { return nickname.empty() ? phone : nickname; }
};

struct FriendRow {
    UserRecord user;
    std::string alias;
};

struct RoomRow {
    std::string id;
    std::string kind; // "dm", "memo" or "group"
    std::string title;
    std::int64_t unread = 0;
    // The newest message not deleted; all empty when there is none.
    std::string lastKind; // "chat" or "file"
    std::string lastText;
    std::string lastFileName;
    std::string lastTime;
    // The newest message id the room has given, deleted or not: a list taken at this id
    // counted every message up to it.
    std::int64_t lastId = 0;
};

struct MessageRecord {
    std::string room;
    std::int64_t id = 0;
    std::string kind; // "chat" or "file"
    std::string sender;
    std::string senderName;
    std::string text;
    std::string time;
    std::string replyTo;
    std::string fileId;
    std::string fileName;
    std::int64_t fileSize = 0;
    std::string clientId; // the sender's, when it named the message with one
};

// A message as a history page shows it now: the latest text, and no content once deleted.
struct HistoryRow {
    MessageRecord message;
    bool edited = false;
    bool deleted = false;
};

struct HistorySlice {
    std::vector<HistoryRow> rows; // oldest first
    bool hasOlder = false;
};

struct MessageState {
    std::string sender;
    bool deleted = false;
};

// The request a sender's client id first named; a repeat of the id is answered from it.
struct ClientIdUse {
    std::string kind; // "chat", "file", "edit" or "delete"
    std::string room;
    std::int64_t msgId = 0;
};

struct FileRecord {
    std::string id;
    std::string name;
    std::int64_t declaredSize = 0;
    std::int64_t received = 0;
    std::int64_t chunks = 0;
    bool complete = false;
    std::string sha256; // hex, of the `received` bytes; a file is served only when it matches
    std::string owner;  // the address that created it; caps its unfinished uploads
};

class Storage {
public:
    virtual ~Storage() = default;

    // The worker's transaction: one batch of jobs, a savepoint around each job.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual void savepoint() = 0;
    virtual void releaseSavepoint() = 0;
    virtual void rollbackToSavepoint() = 0;
    // Right after begin(): takes the rooms whose next message ids the batch will take, named in
    // any order, in the one order every process follows, so that batches of several processes
    // wait for each other in turn and never in a circle. A single process has nobody to wait for.
    virtual void lockRooms(const std::vector<std::string>& /*rooms*/) {}

    virtual void upsertUser(const UserRecord& user, bool keepProfilePic) = 0;
    virtual std::optional<UserRecord> user(const std::string& phone) = 0;
    virtual void setProfilePic(const std::string& phone, const std::string& fileId) = 0;

    virtual void addFriend(const std::string& owner, const std::string& friendPhone,
                           const std::string& alias) = 0;
    virtual std::vector<FriendRow> friends(const std::string& owner) = 0;
    virtual std::string aliasOf(const std::string& owner, const std::string& friendPhone) = 0;

    virtual std::optional<std::string> roomKind(const std::string& room) = 0;
    // Records the time too: how fast a user creates rooms is counted from it.
    virtual void createRoom(const std::string& room, const std::string& kind,
                            const std::string& title, const std::string& creator) = 0;
    // Rooms `creator` created at or after `sinceMs` (milliseconds since the epoch).
    virtual std::int64_t roomsCreatedSince(const std::string& creator, std::int64_t sinceMs) = 0;
    virtual bool isMember(const std::string& room, const std::string& phone) = 0;
    virtual void addMember(const std::string& room, const std::string& phone) = 0;
    virtual bool removeMember(const std::string& room, const std::string& phone) = 0;
    virtual std::vector<std::string> members(const std::string& room) = 0;
    using MemberList = std::shared_ptr<const std::vector<std::string>>;
    // The same list as members(); a back end may share one copy between calls until the
    // room's members change, so every delivery into a room holds the same list.
    virtual MemberList sharedMembers(const std::string& room) = 0;
    // Off when other processes change members too: a kept list could miss a member they added.
    virtual void setMemberCaching(bool /*on*/) {}
    // After a rollback: cached lists may hold changes that never happened.
    virtual void forgetCachedMembers() {}
    virtual std::vector<RoomRow> roomsOf(const std::string& phone) = 0;
    virtual void setReadMark(const std::string& room, const std::string& phone,
                             std::int64_t id) = 0;
    // 0 when nothing is read or `phone` is not a member.
    virtual std::int64_t readMark(const std::string& room, const std::string& phone) = 0;

    // Takes the room's next message id, inside the transaction that stores the message, so
    // ids stay gap-free and increasing whichever process sends.
    virtual std::int64_t nextMessageId(const std::string& room) = 0;
    virtual void insertMessage(const MessageRecord& message) = 0;
    // Both of the above: stores `message` under the room's next id and sets its id.
    virtual void appendMessage(MessageRecord& message) {
        message.id = nextMessageId(message.room);
        insertMessage(message);
    }
    // Client ids are unique per sender. Stores `message` like appendMessage and records its
    // sender's client id with it, unless that sender used the id before, even in a transaction
    // of another process that committed after this one began: then nothing is stored, no id is
    // taken, and the earlier use comes back. Without a client id, appendMessage.
    virtual std::optional<ClientIdUse> appendMessageOnce(MessageRecord& message) = 0;
    // Records `use` of `sender`'s `clientId`, or returns the earlier use as above.
    virtual std::optional<ClientIdUse> claimClientId(const std::string& sender,
                                                     const std::string& clientId,
                                                     const ClientIdUse& use) = 0;
    virtual std::optional<ClientIdUse> clientIdUse(const std::string& sender,
                                                   const std::string& clientId) = 0;
    // Forgets up to `limit` of the client ids recorded before `beforeMs`; returns how many.
    virtual std::int64_t forgetClientIds(std::int64_t beforeMs, std::int64_t limit) = 0;
    virtual std::optional<MessageState> messageState(const std::string& room, std::int64_t id) = 0;
    virtual void editMessage(const std::string& room, std::int64_t id, const std::string& text) = 0;
    virtual void deleteMessage(const std::string& room, std::int64_t id) = 0;
    virtual std::int64_t messageCount() = 0;
    // Every room with a message, and its newest message id.
    virtual std::vector<std::pair<std::string, std::int64_t>> lastMessageIds() = 0;
    // The newest `limit` messages of `room` with ids below `before`, found by a range of the
    // (room, id) key, so a page deep in the past costs what the newest does. Stops early, with
    // hasOlder set, where the rows' text would pass about `maxBytes`; the first row always fits
    // (newestWithinBudget, history_page.h).
    virtual HistorySlice history(const std::string& room, std::int64_t before, int limit,
                                 std::size_t maxBytes) = 0;

    virtual void createFile(const FileRecord& file) = 0;
    virtual std::optional<FileRecord> file(const std::string& id) = 0;
    // Also marks the upload active now, which its expiry counts from.
    virtual void updateFile(const FileRecord& file) = 0;
    // The record and, where the back end keeps it, the content.
    virtual void deleteFile(const std::string& id) = 0;
    // Unfinished uploads: how many `owner` has, and the bytes all of them still expect.
    virtual std::int64_t pendingUploads(const std::string& owner) = 0;
    virtual std::int64_t pendingBytes() = 0;
    // Unfinished uploads without activity since `beforeMs` (milliseconds since the epoch).
    virtual std::vector<std::string> idleUploads(std::int64_t beforeMs) = 0;
    // Finished files recorded before checksums were kept.
    virtual std::vector<FileRecord> filesWithoutChecksum() = 0;

    // Claimed phones: the SHA-256 (hex) of each one's device secret.
    virtual std::optional<std::string> claimHash(const std::string& phone) = 0;
    // Claims `phone` unless it is claimed already, even by a transaction that committed after
    // this one began (another process's sign-in): false then, and nothing changes.
    virtual bool addClaim(const std::string& phone, const std::string& secretHash) = 0;
    virtual bool isClaimHash(const std::string& secretHash) = 0;
    // False when the phone had no claim. Also logs the release, which every server on the
    // database reads to close the phone's connections.
    virtual bool releaseClaim(const std::string& phone) = 0;
    // The number of the newest release logged (0: none), where reading starts.
    virtual std::int64_t lastRelease() = 0;
    // The releases numbered above `after`, oldest first, as (number, phone).
    virtual std::vector<std::pair<std::int64_t, std::string>> releasesAfter(std::int64_t after) = 0;

    // File content in the database itself, shared by every process on it: PostgreSQL keeps
    // it, for DatabaseContent; the other back ends refuse.
    // Chunk `index` of an upload, stored in the same transaction as its record.
    virtual void putFileChunk(const std::string& /*id*/, std::int64_t /*index*/,
                              const std::string& /*bytes*/) {
        throw DatabaseError("file content is not kept in this database");
    }
    // Chunk `index`, or nothing when there is no such chunk.
    virtual std::optional<std::string> fileChunk(const std::string& /*id*/,
                                                 std::int64_t /*index*/) {
        throw DatabaseError("file content is not kept in this database");
    }
};

} // namespace brindlewick::server
