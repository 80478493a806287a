#pragma once
// The JSON text the HTTP API answers with. Clients cut list answers at every "{", so a brace
// inside a string (a status "hi {^_^}") is written as its \u escape; the text stays valid
// JSON and means the same.

#include <nlohmann/json.hpp>

#include <string>

namespace brindlewick::server {

// Compact, raw UTF-8 (invalid sequences replaced), with "{" and "}" inside strings escaped.
std::string clientJson(const nlohmann::json& value);

// `dumped` (JSON text as nlohmann writes it) with the braces inside its strings escaped.
std::string escapeBracesInStrings(const std::string& dumped);

} // namespace brindlewick::server
