#pragma once
// The application's menu bar: quit, the edit commands and the transcript search.

#include <functional>

class QMenuBar;

namespace brindlewick {

struct AppMenuActions {
    std::function<void()> quit;
    std::function<void()> find;
};

// A new menu bar without parent. Edit commands go to whichever widget has the focus.
QMenuBar* buildAppMenuBar(const AppMenuActions& actions);

} // namespace brindlewick
