#pragma once
// One spelling per phone number: "010-3333-4444", "010 3333 4444" and "01033334444" are the
// same person, so whatever is stored, sent or put in a room id goes through here first.
// Plain C++17, shared by the client and the server.

#include <string>
#include <string_view>

namespace brindlewick {

// The ASCII digits of `typed`, with a "+" in front when one came before the first digit.
// Empty when `typed` has no digit at all: such a text names nobody.
std::string normalizePhone(std::string_view typed);

} // namespace brindlewick
