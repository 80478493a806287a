#pragma once
// The shared back end: every server process on one PostgreSQL database sees the same users,
// rooms, read marks and files, uploads' chunks included. Nothing is cached between jobs, since
// another process may change it. Through one PgConnection; a lost connection fails the batch
// at hand and is reopened for the next one.

#include "pg_connection.h"
#include "storage.h"

namespace brindlewick::server {

class PostgresStorage final : public Storage {
public:
    // Connects and creates or upgrades the schema; throws DatabaseError when it cannot. A
    // `reader` leaves the schema to the writer and runs read-only transactions.
    explicit PostgresStorage(std::string uri, bool reader = false);
    ~PostgresStorage() override;
    PostgresStorage(const PostgresStorage&) = delete;
    PostgresStorage& operator=(const PostgresStorage&) = delete;

    void begin() override;
    void commit() override;
    void rollback() override;
    void savepoint() override;
    void releaseSavepoint() override;
    void rollbackToSavepoint() override;
    void lockRooms(const std::vector<std::string>& rooms) override;

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
    std::vector<RoomRow> roomsOf(const std::string& phone) override;
    void setReadMark(const std::string& room, const std::string& phone, std::int64_t id) override;
    std::int64_t readMark(const std::string& room, const std::string& phone) override;

    std::int64_t nextMessageId(const std::string& room) override;
    void insertMessage(const MessageRecord& message) override;
    void appendMessage(MessageRecord& message) override;
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

    std::vector<std::pair<std::string, std::int64_t>> lastMessageIds() override;
    std::optional<std::string> claimHash(const std::string& phone) override;
    bool addClaim(const std::string& phone, const std::string& secretHash) override;
    bool isClaimHash(const std::string& secretHash) override;
    bool releaseClaim(const std::string& phone) override;
    std::int64_t lastRelease() override;
    std::vector<std::pair<std::int64_t, std::string>> releasesAfter(std::int64_t after) override;

    void putFileChunk(const std::string& id, std::int64_t index, const std::string& bytes) override;
    std::optional<std::string> fileChunk(const std::string& id, std::int64_t index) override;

private:
    using Param = PgConnection::Param;
    using Result = PgConnection::Result;

    PgConnection db_;
    const bool reader_;
    bool releaseDue_ = false; // a job's savepoint is yet to be released
};

} // namespace brindlewick::server
