// The main window on a 1280 x 900 screen at scale factor 2 (run with QT_SCALE_FACTOR=2 and an
// offscreen screen of that size): it opens whole on the screen.

#include "client_under_test.h"
#include "signed_in_window.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

TEST(SmallScreen, TheMainWindowOpensWholeOnTheScreen) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    if (screen->geometry().size() != QSize(640, 450))
        GTEST_SKIP() << "needs a 1280 x 900 screen at QT_SCALE_FACTOR=2 (see CMakeLists.txt)";
    SignedInWindow signedIn;
    ASSERT_TRUE(signedIn.start());
    ClientUnderTest& controller = *signedIn.controller;
    QMainWindow* window = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QRect available = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    EXPECT_TRUE(available.contains(frame))
        << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
    EXPECT_LE(window->minimumWidth(), available.width());
    EXPECT_LE(window->minimumHeight(), available.height());
    // Centred, to the pixel that halving leaves.
    EXPECT_LE((frame.center() - available.center()).manhattanLength(), 2);
}

} // namespace
