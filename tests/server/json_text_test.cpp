// Braces inside strings go out escaped; the structure and the meaning stay as they were.

#include "json_text.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace brindlewick::server;
using nlohmann::json;

TEST(ClientJson, EscapesBracesOnlyInsideStrings) {
    struct Case {
        const char* dumped;
        const char* expected;
    } cases[] = {
        {R"({"a":"hi {^_^}"})", R"({"a":"hi \u007b^_^\u007d"})"},
        {R"([{"a":{}},{}])", R"([{"a":{}},{}])"},
        {R"({"{k}":"v"})", R"({"\u007bk\u007d":"v"})"}, // keys are strings too
        {R"({"a":"say \"{\" ok","b":{}})", R"({"a":"say \"\u007b\" ok","b":{}})"},
        {R"({"a":"ends in \\","b":{"c":"}"}})", R"({"a":"ends in \\","b":{"c":"\u007d"}})"},
        {R"({"a":"\u007b already"})", R"({"a":"\u007b already"})"},
        {R"({"a":"밥 {별명}"})", R"({"a":"밥 \u007b별명\u007d"})"},
        {R"({"n":12,"t":true,"z":null})", R"({"n":12,"t":true,"z":null})"},
        {R"("")", R"("")"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapeBracesInStrings(c.dumped), c.expected) << c.dumped;
}

TEST(ClientJson, ReadsBackAsTheSameValue) {
    const json value = json::array({
        {{"Nickname", "밥 {x}"}, {"StatusMessage", "hi {^_^} \"}\" \\"}, {"Alias", "}{"}},
        {{"nested", {{"k", "{"}}}, {"list", {"}", 1, nullptr}}},
    });
    const std::string text = clientJson(value);
    EXPECT_EQ(json::parse(text), value);
    // Structural braces only: two objects plus one nested.
    EXPECT_EQ(std::count(text.begin(), text.end(), '{'), 3);
    EXPECT_EQ(std::count(text.begin(), text.end(), '}'), 3);
}

TEST(ClientJson, InvalidUtf8IsReplacedNotThrown) {
    const std::string text = clientJson(json{{"a", std::string("x\xff{")}});
    EXPECT_EQ(text, "{\"a\":\"x\xEF\xBF\xBD\\u007b\"}");
}
