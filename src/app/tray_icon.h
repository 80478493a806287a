#pragma once
// The tray icon: Qt's, which registers a StatusNotifierItem where the desktop watches for one
// and embeds itself (XEmbed) otherwise. It shows the unread total and offers "Brindlewick 종료".

#include "platform.h"

#include <QObject>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace brindlewick {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    void show(qint64 unreadTotal, const Platform::TrayActions& actions);
    void showMessage(const QString& text);
    QSystemTrayIcon& icon() const { return *tray_; }
    QMenu& menu() const { return *menu_; }

private:
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    Platform::TrayActions actions_;
    qint64 shown_ = -1;
};

} // namespace brindlewick
