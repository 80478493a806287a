#pragma once
// The objects of one signed-in user, built and wired together. Whoever signs in (the application,
// a test) owns one and talks to the objects it needs directly; MainController runs its window.
// Each object owns its state; see ARCHITECTURE.md for who owns what.

#include "server_config.h"

#include <QObject>
#include <QString>

#include <memory>

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

class UserSession : public QObject {
    Q_OBJECT
public:
    UserSession(const QString& phone, const QString& nick, const QString& status,
                const ServerConfig& config, Platform& platform, QObject* parent = nullptr);
    // Cancels transfers and requests in flight; the window goes.
    ~UserSession() override;

    // The configuration every object below was built with; the device secret the server hands
    // out reaches all their copies.
    const ServerConfig& config() const { return config_; }

    // Declared in construction order; they go in reverse.
    std::unique_ptr<ChatClient> client;
    std::unique_ptr<ChatEvents> events;
    // Before everything that reacts to a sign-in: what waited goes out before anything else.
    // In memory until the owner attaches the phone's file (Outbox::attach) before connecting.
    std::unique_ptr<Outbox> outbox;
    std::unique_ptr<RoomSession> room;
    std::unique_ptr<RoomHistory> history;
    std::unique_ptr<Directory> directory;
    std::unique_ptr<PictureCache> pictures;
    std::unique_ptr<Transfers> transfers;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<SidebarController> sidebar;
    // Unsent text per room; the owner loads and saves it with the user's settings.
    std::unique_ptr<Drafts> drafts;
    std::unique_ptr<Conversation> conversation;
    std::unique_ptr<IncomingEvents> incoming;
    std::unique_ptr<UnsentRows> unsentRows;
    std::unique_ptr<HistoryPages> historyPages;
    std::unique_ptr<FileActions> files;
    std::unique_ptr<DirectoryActions> directoryActions;
    std::unique_ptr<DesktopIntegration> desktop;

private:
    ServerConfig config_;
};

} // namespace brindlewick
