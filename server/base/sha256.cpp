#include "sha256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace brindlewick::server {

struct Sha256::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
    void reset() {
        if (!md || EVP_DigestInit_ex(md, EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 unavailable");
    }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    context_->reset();
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::add(const char* data, std::size_t size) {
    EVP_DigestUpdate(context_->md, data, size);
}

namespace {

std::string finalHex(EVP_MD_CTX* md) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(md, digest, &length);
    static const char* const hexDigits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += hexDigits[digest[i] >> 4];
        hex += hexDigits[digest[i] & 15];
    }
    return hex;
}

} // namespace

std::string Sha256::finish() {
    std::string hex = finalHex(context_->md);
    context_->reset();
    return hex;
}

std::string Sha256::peek() const {
    Context copy;
    if (!copy.md || EVP_MD_CTX_copy_ex(copy.md, context_->md) != 1)
        throw std::runtime_error("SHA-256 unavailable");
    return finalHex(copy.md);
}

bool Sha256::prefixOf(const std::string& path, std::int64_t length, Sha256& state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<char> buffer(256 * 1024);
    std::int64_t left = length;
    while (left > 0) {
        const ssize_t n = ::read(fd, buffer.data(),
                                 static_cast<std::size_t>(std::min<std::int64_t>(
                                     left, static_cast<std::int64_t>(buffer.size()))));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        state.add(buffer.data(), static_cast<std::size_t>(n));
        left -= n;
    }
    ::close(fd);
    return left == 0;
}

bool Sha256::ofFile(const std::string& path, std::int64_t length, std::string& hex) {
    Sha256 state;
    if (!prefixOf(path, length, state))
        return false;
    hex = state.finish();
    return true;
}

} // namespace brindlewick::server
