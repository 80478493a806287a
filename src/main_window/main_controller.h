#pragma once
// One signed-in user: builds the session's objects and the window and wires them together.
// Each object owns its state; see ARCHITECTURE.md for who owns what.

#include "server_config.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QMainWindow;
class QMenuBar;

namespace brindlewick {

class ChatClient;
class ChatEvents;
class Conversation;
class Drafts;
class DesktopIntegration;
class Directory;
class DirectoryActions;
class FileActions;
class HistoryPages;
class IncomingEvents;
class MainWindow;
class Outbox;
class PictureCache;
class Platform;
class RoomHistory;
class RoomSession;
class SidebarController;
class Transfers;
class UnsentRows;

class MainController : public QObject {
    Q_OBJECT
public:
    MainController(const QString& phone, const QString& nick, const QString& status,
                   const ServerConfig& config, Platform& platform, QObject* parent = nullptr);
    // Cancels transfers and requests in flight; the window goes.
    ~MainController() override;

    // Called when the user confirmed logging out; may destroy this controller.
    void setOnLogout(std::function<void()> callback) { onLogout_ = std::move(callback); }
    // The application's menu bar, placed in the window. Takes ownership.
    void setMenuBar(QMenuBar* menuBar);
    // Shows the window, connects and asks for the lists.
    void showMain();
    // Closes the window, tray or not; it stays until the controller goes.
    void close();
    void openFindBar();

    QMainWindow* window() const;
    const ServerConfig& config() const { return config_; }
    ChatClient& client() const { return *client_; }
    ChatEvents& events() const { return *events_; }
    // What the user sent that the server has not confirmed; in memory until the application
    // attaches the phone's file (Outbox::attach) before showMain.
    Outbox& outbox() const { return *outbox_; }
    UnsentRows& unsentRows() const { return *unsentRows_; }
    RoomSession& room() const { return *room_; }
    RoomHistory& history() const { return *history_; }
    Directory& directory() const { return *directory_; }
    PictureCache& pictures() const { return *pictures_; }
    Transfers& transfers() const { return *transfers_; }
    MainWindow& mainWindow() const { return *window_; }
    SidebarController& sidebar() const { return *sidebar_; }
    Conversation& conversation() const { return *conversation_; }
    // Unsent text per room; the application loads and saves it with the user's settings.
    Drafts& drafts() const { return *drafts_; }
    IncomingEvents& incoming() const { return *incoming_; }
    HistoryPages& historyPages() const { return *historyPages_; }
    FileActions& files() const { return *files_; }
    DirectoryActions& directoryActions() const { return *directoryActions_; }
    DesktopIntegration& desktop() const { return *desktop_; }

private:
    void logout();

    ServerConfig config_;
    Platform& platform_;
    std::function<void()> onLogout_;
    // Declared in construction order; they go in reverse.
    std::unique_ptr<ChatClient> client_;
    std::unique_ptr<ChatEvents> events_;
    // Before everything that reacts to a sign-in: what waited goes out before anything else.
    std::unique_ptr<Outbox> outbox_;
    std::unique_ptr<RoomSession> room_;
    std::unique_ptr<RoomHistory> history_;
    std::unique_ptr<Directory> directory_;
    std::unique_ptr<PictureCache> pictures_;
    std::unique_ptr<Transfers> transfers_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<SidebarController> sidebar_;
    std::unique_ptr<Drafts> drafts_;
    std::unique_ptr<Conversation> conversation_;
    std::unique_ptr<IncomingEvents> incoming_;
    std::unique_ptr<UnsentRows> unsentRows_;
    std::unique_ptr<HistoryPages> historyPages_;
    std::unique_ptr<FileActions> files_;
    std::unique_ptr<DirectoryActions> directoryActions_;
    std::unique_ptr<DesktopIntegration> desktop_;
};

} // namespace brindlewick
