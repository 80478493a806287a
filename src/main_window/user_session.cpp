#include "user_session.h"

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
#include "room_history.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"
#include "transfers.h"
#include "unsent_rows.h"

namespace brindlewick {

UserSession::UserSession(const QString& phone, const QString& nick, const QString& status,
                         const ServerConfig& serverConfig, Platform& platform, QObject* parent)
    : QObject(parent), config_(serverConfig) {
    // One holder shared by every copy below, so a secret handed out later reaches them all.
    if (!config_.deviceSecret)
        config_.deviceSecret = std::make_shared<DeviceSecret>();
    client = std::make_unique<ChatClient>(config_);
    client->setPhone(phone);
    client->setNick(nick);
    client->setStatusMsg(status);
    client->setProfilePic(QStringLiteral(""));

    events = std::make_unique<ChatEvents>(*client);
    outbox = std::make_unique<Outbox>(*client, *events);
    room = std::make_unique<RoomSession>(*client);
    room->setOutbox(outbox.get());
    history = std::make_unique<RoomHistory>(*client, *events);
    directory =
        std::make_unique<Directory>(config_, Directory::Self{phone, nick, client->profilePic()});
    pictures = std::make_unique<PictureCache>(config_);
    transfers = std::make_unique<Transfers>(config_);

    window = std::make_unique<MainWindow>(&room->transcript());
    sidebar = std::make_unique<SidebarController>(*window, *directory, *pictures);
    drafts = std::make_unique<Drafts>();
    conversation = std::make_unique<Conversation>(*client, *room, *history, *directory, *pictures,
                                                  *window, platform, *drafts);
    incoming = std::make_unique<IncomingEvents>(*client, *events, *room, *directory, *conversation,
                                                *window, platform, *outbox);
    unsentRows = std::make_unique<UnsentRows>(*client, *outbox, *room, *conversation, *window);
    // The chats list marks rooms with unsent messages.
    sidebar->model()->setUnsentProvider([unsent = outbox.get()](const QString& id) {
        return unsent->failedCount(id) > 0    ? SidebarModel::FailedUnsent
               : unsent->waitingCount(id) > 0 ? SidebarModel::WaitingUnsent
                                              : SidebarModel::NoneUnsent;
    });
    connect(outbox.get(), &Outbox::roomChanged, sidebar->model(), &SidebarModel::refreshUnsent);
    connect(window.get(), &MainWindow::entryMenuRequested, unsentRows.get(),
            [this](int row, const QPoint& globalPos) { unsentRows->showMenu(row, globalPos); });
    historyPages =
        std::make_unique<HistoryPages>(*client, *room, *history, *incoming, *conversation, *window);
    files = std::make_unique<FileActions>(*client, *room, *transfers, *window, platform);
    directoryActions = std::make_unique<DirectoryActions>(*client, *room, *directory, *pictures,
                                                          *window, platform);
    desktop =
        std::make_unique<DesktopIntegration>(*window, *directory, *directoryActions, platform);

    connect(sidebar.get(), &SidebarController::openRequested, directoryActions.get(),
            &DirectoryActions::openRow);
    connect(sidebar.get(), &SidebarController::leaveRequested, directoryActions.get(),
            &DirectoryActions::leaveRow);
    connect(sidebar.get(), &SidebarController::profileRequested, directoryActions.get(),
            &DirectoryActions::showProfile);
    connect(events.get(), &ChatEvents::deviceSecretIssued, this,
            [this](const QString& secret) { config_.deviceSecret->set(secret.toStdString()); });
    connect(directory.get(), &Directory::unreadTotalChanged, window.get(),
            &MainWindow::setUnreadTotal);
    connect(room.get(), &RoomSession::roomChanged, window.get(),
            [this](const QString& id) { window->setRoomOpen(!id.isEmpty()); });
    connect(room.get(), &RoomSession::roomChanged, sidebar.get(), &SidebarController::setOpenRoom);
    window->setRoomOpen(false);
}

UserSession::~UserSession() {
    // Nothing may report into the objects below while they go.
    transfers->cancelAll();
    client->setListener(nullptr);
    client->disconnect();
}

} // namespace brindlewick
