#pragma once
// Where a window opens on a screen that may be smaller than the window wants (small laptops,
// large scale factors).

#include <QList>
#include <QRect>
#include <QSize>

#include <optional>

namespace brindlewick {

struct WindowFit {
    QSize minimum; // never larger than the available area
    QRect frame;   // the window's size, centred in the available area
};

// `wanted` and `minimum` as the window would have them; `available` is the screen's area free of
// panels and docks, in the same (logical) pixels.
WindowFit fitWindowOnScreen(const QSize& minimum, const QSize& wanted, const QRect& available);

// A remembered frame (title bar and borders included) where it was, if its title bar is on
// one of `areas` (the screens' areas free of panels): bounded by that area, no smaller than
// `minimum`, and moved to lie wholly in it. None when it is on no screen: it opens centred.
std::optional<QRect> keepOnScreens(const QRect& frame, const QList<QRect>& areas,
                                   const QSize& minimum);

} // namespace brindlewick
