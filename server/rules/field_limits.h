#pragma once
// How long the names and texts users choose may be. One rule for the chat connection and the
// HTTP API: every stored copy, every delivery and every list answer carries them.

#include <cstddef>
#include <string>

namespace brindlewick::server {

enum class Field { Phone, Nickname, Status, Alias, Title, FileName };

namespace FieldLimit {
inline constexpr std::size_t kPhoneBytes = 32;
inline constexpr std::size_t kNicknameChars = 100;
inline constexpr std::size_t kStatusChars = 200;
inline constexpr std::size_t kAliasChars = 100;
inline constexpr std::size_t kTitleChars = 100;
} // namespace FieldLimit

// Unicode code points of UTF-8 text: bytes that do not start a sequence are not counted.
std::size_t codePoints(const std::string& text);

// The refusal naming the field and its limit when `value` is longer, else "". File names
// have no length rule here.
std::string tooLong(Field field, const std::string& value);

// Whether `code` is a control or format character (bidi overrides and isolates, zero-width
// spaces, soft hyphens, line separators), which would let a name reorder or hide the text
// drawn around it. Joiners (U+200C, U+200D) and emoji tags stay allowed: emoji and some
// scripts need them.
bool isHiddenCharacter(char32_t code);

// The refusal naming the field when a name, title or file name holds such a character,
// else "". Status messages are not names and are not checked.
std::string hiddenCharacters(Field field, const std::string& value);

} // namespace brindlewick::server
