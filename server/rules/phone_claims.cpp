#include "phone_claims.h"

#include "sha256.h"
#include "storage.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace brindlewick::server::PhoneClaims {

std::string newSecret() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return {};
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * sizeof bytes);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    OPENSSL_cleanse(bytes, sizeof bytes);
    return out;
}

std::string hashOf(const std::string& secret) {
    Sha256 hash;
    hash.add(secret.data(), secret.size());
    return hash.finish();
}

bool sameHash(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

SignIn signIn(Storage& storage, const std::string& phone, const std::string& presented,
              const std::string& fresh) {
    SignIn result;
    std::optional<std::string> claimed = storage.claimHash(phone);
    if (!claimed) {
        if (storage.addClaim(phone, hashOf(fresh))) {
            result.issued = fresh;
            return result;
        }
        // Another server's sign-in claimed it first: this one is judged against that claim.
        claimed = storage.claimHash(phone);
        if (!claimed) {
            result.refused = true;
            return result;
        }
    }
    // Hashing the presented secret (even an empty one) keeps the two cases alike in time too.
    result.refused = !sameHash(*claimed, hashOf(presented)) || presented.empty();
    return result;
}

bool mayActFor(Storage& storage, const std::string& phone, const std::string& bearerHash) {
    if (bearerHash.empty())
        return false;
    if (phone.empty())
        return storage.isClaimHash(bearerHash);
    const std::optional<std::string> claimed = storage.claimHash(phone);
    return claimed && sameHash(*claimed, bearerHash);
}

} // namespace brindlewick::server::PhoneClaims
