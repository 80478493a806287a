#pragma once
// Where a window opens on a screen that may be smaller than the window wants (small laptops,
// large scale factors).

#include <QRect>
#include <QSize>

namespace brindlewick {

struct WindowFit {
    QSize minimum; // never larger than the available area
    QRect frame;   // the window's size, centred in the available area
};

// `wanted` and `minimum` as the window would have them; `available` is the screen's area free of
// panels and docks, in the same (logical) pixels.
WindowFit fitWindowOnScreen(const QSize& minimum, const QSize& wanted, const QRect& available);

} // namespace brindlewick
