#include "picture_cache.h"

#include "file_transfer.h"
#include "off_thread.h"

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
            const std::optional<QByteArray> body = FileTransfer::httpRequest(
                config, QStringLiteral("GET"), FileTransfer::filePath(fileId), std::nullopt,
                QString(), nullptr, RequestLimits{RequestLimits::kTotalSeconds, cancelled.get()});
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

} // namespace brindlewick
