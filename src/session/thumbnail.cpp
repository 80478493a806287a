#include "thumbnail.h"

#include <QBuffer>
#include <QImageReader>

namespace brindlewick {

QSize thumbnailSize(QSize size) {
    if (size.isEmpty())
        return {};
    if (size.width() <= ThumbnailLimits::kMaxWidth && size.height() <= ThumbnailLimits::kMaxHeight)
        return size;
    QSize fitted =
        size.scaled(ThumbnailLimits::kMaxWidth, ThumbnailLimits::kMaxHeight, Qt::KeepAspectRatio);
    return fitted.expandedTo(QSize(1, 1)); // a hair-thin picture keeps one pixel
}

Thumbnail decodeThumbnail(const QByteArray& bytes) {
    Thumbnail result;
    if (bytes.size() > ThumbnailLimits::kMaxFileBytes) {
        result.outcome = Thumbnail::Outcome::TooLarge;
        return result;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return result;
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // size() reads the header only; a format that cannot tell its size is not trusted.
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty())
        return result;
    if (qint64(declared.width()) * qint64(declared.height()) > ThumbnailLimits::kMaxPixels) {
        result.outcome = Thumbnail::Outcome::TooManyPixels;
        return result;
    }
    reader.setAllocationLimit(ThumbnailLimits::kAllocationLimitMiB);
    const QSize shown = thumbnailSize(declared);
    if (shown != declared)
        reader.setScaledSize(shown);
    QImage image = reader.read();
    if (image.isNull())
        return result;
    // Formats that ignore the scaled size still leave here small; painting wants one format.
    if (image.width() > ThumbnailLimits::kMaxWidth || image.height() > ThumbnailLimits::kMaxHeight)
        image = image.scaled(thumbnailSize(image.size()), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    result.image = image.convertToFormat(
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    result.outcome = Thumbnail::Outcome::Decoded;
    return result;
}

} // namespace brindlewick
