#include "database_content.h"

#include "db_worker.h"
#include "log.h"
#include "sha256.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace brindlewick::server {

namespace {

// A stored file's chunks in order, each read by a job of its own on the worker's readers.
class DatabaseReader final : public ContentReader {
public:
    DatabaseReader(DbWorker& worker, std::string requester, std::string id, std::int64_t chunks)
        : worker_(worker), requester_(std::move(requester)), id_(std::move(id)), chunks_(chunks) {}

    bool open() override { return true; }

    void next(Ready ready) override {
        if (next_ >= chunks_) {
            ready(std::nullopt);
            return;
        }
        const std::int64_t index = next_++;
        auto chunk = std::make_shared<std::optional<std::string>>();
        worker_.read(
            requester_,
            [id = id_, index, chunk, ready](Storage& storage) -> Completion {
                *chunk = storage.fileChunk(id, index);
                return [chunk, ready](bool) { ready(std::move(*chunk)); };
            },
            [ready](bool) { ready(std::nullopt); });
    }

private:
    DbWorker& worker_;
    std::string requester_;
    std::string id_;
    std::int64_t chunks_;
    std::int64_t next_ = 0;
};

} // namespace

bool DatabaseContent::prepare(std::string& /*error*/) const {
    return true;
}

void DatabaseContent::recover(Storage& /*storage*/) {}

std::uint64_t DatabaseContent::freeBytes() const {
    return UINT64_MAX;
}

// Other processes may take some of the chunks, so no running hash is kept: completion reads
// the rows back once.
FileAnswer DatabaseContent::append(Storage& storage, FileRecord& record, const std::string& bytes) {
    storage.putFileChunk(record.id, record.chunks, bytes);
    return {};
}

FileAnswer DatabaseContent::finish(Storage& storage, FileRecord& record) {
    // One chunk in memory at a time.
    Sha256 state;
    std::int64_t bytes = 0;
    for (std::int64_t index = 0; index < record.chunks; ++index) {
        const auto chunk = storage.fileChunk(record.id, index);
        if (!chunk) {
            logLine("files: cannot complete " + record.id + ": chunk " + std::to_string(index) +
                    " is missing");
            return fileRefusal(500, FileText::kWriteFailed);
        }
        state.add(chunk->data(), chunk->size());
        bytes += static_cast<std::int64_t>(chunk->size());
    }
    if (bytes != record.received) {
        logLine("files: cannot complete " + record.id + ": chunks do not match its record");
        return fileRefusal(500, FileText::kWriteFailed);
    }
    record.complete = true;
    record.sha256 = state.finish();
    return {};
}

// Chunk rows commit with their record, so they are what the record says; a changed row is
// caught by the checksum as the file is sent.
bool DatabaseContent::intact(const FileRecord& /*record*/) const {
    return true;
}

std::unique_ptr<ContentReader> DatabaseContent::reader(const FileAnswer& located, DbWorker& worker,
                                                       const std::string& requester) const {
    return std::make_unique<DatabaseReader>(worker, requester, located.id, located.chunks);
}

void DatabaseContent::remove(const std::string& /*id*/) {}

} // namespace brindlewick::server
