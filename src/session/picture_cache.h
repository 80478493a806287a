#pragma once
// Decoded pictures of users and rooms by file id, kept while the window is open. A miss
// starts one download (never a second while the first runs, nor soon after a failure) on a
// small pool of its own, so a picture that hangs never holds up a file transfer.

#include "avatar_requests.h"
#include "server_config.h"

#include <QHash>
#include <QImage>
#include <QObject>
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

signals:
    void pictureArrived(const QString& fileId, const QImage& image);

private:
    void download(const QString& fileId);

    ServerConfig config_;
    QHash<QString, QImage> images_;
    AvatarRequests requests_;
    QThreadPool pool_;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace brindlewick
