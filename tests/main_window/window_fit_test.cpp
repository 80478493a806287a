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

// A remembered frame stays where it was while its title bar is on a screen.
TEST(WindowFit, RememberedFrameOnTheScreensOrNone) {
    const QList<QRect> areas = {QRect(0, 0, 1920, 1050), QRect(1920, 0, 1280, 1024)};
    const QSize minimum(680, 440);
    struct Case {
        const char* name;
        QRect frame;
        std::optional<QRect> kept;
    };
    const Case cases[] = {
        {"where it was", QRect(100, 80, 900, 600), QRect(100, 80, 900, 600)},
        {"on the second screen", QRect(2000, 100, 900, 600), QRect(2000, 100, 900, 600)},
        {"off every screen", QRect(5000, 4000, 900, 600), std::nullopt},
        {"above the screens", QRect(100, -700, 900, 600), std::nullopt},
        {"left of them", QRect(-1500, 100, 900, 600), std::nullopt},
        {"a sliver of title bar", QRect(-890, 100, 900, 600), std::nullopt},
        // Partly off: moved wholly onto the screen its title bar is on.
        {"hanging off the right", QRect(3000, 100, 900, 600), QRect(2300, 100, 900, 600)},
        {"hanging off the bottom", QRect(100, 900, 900, 600), QRect(100, 450, 900, 600)},
        {"larger than the screen", QRect(2000, 0, 3000, 2000), QRect(1920, 0, 1280, 1024)},
        {"smaller than allowed", QRect(100, 80, 200, 100), QRect(100, 80, 680, 440)},
        {"nothing remembered", QRect(), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(keepOnScreens(c.frame, areas, minimum), c.kept);
    }
    EXPECT_EQ(keepOnScreens(QRect(100, 80, 900, 600), {}, minimum), std::nullopt);
}

} // namespace
