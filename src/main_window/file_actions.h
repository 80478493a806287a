#pragma once
// Sending a file into the open room (file button or drop) and saving a file from a transcript
// link, over the session's transfers. One upload at a time.

#include "transfers.h"

#include <QHash>
#include <QObject>
#include <QString>

namespace brindlewick {

class ChatClient;
class Conversation;
class MainWindow;
class Platform;
class RoomSession;

class FileActions : public QObject {
    Q_OBJECT
public:
    FileActions(ChatClient& client, RoomSession& session, Transfers& transfers,
                Conversation& conversation, MainWindow& window, Platform& platform,
                QObject* parent = nullptr);

    bool uploading() const { return upload_ != 0; }
    // The open panel, then the upload.
    void attachFile();
    // A file dropped on the window: sent, once the user confirms, as if chosen in the open panel.
    void attachDroppedFile(const QString& path);
    // The save panel, then the download; the saved file opens with its application unless it
    // could run code.
    void saveFile(const QString& fileId, const QString& suggestedName);

private:
    struct Upload {
        QString room; // the room the file was meant for, whatever is open when it ends
        QString name;
        quint64 size = 0;
    };
    // Beeps during an upload, alerts without an open room.
    bool mayStartUpload();
    void startUpload(const QString& path);
    void uploadFinished(Transfers::Id id, const QString& fileId, const QString& error);
    void downloadFinished(Transfers::Id id, bool ok, const QString& error);

    ChatClient& client_;
    RoomSession& session_;
    Transfers& transfers_;
    Conversation& conversation_;
    MainWindow& window_;
    Platform& platform_;
    Transfers::Id upload_ = 0;
    Upload uploadInfo_;
    QHash<Transfers::Id, QString> saves_; // destination by download
};

} // namespace brindlewick
