#include "verified_file.h"

#include <utility>

namespace brindlewick::server {

VerifiedFile::VerifiedFile(std::unique_ptr<ContentReader> reader, std::string id,
                           std::uint64_t size, std::string expectedSha256)
    : reader_(std::move(reader)), id_(std::move(id)), size_(size),
      expected_(std::move(expectedSha256)) {}

void VerifiedFile::next(ContentReader::Ready ready) {
    if (offset_ == size_) {
        // Only an empty file is asked for a piece at its end.
        checked_ = hash_.finish() == expected_;
        ready(checked_ ? std::optional<std::string>(std::string()) : std::nullopt);
        return;
    }
    reader_->next([this, ready = std::move(ready)](std::optional<std::string> piece) mutable {
        if (!piece || piece->size() > size_ - offset_) {
            ready(std::nullopt);
            return;
        }
        if (piece->empty()) {
            next(std::move(ready));
            return;
        }
        hash_.add(piece->data(), piece->size());
        if (offset_ + piece->size() == size_) {
            if (hash_.finish() != expected_) {
                ready(std::nullopt);
                return;
            }
            checked_ = true;
        }
        offset_ += piece->size();
        ready(std::move(piece));
    });
}

} // namespace brindlewick::server
