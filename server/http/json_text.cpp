#include "json_text.h"

namespace brindlewick::server {

std::string clientJson(const nlohmann::json& value) {
    return escapeBracesInStrings(
        value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string escapeBracesInStrings(const std::string& dumped) {
    std::string out;
    out.reserve(dumped.size());
    bool inString = false;
    for (std::size_t i = 0; i < dumped.size(); ++i) {
        const char c = dumped[i];
        if (!inString) {
            inString = c == '"';
            out += c;
        } else if (c == '\\' && i + 1 < dumped.size()) {
            // An escape is copied whole, so an escaped quote never ends the string.
            out += c;
            out += dumped[++i];
        } else if (c == '{') {
            out += "\\u007b";
        } else if (c == '}') {
            out += "\\u007d";
        } else {
            inString = c != '"';
            out += c;
        }
    }
    return out;
}

} // namespace brindlewick::server
