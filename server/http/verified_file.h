#pragma once
// A finished upload read block by block for sending, checked against the SHA-256 its record
// holds as it goes: the last block is withheld when the bytes on disk are not the ones
// committed, so a client never receives a whole file that differs from what was uploaded.

#include "sha256.h"

#include <cstdint>
#include <string>

namespace brindlewick::server {

class VerifiedFile {
public:
    static constexpr std::size_t kBlock = 32 * 1024;

    VerifiedFile() = default;
    ~VerifiedFile();
    VerifiedFile(const VerifiedFile&) = delete;
    VerifiedFile& operator=(const VerifiedFile&) = delete;

    // False, with errno set, when the file cannot be opened.
    bool open(const std::string& path, std::string expectedSha256);
    std::uint64_t size() const { return size_; }
    // Bytes read so far.
    std::uint64_t offset() const { return offset_; }
    bool done() const { return offset_ == size_ && checked_; }
    // The next block (empty for an empty file). False when the file cannot be read to its
    // length or, at its end, does not match its checksum.
    bool next(std::string& block);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
    bool checked_ = false;
    std::string expected_;
    Sha256 hash_;
};

} // namespace brindlewick::server
