// The client as shipped, quitting through its tray icon as a user does: once the icon is docked,
// a right click on it opens its menu and a click on "Brindlewick 종료" quits. Prints the window's
// place just before ("placement x y width height"), for the test to find it saved. Run by
// desktop_tray_host_tests on an X display with a tray.

#include "app_delegate.h"
#include "app_main.h"
#include "main_controller.h"
#include "main_window.h"
#include "qt_platform.h"
#include "tray_icon.h"
#include "user_session.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace brindlewick;

constexpr int kGiveUpMs = 60000;

[[noreturn]] void giveUp(const char* why) {
    std::fprintf(stderr, "tray_quit_probe: %s\n", why);
    std::exit(3);
}

// The widget Qt docks in an XEmbed tray for the icon.
QWidget* dockedIconWidget() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() &&
            qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return widget;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    return runBrindlewick(argc, argv, [](AppDelegate& delegate) {
        MainController* main = delegate.mainController();
        UserSession* session = delegate.session();
        auto* platform = dynamic_cast<QtPlatform*>(&delegate.platform());
        if (!main || !platform)
            giveUp("no stored sign-in, or not the Qt platform");
        main->window()->setGeometry(130, 90, 900, 640);
        auto* step = new QTimer(main);
        QElapsedTimer started;
        started.start();
        QObject::connect(
            step, &QTimer::timeout, main,
            [session, platform, started, step, opened = false]() mutable {
                if (started.elapsed() > kGiveUpMs)
                    giveUp(opened ? "the tray's menu never showed" : "the tray icon never docked");
                TrayIcon* tray = platform->trayIcon();
                if (!tray || tray->icon().geometry().isEmpty())
                    return;
                if (!opened) {
                    QWidget* icon = dockedIconWidget();
                    if (!icon)
                        return;
                    QTest::mouseClick(icon, Qt::RightButton, {}, icon->rect().center());
                    opened = true;
                    return;
                }
                QMenu& menu = tray->menu();
                if (!menu.isVisible())
                    return;
                QAction* quit = menu.findChild<QAction*>(QStringLiteral("trayQuitAction"));
                if (!quit)
                    giveUp("no quit item in the tray's menu");
                const WindowPlacement placement = session->window->placement();
                std::printf("placement %d %d %d %d\n", placement.position.x(),
                            placement.position.y(), placement.size.width(),
                            placement.size.height());
                std::fflush(stdout);
                step->stop();
                menu.setActiveAction(quit);
                QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(quit).center());
            });
        step->start(50);
    });
}
