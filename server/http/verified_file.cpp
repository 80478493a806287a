#include "verified_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindlewick::server {

VerifiedFile::~VerifiedFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool VerifiedFile::open(const std::string& path, std::string expectedSha256) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        return false;
    size_ = static_cast<std::uint64_t>(info.st_size);
    expected_ = std::move(expectedSha256);
    return true;
}

bool VerifiedFile::next(std::string& block) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size_ - offset_));
    block.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n =
            ::pread(fd_, block.data() + got, want - got, static_cast<off_t>(offset_ + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    hash_.add(block.data(), got);
    offset_ += got;
    if (offset_ == size_) {
        if (hash_.finish() != expected_)
            return false;
        checked_ = true;
    }
    return true;
}

} // namespace brindlewick::server
