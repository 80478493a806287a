#pragma once
// One line per event on stderr; the server keeps no log file.

#include <string>

namespace brindlewick::server {

void logLine(const std::string& text);

} // namespace brindlewick::server
