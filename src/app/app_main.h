#pragma once

#include <functional>

namespace brindlewick {

class AppDelegate;

// The whole program: command line, application object, delegate and event loop.
// `afterLaunch` runs once the delegate has finished launching (benchmarks hook in there).
int runBrindlewick(int argc, char** argv,
                   const std::function<void(AppDelegate&)>& afterLaunch = {});

} // namespace brindlewick
