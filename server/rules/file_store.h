#pragma once
// Uploaded files: a record in the database and the bytes in DIR/files/<id>, or, with a
// database that keeps file content (PostgreSQL), the bytes as one row per chunk beside the
// record, so that any server process on that database can take the next chunk or serve it.
// On disk:
// Chunks go to <id>.part and are accepted only in order; completing renames the file.
// The database decides: a file is served only when it is recorded complete and its size on
// disk is the recorded one; its SHA-256, taken from the disk at completion, is recorded too and
// checked while the file is sent (VerifiedFile).
// Runs on the database worker, so disk writes never hold up the chat port.

#include "sha256.h"
#include "storage.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace brindlewick::server {

struct FileAnswer {
    unsigned status = 200;
    std::string text; // short reason for a refusal
    std::string id;
    std::int64_t size = 0;
    std::string sha256; // of a finished file
    std::int64_t chunks = 0;
};

struct UploadLimits {
    std::uint64_t maxUploadBytes = 1024ull * 1024 * 1024;
    // Unfinished uploads one address may hold at once.
    std::int64_t maxPendingPerOwner = 16;
    // An unfinished upload without a chunk for this long is dropped.
    std::chrono::seconds expiry{3600};
};

class FileStore {
public:
    static constexpr std::size_t kMaxChunkBytes = 1024 * 1024;

    FileStore(std::string directory, UploadLimits limits);

    // Creates the folder; false with a reason when it cannot.
    bool prepare(std::string& error) const;
    // Before any request: removes what no record explains, re-examines files renamed by a
    // completion whose record was never committed, and records missing checksums.
    void recover(Storage& storage);
    // Drops unfinished uploads idle longer than the expiry; returns how many.
    int expire(Storage& storage);

    FileAnswer create(Storage& storage, const std::string& name, std::int64_t size,
                      const std::string& owner);
    FileAnswer putChunk(Storage& storage, const std::string& id, std::int64_t index,
                        const std::string& bytes);
    FileAnswer complete(Storage& storage, const std::string& id);
    // The finished file's size and checksum, or 404.
    FileAnswer locate(Storage& storage, const std::string& id);
    std::string pathOf(const std::string& id) const { return directory_ + "/" + id; }
    std::uint64_t maxUploadBytes() const { return limits_.maxUploadBytes; }

private:
    std::string partOf(const std::string& id) const { return directory_ + "/" + id + ".part"; }
    void drop(Storage& storage, const std::string& id);
    FileAnswer putSharedChunk(Storage& storage, FileRecord& record, const std::string& bytes);
    bool completeShared(Storage& storage, FileRecord& record);
    static bool matchesRecord(const FileRecord& record, const std::string& sha256);
    // Marks a renamed file complete when it holds exactly the recorded bytes.
    bool adoptRenamed(Storage& storage, FileRecord& record);

    // The running hash of each upload's received bytes, valid while `bytes` matches the
    // record; rebuilt from the part file otherwise (after a restart or a failed commit). Each
    // chunk's record keeps the hash so far, so leftovers can be told from the real bytes.
    struct Hashing {
        Sha256 state;
        std::int64_t bytes = 0;
    };

    std::string directory_;
    UploadLimits limits_;
    std::unordered_map<std::string, Hashing> hashing_;
};

namespace FileText {
inline const char* const kNotFound = "파일을 찾을 수 없습니다";
inline const char* const kBadId = "잘못된 파일 ID입니다";
inline const char* const kTooLarge = "파일이 너무 큽니다";
inline const char* const kChunkTooLarge = "조각이 너무 큽니다";
inline const char* const kOutOfOrder = "조각 순서가 맞지 않습니다";
inline const char* const kAlreadyComplete = "이미 완료된 파일입니다";
inline const char* const kWriteFailed = "파일을 저장하지 못했습니다";
inline const char* const kTooManyPending = "끝나지 않은 업로드가 너무 많습니다";
inline const char* const kNoSpace = "서버의 저장 공간이 부족합니다";
} // namespace FileText

} // namespace brindlewick::server
