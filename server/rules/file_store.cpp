#include "file_store.h"

#include "ids.h"
#include "log.h"
#include "open_failure.h"
#include "time_text.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace brindlewick::server {

namespace {

FileAnswer refuse(unsigned status, const char* text) {
    FileAnswer answer;
    answer.status = status;
    answer.text = text;
    return answer;
}

bool writeAll(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// -1 when the file is missing.
std::int64_t sizeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return info.st_size;
}

// A rename is durable only once its folder is synced.
void syncFolder(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::uint64_t statvfsFree(const std::string& directory) {
    struct statvfs info {};
    if (::statvfs(directory.c_str(), &info) != 0)
        return UINT64_MAX; // unknown: a full disk is still caught when writing
    return std::uint64_t(info.f_bavail) * info.f_frsize;
}

void removeFile(const std::string& path, const std::string& why) {
    if (::unlink(path.c_str()) == 0)
        logLine("files: removed " + path + " (" + why + ")");
}

} // namespace

FileStore::FileStore(std::string directory, UploadLimits limits)
    : directory_(std::move(directory)), limits_(limits) {}

bool FileStore::prepare(std::string& error) const {
    if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + directory_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// For unfinished uploads only: a renamed file whose record never became complete goes too.
void FileStore::drop(Storage& storage, const std::string& id) {
    ::unlink(partOf(id).c_str());
    ::unlink(pathOf(id).c_str());
    hashing_.erase(id);
    storage.deleteFile(id);
}

bool FileStore::adoptRenamed(Storage& storage, FileRecord& record) {
    const std::string final = pathOf(record.id);
    std::string hex;
    if (sizeOf(final) != record.received || !Sha256::ofFile(final, record.received, hex) ||
        !matchesRecord(record, hex))
        return false;
    record.complete = true;
    record.sha256 = hex;
    storage.updateFile(record);
    hashing_.erase(record.id);
    return true;
}

// Records written before running checksums were kept have none to compare with.
bool FileStore::matchesRecord(const FileRecord& record, const std::string& hex) {
    return record.sha256.empty() || record.sha256 == hex;
}

void FileStore::recover(Storage& storage) {
    if (storage.keepsFileContent()) {
        // Chunks and records commit together: nothing on disk to reconcile.
        expire(storage);
        return;
    }
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(directory_.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            names.push_back(entry->d_name);
        ::closedir(dir);
    }
    const std::string suffix = ".part";
    for (const std::string& name : names) {
        const bool part =
            name.size() == 32 + suffix.size() && name.compare(32, suffix.size(), suffix) == 0;
        const std::string id = name.substr(0, 32);
        if (!(part || name.size() == 32) || !isHex128(id))
            continue; // not ours
        auto record = storage.file(id);
        const std::string path = directory_ + "/" + name;
        if (!record) {
            removeFile(path, "no record");
            continue;
        }
        if (record->complete) {
            if (part)
                removeFile(path, "already complete");
            continue;
        }
        const bool renamed = sizeOf(pathOf(id)) >= 0;
        const bool hasPart = sizeOf(partOf(id)) >= 0;
        if (renamed && hasPart) {
            // Which one holds the recorded bytes cannot be told: serve neither.
            if (!part) {
                removeFile(pathOf(id), "renamed and part both present");
                removeFile(partOf(id), "renamed and part both present");
                drop(storage, id);
            }
            continue;
        }
        if (!part) {
            // Renamed by a completion that crashed before its commit.
            if (adoptRenamed(storage, *record)) {
                logLine("files: completed " + id + " after restart");
            } else {
                removeFile(path, "renamed but not the recorded size");
                drop(storage, id);
            }
            continue;
        }
        const std::int64_t size = sizeOf(path);
        if (size < record->received) {
            logLine("files: dropped " + id + ": part file shorter than its record");
            drop(storage, id);
        } else if (size > record->received && ::truncate(path.c_str(), record->received) != 0) {
            // Bytes past the record come from a write whose record was never committed.
            drop(storage, id);
        }
    }
    for (FileRecord& record : storage.filesWithoutChecksum()) {
        std::string hex;
        if (sizeOf(pathOf(record.id)) == record.received &&
            Sha256::ofFile(pathOf(record.id), record.received, hex)) {
            record.sha256 = hex;
            storage.updateFile(record);
        } else {
            logLine("files: " + record.id + " does not match its record and is not served");
        }
    }
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
        return refuse(413, FileText::kTooLarge);
    if (storage.pendingUploads(owner) >= limits_.maxPendingPerOwner)
        return refuse(429, FileText::kTooManyPending);
    // Only bytes received count as used (they are on the disk already): what other uploads
    // merely declared holds nothing, or a few large promises would refuse everyone.
    // (Only for files on this disk: the database server's space is not known here.)
    if (!storage.keepsFileContent() && static_cast<std::uint64_t>(size) > statvfsFree(directory_))
        return refuse(507, FileText::kNoSpace);
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
        return refuse(400, FileText::kBadId);
    auto record = storage.file(id);
    if (!record)
        return refuse(404, FileText::kNotFound);
    if (record->complete)
        return refuse(409, FileText::kAlreadyComplete);
    if (index != record->chunks)
        return refuse(409, FileText::kOutOfOrder);
    if (bytes.size() > kMaxChunkBytes)
        return refuse(413, FileText::kChunkTooLarge);
    if (record->received + static_cast<std::int64_t>(bytes.size()) > record->declaredSize)
        return refuse(413, FileText::kTooLarge);
    if (storage.keepsFileContent())
        return putSharedChunk(storage, *record, bytes);

    const std::string part = partOf(id);
    // Only the first chunk creates the part file: one that vanished must not come back with
    // zeros where the recorded bytes were.
    const int fd =
        ::open(part.c_str(), O_WRONLY | O_CLOEXEC | (record->received == 0 ? O_CREAT : 0), 0600);
    if (fd < 0) {
        const int error = errno;
        logLine("files: cannot open " + part + ": " + std::strerror(error));
        return outOfDescriptors(error) ? refuse(503, kOutOfDescriptorsText)
                                       : refuse(500, FileText::kWriteFailed);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < record->received) {
        ::close(fd);
        logLine("files: " + part + " is shorter than its record");
        return refuse(500, FileText::kWriteFailed);
    }
    // Bytes past the recorded length come from a write whose record was never committed.
    const bool ok = ::ftruncate(fd, record->received) == 0 &&
                    writeAll(fd, bytes.data(), bytes.size(), record->received) &&
                    ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        logLine("files: cannot write " + part + ": " + std::strerror(error));
        return error == ENOSPC ? refuse(507, FileText::kNoSpace)
                               : refuse(500, FileText::kWriteFailed);
    }
    Hashing& hashing = hashing_[id];
    if (hashing.bytes != record->received) {
        // After a restart or a failed commit: the part file must still hold what was recorded.
        hashing = Hashing{};
        if (!Sha256::prefixOf(part, record->received, hashing.state) ||
            (record->received > 0 && !matchesRecord(*record, hashing.state.peek()))) {
            hashing_.erase(id);
            logLine("files: " + part + " does not match its record");
            return refuse(500, FileText::kWriteFailed);
        }
        hashing.bytes = record->received;
    }
    hashing.state.add(bytes.data(), bytes.size());
    hashing.bytes += static_cast<std::int64_t>(bytes.size());
    record->sha256 = hashing.state.peek();
    record->received += static_cast<std::int64_t>(bytes.size());
    record->chunks += 1;
    storage.updateFile(*record);
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    return answer;
}

// Chunk rows commit with their record, so they are what the record says. Other processes may
// take some of the chunks, so no running hash is kept: completion reads the rows back once.
FileAnswer FileStore::putSharedChunk(Storage& storage, FileRecord& record,
                                     const std::string& bytes) {
    storage.putFileChunk(record.id, record.chunks, bytes);
    record.received += static_cast<std::int64_t>(bytes.size());
    record.chunks += 1;
    storage.updateFile(record);
    FileAnswer answer;
    answer.id = record.id;
    answer.size = record.received;
    return answer;
}

bool FileStore::completeShared(Storage& storage, FileRecord& record) {
    // One chunk in memory at a time.
    Sha256 state;
    std::int64_t bytes = 0;
    for (std::int64_t index = 0; index < record.chunks; ++index) {
        const auto chunk = storage.fileChunk(record.id, index);
        if (!chunk) {
            logLine("files: cannot complete " + record.id + ": chunk " + std::to_string(index) +
                    " is missing");
            return false;
        }
        state.add(chunk->data(), chunk->size());
        bytes += static_cast<std::int64_t>(chunk->size());
    }
    if (bytes != record.received) {
        logLine("files: cannot complete " + record.id + ": chunks do not match its record");
        return false;
    }
    record.complete = true;
    record.sha256 = state.finish();
    storage.updateFile(record);
    return true;
}

FileAnswer FileStore::complete(Storage& storage, const std::string& id) {
    if (!isHex128(id))
        return refuse(400, FileText::kBadId);
    auto record = storage.file(id);
    if (!record)
        return refuse(404, FileText::kNotFound);
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    if (record->complete)
        return answer;
    if (storage.keepsFileContent())
        return completeShared(storage, *record) ? answer : refuse(500, FileText::kWriteFailed);
    const std::string part = partOf(id);
    const std::string final = pathOf(id);
    if (sizeOf(part) < 0 && sizeOf(final) >= 0) {
        // Renamed by an earlier attempt whose record was never committed.
        if (adoptRenamed(storage, *record))
            return answer;
        logLine("files: cannot complete " + id + ": renamed file is not the recorded size");
        return refuse(500, FileText::kWriteFailed);
    }
    // An empty file never got a chunk, so its part file may not exist.
    const int fd =
        ::open(part.c_str(), O_WRONLY | O_CLOEXEC | (record->received == 0 ? O_CREAT : 0), 0600);
    if (fd < 0 && outOfDescriptors(errno))
        return refuse(503, kOutOfDescriptorsText);
    struct stat info {};
    const bool ok = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size >= record->received &&
                    ::ftruncate(fd, record->received) == 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    // The running hash when it covers the record; else read back from the disk. Either way
    // what is renamed must be what the chunks' records promised.
    std::string hex;
    const auto hashing = hashing_.find(id);
    if (ok && hashing != hashing_.end() && hashing->second.bytes == record->received)
        hex = hashing->second.state.peek();
    else if (ok && !Sha256::ofFile(part, record->received, hex))
        hex.clear();
    hashing_.erase(id);
    if (ok && !hex.empty() && !matchesRecord(*record, hex)) {
        logLine("files: cannot complete " + id + ": part file does not match its record");
        return refuse(500, FileText::kWriteFailed);
    }
    if (!ok || hex.empty() || std::rename(part.c_str(), final.c_str()) != 0) {
        logLine("files: cannot complete " + id + ": " + std::strerror(errno));
        return refuse(500, FileText::kWriteFailed);
    }
    syncFolder(directory_);
    // Fewer bytes than declared are accepted: the uploader stops at the end of a file that
    // shrank while it was being sent.
    record->complete = true;
    record->sha256 = hex;
    storage.updateFile(*record);
    return answer;
}

FileAnswer FileStore::locate(Storage& storage, const std::string& id) {
    if (!isHex128(id))
        return refuse(400, FileText::kBadId);
    const auto record = storage.file(id);
    if (!record || !record->complete)
        return refuse(404, FileText::kNotFound);
    if (record->sha256.empty() ||
        (!storage.keepsFileContent() && sizeOf(pathOf(id)) != record->received)) {
        logLine("files: " + id + " does not match its record; not served");
        return refuse(404, FileText::kNotFound);
    }
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    answer.sha256 = record->sha256;
    answer.chunks = record->chunks;
    return answer;
}

} // namespace brindlewick::server
