#pragma once
// The platform seam over Qt: QMessageBox, QFileDialog, QApplication::beep/alert,
// QDesktopServices and the desktop's notification service on the session bus.

#include "platform.h"

#include <memory>

class QSystemTrayIcon;

namespace brindlewick {

class QtPlatform : public Platform {
public:
    QtPlatform();
    ~QtPlatform() override;

    void beep() override;
    void requestAttention() override;
    bool isApplicationActive() const override;
    void postDesktopNotification(const QString& title, const QString& body) override;

    int runAlert(QWidget* parent, const QString& message, const QString& informativeText,
                 const QStringList& buttons) override;
    AddFriendInput runAddFriendDialog(QWidget* parent) override;
    QString runOpenPanel(QWidget* parent, const QString& title) override;
    QString runSavePanel(QWidget* parent, const QString& title,
                         const QString& suggestedName) override;
    void openFile(const QString& path) override;
    void openUrl(const QUrl& url) override;

private:
    // Where desktops have no notification service on the session bus (macOS, Windows).
    std::unique_ptr<QSystemTrayIcon> tray_;
};

} // namespace brindlewick
