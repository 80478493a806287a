#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The offscreen screen is a desktop's, larger than the main window; a test that wants
    // another screen names its own configuration.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" BRINDLEWICK_OFFSCREEN_SCREEN);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
