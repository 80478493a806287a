#pragma once
// The embedded back end: one SQLite file in WAL mode, the default.

#include "sqlite_connection.h"
#include "storage.h"

#include <unordered_map>

namespace brindlewick::server {

class SqliteStorage final : public Storage {
public:
    // Opens (creating when needed) the database in WAL mode. A `reader` opens the existing
    // database for queries only: in WAL mode it reads beside the writer, neither waiting.
    explicit SqliteStorage(const std::string& path, bool reader = false);

    SqliteConnection& db() { return db_; }

    // Prepared once rather than parsed for every job of every batch. A reader's transaction
    // is a snapshot that takes no write lock.
    void begin() override { db_.prepare(reader_ ? "BEGIN" : "BEGIN IMMEDIATE").run(); }
    void commit() override { db_.prepare("COMMIT").run(); }
    void rollback() override { db_.exec("ROLLBACK"); }
    void savepoint() override { db_.prepare("SAVEPOINT job").run(); }
    void releaseSavepoint() override { db_.prepare("RELEASE job").run(); }
    void rollbackToSavepoint() override {
        db_.exec("ROLLBACK TO job");
        db_.exec("RELEASE job");
    }

    void upsertUser(const UserRecord& user, bool keepProfilePic) override;
    std::optional<UserRecord> user(const std::string& phone) override;
    void setProfilePic(const std::string& phone, const std::string& fileId) override;

    void addFriend(const std::string& owner, const std::string& friendPhone,
                   const std::string& alias) override;
    std::vector<FriendRow> friends(const std::string& owner) override;
    std::string aliasOf(const std::string& owner, const std::string& friendPhone) override;

    std::optional<std::string> roomKind(const std::string& room) override;
    void createRoom(const std::string& room, const std::string& kind, const std::string& title,
                    const std::string& creator) override;
    std::int64_t roomsCreatedSince(const std::string& creator, std::int64_t sinceMs) override;
    bool isMember(const std::string& room, const std::string& phone) override;
    void addMember(const std::string& room, const std::string& phone) override;
    bool removeMember(const std::string& room, const std::string& phone) override;
    std::vector<std::string> members(const std::string& room) override;
    MemberList sharedMembers(const std::string& room) override;
    void forgetCachedMembers() override {
        memberCache_.clear();
        cachedPhones_ = 0;
    }
    void setMemberCaching(bool on) override {
        cacheMembers_ = on;
        forgetCachedMembers();
    }
    std::vector<RoomRow> roomsOf(const std::string& phone) override;
    void setReadMark(const std::string& room, const std::string& phone, std::int64_t id) override;
    std::int64_t readMark(const std::string& room, const std::string& phone) override;

    std::int64_t nextMessageId(const std::string& room) override;
    void insertMessage(const MessageRecord& message) override;
    std::optional<ClientIdUse> appendMessageOnce(MessageRecord& message) override;
    std::optional<ClientIdUse> claimClientId(const std::string& sender, const std::string& clientId,
                                             const ClientIdUse& use) override;
    std::optional<ClientIdUse> clientIdUse(const std::string& sender,
                                           const std::string& clientId) override;
    std::int64_t forgetClientIds(std::int64_t beforeMs, std::int64_t limit) override;
    std::optional<MessageState> messageState(const std::string& room, std::int64_t id) override;
    void editMessage(const std::string& room, std::int64_t id, const std::string& text) override;
    void deleteMessage(const std::string& room, std::int64_t id) override;
    std::int64_t messageCount() override;
    std::vector<std::pair<std::string, std::int64_t>> lastMessageIds() override;
    HistorySlice history(const std::string& room, std::int64_t before, int limit,
                         std::size_t maxBytes) override;

    void createFile(const FileRecord& file) override;
    std::optional<FileRecord> file(const std::string& id) override;
    void updateFile(const FileRecord& file) override;
    void deleteFile(const std::string& id) override;
    std::int64_t pendingUploads(const std::string& owner) override;
    std::int64_t pendingBytes() override;
    std::vector<std::string> idleUploads(std::int64_t beforeMs) override;
    std::vector<FileRecord> filesWithoutChecksum() override;

    std::optional<std::string> claimHash(const std::string& phone) override;
    bool addClaim(const std::string& phone, const std::string& secretHash) override;
    bool isClaimHash(const std::string& secretHash) override;
    bool releaseClaim(const std::string& phone) override;
    std::int64_t lastRelease() override;
    std::vector<std::pair<std::int64_t, std::string>> releasesAfter(std::int64_t after) override;

private:
    // Bounded (a few MiB) so that many rooms, or large ones, cannot grow it without end.
    static constexpr std::size_t kMaxCachedPhones = 100000;

    SqliteConnection db_;
    const bool reader_;
    std::unordered_map<std::string, MemberList> memberCache_;
    std::size_t cachedPhones_ = 0; // in the lists of memberCache_
    bool cacheMembers_ = true;
    void forgetMembersOf(const std::string& room);
};

} // namespace brindlewick::server
