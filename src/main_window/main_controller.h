#pragma once
// The window of one signed-in user: shows it and connects, asks before logging out, closes it.
// The user's objects belong to the UserSession it runs over.

#include <QObject>

#include <functional>

class QMainWindow;
class QMenuBar;

namespace brindlewick {

class Platform;
class UserSession;

class MainController : public QObject {
    Q_OBJECT
public:
    // `session` and `platform` outlive the controller.
    MainController(UserSession& session, Platform& platform, QObject* parent = nullptr);

    // Called when the user confirmed logging out; may destroy this controller and its session.
    void setOnLogout(std::function<void()> callback) { onLogout_ = std::move(callback); }
    // The application's menu bar, placed in the window. Takes ownership.
    void setMenuBar(QMenuBar* menuBar);
    // Shows the window, connects and asks for the lists.
    void showMain();
    // Closes the window, tray or not; it stays until the session goes.
    void close();
    void openFindBar();

    QMainWindow* window() const;

private:
    void logout();

    UserSession& session_;
    Platform& platform_;
    std::function<void()> onLogout_;
};

} // namespace brindlewick
