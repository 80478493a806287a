#include "file_store.h"

#include "ids.h"
#include "log.h"
#include "open_failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

FileStore::FileStore(std::string directory, std::uint64_t maxUploadBytes)
    : directory_(std::move(directory)), maxUploadBytes_(maxUploadBytes) {}

bool FileStore::prepare(std::string& error) const {
    if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + directory_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

FileAnswer FileStore::create(Storage& storage, const std::string& name, std::int64_t size) {
    if (size < 0 || static_cast<std::uint64_t>(size) > maxUploadBytes_)
        return refuse(413, FileText::kTooLarge);
    FileRecord record;
    record.id = randomHex128();
    record.name = name;
    record.declaredSize = size;
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

    const std::string part = partOf(id);
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        logLine("files: cannot open " + part + ": " + std::strerror(error));
        return outOfDescriptors(error) ? refuse(503, kOutOfDescriptorsText)
                                       : refuse(500, FileText::kWriteFailed);
    }
    // Bytes past the recorded length come from a write whose record was never committed.
    const bool ok = ::ftruncate(fd, record->received) == 0 &&
                    writeAll(fd, bytes.data(), bytes.size(), record->received) &&
                    ::fdatasync(fd) == 0;
    ::close(fd);
    if (!ok) {
        logLine("files: cannot write " + part + ": " + std::strerror(errno));
        return refuse(500, FileText::kWriteFailed);
    }
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
        return refuse(400, FileText::kBadId);
    auto record = storage.file(id);
    if (!record)
        return refuse(404, FileText::kNotFound);
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    if (record->complete)
        return answer;
    const std::string part = partOf(id);
    const std::string final = pathOf(id);
    if (::access(part.c_str(), F_OK) != 0 && ::access(final.c_str(), F_OK) == 0) {
        // Renamed by an earlier attempt whose record was never committed.
        record->complete = true;
        storage.updateFile(*record);
        return answer;
    }
    // An empty file never got a chunk, so its part file may not exist.
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && outOfDescriptors(errno))
        return refuse(503, kOutOfDescriptorsText);
    const bool ok = fd >= 0 && ::ftruncate(fd, record->received) == 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ok || std::rename(part.c_str(), final.c_str()) != 0) {
        logLine("files: cannot complete " + id + ": " + std::strerror(errno));
        return refuse(500, FileText::kWriteFailed);
    }
    // Fewer bytes than declared are accepted: the uploader stops at the end of a file that
    // shrank while it was being sent.
    record->complete = true;
    storage.updateFile(*record);
    return answer;
}

FileAnswer FileStore::locate(Storage& storage, const std::string& id) {
    if (!isHex128(id))
        return refuse(400, FileText::kBadId);
    const auto record = storage.file(id);
    if (!record || !record->complete)
        return refuse(404, FileText::kNotFound);
    FileAnswer answer;
    answer.id = id;
    answer.size = record->received;
    return answer;
}

} // namespace brindlewick::server
