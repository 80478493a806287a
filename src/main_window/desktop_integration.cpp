#include "desktop_integration.h"

#include "directory_actions.h"
#include "directory_service.h"
#include "main_window.h"
#include "platform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QTimer>

namespace brindlewick {

DesktopIntegration::DesktopIntegration(MainWindow& window, Directory& directory,
                                       DirectoryActions& actions, Platform& platform,
                                       QObject* parent)
    : QObject(parent), window_(window), directory_(directory), actions_(actions),
      platform_(platform) {
    platform_.setNotificationActivated([this](const QString& room) { openFromNotification(room); });
    connect(&directory_, &Directory::unreadTotalChanged, this, &DesktopIntegration::showTray);
    window_.window()->installEventFilter(this);
    // Quitting closes every window: this one must really close then.
    qApp->installEventFilter(this);
}

DesktopIntegration::~DesktopIntegration() {
    release();
}

void DesktopIntegration::start() {
    showTray(directory_.unreadTotal());
}

void DesktopIntegration::release() {
    if (released_)
        return;
    released_ = true;
    platform_.setNotificationActivated(nullptr);
    platform_.removeTrayIcon();
    window_.window()->removeEventFilter(this);
    qApp->removeEventFilter(this);
    disconnect(&directory_, nullptr, this, nullptr);
}

void DesktopIntegration::showTray(qint64 unreadTotal) {
    if (released_ || !platform_.isTrayAvailable())
        return;
    Platform::TrayActions actions;
    actions.activated = [this] { bringWindow(); };
    actions.quit = [this] { emit quitRequested(); };
    platform_.showTrayIcon(unreadTotal, actions);
}

void DesktopIntegration::bringWindow() {
    QMainWindow* window = window_.window();
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

void DesktopIntegration::openFromNotification(const QString& room) {
    bringWindow();
    actions_.openRoom(room);
}

bool DesktopIntegration::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit && watched == qApp) {
        // Closing now closes. The tray stays until the event is done: its own menu may be
        // what asked to quit, still on the stack. If the quit is refused, hiding comes back.
        quitting_ = true;
        QTimer::singleShot(0, this, [this] { quitting_ = false; });
        return false;
    }
    if (event->type() != QEvent::Close || watched != window_.window() || released_ || quitting_ ||
        !platform_.isTrayAvailable())
        return QObject::eventFilter(watched, event);
    // The tray keeps the session: messages still count and notify.
    event->ignore();
    window_.window()->hide();
    if (!hintShown_) {
        hintShown_ = true;
        window_.setStatus(QString::fromUtf8(kTrayHint));
        platform_.showTrayMessage(QString::fromUtf8(kTrayHint));
    }
    return true;
}

} // namespace brindlewick
