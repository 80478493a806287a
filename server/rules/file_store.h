#pragma once
// Uploaded files: a record in the database, and the bytes wherever the FileContent chosen at
// start keeps them (the disk, or the database itself). The store holds the rules: sizes,
// order of chunks, unfinished uploads per owner and their expiry; a file is served only once
// recorded complete with its checksum and found intact.
// Runs on the database worker, so disk writes never hold up the chat port.

#include "file_answer.h"
#include "file_content.h"
#include "storage.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace brindlewick::server {

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

    FileStore(std::unique_ptr<FileContent> content, UploadLimits limits);

    // Where the content goes; false with a reason when it cannot be kept.
    bool prepare(std::string& error) const { return content_->prepare(error); }
    // Before any request: reconciles what a crash left (FileContent::recover), then expires.
    void recover(Storage& storage);
    // Drops unfinished uploads idle longer than the expiry; returns how many.
    int expire(Storage& storage);

    FileAnswer create(Storage& storage, const std::string& name, std::int64_t size,
                      const std::string& owner);
    FileAnswer putChunk(Storage& storage, const std::string& id, std::int64_t index,
                        const std::string& bytes);
    FileAnswer complete(Storage& storage, const std::string& id);
    // The finished file's size, checksum and chunks, or 404.
    FileAnswer locate(Storage& storage, const std::string& id);
    const FileContent& content() const { return *content_; }
    std::uint64_t maxUploadBytes() const { return limits_.maxUploadBytes; }

private:
    void drop(Storage& storage, const std::string& id);

    std::unique_ptr<FileContent> content_;
    UploadLimits limits_;
};

} // namespace brindlewick::server
