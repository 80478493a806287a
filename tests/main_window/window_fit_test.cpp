// Where the main window opens: whole on the screen, however small the screen.

#include "window_fit.h"

#include <gtest/gtest.h>

using namespace brindlewick;

namespace {

TEST(WindowFit, StaysOnTheScreenAndCentred) {
    const QSize minimum(680, 440);
    const QSize wanted(840, 562);
    struct Case {
        const char* name;
        QRect available;
        QSize minimum;
        QRect frame;
    };
    const Case cases[] = {
        {"desktop", QRect(0, 0, 1920, 1050), minimum, QRect(540, 244, 840, 562)},
        {"panel on the left", QRect(64, 0, 1856, 1080), minimum, QRect(572, 259, 840, 562)},
        // A 1280 x 900 screen at scale factor 2, less a 28-pixel panel.
        {"scaled laptop", QRect(0, 14, 640, 436), QSize(640, 436), QRect(0, 14, 640, 436)},
        {"too narrow only", QRect(0, 0, 800, 600), minimum, QRect(0, 19, 800, 562)},
        {"too low only", QRect(0, 0, 1024, 500), QSize(680, 440), QRect(92, 0, 840, 500)},
        {"second screen", QRect(1920, 0, 1280, 1024), minimum, QRect(2140, 231, 840, 562)},
        {"no screen", QRect(), minimum, QRect(0, 0, 840, 562)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowFit fit = fitWindowOnScreen(minimum, wanted, c.available);
        EXPECT_EQ(fit.minimum, c.minimum);
        EXPECT_EQ(fit.frame, c.frame);
        if (!c.available.isEmpty()) {
            EXPECT_TRUE(c.available.contains(fit.frame));
            EXPECT_LE(fit.minimum.width(), c.available.width());
            EXPECT_LE(fit.minimum.height(), c.available.height());
        }
    }
}

// A window asking for less than its minimum still gets its minimum.
TEST(WindowFit, NeverBelowTheMinimumWhereItFits) {
    const WindowFit fit =
        fitWindowOnScreen(QSize(680, 440), QSize(300, 200), QRect(0, 0, 1000, 800));
    EXPECT_EQ(fit.frame, QRect(160, 180, 680, 440));
}

} // namespace
