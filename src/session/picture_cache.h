#pragma once
// Decoded pictures of users and rooms by file id, kept while the window is open. A miss
// starts one download (never a second while the first runs, nor soon after a failure) on a
// small pool of its own, so a picture that hangs never holds up a file transfer.
// The same pool fetches thumbnails of pictures sent as files: only the small decoded copy is
// kept, within a budget, and a picture refused by its size is never asked for again.

#include "avatar_requests.h"
#include "server_config.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

namespace brindlewick {

class PictureCache : public QObject {
    Q_OBJECT
public:
    static constexpr int kDownloadThreads = 2;

    explicit PictureCache(const ServerConfig& config, QObject* parent = nullptr);
    // Stops downloads in flight.
    ~PictureCache() override;

    // The picture, or a null image while it is not (yet) here. Asking for an empty id is free.
    QImage image(const QString& fileId);
    bool contains(const QString& fileId) const { return images_.contains(fileId); }
    AvatarRequests& requests() { return requests_; }

    // Thumbnails kept for reuse (a room opened again), in KiB of pixels.
    static constexpr int kThumbnailBudgetKiB = 32 * 1024;
    // The thumbnail of a picture sent as a file, or a null image while it is not here; a miss
    // starts its download unless one runs, one failed lately or the picture was refused.
    QImage thumbnail(const QString& fileId);
    // Refused for its size or unreadable: no thumbnail will ever come.
    bool thumbnailRefused(const QString& fileId) const {
        return refusedThumbnails_.contains(fileId);
    }
    AvatarRequests& thumbnailRequests() { return thumbnailRequests_; }

signals:
    void pictureArrived(const QString& fileId, const QImage& image);
    void thumbnailArrived(const QString& fileId, const QImage& image);

private:
    void download(const QString& fileId);
    void downloadThumbnail(const QString& fileId);

    ServerConfig config_;
    QHash<QString, QImage> images_;
    AvatarRequests requests_;
    QCache<QString, QImage> thumbnails_{kThumbnailBudgetKiB};
    QSet<QString> refusedThumbnails_;
    AvatarRequests thumbnailRequests_;
    QThreadPool pool_;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace brindlewick
