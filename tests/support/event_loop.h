#pragma once

#include <functional>

namespace brindlewick::test {

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for `ms` milliseconds.
void spin(int ms);

} // namespace brindlewick::test
