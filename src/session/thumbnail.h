#pragma once
// Small pictures for the transcript, decoded from a downloaded file under caps that hold for
// any file another user sends: the declared size is read first, and a picture too large is
// refused before a single pixel is decoded.

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace brindlewick {

struct ThumbnailLimits {
    static constexpr qint64 kMaxFileBytes = 20 * 1024 * 1024;
    static constexpr qint64 kMaxPixels = 40'000'000;
    // A thumbnail fits this box, keeping its aspect; smaller pictures keep their size.
    static constexpr int kMaxWidth = 240;
    static constexpr int kMaxHeight = 360;
    // The decoder's own guard, in MiB: a full-size picture at the pixel cap, 4 bytes a pixel.
    static constexpr int kAllocationLimitMiB = int(kMaxPixels * 4 / (1024 * 1024)) + 1;
};

struct Thumbnail {
    enum class Outcome {
        Decoded,
        TooLarge,      // more bytes than kMaxFileBytes
        TooManyPixels, // the declared width × height is above kMaxPixels
        Unreadable,    // no picture format knows it, no declared size, or decoding failed
    };
    Outcome outcome = Outcome::Unreadable;
    QImage image; // null unless Decoded
};

// Decodes `bytes` straight at thumbnail size where the format allows.
Thumbnail decodeThumbnail(const QByteArray& bytes);

// The size a picture of `size` is shown at.
QSize thumbnailSize(QSize size);

} // namespace brindlewick
