#include "fake_platform.h"

namespace brindlewick::test {

namespace {

template <typename T> T takeFront(std::deque<T>& answers, T fallback) {
    if (answers.empty())
        return fallback;
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

} // namespace

void FakePlatform::clear() {
    calls.clear();
    alerts.clear();
    alertPictures.clear();
    notifications.clear();
    openedFiles.clear();
    openedUrls.clear();
    panelTitles.clear();
    suggestedNames.clear();
    textQuestions.clear();
}

void FakePlatform::beep() {
    calls.append(QStringLiteral("beep"));
}

void FakePlatform::requestAttention() {
    calls.append(QStringLiteral("attention"));
}

void FakePlatform::postDesktopNotification(const QString& title, const QString& body,
                                           const QString& room) {
    calls.append(QStringLiteral("notify"));
    notifications.append({title, body, room});
}

void FakePlatform::showTrayIcon(qint64 unreadTotal, const TrayActions& actions) {
    trayCount = unreadTotal;
    trayActions = actions;
}

void FakePlatform::removeTrayIcon() {
    trayCount = -1;
    trayActions = {};
}

void FakePlatform::showTrayMessage(const QString& text) {
    calls.append(QStringLiteral("trayMessage"));
    trayMessages.append(text);
}

int FakePlatform::runAlert(QWidget*, const QString& message, const QString& informativeText,
                           const QStringList& buttons) {
    calls.append(QStringLiteral("alert"));
    alerts.append({message, informativeText, buttons});
    if (duringAlert) {
        const std::function<void()> during = std::move(duringAlert);
        duringAlert = nullptr;
        during();
    }
    return takeFront(alertAnswers, static_cast<int>(kFirstButton));
}

int FakePlatform::runPictureQuestion(QWidget* parent, const QString& message, const QImage& picture,
                                     const QStringList& buttons) {
    alertPictures.append(picture);
    return runAlert(parent, message, QString(), buttons);
}

AddFriendInput FakePlatform::runAddFriendDialog(QWidget*) {
    calls.append(QStringLiteral("addFriendDialog"));
    return takeFront(addFriendAnswers, AddFriendInput{});
}

std::optional<QString> FakePlatform::runTextQuestion(QWidget*, const QString&, const QString& label,
                                                     const QString& initial) {
    calls.append(QStringLiteral("textQuestion"));
    textQuestions.append(label);
    return takeFront(textAnswers, std::optional<QString>(initial));
}

QString FakePlatform::runOpenPanel(QWidget*, const QString& title) {
    calls.append(QStringLiteral("openPanel"));
    panelTitles.append(title);
    return takeFront(openPanelAnswers, QString());
}

QString FakePlatform::runSavePanel(QWidget*, const QString& title, const QString& suggestedName) {
    calls.append(QStringLiteral("savePanel"));
    panelTitles.append(title);
    suggestedNames.append(suggestedName);
    return takeFront(savePanelAnswers, QString());
}

void FakePlatform::openFile(const QString& path) {
    calls.append(QStringLiteral("openFile"));
    openedFiles.append(path);
}

void FakePlatform::openUrl(const QUrl& url) {
    calls.append(QStringLiteral("openUrl"));
    openedUrls.append(url);
}

} // namespace brindlewick::test
