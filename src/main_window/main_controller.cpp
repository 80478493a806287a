#include "main_controller.h"

#include "chat_client.h"
#include "desktop_integration.h"
#include "directory_service.h"
#include "main_window.h"
#include "outbox.h"
#include "platform.h"
#include "user_session.h"

#include <QMainWindow>

namespace brindlewick {

MainController::MainController(UserSession& session, Platform& platform, QObject* parent)
    : QObject(parent), session_(session), platform_(platform) {
    connect(session_.window.get(), &MainWindow::logoutRequested, this, &MainController::logout);
}

void MainController::setMenuBar(QMenuBar* menuBar) {
    session_.window->setMenuBar(menuBar);
}

void MainController::showMain() {
    session_.window->show();
    session_.desktop->start();
    session_.client->connect();
    session_.directory->refresh();
}

void MainController::close() {
    session_.desktop->release();
    session_.window->close();
}

void MainController::openFindBar() {
    session_.window->openFindBar();
}

QMainWindow* MainController::window() const {
    return session_.window->window();
}

void MainController::logout() {
    // Unsent messages stay for the next sign-in of this phone, but the user is told first.
    const int unsent = session_.outbox->waitingCount() + session_.outbox->failedCount();
    const int answer = platform_.runAlert(
        session_.window->window(),
        unsent > 0 ? Outbox::unsentQuestion(unsent) : QStringLiteral("로그아웃 하시겠습니까?"),
        QStringLiteral("로그아웃 시 저장된 로그인 정보가 삭제되고 로그인 창이 표시됩니다."),
        {QStringLiteral("로그아웃"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    // The callback may destroy this controller; call a copy.
    if (std::function<void()> callback = onLogout_)
        callback();
}

} // namespace brindlewick
