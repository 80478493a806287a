#include "file_store.h"

#include "ids.h"
#include "log.h"
#include "time_text.h"

#include <chrono>
#include <utility>
#include <vector>

namespace brindlewick::server {

FileStore::FileStore(std::unique_ptr<FileContent> content, UploadLimits limits)
    : content_(std::move(content)), limits_(limits) {}

// For unfinished uploads only.
void FileStore::drop(Storage& storage, const std::string& id) {
    content_->remove(id);
    storage.deleteFile(id);
}

void FileStore::recover(Storage& storage) {
    content_->recover(storage);
    expire(storage);
}

int FileStore::expire(Storage& storage) {
    const auto before =
        nowMs() - std::chrono::duration_cast<std::chrono::milliseconds>(limits_.expiry).count();
    const std::vector<std::string> ids = storage.idleUploads(before);
    for (const std::string& id : ids)
        drop(storage, id);
    if (!ids.empty())
        logLine("files: dropped " + std::to_string(ids.size()) + " unfinished upload(s) idle for " +
                std::to_string(limits_.expiry.count()) + " s");
    return static_cast<int>(ids.size());
}

FileAnswer FileStore::create(Storage& storage, const std::string& name, std::int64_t size,
                             const std::string& owner) {
    if (size < 0 || static_cast<std::uint64_t>(size) > limits_.maxUploadBytes)
        return fileRefusal(413, FileText::kTooLarge);
    if (storage.pendingUploads(owner) >= limits_.maxPendingPerOwner)
        return fileRefusal(429, FileText::kTooManyPending);
    // Only bytes received count as used (they are stored already): what other uploads merely
    // declared holds nothing, or a few large promises would refuse everyone.
    if (static_cast<std::uint64_t>(size) > content_->freeBytes())
        return fileRefusal(507, FileText::kNoSpace);
    FileRecord record;
    record.id = randomHex128();
    record.name = name;
    record.declaredSize = size;
    record.owner = owner;
    storage.createFile(record);
    FileAnswer answer;
    answer.id = record.id;
    return answer;
}

FileAnswer FileStore::putChunk(Storage& storage, const std::string& id, std::int64_t index,
                               const std::string& bytes) {
    if (!isHex128(id))
        return fileRefusal(400, FileText::kBadId);
    auto record = storage.file(id);
    if (!record)
        return fileRefusal(404, FileText::kNotFound);
    if (record->complete)
        return fileRefusal(409, FileText::kAlreadyComplete);
    if (index != record->chunks)
        return fileRefusal(409, FileText::kOutOfOrder);
    if (bytes.size() > kMaxChunkBytes)
        return fileRefusal(413, FileText::kChunkTooLarge);
    if (record->received + static_cast<std::int64_t>(bytes.size()) > record->declaredSize)
        return fileRefusal(413, FileText::kTooLarge);
    const FileAnswer stored = content_->append(storage, *record, bytes);
    if (stored.status != 200)
        return stored;
    record->received += static_cast<std::int64_t>(bytes.size());
    record->chunks += 1;
    storage.updateFile(*record);
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    return answer;
}

FileAnswer FileStore::complete(Storage& storage, const std::string& id) {
    if (!isHex128(id))
        return fileRefusal(400, FileText::kBadId);
    auto record = storage.file(id);
    if (!record)
        return fileRefusal(404, FileText::kNotFound);
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    if (record->complete)
        return answer;
    const FileAnswer finished = content_->finish(storage, *record);
    if (finished.status != 200)
        return finished;
    storage.updateFile(*record);
    return answer;
}

FileAnswer FileStore::locate(Storage& storage, const std::string& id) {
    if (!isHex128(id))
        return fileRefusal(400, FileText::kBadId);
    const auto record = storage.file(id);
    if (!record || !record->complete)
        return fileRefusal(404, FileText::kNotFound);
    if (record->sha256.empty() || !content_->intact(*record)) {
        logLine("files: " + id + " does not match its record; not served");
        return fileRefusal(404, FileText::kNotFound);
    }
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    answer.sha256 = record->sha256;
    answer.chunks = record->chunks;
    return answer;
}

} // namespace brindlewick::server
