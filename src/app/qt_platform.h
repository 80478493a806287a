#pragma once
// The platform seam over Qt: QMessageBox, QFileDialog, QApplication::beep/alert,
// QDesktopServices and the desktop's notification service on the session bus.

#include "platform.h"

#include <memory>

class QSystemTrayIcon;

namespace brindlewick {

class DesktopNotifications;
class TrayIcon;

class QtPlatform : public Platform {
public:
    QtPlatform();
    ~QtPlatform() override;

    void beep() override;
    void requestAttention() override;
    bool isApplicationActive() const override;
    void postDesktopNotification(const QString& title, const QString& body,
                                 const QString& room) override;
    void setNotificationActivated(std::function<void(const QString&)> callback) override;
    bool isTrayAvailable() const override;
    void showTrayIcon(qint64 unreadTotal, const TrayActions& actions) override;
    void removeTrayIcon() override;
    void showTrayMessage(const QString& text) override;

    int runAlert(QWidget* parent, const QString& message, const QString& informativeText,
                 const QStringList& buttons) override;
    int runPictureQuestion(QWidget* parent, const QString& message, const QImage& picture,
                           const QStringList& buttons) override;
    AddFriendInput runAddFriendDialog(QWidget* parent) override;
    std::optional<QString> runTextQuestion(QWidget* parent, const QString& title,
                                           const QString& label, const QString& initial) override;
    QString runOpenPanel(QWidget* parent, const QString& title) override;
    QString runSavePanel(QWidget* parent, const QString& title,
                         const QString& suggestedName) override;
    void openFile(const QString& path) override;
    void openUrl(const QUrl& url) override;

    TrayIcon* trayIcon() const { return trayIcon_.get(); }

private:
    // Where desktops have no notification service on the session bus (macOS, Windows).
    std::unique_ptr<QSystemTrayIcon> tray_;
    // Made with the first notification, so a start-up without one never touches the bus.
    std::unique_ptr<DesktopNotifications> notifications_;
    std::function<void(const QString&)> onNotificationActivated_;
    std::unique_ptr<TrayIcon> trayIcon_;
};

} // namespace brindlewick
