// Decoding thumbnails from files other users send: sizes, formats and pictures that would
// take far more memory than their bytes suggest.

#include "thumbnail.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtEndian>
#include <gtest/gtest.h>

namespace brindlewick::test {
namespace {

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

QImage filled(int width, int height, QColor color = QColor(200, 30, 30)) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A real small PNG whose header claims `width` × `height`: a few hundred bytes that would
// need tens of gigabytes once decoded.
QByteArray pngDeclaring(quint32 width, quint32 height) {
    QByteArray png = encoded(filled(4, 4), "PNG");
    // Signature (8), IHDR length (4), "IHDR" (4), then width and height.
    const int ihdr = 12;
    qToBigEndian(width, png.data() + ihdr + 4);
    qToBigEndian(height, png.data() + ihdr + 8);
    const quint32 crc = crc32(png.mid(ihdr, 4 + 13));
    qToBigEndian(crc, png.data() + ihdr + 4 + 13);
    return png;
}

TEST(Thumbnail, PicturesAreDecodedAtMost240WideKeepingTheirAspect) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QSize expected;
    };
    const Case cases[] = {
        {"small png keeps its size", encoded(filled(100, 50), "PNG"), {100, 50}},
        {"wide png", encoded(filled(1200, 600), "PNG"), {240, 120}},
        {"tall png fits the height", encoded(filled(300, 3000), "PNG"), {36, 360}},
        {"jpeg decoded small", encoded(filled(2000, 1000), "JPEG"), {240, 120}},
        // Qt writes no GIF: a one-pixel one, red, by hand.
        {"gif",
         QByteArray::fromHex("47494638396101000100800000c81e1e00000021f90400000000002c"
                             "00000000010001000002024401003b"),
         {1, 1}},
        {"bmp", encoded(filled(480, 240), "BMP"), {240, 120}},
        {"webp", encoded(filled(960, 480), "WEBP"), {240, 120}},
        {"a hair-thin picture keeps a pixel", encoded(filled(4000, 2), "PNG"), {240, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Thumbnail t = decodeThumbnail(c.bytes);
        ASSERT_EQ(t.outcome, Thumbnail::Outcome::Decoded);
        EXPECT_EQ(t.image.size(), c.expected);
        const QColor centre = t.image.pixelColor(t.image.width() / 2, t.image.height() / 2);
        EXPECT_NEAR(centre.red(), 200, 8);
        EXPECT_NEAR(centre.green(), 30, 8);
    }
}

TEST(Thumbnail, WhatIsTooLargeOrNoPictureIsRefused) {
    struct Case {
        const char* name;
        QByteArray bytes;
        Thumbnail::Outcome expected;
    };
    const Case cases[] = {
        // Refused on the header's word alone: the reader never gets to the pixels.
        {"100,000 × 100,000 declared", pngDeclaring(100000, 100000),
         Thumbnail::Outcome::TooManyPixels},
        {"just over 40 megapixels declared", pngDeclaring(8000, 5001),
         Thumbnail::Outcome::TooManyPixels},
        {"over 20 MiB", QByteArray(ThumbnailLimits::kMaxFileBytes + 1, '\0'),
         Thumbnail::Outcome::TooLarge},
        {"text", QByteArray("just some text, no picture"), Thumbnail::Outcome::Unreadable},
        {"empty", QByteArray(), Thumbnail::Outcome::Unreadable},
        {"png cut short", encoded(filled(300, 300), "PNG").left(60),
         Thumbnail::Outcome::Unreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Thumbnail t = decodeThumbnail(c.bytes);
        EXPECT_EQ(t.outcome, c.expected);
        EXPECT_TRUE(t.image.isNull());
    }
}

TEST(Thumbnail, ADeclaredSizeUnderTheCapIsStillGuardedByTheDecoder) {
    // 6000 × 6000 passes the pixel cap, but the few bytes behind it cannot fill it: the
    // decoder fails instead of handing back garbage or using the memory for nothing.
    const Thumbnail t = decodeThumbnail(pngDeclaring(6000, 6000));
    EXPECT_EQ(t.outcome, Thumbnail::Outcome::Unreadable);
}

} // namespace
} // namespace brindlewick::test
