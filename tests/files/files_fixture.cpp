#include "files_fixture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QThreadPool>

namespace brindlewick::test {

QByteArray pngOf(const QColor& color, QSize size) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QColor centreColor(const QLabel* label) {
    const QImage image = label->pixmap().toImage();
    if (image.isNull())
        return {};
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

StatusRecorder::StatusRecorder(const QLabel* status) : status_(status) {
    QCoreApplication::instance()->installEventFilter(this);
}

StatusRecorder::~StatusRecorder() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool StatusRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (watched != QCoreApplication::instance() || event->type() != QEvent::MetaCall)
        return false;
    // Run the step now, then look at what it left in the status line.
    watched->event(event);
    texts.append(status_->text());
    return true;
}

void FilesTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    ServerConfig config = http.config();
    config.chatPort = chat.port();
    controller = std::make_unique<MainController>(
        QString::fromUtf8(kMyPhone), QString::fromUtf8(kMyNick), QString(), config, platform);
    controller->showMain();
    ASSERT_TRUE(chat.waitForConnection());
    http.clearRequests();
    platform.clear();
}

void FilesTest::TearDown() {
    // Work still on the pool must not outlive what it reports to.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    controller.reset();
}

QString FilesTest::writeFile(const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

void FilesTest::scriptUpload(const QString& id, int chunks) {
    http.setReply("POST", "/v1/files", answer(200, "{\"id\":\"" + id.toUtf8() + "\"}"));
    for (int i = 0; i < chunks; ++i)
        http.setReply("PUT", QStringLiteral("/v1/files/%1/chunks/%2").arg(id).arg(i),
                      answer(200, "{}"));
    http.setReply("POST", QStringLiteral("/v1/files/%1/complete").arg(id), answer(200, "{}"));
}

int FilesTest::requestCount(const QString& method, const QString& path) const {
    int n = 0;
    for (const RecordedRequest& r : http.requests())
        n += r.method == method && r.path == path;
    return n;
}

} // namespace brindlewick::test
