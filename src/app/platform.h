#pragma once
// Everything that would block a test or that a test cannot observe: sounds, attention,
// desktop notifications, modal questions, file panels and opening files. The Qt
// implementation is QtPlatform; tests use a recording fake. Decides nothing itself.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QImage;
class QUrl;
class QWidget;

namespace brindlewick {

struct AddFriendInput {
    int result = 0; // 1 when the user pressed "추가"
    QString phone;  // as typed
    QString alias;  // as typed
};

class Platform {
public:
    static constexpr int kFirstButton = 1000;

    virtual ~Platform() = default;

    virtual void beep() = 0;
    // Brief, informational request for the user's attention.
    virtual void requestAttention() = 0;
    // Whether this application is the one the user works in.
    virtual bool isApplicationActive() const = 0;
    // Shows a desktop notification where the desktop offers a service for it; silently
    // nothing otherwise. A notification for a `room` replaces that room's previous one, and
    // invoking it reports the room to the callback below; an empty room is neither.
    virtual void postDesktopNotification(const QString& title, const QString& body,
                                         const QString& room) = 0;
    virtual void setNotificationActivated(std::function<void(const QString& room)> callback) {
        (void)callback;
    }

    // The tray: a StatusNotifierItem or XEmbed icon where the desktop shows one.
    struct TrayActions {
        std::function<void()> activated; // the icon clicked
        std::function<void()> quit;      // "Brindlewick 종료" in its menu
    };
    virtual bool isTrayAvailable() const { return false; }
    // Shows the icon, or changes it, with `unreadTotal` drawn on it.
    virtual void showTrayIcon(qint64 unreadTotal, const TrayActions& actions) {
        (void)unreadTotal;
        (void)actions;
    }
    virtual void removeTrayIcon() {}
    // A short message from the tray icon, where the desktop shows such messages.
    virtual void showTrayMessage(const QString& text) { (void)text; }

    // Modal alert. Returns kFirstButton + index of the chosen button; without buttons the
    // alert has one default button and returns kFirstButton.
    virtual int runAlert(QWidget* parent, const QString& message, const QString& informativeText,
                         const QStringList& buttons) = 0;
    // The same with a small preview of `picture` in place of the alert's icon.
    virtual int runPictureQuestion(QWidget* parent, const QString& message, const QImage& picture,
                                   const QStringList& buttons) {
        (void)picture;
        return runAlert(parent, message, QString(), buttons);
    }
    virtual AddFriendInput runAddFriendDialog(QWidget* parent) = 0;
    // Asks for one line of text, `initial` filled in; nothing when cancelled. Without a person to
    // ask, the initial text is the answer.
    virtual std::optional<QString> runTextQuestion(QWidget* parent, const QString& title,
                                                   const QString& label, const QString& initial) {
        (void)parent;
        (void)title;
        (void)label;
        return initial;
    }
    // Chosen path, or an empty text when the panel was cancelled.
    virtual QString runOpenPanel(QWidget* parent, const QString& title) = 0;
    virtual QString runSavePanel(QWidget* parent, const QString& title,
                                 const QString& suggestedName) = 0;
    virtual void openFile(const QString& path) = 0;
    // Hands a web or mail address to the desktop's browser or mail program.
    virtual void openUrl(const QUrl& url) = 0;
};

} // namespace brindlewick
