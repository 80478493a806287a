#include "app_delegate.h"

#include "app_menu.h"
#include "chat_client.h"
#include "chat_events.h"
#include "conversation.h"
#include "desktop_integration.h"
#include "drafts.h"
#include "login_controller.h"
#include "main_controller.h"
#include "main_window.h"
#include "outbox.h"
#include "platform.h"
#include "room_session.h"
#include "stored_sign_in.h"
#include "user_session.h"
#include "window_memory.h"

#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>

namespace brindlewick {

AppDelegate::AppDelegate(const ServerConfig& config, std::unique_ptr<Platform> platform,
                         QObject* parent)
    : QObject(parent), config_(config), platform_(std::move(platform)) {}

AppDelegate::~AppDelegate() {
    rememberWindow();
    // The sign-in first: its teardown disconnects while the platform still exists.
    endSignIn();
    login_.reset();
}

QMenuBar* AppDelegate::buildMenuBar() {
    AppMenuActions actions;
    actions.quit = [] { QCoreApplication::quit(); };
    // The search item reaches the main window's controller, when there is one.
    actions.find = [this] {
        if (mainCtl_)
            mainCtl_->openFindBar();
    };
    return buildAppMenuBar(actions);
}

void AppDelegate::applicationDidFinishLaunching() {
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    login_ = std::make_unique<LoginController>(*platform_, [this] { return buildMenuBar(); });
    login_->setOnLogin([this](const QString& phone, const QString& nick, const QString& status) {
        loginCallback(phone, nick, status);
    });

    const std::unique_ptr<QSettings> settings = openUserSettings();
    const QString phone = settings->value(kPhoneKey).toString();
    if (!phone.isEmpty()) {
        const QString nick =
            settings->contains(kNickKey) ? settings->value(kNickKey).toString() : phone;
        const QString status = settings->value(kStatusMsgKey, QStringLiteral("")).toString();
        loginCallback(phone, nick, status);
    } else {
        login_->showLogin();
    }
}

void AppDelegate::bringToFront() {
    if (session_) {
        session_->desktop->bringWindow();
    } else if (QMainWindow* window = login_ ? login_->window() : nullptr) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void AppDelegate::loginCallback(const QString& phone, const QString& nick,
                                const QString& statusMsg) {
    endSignIn();
    const std::unique_ptr<QSettings> settings = openUserSettings();
    ServerConfig config = config_;
    config.deviceSecret =
        std::make_shared<DeviceSecret>(loadDeviceSecret(*settings, phone).toStdString());
    session_ = std::make_unique<UserSession>(phone, nick, statusMsg, config, *platform_);
    mainCtl_ = std::make_unique<MainController>(*session_, *platform_);
    mainCtl_->setOnLogout([this] { logoutCallback(); });
    connect(
        session_->events.get(), &ChatEvents::deviceSecretIssued, this,
        [phone](const QString& secret) { saveDeviceSecret(*openUserSettings(), phone, secret); });
    session_->window->setRememberedPlacement(loadPlacement(*settings));
    const RememberedRoom last = loadLastRoom(*settings, phone);
    connect(session_->desktop.get(), &DesktopIntegration::quitRequested, qApp,
            &QCoreApplication::quit);
    mainCtl_->setMenuBar(buildMenuBar());
    // What this phone left unsent waits again, before the first sign-in sends it.
    session_->outbox->attach(
        Outbox::pathFor(QFileInfo(settings->fileName()).absolutePath(), phone));
    mainCtl_->showMain();
    session_->drafts->load(*settings, phone);
    // Joined once signed in, like any room opened before the connection is up.
    session_->room->open(last.room, last.title);
    connect(session_->room.get(), &RoomSession::roomChanged, this,
            [this, phone](const QString& room, const QString& title) {
                const std::unique_ptr<QSettings> settings = openUserSettings();
                saveLastRoom(*settings, phone, {room, title});
                if (session_)
                    session_->drafts->save(*settings, phone);
            });
}

void AppDelegate::rememberWindow() {
    if (!session_)
        return;
    const std::unique_ptr<QSettings> settings = openUserSettings();
    savePlacement(*settings, session_->window->placement());
    session_->conversation->keepDraft();
    session_->drafts->save(*settings, session_->client->phone());
}

void AppDelegate::endSignIn() {
    mainCtl_.reset();
    session_.reset();
}

void AppDelegate::logoutCallback() {
    {
        const std::unique_ptr<QSettings> settings = openUserSettings();
        settings->remove(kPhoneKey);
        settings->sync();
    }
    // The login window replaces the main window; closing the one must not end the application.
    const bool quitOnLast = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    if (mainCtl_) {
        rememberWindow();
        mainCtl_->close();
        // This runs inside the controller's own logout action: both go once that returns, the
        // controller first.
        for (QObject* old : {static_cast<QObject*>(mainCtl_.release()),
                             static_cast<QObject*>(session_.release())}) {
            old->setParent(this);
            old->deleteLater();
        }
    }
    login_->showLogin();
    QApplication::setQuitOnLastWindowClosed(quitOnLast);
}

} // namespace brindlewick
