#include "files_fixture.h"

#include "directory_service.h"
#include "main_window.h"
#include "transcript_view.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
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

QByteArray friendJson(const QString& phone, const QString& nick, const QString& alias,
                      const QString& status, const QString& picture) {
    return QStringLiteral(
               R"({"phone":"%1","nick":"%2","Alias":"%3","StatusMessage":"%4","profile_pic":"%5"})")
        .arg(phone, nick, alias, status, picture)
        .toUtf8();
}

QByteArray roomJson(const QString& room, const QString& title, const QString& peer,
                    const QString& picture) {
    return QStringLiteral(
               R"({"room_name":"%1","title":"%2","peer_phone":"%3","peer_profile":"%4"})")
        .arg(room, title, peer, picture)
        .toUtf8();
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
    controller = std::make_unique<ClientUnderTest>(
        QString::fromUtf8(kMyPhone), QString::fromUtf8(kMyNick), QString(), config, platform);
    controller->showMain();
    ASSERT_TRUE(signIn(*controller, 1));
    // The first refresh (empty lists) is over before a test serves its own.
    ASSERT_TRUE(controller->waitForLists());
    http.clearRequests();
    platform.clear();
}

bool FilesTest::signIn(ClientUnderTest& c, int connection) {
    if (!chat.waitForConnection(connection))
        return false;
    const auto auths = [&] { return chat.framesOfType(MessageType::Auth).size(); };
    if (!waitUntil([&] { return auths() >= std::size_t(connection); }))
        return false;
    chat.sendFrame(MessageType::AuthOk, {});
    return c.waitSignedIn();
}

void FilesTest::TearDown() {
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

void FilesTest::serveLists(const QList<QByteArray>& friends, const QList<QByteArray>& rooms) {
    http.setReply("GET", QStringLiteral("/v1/friends"), answer(200, "[" + friends.join(',') + "]"));
    http.setReply("GET", QStringLiteral("/v1/rooms"),
                  answer(200, "{\"rooms\":[" + rooms.join(',') + "]}"));
    Directory& directory = *controller->session().directory;
    ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }));
    QSignalSpy changed(&directory, &Directory::listsChanged);
    directory.refresh();
    ASSERT_TRUE(waitUntil([&] { return changed.count() > 0; }));
}

QString FilesTest::transcriptText() const {
    return controller->transcript().plainText();
}

} // namespace brindlewick::test
