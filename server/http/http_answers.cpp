#include "http_answers.h"

#include "json_text.h"
#include "room_logic.h"

#include <phone_number.h>

namespace brindlewick::server {

using nlohmann::json;

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

HttpReply text(unsigned status, const std::string& body) {
    HttpReply reply;
    reply.status = status;
    reply.contentType = "text/plain; charset=utf-8";
    reply.body = body;
    return reply;
}

HttpReply jsonReply(const json& value, unsigned status) {
    HttpReply reply;
    reply.status = status;
    // Compact, raw UTF-8: the client's scanner reads "key":"value" pairs as written.
    reply.body = clientJson(value);
    return reply;
}

std::optional<json> parseObject(const std::string& body, const ReplyFn& reply) {
    json value = json::parse(body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        reply(text(400, HttpText::kBadJson));
        return std::nullopt;
    }
    return value;
}

bool stringMember(const json& object, const char* key, std::string& out) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        out.clear();
        return true;
    }
    if (!it->is_string())
        return false;
    out = it->get<std::string>();
    return true;
}

bool normalized(std::string& phone) {
    phone = normalizePhone(phone);
    return !phone.empty();
}

bool refusedAsTooLong(std::initializer_list<std::pair<Field, const std::string*>> values,
                      const ReplyFn& reply) {
    for (const auto& [field, value] : values) {
        std::string refusal = tooLong(field, *value);
        if (refusal.empty())
            refusal = hiddenCharacters(field, *value);
        if (!refusal.empty()) {
            reply(text(400, refusal));
            return true;
        }
    }
    return false;
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t begin = 1;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        parts.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

HttpReply serverFailure() {
    return text(500, ErrorText::kServerFailure);
}

Completion replyLater(const ReplyFn& reply, std::shared_ptr<HttpReply> answer) {
    return [reply, answer](bool committed) {
        reply(committed ? std::move(*answer) : serverFailure());
    };
}

std::string queryValue(const std::string& query, const std::string& key, bool& found) {
    found = false;
    std::size_t begin = 0;
    while (begin <= query.size()) {
        std::size_t end = query.find('&', begin);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(begin, end - begin);
        const std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            found = true;
            const std::string raw = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
            std::string out;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                int hi, lo;
                if (raw[i] == '%' && i + 2 < raw.size() && (hi = hexValue(raw[i + 1])) >= 0 &&
                    (lo = hexValue(raw[i + 2])) >= 0) {
                    out += static_cast<char>(hi * 16 + lo);
                    i += 2;
                } else {
                    out += raw[i];
                }
            }
            return out;
        }
        begin = end + 1;
    }
    return {};
}

} // namespace brindlewick::server
