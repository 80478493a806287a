#pragma once
// The signed-in window's place on the desktop: the tray icon with the unread total, closing to
// the tray while there is one, and notifications that bring the window with their room.

#include <QObject>
#include <QString>

namespace brindlewick {

class Directory;
class DirectoryActions;
class MainWindow;
class Platform;

class DesktopIntegration : public QObject {
    Q_OBJECT
public:
    static constexpr char kTrayHint[] = "창을 닫아도 트레이에서 계속 실행됩니다";

    DesktopIntegration(MainWindow& window, Directory& directory, DirectoryActions& actions,
                       Platform& platform, QObject* parent = nullptr);
    // The tray icon goes and notifications lead nowhere any more.
    ~DesktopIntegration() override;

    // The tray icon, where the desktop has a tray.
    void start();
    // From now on closing the window closes it, tray or not (logging out, the controller's
    // end). Never from inside the tray's own menu: the icon and its menu go here.
    void release();
    // The window shown again where it was, raised and activated.
    void bringWindow();
    // A notification of `room` was invoked: the window comes with that room open.
    void openFromNotification(const QString& room);

signals:
    // "Brindlewick 종료" in the tray's menu.
    void quitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showTray(qint64 unreadTotal);

    MainWindow& window_;
    Directory& directory_;
    DirectoryActions& actions_;
    Platform& platform_;
    bool released_ = false;
    bool quitting_ = false; // from the application's Quit event to the next turn of the loop
    bool hintShown_ = false;
};

} // namespace brindlewick
