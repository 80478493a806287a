#pragma once
// A finished upload read piece by piece for sending, checked against the size and SHA-256 its
// record holds as it goes: the last piece is withheld when the bytes are not the ones
// committed, so a client never receives a whole file that differs from what was uploaded.
// The same check for every FileContent.

#include "file_content.h"
#include "sha256.h"

#include <cstdint>
#include <memory>
#include <string>

namespace brindlewick::server {

class VerifiedFile {
public:
    VerifiedFile(std::unique_ptr<ContentReader> reader, std::string id, std::uint64_t size,
                 std::string expectedSha256);
    VerifiedFile(const VerifiedFile&) = delete;
    VerifiedFile& operator=(const VerifiedFile&) = delete;

    const std::string& id() const { return id_; }
    // False, with errno set, when the content cannot be opened.
    bool open() { return reader_->open(); }
    std::uint64_t size() const { return size_; }
    // Bytes passed on so far.
    std::uint64_t offset() const { return offset_; }
    bool done() const { return offset_ == size_ && checked_; }
    // The next piece to `ready` (an empty one for an empty file), as ContentReader::next does;
    // nothing when the content cannot be read to its recorded size, has more, or at its end
    // does not match its checksum. The caller keeps this alive until `ready` runs.
    void next(ContentReader::Ready ready);

private:
    std::unique_ptr<ContentReader> reader_;
    std::string id_;
    std::uint64_t size_;
    std::uint64_t offset_ = 0;
    bool checked_ = false;
    std::string expected_;
    Sha256 hash_;
};

} // namespace brindlewick::server
