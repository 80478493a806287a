#pragma once
// The application's owner object: the menu bar, the login window, and the user's session and
// main controller of the current sign-in.

#include "server_config.h"

#include <QObject>
#include <QString>

#include <memory>

class QMenuBar;

namespace brindlewick {

class LoginController;
class MainController;
class Platform;
class UserSession;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate(const ServerConfig& config, std::unique_ptr<Platform> platform,
                QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    // Another start asked for this one: the main window, or the login window, comes forward.
    void bringToFront();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    LoginController* login() const { return login_.get(); }
    // The current sign-in, none while the login window shows.
    UserSession* session() const { return session_.get(); }
    MainController* mainController() const { return mainCtl_.get(); }
    Platform& platform() const { return *platform_; }

    // Every window carries its own copy of the menu bar (macOS shows it at the top of the screen).
    QMenuBar* buildMenuBar();

private:
    void loginCallback(const QString& phone, const QString& nick, const QString& statusMsg);
    // The window's place, for the next start.
    void rememberWindow();
    void logoutCallback();
    // The controller, then its session.
    void endSignIn();

    ServerConfig config_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<LoginController> login_;
    // The controller goes before the session it runs over.
    std::unique_ptr<UserSession> session_;
    std::unique_ptr<MainController> mainCtl_;
};

} // namespace brindlewick
