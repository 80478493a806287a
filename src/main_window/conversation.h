#pragma once
// The open room as the window shows it: header, transcript and composer follow the room
// session; sending, replying and deleting start here.

#include <QObject>
#include <QString>

namespace brindlewick {

class ChatClient;
class Directory;
class MainWindow;
class PictureCache;
class Platform;
class RoomSession;
struct EntryPicture;

class Conversation : public QObject {
    Q_OBJECT
public:
    Conversation(ChatClient& client, RoomSession& session, Directory& directory,
                 PictureCache& pictures, MainWindow& window, Platform& platform,
                 QObject* parent = nullptr);

    // The sender's picture as the cache has it now; an entry keeps what it got.
    EntryPicture pictureForSender(const QString& sender);
    // Appends a system line to the open transcript.
    void appendSystemLine(const QString& text);

    void send(const QString& text);
    // Reply to the newest entry.
    void replyToNewest();
    // Delete the newest own entry that has an id.
    void deleteNewestOwn();

private:
    void roomChanged(const QString& room, const QString& title);
    void refreshHeaderPicture();

    ChatClient& client_;
    RoomSession& session_;
    Directory& directory_;
    PictureCache& pictures_;
    MainWindow& window_;
    Platform& platform_;
};

} // namespace brindlewick
