#include "picture_cache.h"

#include "file_transfer.h"
#include "http_request.h"
#include "off_thread.h"
#include "thumbnail.h"

namespace brindlewick {

PictureCache::PictureCache(const ServerConfig& config, QObject* parent)
    : QObject(parent), config_(config) {
    pool_.setMaxThreadCount(kDownloadThreads);
}

PictureCache::~PictureCache() {
    cancelled_->store(true);
    pool_.clear();
    pool_.waitForDone();
}

QImage PictureCache::image(const QString& fileId) {
    if (fileId.isEmpty())
        return {};
    const auto cached = images_.constFind(fileId);
    if (cached != images_.cend())
        return *cached;
    download(fileId);
    return {};
}

void PictureCache::download(const QString& fileId) {
    if (!requests_.begin(fileId))
        return;
    const ServerConfig config = config_;
    const auto cancelled = cancelled_;
    runOffThread(
        pool_, this,
        [config, fileId, cancelled] {
            const std::optional<QByteArray> body = api::request(
                config, QStringLiteral("GET"), transfer::fileUrlPath(fileId), std::nullopt,
                QString(), nullptr, api::Limits{api::Limits::kTotalSeconds, cancelled.get()});
            QImage image;
            if (body && !body->isEmpty())
                image.loadFromData(*body);
            return image;
        },
        [fileId](PictureCache& cache, QImage image) {
            cache.requests_.finish(fileId, !image.isNull());
            if (image.isNull())
                return;
            cache.images_.insert(fileId, image);
            emit cache.pictureArrived(fileId, image);
        });
}

QImage PictureCache::thumbnail(const QString& fileId) {
    if (fileId.isEmpty())
        return {};
    if (const QImage* cached = thumbnails_.object(fileId))
        return *cached;
    downloadThumbnail(fileId);
    return {};
}

void PictureCache::downloadThumbnail(const QString& fileId) {
    if (refusedThumbnails_.contains(fileId) || !thumbnailRequests_.begin(fileId))
        return;
    struct Result {
        bool transferred = false;
        Thumbnail thumbnail;
    };
    const ServerConfig config = config_;
    const auto cancelled = cancelled_;
    runOffThread(
        pool_, this,
        [config, fileId, cancelled] {
            api::Limits limits{api::Limits::kTotalSeconds, cancelled.get()};
            limits.maxBodyBytes = ThumbnailLimits::kMaxFileBytes;
            QString error;
            const std::optional<QByteArray> body =
                api::request(config, QStringLiteral("GET"), transfer::fileUrlPath(fileId),
                             std::nullopt, QString(), &error, limits);
            Result result;
            if (body) {
                result.transferred = true;
                result.thumbnail = decodeThumbnail(*body);
            } else if (error == api::kTooLargeText) {
                result.transferred = true; // the answer is final: the file is too large
                result.thumbnail.outcome = Thumbnail::Outcome::TooLarge;
            }
            return result;
        },
        [fileId](PictureCache& cache, Result result) {
            const QImage& image = result.thumbnail.image;
            cache.thumbnailRequests_.finish(fileId, !image.isNull());
            if (image.isNull()) {
                // A transfer that failed may work later; a picture refused stays refused.
                if (result.transferred)
                    cache.refusedThumbnails_.insert(fileId);
                return;
            }
            const int costKiB = int(std::max<qsizetype>(1, image.sizeInBytes() / 1024));
            cache.thumbnails_.insert(fileId, new QImage(image), costKiB);
            emit cache.thumbnailArrived(fileId, image);
        });
}

} // namespace brindlewick
