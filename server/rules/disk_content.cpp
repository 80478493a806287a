#include "disk_content.h"

#include "ids.h"
#include "log.h"
#include "open_failure.h"

#include <algorithm>
#include <cerrno>
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

void removeFile(const std::string& path, const std::string& why) {
    if (::unlink(path.c_str()) == 0)
        logLine("files: removed " + path + " (" + why + ")");
}

// Records written before running checksums were kept have none to compare with.
bool matchesRecord(const FileRecord& record, const std::string& hex) {
    return record.sha256.empty() || record.sha256 == hex;
}

// A finished file read block by block on the I/O thread, as far as its recorded size.
class DiskReader final : public ContentReader {
public:
    DiskReader(std::string path, std::uint64_t size) : path_(std::move(path)), size_(size) {}
    ~DiskReader() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DiskReader(const DiskReader&) = delete;
    DiskReader& operator=(const DiskReader&) = delete;

    bool open() override {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return false;
        // Changed since it was located: it no longer matches its record.
        sizeDiffers_ = static_cast<std::uint64_t>(info.st_size) != size_;
        return true;
    }

    void next(Ready ready) override {
        if (fd_ < 0 || sizeDiffers_ || offset_ == size_) {
            ready(std::nullopt);
            return;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(DiskContent::kBlock, size_ - offset_));
        std::string block(want, '\0');
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n =
                ::pread(fd_, block.data() + got, want - got, static_cast<off_t>(offset_ + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ready(std::nullopt);
                return;
            }
            got += static_cast<std::size_t>(n);
        }
        offset_ += got;
        ready(std::move(block));
    }

private:
    std::string path_;
    std::uint64_t size_;
    std::uint64_t offset_ = 0;
    int fd_ = -1;
    bool sizeDiffers_ = false;
};

} // namespace

DiskContent::DiskContent(std::string directory) : directory_(std::move(directory)) {}

bool DiskContent::prepare(std::string& error) const {
    if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + directory_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void DiskContent::remove(const std::string& id) {
    // A renamed file whose record never became complete goes too.
    ::unlink(partOf(id).c_str());
    ::unlink(pathOf(id).c_str());
    hashing_.erase(id);
}

void DiskContent::drop(Storage& storage, const std::string& id) {
    remove(id);
    storage.deleteFile(id);
}

bool DiskContent::adoptRenamed(FileRecord& record) {
    const std::string final = pathOf(record.id);
    std::string hex;
    if (sizeOf(final) != record.received || !Sha256::ofFile(final, record.received, hex) ||
        !matchesRecord(record, hex))
        return false;
    record.complete = true;
    record.sha256 = hex;
    hashing_.erase(record.id);
    return true;
}

void DiskContent::recover(Storage& storage) {
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
            if (adoptRenamed(*record)) {
                storage.updateFile(*record);
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
}

std::uint64_t DiskContent::freeBytes() const {
    struct statvfs info {};
    if (::statvfs(directory_.c_str(), &info) != 0)
        return UINT64_MAX; // unknown: a full disk is still caught when writing
    return std::uint64_t(info.f_bavail) * info.f_frsize;
}

FileAnswer DiskContent::append(Storage& /*storage*/, FileRecord& record, const std::string& bytes) {
    const std::string part = partOf(record.id);
    // Only the first chunk creates the part file: one that vanished must not come back with
    // zeros where the recorded bytes were.
    const int fd =
        ::open(part.c_str(), O_WRONLY | O_CLOEXEC | (record.received == 0 ? O_CREAT : 0), 0600);
    if (fd < 0) {
        const int error = errno;
        logLine("files: cannot open " + part + ": " + std::strerror(error));
        return outOfDescriptors(error) ? fileRefusal(503, kOutOfDescriptorsText)
                                       : fileRefusal(500, FileText::kWriteFailed);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < record.received) {
        ::close(fd);
        logLine("files: " + part + " is shorter than its record");
        return fileRefusal(500, FileText::kWriteFailed);
    }
    // Bytes past the recorded length come from a write whose record was never committed.
    const bool ok = ::ftruncate(fd, record.received) == 0 &&
                    writeAll(fd, bytes.data(), bytes.size(), record.received) &&
                    ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) {
        logLine("files: cannot write " + part + ": " + std::strerror(error));
        return error == ENOSPC ? fileRefusal(507, FileText::kNoSpace)
                               : fileRefusal(500, FileText::kWriteFailed);
    }
    Hashing& hashing = hashing_[record.id];
    if (hashing.bytes != record.received) {
        // After a restart or a failed commit: the part file must still hold what was recorded.
        hashing = Hashing{};
        if (!Sha256::prefixOf(part, record.received, hashing.state) ||
            (record.received > 0 && !matchesRecord(record, hashing.state.peek()))) {
            hashing_.erase(record.id);
            logLine("files: " + part + " does not match its record");
            return fileRefusal(500, FileText::kWriteFailed);
        }
        hashing.bytes = record.received;
    }
    hashing.state.add(bytes.data(), bytes.size());
    hashing.bytes += static_cast<std::int64_t>(bytes.size());
    record.sha256 = hashing.state.peek();
    return {};
}

FileAnswer DiskContent::finish(Storage& /*storage*/, FileRecord& record) {
    const std::string& id = record.id;
    const std::string part = partOf(id);
    const std::string final = pathOf(id);
    if (sizeOf(part) < 0 && sizeOf(final) >= 0) {
        // Renamed by an earlier attempt whose record was never committed.
        if (adoptRenamed(record))
            return {};
        logLine("files: cannot complete " + id + ": renamed file is not the recorded size");
        return fileRefusal(500, FileText::kWriteFailed);
    }
    // An empty file never got a chunk, so its part file may not exist.
    const int fd =
        ::open(part.c_str(), O_WRONLY | O_CLOEXEC | (record.received == 0 ? O_CREAT : 0), 0600);
    if (fd < 0 && outOfDescriptors(errno))
        return fileRefusal(503, kOutOfDescriptorsText);
    struct stat info {};
    const bool ok = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size >= record.received &&
                    ::ftruncate(fd, record.received) == 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    // The running hash when it covers the record; else read back from the disk. Either way
    // what is renamed must be what the chunks' records promised.
    std::string hex;
    const auto hashing = hashing_.find(id);
    if (ok && hashing != hashing_.end() && hashing->second.bytes == record.received)
        hex = hashing->second.state.peek();
    else if (ok && !Sha256::ofFile(part, record.received, hex))
        hex.clear();
    hashing_.erase(id);
    if (ok && !hex.empty() && !matchesRecord(record, hex)) {
        logLine("files: cannot complete " + id + ": part file does not match its record");
        return fileRefusal(500, FileText::kWriteFailed);
    }
    if (!ok || hex.empty() || std::rename(part.c_str(), final.c_str()) != 0) {
        logLine("files: cannot complete " + id + ": " + std::strerror(errno));
        return fileRefusal(500, FileText::kWriteFailed);
    }
    syncFolder(directory_);
    // Fewer bytes than declared are accepted: the uploader stops at the end of a file that
    // shrank while it was being sent.
    record.complete = true;
    record.sha256 = hex;
    return {};
}

bool DiskContent::intact(const FileRecord& record) const {
    return sizeOf(pathOf(record.id)) == record.received;
}

std::unique_ptr<ContentReader> DiskContent::reader(const FileAnswer& located, DbWorker& /*worker*/,
                                                   const std::string& /*requester*/) const {
    return std::make_unique<DiskReader>(pathOf(located.id),
                                        static_cast<std::uint64_t>(located.size));
}

} // namespace brindlewick::server
