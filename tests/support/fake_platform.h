#pragma once
// A platform that records what the code asked of it and answers modal questions from a
// script, so tests can drive every path without a person at the screen.

#include "platform.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>

namespace brindlewick::test {

class FakePlatform : public Platform {
public:
    struct Alert {
        QString message;
        QString informativeText;
        QStringList buttons;
    };
    struct Notification {
        QString title;
        QString body;
        QString room;
    };
    // Everything in the order it happened: "beep", "attention", "notify", "alert",
    // "addFriendDialog", "openPanel", "savePanel", "openFile", "openUrl", "trayMessage".
    QStringList calls;
    QList<Alert> alerts;
    // The preview of each picture question, which also counts as an "alert".
    QList<QImage> alertPictures;
    QList<Notification> notifications;
    QStringList openedFiles;
    QList<QUrl> openedUrls;
    QStringList panelTitles;
    QStringList suggestedNames;

    bool active = true;
    // What the code gave for invoked notifications, and the tray as it stands: the icon's count
    // (-1 without an icon) and its actions.
    std::function<void(const QString&)> notificationActivated;
    bool trayAvailable = false;
    qint64 trayCount = -1;
    TrayActions trayActions;
    QStringList trayMessages;
    // Answers, used front first; when empty: the first button, a cancelled dialog or panel.
    std::deque<int> alertAnswers;
    std::deque<AddFriendInput> addFriendAnswers;
    // Text questions ("textQuestion"): the labels asked, and answers (nullopt: cancelled); when
    // empty, the initial text.
    QStringList textQuestions;
    std::deque<std::optional<QString>> textAnswers;
    std::deque<QString> openPanelAnswers;
    std::deque<QString> savePanelAnswers;
    // Runs while an alert is up, as events that a real modal loop delivers would.
    std::function<void()> duringAlert;

    int count(const QString& call) const { return static_cast<int>(calls.count(call)); }
    void clear();

    void beep() override;
    void requestAttention() override;
    bool isApplicationActive() const override { return active; }
    void postDesktopNotification(const QString& title, const QString& body,
                                 const QString& room) override;
    void setNotificationActivated(std::function<void(const QString&)> callback) override {
        notificationActivated = std::move(callback);
    }
    bool isTrayAvailable() const override { return trayAvailable; }
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
};

} // namespace brindlewick::test
