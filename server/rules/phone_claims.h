#pragma once
// Phones claimed by one device. With --claim-phones the first sign-in of a phone gets a random
// device secret; from then on only a holder of that secret signs in as the phone or acts for it
// over HTTP. The database keeps the secret's SHA-256, never the secret.

#include <optional>
#include <string>

namespace brindlewick::server {

class Storage;

namespace ClaimText {
// The same text for a missing and a wrong secret: it tells a stranger nothing more.
inline const char* const kClaimedElsewhere = "다른 기기에서 사용 중인 번호입니다";
inline const char* const kNeedDeviceSecret = "기기 인증이 필요합니다";
inline const char* const kNotThisDevice = "이 기기로는 할 수 없는 요청입니다";
} // namespace ClaimText

namespace PhoneClaims {

// 256 bits from OpenSSL's generator as 64 lowercase hex digits; empty when it has none.
std::string newSecret();
// Lowercase hex SHA-256 of the secret as presented.
std::string hashOf(const std::string& secret);
// Compares two hashes in time independent of where they differ.
bool sameHash(const std::string& a, const std::string& b);

struct SignIn {
    bool refused = false;
    std::string issued; // the new secret when this sign-in claimed the phone
};
// Inside the sign-in's job: claims an unclaimed phone with `fresh`, accepts the holder of the
// claim, refuses anyone else.
SignIn signIn(Storage& storage, const std::string& phone, const std::string& presented,
              const std::string& fresh);

// Whether a request carrying `bearerHash` (hashOf the bearer, non-empty) may act for `phone`;
// an empty phone asks only that the bearer belongs to some claimed phone.
bool mayActFor(Storage& storage, const std::string& phone, const std::string& bearerHash);

} // namespace PhoneClaims

} // namespace brindlewick::server
