#pragma once
// What the user asks of the friend and room lists: adding a friend, a memo room, leaving a
// room, opening a row's conversation and its profile. Confirmations and failures are alerts;
// the requests themselves are the directory's and never block the window.

#include "side_rows.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace brindlewick {

class ChatClient;
class Directory;
class MainWindow;
class PictureCache;
class Platform;
class ProfileWindow;
class RoomSession;

class DirectoryActions : public QObject {
    Q_OBJECT
public:
    DirectoryActions(ChatClient& client, RoomSession& session, Directory& directory,
                     PictureCache& pictures, MainWindow& window, Platform& platform,
                     QObject* parent = nullptr);
    ~DirectoryActions() override;

    // "+": choose between a friend and a memo room.
    void addAction();
    void addFriend();
    void createMemoRoom();
    // "방 나가기" in the header: the open room.
    void leaveOpenRoom();
    // The sidebar's "방 나가기" on `row`.
    void leaveRow(const SideRow& row);
    // A friend row opens the direct room, a room row its room; the cursor goes to the composer.
    void openRow(const SideRow& row);
    // `room` as its row in the chats list would open it; a room the lists do not know yet
    // opens under its id.
    void openRoom(const QString& room);
    void showProfile(const SideRow& row);
    ProfileWindow* profileWindow() const { return profile_.get(); }

private:
    void confirmAndLeave(const QString& room, const QString& question);
    void openDirectRoom(const QString& phone, const QString& name);
    // Opens `room` (unless it is open already) and puts the cursor in the composer.
    void openAndWrite(const QString& room, const QString& title);

    ChatClient& client_;
    RoomSession& session_;
    Directory& directory_;
    PictureCache& pictures_;
    MainWindow& window_;
    Platform& platform_;
    std::unique_ptr<ProfileWindow> profile_;
};

} // namespace brindlewick
