#pragma once
// Uploaded files' bytes in DIR/<id> on this machine's disk. Chunks go to <id>.part and are
// accepted only in order; completing renames the file. The database decides: a file is served
// only when it is recorded complete and its size on disk is the recorded one; its SHA-256,
// taken from the disk at completion, is recorded too and checked while it is sent.

#include "file_content.h"
#include "sha256.h"

#include <string>
#include <unordered_map>

namespace brindlewick::server {

class DiskContent final : public FileContent {
public:
    // Pieces a download reads at a time.
    static constexpr std::size_t kBlock = 32 * 1024;

    explicit DiskContent(std::string directory);

    bool prepare(std::string& error) const override;
    // Removes what no record explains, re-examines files renamed by a completion whose record
    // was never committed, and records missing checksums.
    void recover(Storage& storage) override;
    std::uint64_t freeBytes() const override;
    FileAnswer append(Storage& storage, FileRecord& record, const std::string& bytes) override;
    FileAnswer finish(Storage& storage, FileRecord& record) override;
    bool intact(const FileRecord& record) const override;
    std::unique_ptr<ContentReader> reader(const FileAnswer& located, DbWorker& worker,
                                          const std::string& requester) const override;
    void remove(const std::string& id) override;

    std::string pathOf(const std::string& id) const { return directory_ + "/" + id; }

private:
    std::string partOf(const std::string& id) const { return directory_ + "/" + id + ".part"; }
    // The content and then the record of an unfinished upload.
    void drop(Storage& storage, const std::string& id);
    // Marks a renamed file complete when it holds exactly the recorded bytes.
    bool adoptRenamed(FileRecord& record);

    // The running hash of each upload's received bytes, valid while `bytes` matches the
    // record; rebuilt from the part file otherwise (after a restart or a failed commit). Each
    // chunk's record keeps the hash so far, so leftovers can be told from the real bytes.
    struct Hashing {
        Sha256 state;
        std::int64_t bytes = 0;
    };

    std::string directory_;
    std::unordered_map<std::string, Hashing> hashing_;
};

} // namespace brindlewick::server
