// Resident memory of a transcript with picture thumbnails, against the same transcript without
// them, in one run. The pictures are real files on the real server, fetched and decoded on the
// picture pool as the client does.
//  1. Baseline: N file entries named like pictures, thumbnails off, laid out and painted.
//  2. The same N entries with thumbnails on, once every thumbnail has arrived and is painted.
//
//   chat_thumbnail_memory_bench [pictures] [width] [height]

#include "bench_support.h"
#include "file_transfer.h"
#include "picture_cache.h"
#include "thumbnail.h"
#include "transcript_view.h"

#include "server_harness.h"

#include "message_list_view.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

using namespace brindlewick;

namespace {

void settle(MessageListView& view, TranscriptView& transcript) {
    transcript.flush();
    QCoreApplication::processEvents();
    // Every row painted once, as scrolling through them would.
    for (int row = 0; row < transcript.model().size(); ++row) {
        view.scrollToTop(row);
        view.viewport()->repaint();
    }
}

double mib(long kib) {
    return kib / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const int width = argc > 2 ? std::max(1, atoi(argv[2])) : 1600;
    const int height = argc > 3 ? std::max(1, atoi(argv[3])) : 1200;
    const std::string dataDir = test::makeTempDir();
    test::ServerProcess server(dataDir);
    ServerConfig config;
    config.host = "127.0.0.1";
    config.chatPort = server.chatPort;
    config.httpPort = server.httpPort;

    // Distinct pictures with some detail, so they neither compress to nothing nor share data.
    QTemporaryDir dir;
    QList<TranscriptEntry> entries;
    qint64 uploaded = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        QImage picture(width, height, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv((i * 37) % 360, 160, 220));
        QPainter painter(&picture);
        for (int y = 0; y < height; y += 40)
            painter.drawLine(0, y, width, (y * 7 + i) % height);
        painter.end();
        const QString path = dir.filePath(QStringLiteral("사진 %1.png").arg(i));
        if (!picture.save(path, "PNG"))
            return 1;
        QString error;
        const QString id = transfer::upload(config, path, nullptr, &error);
        if (id.isEmpty()) {
            std::printf("upload failed: %s\n", qPrintable(error));
            return 1;
        }
        uploaded += QFileInfo(path).size();
        TranscriptEntry e;
        e.msgId = QString::number(i + 1);
        e.sender = QStringLiteral("에이");
        e.text = QFileInfo(path).fileName();
        e.time = QStringLiteral("2026-12-10T10:%1:00").arg(i % 60, 2, 10, QLatin1Char('0'));
        e.dayTime = e.time;
        e.isFile = true;
        e.fileId = id;
        entries.append(e);
    }
    std::printf("%d pictures of %dx%d on the server (%.1f MiB of PNG), uploaded in %.1f s\n", count,
                width, height, uploaded / 1048576.0, clock.elapsed() / 1000.0);

    PictureCache pictures(config);
    MessageListView view;
    view.resize(600, 500);
    view.show();
    TranscriptView transcript(&view);
    QCoreApplication::processEvents();
    const long rssStart = bench::statusKiB("VmRSS:");

    // 1. Without thumbnails.
    for (const TranscriptEntry& e : entries)
        transcript.appendEntry(e);
    settle(view, transcript);
    const long rssPlain = bench::statusKiB("VmRSS:");

    // 2. The same entries with thumbnails.
    transcript.clearChat();
    transcript.setThumbnailProvider(
        [&pictures](const QString& fileId) { return pictures.thumbnail(fileId); });
    QObject::connect(&pictures, &PictureCache::thumbnailArrived, &transcript,
                     &TranscriptView::showThumbnail);
    clock.restart();
    for (const TranscriptEntry& e : entries)
        transcript.appendEntry(e);
    while (transcript.thumbnailResourceCount() < count && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const double fetchSeconds = clock.elapsed() / 1000.0;
    settle(view, transcript);
    const long rssThumbs = bench::statusKiB("VmRSS:");
    if (transcript.thumbnailResourceCount() < count) {
        std::printf("only %d of %d thumbnails arrived\n", transcript.thumbnailResourceCount(),
                    count);
        return 1;
    }

    const QSize shown = thumbnailSize(QSize(width, height));
    const double thumbPixels = double(shown.width()) * shown.height() * 4 * count / 1048576.0;
    const double fullPixels = double(width) * height * 4 * count / 1048576.0;
    std::printf("thumbnails: %d of %dx%d, fetched and decoded in %.1f s\n", count, shown.width(),
                shown.height(), fetchSeconds);
    std::printf("resident: start %.1f MiB, without thumbnails %.1f MiB, with thumbnails %.1f MiB\n",
                mib(rssStart), mib(rssPlain), mib(rssThumbs));
    std::printf("thumbnails cost %.1f MiB resident (%.1f MiB per 100); their pixels are %.1f MiB,"
                " the full pictures' %.1f MiB\n",
                mib(rssThumbs - rssPlain), mib(rssThumbs - rssPlain) * 100.0 / count, thumbPixels,
                fullPixels);
    std::printf("ratio with/without thumbnails: %.2f; peak resident %.1f MiB\n",
                double(rssThumbs) / double(rssPlain), mib(bench::statusKiB("VmHWM:")));
    return 0;
}
