#include "field_limits.h"

#include <utility>

namespace brindlewick::server {

namespace {

struct Rule {
    std::size_t limit;
    bool inBytes;
    const char* refusal;
};

Rule ruleOf(Field field) {
    switch (field) {
    case Field::Phone:
        return {FieldLimit::kPhoneBytes, true, "전화번호가 너무 깁니다 (최대 32자)"};
    case Field::Nickname:
        return {FieldLimit::kNicknameChars, false, "닉네임이 너무 깁니다 (최대 100자)"};
    case Field::Status:
        return {FieldLimit::kStatusChars, false, "상태메시지가 너무 깁니다 (최대 200자)"};
    case Field::Alias:
        return {FieldLimit::kAliasChars, false, "별명이 너무 깁니다 (최대 100자)"};
    case Field::Title:
    case Field::FileName:
        break;
    }
    return {FieldLimit::kTitleChars, false, "방 제목이 너무 깁니다 (최대 100자)"};
}

} // namespace

std::size_t codePoints(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

std::string tooLong(Field field, const std::string& value) {
    const Rule rule = ruleOf(field);
    if (value.size() <= rule.limit)
        return {};
    // A code point takes at most four bytes: anything longer is refused without counting.
    if (rule.inBytes || value.size() > 4 * rule.limit || codePoints(value) > rule.limit)
        return rule.refusal;
    return {};
}

} // namespace brindlewick::server

namespace brindlewick::server {

namespace {

// Unicode's Cc and Cf (15.0) with the exceptions named in the header, and U+2028/U+2029.
constexpr std::pair<char32_t, char32_t> kHidden[] = {
    {0x0, 0x1F},        {0x7F, 0x9F},       {0xAD, 0xAD},       {0x600, 0x605},
    {0x61C, 0x61C},     {0x6DD, 0x6DD},     {0x70F, 0x70F},     {0x890, 0x891},
    {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200B},   {0x200E, 0x200F},
    {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},
    {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
};

const char* hiddenRefusal(Field field) {
    switch (field) {
    case Field::Nickname:
        return "닉네임에 쓸 수 없는 문자가 있습니다";
    case Field::Alias:
        return "별명에 쓸 수 없는 문자가 있습니다";
    case Field::Title:
        return "방 제목에 쓸 수 없는 문자가 있습니다";
    case Field::FileName:
        return "파일 이름에 쓸 수 없는 문자가 있습니다";
    case Field::Phone:
    case Field::Status:
        break;
    }
    return "";
}

} // namespace

bool isHiddenCharacter(char32_t code) {
    for (const auto& [first, last] : kHidden)
        if (code >= first && code <= last)
            return true;
    return false;
}

std::string hiddenCharacters(Field field, const std::string& value) {
    const char* refusal = hiddenRefusal(field);
    if (!*refusal)
        return {};
    // Values arrive as valid UTF-8 (frames and JSON are checked before); a stray byte ends
    // the scan rather than being guessed at.
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const auto* end = p + value.size();
    while (p < end) {
        char32_t code = *p;
        int extra = 0;
        if (code >= 0xF0)
            code &= 0x07, extra = 3;
        else if (code >= 0xE0)
            code &= 0x0F, extra = 2;
        else if (code >= 0xC0)
            code &= 0x1F, extra = 1;
        ++p;
        if (end - p < extra)
            break;
        for (; extra > 0; --extra)
            code = (code << 6) | (*p++ & 0x3F);
        if (isHiddenCharacter(code))
            return refusal;
    }
    return {};
}

} // namespace brindlewick::server
