#include "window_fit.h"

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

} // namespace brindlewick
