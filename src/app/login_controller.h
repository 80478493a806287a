#pragma once
// The login window: phone number, nickname and status message, "대화하기" and "종료".

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QMainWindow;
class QMenuBar;

namespace brindlewick {

class Platform;

class LoginController : public QObject {
    Q_OBJECT
public:
    using LoginCallback =
        std::function<void(const QString& phone, const QString& nick, const QString& statusMsg)>;
    using MenuBarFactory = std::function<QMenuBar*()>;

    LoginController(Platform& platform, MenuBarFactory menuBarFactory, QObject* parent = nullptr);
    ~LoginController() override;

    // Built anew by every showLogin.
    QLineEdit* phoneField = nullptr;
    QLineEdit* nickField = nullptr;
    QLineEdit* statusField = nullptr;

    const LoginCallback& onLogin() const { return onLogin_; }
    void setOnLogin(LoginCallback callback) { onLogin_ = std::move(callback); }

    QMainWindow* window() const { return window_.get(); }

    void showLogin();
    QLabel* label(const QString& text, int y);
    void doLogin();
    void doQuit();

private:
    Platform& platform_;
    MenuBarFactory menuBarFactory_;
    LoginCallback onLogin_;
    std::unique_ptr<QMainWindow> window_;
    QWidget* content_ = nullptr;
};

} // namespace brindlewick
