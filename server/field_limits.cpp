#include "field_limits.h"

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
