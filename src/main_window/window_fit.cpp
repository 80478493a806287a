#include "window_fit.h"

#include <algorithm>

namespace brindlewick {

WindowFit fitWindowOnScreen(const QSize& minimum, const QSize& wanted, const QRect& available) {
    WindowFit fit;
    if (available.isEmpty()) {
        // No screen to measure against: keep what the window asked for.
        fit.minimum = minimum;
        fit.frame = QRect(QPoint(0, 0), wanted.expandedTo(minimum));
        return fit;
    }
    fit.minimum = minimum.boundedTo(available.size());
    fit.frame = QRect(QPoint(0, 0), wanted.expandedTo(fit.minimum).boundedTo(available.size()));
    fit.frame.moveCenter(available.center());
    return fit;
}

std::optional<QRect> keepOnScreens(const QRect& frame, const QList<QRect>& areas,
                                   const QSize& minimum) {
    if (frame.isEmpty())
        return std::nullopt;
    // Enough of the top edge to grab the window by.
    const QRect titleBar(frame.topLeft(), QSize(frame.width(), std::min(frame.height(), 24)));
    constexpr int kGrabWidth = 48;
    for (const QRect& area : areas) {
        const QRect shared = area.intersected(titleBar);
        if (shared.width() < std::min(kGrabWidth, frame.width()) || shared.height() <= 0)
            continue;
        QRect kept(frame.topLeft(), frame.size().expandedTo(minimum).boundedTo(area.size()));
        kept.moveLeft(std::clamp(kept.left(), area.left(), area.right() - kept.width() + 1));
        kept.moveTop(std::clamp(kept.top(), area.top(), area.bottom() - kept.height() + 1));
        return kept;
    }
    return std::nullopt;
}

} // namespace brindlewick
