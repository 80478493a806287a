#include "main_controller.h"

#include "chat_client.h"
#include "chat_events.h"
#include "conversation.h"
#include "desktop_integration.h"
#include "directory_actions.h"
#include "directory_service.h"
#include "drafts.h"
#include "file_actions.h"
#include "history_pages.h"
#include "incoming_events.h"
#include "main_window.h"
#include "outbox.h"
#include "picture_cache.h"
#include "platform.h"
#include "room_history.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"
#include "transfers.h"
#include "unsent_rows.h"

#include <QMainWindow>

namespace brindlewick {

MainController::MainController(const QString& phone, const QString& nick, const QString& status,
                               const ServerConfig& config, Platform& platform, QObject* parent)
    : QObject(parent), config_(config), platform_(platform) {
    // One holder shared by every copy below, so a secret handed out later reaches them all.
    if (!config_.deviceSecret)
        config_.deviceSecret = std::make_shared<DeviceSecret>();
    client_ = std::make_unique<ChatClient>(config_);
    client_->setPhone(phone);
    client_->setNick(nick);
    client_->setStatusMsg(status);
    client_->setProfilePic(QStringLiteral(""));

    events_ = std::make_unique<ChatEvents>(*client_);
    outbox_ = std::make_unique<Outbox>(*client_, *events_);
    room_ = std::make_unique<RoomSession>(*client_);
    room_->setOutbox(outbox_.get());
    history_ = std::make_unique<RoomHistory>(*client_, *events_);
    directory_ =
        std::make_unique<Directory>(config_, Directory::Self{phone, nick, client_->profilePic()});
    pictures_ = std::make_unique<PictureCache>(config_);
    transfers_ = std::make_unique<Transfers>(config_);

    window_ = std::make_unique<MainWindow>(&room_->transcript());
    sidebar_ = std::make_unique<SidebarController>(*window_, *directory_, *pictures_);
    drafts_ = std::make_unique<Drafts>();
    conversation_ = std::make_unique<Conversation>(*client_, *room_, *history_, *directory_,
                                                   *pictures_, *window_, platform_, *drafts_);
    incoming_ = std::make_unique<IncomingEvents>(*client_, *events_, *room_, *directory_,
                                                 *conversation_, *window_, platform_, *outbox_);
    unsentRows_ =
        std::make_unique<UnsentRows>(*client_, *outbox_, *room_, *conversation_, *window_);
    // The chats list marks rooms with unsent messages.
    sidebar_->model()->setUnsentProvider([outbox = outbox_.get()](const QString& room) {
        return outbox->failedCount(room) > 0    ? SidebarModel::FailedUnsent
               : outbox->waitingCount(room) > 0 ? SidebarModel::WaitingUnsent
                                                : SidebarModel::NoneUnsent;
    });
    connect(outbox_.get(), &Outbox::roomChanged, sidebar_->model(), &SidebarModel::refreshUnsent);
    connect(window_.get(), &MainWindow::entryMenuRequested, unsentRows_.get(),
            [this](int row, const QPoint& globalPos) { unsentRows_->showMenu(row, globalPos); });
    historyPages_ = std::make_unique<HistoryPages>(*client_, *room_, *history_, *incoming_,
                                                   *conversation_, *window_);
    files_ = std::make_unique<FileActions>(*client_, *room_, *transfers_, *window_, platform_);
    directoryActions_ = std::make_unique<DirectoryActions>(*client_, *room_, *directory_,
                                                           *pictures_, *window_, platform_);
    desktop_ =
        std::make_unique<DesktopIntegration>(*window_, *directory_, *directoryActions_, platform_);

    connect(sidebar_.get(), &SidebarController::openRequested, directoryActions_.get(),
            &DirectoryActions::openRow);
    connect(sidebar_.get(), &SidebarController::leaveRequested, directoryActions_.get(),
            &DirectoryActions::leaveRow);
    connect(sidebar_.get(), &SidebarController::profileRequested, directoryActions_.get(),
            &DirectoryActions::showProfile);
    connect(window_.get(), &MainWindow::logoutRequested, this, &MainController::logout);
    connect(events_.get(), &ChatEvents::deviceSecretIssued, this,
            [this](const QString& secret) { config_.deviceSecret->set(secret.toStdString()); });
    connect(directory_.get(), &Directory::unreadTotalChanged, window_.get(),
            &MainWindow::setUnreadTotal);
    connect(room_.get(), &RoomSession::roomChanged, window_.get(),
            [this](const QString& room) { window_->setRoomOpen(!room.isEmpty()); });
    connect(room_.get(), &RoomSession::roomChanged, sidebar_.get(),
            &SidebarController::setOpenRoom);
    window_->setRoomOpen(false);
}

MainController::~MainController() {
    onLogout_ = nullptr;
    // Nothing may report into the objects below while they go.
    transfers_->cancelAll();
    client_->setListener(nullptr);
    client_->disconnect();
}

void MainController::setMenuBar(QMenuBar* menuBar) {
    window_->setMenuBar(menuBar);
}

void MainController::showMain() {
    window_->show();
    desktop_->start();
    client_->connect();
    directory_->refresh();
}

void MainController::close() {
    desktop_->release();
    window_->close();
}

void MainController::openFindBar() {
    window_->openFindBar();
}

QMainWindow* MainController::window() const {
    return window_->window();
}

void MainController::logout() {
    // Unsent messages stay for the next sign-in of this phone, but the user is told first.
    const int unsent = outbox_->waitingCount() + outbox_->failedCount();
    const int answer = platform_.runAlert(
        window_->window(),
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
