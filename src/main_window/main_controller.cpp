#include "main_controller.h"

#include "platform.h"

#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTimer>

namespace brindlewick {

MainController::MainController(const QString& phone, const QString& nick, const QString& status,
                               const ServerConfig& config, Platform& platform, QObject* parent)
    : QObject(parent), config_(config), platform_(platform) {
    client = std::make_unique<ChatClient>(config_);
    client->setDelegate(this);
    client->setPhone(phone);
    client->setNick(nick);
    client->setStatusMsg(status);
    client->setProfilePic(QStringLiteral(""));
}

MainController::~MainController() {
    onLogout_ = nullptr;
    if (reconnectTimer) {
        reconnectTimer->stop();
        delete reconnectTimer.data();
    }
    client->disconnect();
    client.reset();
    friends.clear();
    rooms.clear();
    sideRows.clear();
    currentRoom.clear();
    replyMsgId.clear();
    replySender.clear();
    chatContextMenu.reset();
    sideContextMenu.reset();
    avatarCache.clear();
    if (profileWindow)
        profileWindow->close();
    profileWindow.reset();
    transcript.reset();
    // The views go with the window; nothing may reach this controller through them now.
    if (window_)
        window_->removeEventFilter(this);
    window_.reset();
}

void MainController::setMenuBar(QMenuBar* menuBar) {
    if (window_)
        window_->setMenuBar(menuBar);
    else
        pendingMenuBar_.reset(menuBar);
}

void MainController::close() {
    if (window_)
        window_->close();
}

void MainController::setStatus(const QString& text) {
    if (statusLabel)
        statusLabel->setText(text.isNull() ? QStringLiteral("") : text);
}

double MainController::splitViewConstrainMinCoordinate(const QSplitter* splitView, double proposed,
                                                       int dividerIndex) const {
    if (splitView == rightSplit && splitView && dividerIndex == 0)
        return kDividerMinFromTop;
    return proposed;
}

double MainController::splitViewConstrainMaxCoordinate(const QSplitter* splitView, double proposed,
                                                       int dividerIndex) const {
    if (splitView == rightSplit && splitView && dividerIndex == 0)
        return splitView->height() - kDividerMinFromBottom;
    return proposed;
}

} // namespace brindlewick

namespace brindlewick {

void MainController::logoutAction() {
    const int answer = platform_.runAlert(
        window_.get(), QStringLiteral("로그아웃 하시겠습니까?"),
        QStringLiteral("로그아웃 시 저장된 로그인 정보가 삭제되고 로그인 창이 표시됩니다."),
        {QStringLiteral("로그아웃"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    // The callback may destroy this controller; call a copy.
    if (std::function<void()> callback = onLogout_)
        callback();
}

} // namespace brindlewick
