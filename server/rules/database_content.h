#pragma once
// Uploaded files' bytes in the database, one row per chunk beside the record and committed
// with it, so any server process on the database can take the next chunk or serve the file.
// The SHA-256 is taken over the rows at completion; a download reads one chunk per job on the
// worker's readers, off the I/O thread.

#include "file_content.h"

namespace brindlewick::server {

class DatabaseContent final : public FileContent {
public:
    bool prepare(std::string& error) const override;
    // Chunks and records commit together: nothing to reconcile.
    void recover(Storage& storage) override;
    // The database server's space is not known here.
    std::uint64_t freeBytes() const override;
    FileAnswer append(Storage& storage, FileRecord& record, const std::string& bytes) override;
    FileAnswer finish(Storage& storage, FileRecord& record) override;
    bool intact(const FileRecord& record) const override;
    std::unique_ptr<ContentReader> reader(const FileAnswer& located, DbWorker& worker,
                                          const std::string& requester) const override;
    // The chunks go with their record (Storage::deleteFile).
    void remove(const std::string& id) override;
};

} // namespace brindlewick::server
