#pragma once
// Where the bytes of uploaded files live: on this machine's disk (DiskContent, beside SQLite)
// or in the database itself (DatabaseContent, PostgreSQL, so every process on it can take the
// next chunk or serve the file). One of them is chosen at start; FileStore keeps the records
// and their rules, and hands the bytes to it. Everything but reading for a download runs on
// the database worker, inside the job's transaction.

#include "file_answer.h"
#include "storage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindlewick::server {

class DbWorker;

// A finished file's bytes in order, piece by piece, for a download; used on the I/O thread.
class ContentReader {
public:
    using Ready = std::function<void(std::optional<std::string>)>;
    virtual ~ContentReader() = default;
    // Before the first piece. False, with errno set, when the content cannot be opened.
    virtual bool open() = 0;
    // The next piece to `ready`, on the I/O thread and perhaps before `next` returns; nothing
    // when it cannot be read or there is none left. One piece at a time.
    virtual void next(Ready ready) = 0;
};

class FileContent {
public:
    virtual ~FileContent() = default;

    // False with a reason when the content cannot be kept (the folder cannot be made).
    virtual bool prepare(std::string& error) const = 0;
    // Before any request: reconciles the content with the records a crash left behind.
    virtual void recover(Storage& storage) = 0;
    // Bytes that may still be stored; UINT64_MAX when that is not known here.
    virtual std::uint64_t freeBytes() const = 0;
    // Stores `bytes` after the `received` bytes of `record`, an unfinished upload, and sets its
    // running checksum where one is kept; the caller counts them and updates the record. A
    // refusal's status otherwise.
    virtual FileAnswer append(Storage& storage, FileRecord& record, const std::string& bytes) = 0;
    // Ends an upload: true once the content is exactly what the record promised, with
    // `complete` and `sha256` of `record` set for the caller to update; a refusal otherwise.
    virtual FileAnswer finish(Storage& storage, FileRecord& record) = 0;
    // Whether a finished file's content is there at its recorded size, so it may be served.
    virtual bool intact(const FileRecord& record) const = 0;
    // The content of a located file for a download. Reads that wait on the database run on
    // `worker`'s readers, taking turns as `requester`.
    virtual std::unique_ptr<ContentReader> reader(const FileAnswer& located, DbWorker& worker,
                                                  const std::string& requester) const = 0;
    // The content of an unfinished upload that is dropped; its record goes after.
    virtual void remove(const std::string& id) = 0;
};

} // namespace brindlewick::server
