#pragma once
// Sending a file into the open room (file button, drop or paste) and saving a file from a
// transcript link, over the session's transfers. One upload at a time; several files pasted at
// once go one after another.

#include "transfers.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QImage;
class QTemporaryDir;

namespace brindlewick {

class ChatClient;
class MainWindow;
class Platform;
class RoomSession;

class FileActions : public QObject {
    Q_OBJECT
public:
    FileActions(ChatClient& client, RoomSession& session, Transfers& transfers, MainWindow& window,
                Platform& platform, QObject* parent = nullptr);
    ~FileActions() override;

    bool uploading() const { return upload_ != 0; }
    // The open panel, then the upload.
    void attachFile();
    // A file dropped on the window: sent, once the user confirms, as if chosen in the open panel.
    void attachDroppedFile(const QString& path);
    // Files pasted into the composer: one confirmation, then sent one after another into the
    // room open when they were pasted; a failed upload or another room ends the rest.
    void attachFiles(const QStringList& paths);
    // A picture pasted into the composer: once the user confirms with its preview, sent as
    // a PNG file named "붙여넣은 이미지 <date>-<time>.png".
    void attachPastedImage(const QImage& image);
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
    MainWindow& window_;
    Platform& platform_;
    Transfers::Id upload_ = 0;
    Upload uploadInfo_;
    QString uploadPath_;
    QStringList queued_; // pasted files still to send into uploadInfo_.room
    // Pasted pictures as files while they upload; the folder goes with this object.
    std::unique_ptr<QTemporaryDir> pasteDir_;
    QHash<Transfers::Id, QString> saves_; // destination by download
};

} // namespace brindlewick
