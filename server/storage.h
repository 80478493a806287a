#pragma once
// The server's tables: users, friends, rooms, members, messages, read marks and file records.
// Used only from the database worker thread.

#include "database.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindlewick::server {

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
    // Opens (creating when needed) the database in WAL mode.
    explicit Storage(const std::string& path);

    Database& db() { return db_; }

    void upsertUser(const UserRecord& user, bool keepProfilePic);
    std::optional<UserRecord> user(const std::string& phone);
    void setProfilePic(const std::string& phone, const std::string& fileId);

    void addFriend(const std::string& owner, const std::string& friendPhone,
                   const std::string& alias);
    std::vector<FriendRow> friends(const std::string& owner);
    std::string aliasOf(const std::string& owner, const std::string& friendPhone);

    std::optional<std::string> roomKind(const std::string& room);
    void createRoom(const std::string& room, const std::string& kind, const std::string& title,
                    const std::string& creator);
    bool isMember(const std::string& room, const std::string& phone);
    void addMember(const std::string& room, const std::string& phone);
    bool removeMember(const std::string& room, const std::string& phone);
    std::vector<std::string> members(const std::string& room);
    using MemberList = std::shared_ptr<const std::vector<std::string>>;
    // The same list, kept between calls until the room's members change: every delivery into
    // a room shares one copy, however many are in flight.
    MemberList sharedMembers(const std::string& room);
    // Off when other processes change members too: a kept list could miss a member they added.
    void setMemberCaching(bool on) {
        cacheMembers_ = on;
        forgetCachedMembers();
    }
    // After a rollback: cached lists may hold changes that never happened.
    void forgetCachedMembers() {
        memberCache_.clear();
        cachedPhones_ = 0;
    }
    std::vector<RoomRow> roomsOf(const std::string& phone);
    void setReadMark(const std::string& room, const std::string& phone, std::int64_t id);
    // 0 when nothing is read or `phone` is not a member.
    std::int64_t readMark(const std::string& room, const std::string& phone);

    // Takes the room's next message id.
    std::int64_t nextMessageId(const std::string& room);
    void insertMessage(const MessageRecord& message);
    std::optional<MessageState> messageState(const std::string& room, std::int64_t id);
    void editMessage(const std::string& room, std::int64_t id, const std::string& text);
    void deleteMessage(const std::string& room, std::int64_t id);
    std::int64_t messageCount();
    // Every room with a message, and its newest message id.
    std::vector<std::pair<std::string, std::int64_t>> lastMessageIds();
    // The newest `limit` messages of `room` with ids below `before`, found by a range of the
    // (room, id) key, so a page deep in the past costs what the newest does. Stops early, with
    // hasOlder set, where the rows' text would pass about `maxBytes`; the first row always fits.
    HistorySlice history(const std::string& room, std::int64_t before, int limit,
                         std::size_t maxBytes);

    void createFile(const FileRecord& file);
    std::optional<FileRecord> file(const std::string& id);
    // Also marks the upload active now, which its expiry counts from.
    void updateFile(const FileRecord& file);
    void deleteFile(const std::string& id);
    // Unfinished uploads: how many `owner` has, and the bytes all of them still expect.
    std::int64_t pendingUploads(const std::string& owner);
    std::int64_t pendingBytes();
    // Unfinished uploads without activity since `beforeMs` (milliseconds since the epoch).
    std::vector<std::string> idleUploads(std::int64_t beforeMs);
    // Finished files recorded before checksums were kept.
    std::vector<FileRecord> filesWithoutChecksum();

private:
    void upgradeFiles();
    // Bounded (a few MiB) so that many rooms, or large ones, cannot grow it without end.
    static constexpr std::size_t kMaxCachedPhones = 100000;

    Database db_;
    std::unordered_map<std::string, MemberList> memberCache_;
    std::size_t cachedPhones_ = 0; // in the lists of memberCache_
    bool cacheMembers_ = true;
    void forgetMembersOf(const std::string& room);
};

} // namespace brindlewick::server
