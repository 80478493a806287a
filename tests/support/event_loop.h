#pragma once

#include <functional>

namespace brindlewick::test {

// How long a wait for an event lasts at most by default: far beyond what anything takes on a
// loaded machine, it only bounds how long a missing event takes to fail.
constexpr int kEventWaitMs = 20000;

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = kEventWaitMs);
// Runs the event loop for `ms` milliseconds.
void spin(int ms);

} // namespace brindlewick::test
