#pragma once
// Uploaded files: a record in the database and the bytes in DIR/files/<id>.
// Chunks go to <id>.part and are accepted only in order; completing renames the file.
// Runs on the database worker, so disk writes never hold up the chat port.

#include "storage.h"

#include <cstdint>
#include <string>

namespace brindlewick::server {

struct FileAnswer {
    unsigned status = 200;
    std::string text; // short reason for a refusal
    std::string id;
    std::int64_t size = 0;
};

class FileStore {
public:
    static constexpr std::size_t kMaxChunkBytes = 1024 * 1024;

    FileStore(std::string directory, std::uint64_t maxUploadBytes);

    // Creates the folder; false with a reason when it cannot.
    bool prepare(std::string& error) const;

    FileAnswer create(Storage& storage, const std::string& name, std::int64_t size);
    FileAnswer putChunk(Storage& storage, const std::string& id, std::int64_t index,
                        const std::string& bytes);
    FileAnswer complete(Storage& storage, const std::string& id);
    // The finished file's path and size, or 404.
    FileAnswer locate(Storage& storage, const std::string& id);
    std::string pathOf(const std::string& id) const { return directory_ + "/" + id; }
    std::uint64_t maxUploadBytes() const { return maxUploadBytes_; }

private:
    std::string partOf(const std::string& id) const { return directory_ + "/" + id + ".part"; }

    std::string directory_;
    std::uint64_t maxUploadBytes_;
};

namespace FileText {
inline const char* const kNotFound = "파일을 찾을 수 없습니다";
inline const char* const kBadId = "잘못된 파일 ID입니다";
inline const char* const kTooLarge = "파일이 너무 큽니다";
inline const char* const kChunkTooLarge = "조각이 너무 큽니다";
inline const char* const kOutOfOrder = "조각 순서가 맞지 않습니다";
inline const char* const kAlreadyComplete = "이미 완료된 파일입니다";
inline const char* const kWriteFailed = "파일을 저장하지 못했습니다";
} // namespace FileText

} // namespace brindlewick::server
