#include "tray_icon.h"

#include "tray_badge.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace brindlewick {

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent), menu_(std::make_unique<QMenu>()),
      tray_(std::make_unique<QSystemTrayIcon>()) {
    menu_->setObjectName(QStringLiteral("trayMenu"));
    QAction* quit = menu_->addAction(QStringLiteral("Brindlewick 종료"));
    quit->setObjectName(QStringLiteral("trayQuitAction"));
    connect(quit, &QAction::triggered, this, [this] {
        if (actions_.quit)
            actions_.quit();
    });
    tray_->setContextMenu(menu_.get());
    tray_->setToolTip(QStringLiteral("Brindlewick"));
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // The menu has its own button; every other click brings the window.
                if (reason != QSystemTrayIcon::Context && actions_.activated)
                    actions_.activated();
            });
}

TrayIcon::~TrayIcon() {
    // The icon refers to the menu: it goes first.
    tray_.reset();
}

void TrayIcon::show(qint64 unreadTotal, const Platform::TrayActions& actions) {
    actions_ = actions;
    if (unreadTotal != shown_) {
        shown_ = unreadTotal;
        tray_->setIcon(applicationIcon(unreadTotal));
        tray_->setToolTip(
            unreadTotal > 0 ? QStringLiteral("Brindlewick — 읽지 않은 메시지 %1개").arg(unreadTotal)
                            : QStringLiteral("Brindlewick"));
    }
    tray_->show();
}

void TrayIcon::showMessage(const QString& text) {
    tray_->showMessage(QStringLiteral("Brindlewick"), text, applicationIcon());
}

} // namespace brindlewick
