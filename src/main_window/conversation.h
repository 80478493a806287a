#pragma once
// The open room as the window shows it: header, transcript and composer follow the room
// session; sending, replying and deleting start here.

#include <QObject>
#include <QPoint>
#include <QString>

namespace brindlewick {

class ChatClient;
class Directory;
class Drafts;
class MainWindow;
class PictureCache;
class Platform;
class RoomHistory;
class RoomSession;
struct EntryPicture;

class Conversation : public QObject {
    Q_OBJECT
public:
    Conversation(ChatClient& client, RoomSession& session, RoomHistory& history,
                 Directory& directory, PictureCache& pictures, MainWindow& window,
                 Platform& platform, Drafts& drafts, QObject* parent = nullptr);

    // The sender's picture as the cache has it now; an entry keeps what it got.
    EntryPicture pictureForSender(const QString& sender);
    // Appends a system line to the open transcript.
    void appendSystemLine(const QString& text);

    void send(const QString& text);
    // The composer's text, unless it is an edit, becomes the open room's draft now (before the
    // drafts are saved).
    void keepDraft();
    // The transcript's menu for entry `entryIndex` (-1: off any entry, where replying means the
    // newest entry and deleting the newest own one).
    void showEntryMenu(int entryIndex, const QPoint& globalPos);
    // The own text message at `entryIndex` (-1: the newest) that "수정하기" would edit.
    QString editTarget(int entryIndex) const;
    // Puts the message's text in the composer; Return then sends it as the new text.
    void editEntry(const QString& msgId);
    // What the menu offers for an entry: the id to reply to or to delete, "" for nothing.
    QString replyTarget(int entryIndex) const;
    QString deleteTarget(int entryIndex) const;
    // Reply to the entry with this id; nothing when it is no longer in the transcript.
    void replyTo(const QString& msgId);
    // Asks, then requests the deletion of the own entry with this id.
    void deleteEntry(const QString& msgId);

private:
    void roomChanged(const QString& room, const QString& title);
    void refreshHeader();

    ChatClient& client_;
    RoomSession& session_;
    RoomHistory& history_;
    Directory& directory_;
    PictureCache& pictures_;
    MainWindow& window_;
    Platform& platform_;
    Drafts& drafts_;
};

} // namespace brindlewick
