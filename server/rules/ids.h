#pragma once
// Identifiers the server hands out, and the checks on identifiers it receives.

#include <cstdint>
#include <optional>
#include <string>

namespace brindlewick::server {

// 128 random bits as 32 lowercase hex digits.
std::string randomHex128();
bool isHex128(const std::string& text);
// A message id as sent on the wire: 1 to 18 decimal digits, no sign.
std::optional<std::int64_t> parseMessageId(const std::string& text);

} // namespace brindlewick::server
