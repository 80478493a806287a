#pragma once
// Sending a file into the open room (file button, drop or paste) and saving a file from a
// transcript link, over the session's transfers. A file chosen goes into the outbox at once
// (shown waiting with its name and size); its upload starts once signed in, one at a time in
// the order chosen, and its FileMeta goes through the outbox with the upload's file id.

#include "transfers.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QImage;

namespace brindlewick {

class ChatClient;
class MainWindow;
class Outbox;
class Platform;
class RoomSession;

class FileActions : public QObject {
    Q_OBJECT
public:
    // The files go through `session`'s outbox.
    FileActions(ChatClient& client, RoomSession& session, Transfers& transfers, MainWindow& window,
                Platform& platform, QObject* parent = nullptr);
    ~FileActions() override;

    // The reason a file that can no longer be read fails with.
    static const QString kUnreadableText; // "파일 열기 실패"

    // True while an upload runs (files may wait for theirs in the outbox meanwhile).
    bool uploading() const { return upload_ != 0; }
    // The open panel, then the file waits in the outbox for its upload.
    void attachFile();
    // A file dropped on the window: sent, once the user confirms, as if chosen in the open panel.
    void attachDroppedFile(const QString& path);
    // Files pasted into the composer: one confirmation, then each waits in the outbox for the
    // room open when they were pasted, to be uploaded one after another.
    void attachFiles(const QStringList& paths);
    // A picture pasted into the composer: once the user confirms with its preview, sent as
    // a PNG file named "붙여넣은 이미지 <date>-<time>.png", kept beside the outbox until sent.
    void attachPastedImage(const QImage& image);
    // The save panel, then the download; the saved file opens with its application unless it
    // could run code.
    void saveFile(const QString& fileId, const QString& suggestedName);

private:
    struct Upload {
        QString clientId; // the outbox entry, whatever room is open when it ends
        QString name;
        qint64 size = 0;
    };
    // Beeps during an upload, alerts without an open room.
    bool mayAttach();
    void take(const QString& path);
    // Starts the outbox's next upload when signed in and none runs.
    void startNext();
    void uploadFinished(Transfers::Id id, const QString& fileId, const QString& error);
    void downloadFinished(Transfers::Id id, bool ok, const QString& error);

    RoomSession& session_;
    Outbox* outbox_;
    Transfers& transfers_;
    MainWindow& window_;
    Platform& platform_;
    Transfers::Id upload_ = 0;
    Upload uploadInfo_;
    QHash<Transfers::Id, QString> saves_; // destination by download
};

} // namespace brindlewick
