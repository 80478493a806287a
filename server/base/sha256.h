#pragma once
// SHA-256 over OpenSSL's EVP interface, fed in pieces, and over a file's first bytes.

#include <cstdint>
#include <memory>
#include <string>

namespace brindlewick::server {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void add(const char* data, std::size_t size);
    // Lower-case hex; the object then starts over.
    std::string finish();
    // The hash of what was added so far, without ending it.
    std::string peek() const;

    // The hash of the first `length` bytes of `path`; false when the file is shorter or
    // cannot be read.
    static bool ofFile(const std::string& path, std::int64_t length, std::string& hex);
    // Also returns the running state, to go on from there.
    static bool prefixOf(const std::string& path, std::int64_t length, Sha256& state);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace brindlewick::server
