#pragma once
// The small pieces HttpApi reads requests and writes answers with: its texts, plain and JSON
// answers, JSON members, paths and query values, and the field rules answered as 400.

#include "field_limits.h"
#include "http_api.h"

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindlewick::server {

namespace HttpText {
inline const char* const kNotFound = "찾을 수 없습니다";
inline const char* const kBadMethod = "허용되지 않는 요청 방식입니다";
inline const char* const kBadJson = "잘못된 JSON입니다";
inline const char* const kNeedPhone = "전화번호가 필요합니다";
inline const char* const kBadField = "요청 항목이 잘못되었습니다";
inline const char* const kBadChunk = "잘못된 조각 번호입니다";
inline const char* const kUnhealthy = "데이터베이스가 응답하지 않습니다";
} // namespace HttpText

HttpReply text(unsigned status, const std::string& body);
HttpReply jsonReply(const nlohmann::json& value, unsigned status = 200);
// 500 with the server's failure text.
HttpReply serverFailure();
// A completion that answers `answer` once committed, else serverFailure().
Completion replyLater(const ReplyFn& reply, std::shared_ptr<HttpReply> answer);

// A JSON object body, or nothing (the reply has then been sent).
std::optional<nlohmann::json> parseObject(const std::string& body, const ReplyFn& reply);
// A member that must be a string when present; missing reads as empty.
bool stringMember(const nlohmann::json& object, const char* key, std::string& out);
// A phone as stored: its one spelling. False (and `phone` empty) when it has no digit.
bool normalized(std::string& phone);
// Answers 400 naming the first value longer than its field allows or holding a character that
// hides or reorders text; false when all are fine.
bool refusedAsTooLong(std::initializer_list<std::pair<Field, const std::string*>> values,
                      const ReplyFn& reply);
// "/a/b/c" as {"a", "b", "c"}.
std::vector<std::string> splitPath(const std::string& path);
// Percent-decodes a query value; '+' stays '+' because clients insert phone numbers raw.
std::string queryValue(const std::string& query, const std::string& key, bool& found);

} // namespace brindlewick::server
