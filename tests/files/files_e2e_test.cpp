// Two signed-in clients in one process against the real server: a file goes from one to the
// other through the file button and a click on the link, a picture set on the server shows,
// and pictures sent as files show as thumbnails, live and in history pages.

#include "chat_client.h"
#include "chat_protocol.h"
#include "directory.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "file_actions.h"
#include "file_transfer.h"
#include "main_controller.h"
#include "main_window.h"
#include "picture_cache.h"
#include "room_session.h"
#include "server_harness.h"
#include "transcript_view.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QtEndian>
#include <gtest/gtest.h>

namespace brindlewick::test {
namespace {

const QString kPhoneA = "01000000001";
const QString kPhoneB = "01000000002";

class FilesEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.running());
        config.host = "127.0.0.1";
        config.chatPort = server.chatPort;
        config.httpPort = server.httpPort;
        // The server takes a direct room only with someone who has signed in: both have, once.
        for (const QString& phone : {kPhoneA, kPhoneB}) {
            ChatConnection once(server.chatPort);
            ASSERT_TRUE(once.signIn(phone.toStdString()));
        }
        a = std::make_unique<MainController>(kPhoneA, "에이", "", config, platformA);
        b = std::make_unique<MainController>(kPhoneB, "비", "", config, platformB);
        a->showMain();
        b->showMain();
        room = QString::fromStdString(
            ChatProtocol::dmRoomForPhone(kPhoneA.toStdString(), kPhoneB.toStdString()));
    }

    void TearDown() override {
        a.reset();
        b.reset();
    }

    ServerProcess server{makeTempDir()};
    ServerConfig config;
    FakePlatform platformA, platformB;
    std::unique_ptr<MainController> a, b;
    QString room;
    QTemporaryDir dir;
};

// Clicks the first link of the transcript the way a user would.
bool clickFirstLink(QTextBrowser* view) {
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isAnchor())
                continue;
            QTextCursor cursor(view->document());
            cursor.setPosition(fragment.position() + 1);
            const QPoint at = view->cursorRect(cursor).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            return true;
        }
    }
    return false;
}

TEST_F(FilesEndToEnd, AFileSentByOneIsSavedByTheOtherByteForByte) {
    a->room().open(room, "비");
    b->room().open(room, "에이");

    QByteArray original(3 * 1024 * 1024 + 123, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(original.data()), original.size() / 4);
    const QString source = dir.filePath("사진 모음 100%.bin");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(original);
    }
    platformA.openPanelAnswers = {source};
    a->files().attachFile();
    ASSERT_TRUE(waitUntil([&] { return !a->files().uploading(); }, 30000));
    EXPECT_EQ(a->mainWindow().statusText(), "업로드 완료: 사진 모음 100%.bin");

    // The server hands the file message to both; B shows it as a link.
    ASSERT_TRUE(waitUntil(
        [&] {
            const QList<ChatItem>& items = b->mainWindow().transcript().chatItems();
            return !items.isEmpty() && items.last().isFile;
        },
        10000));
    EXPECT_EQ(b->mainWindow().transcript().chatItems().last().fileName, "사진 모음 100%.bin");

    const QString saved = dir.filePath("받은 파일.bin");
    platformB.savePanelAnswers = {saved};
    b->window()->resize(840, 600);
    b->mainWindow().transcript().flush();
    ASSERT_TRUE(clickFirstLink(b->window()->findChild<QTextBrowser*>("chatView")));
    ASSERT_TRUE(waitUntil([&] { return !platformB.openedFiles.isEmpty(); }, 30000))
        << b->mainWindow().statusText().toStdString();
    EXPECT_EQ(platformB.suggestedNames, QStringList{"사진 모음 100%.bin"});
    EXPECT_EQ(platformB.openedFiles, QStringList{saved});
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == original);
}

TEST_F(FilesEndToEnd, AFriendsPictureSetOnTheServerShowsInTheSidebarAndHeader) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::red);
    const QString png = dir.filePath("me.png");
    ASSERT_TRUE(image.save(png, "PNG"));
    QString error;
    const QString pictureId = FileTransfer::uploadPath(config, png, nullptr, &error);
    ASSERT_FALSE(pictureId.isEmpty()) << error.toStdString();
    const std::string setPicture = "{\"phone\":\"" + kPhoneB.toStdString() +
                                   "\",\"profile_pic\":\"" + pictureId.toStdString() + "\"}";
    // B exists on the server once signed in.
    ASSERT_TRUE(waitUntil([&] {
        const std::string body = addFriendBody(kPhoneA, kPhoneB, "").toStdString();
        return http(server.httpPort, "POST", kAddFriendPath, body).status == 200;
    }));
    ASSERT_EQ(http(server.httpPort, "POST", "/v1/profile", setPicture).status, 200);

    // The refresh started by showMain may still run: wait for it, then ask again.
    Directory& directory = a->directory();
    ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }));
    QSignalSpy listed(&directory, &Directory::listsChanged);
    directory.refresh();
    ASSERT_TRUE(waitUntil([&] { return listed.count() > 0; }));
    ASSERT_EQ(directory.friends().size(), 1);
    EXPECT_EQ(directory.friends()[0].profilePic, pictureId);
    a->room().open(room, "비"); // the header asks for the picture too
    ASSERT_TRUE(waitUntil([&] { return a->pictures().contains(pictureId); }, 10000));
    const QImage header = a->window()->findChild<QLabel*>("roomAvatarView")->pixmap().toImage();
    EXPECT_EQ(header.pixelColor(header.width() / 2, header.height() / 2), QColor(Qt::red));
}

// The thumbnails in a transcript's document (the 16-pixel pictures before headers left out).
QList<QImage> thumbnailsIn(QTextBrowser* view) {
    QList<QImage> out;
    QTextDocument* doc = view->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isImageFormat() && f.toImageFormat().width() > 16)
                out.append(
                    doc->resource(QTextDocument::ImageResource, QUrl(f.toImageFormat().name()))
                        .value<QImage>());
        }
    return out;
}

quint32 crc32Of(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST_F(FilesEndToEnd, PicturesSentAsFilesShowThumbnailsLiveAndInHistory) {
    a->room().open(room, "비");
    QImage picture(600, 300, QImage::Format_RGB32);
    picture.fill(QColor(30, 90, 200));
    const QString png = dir.filePath("바다.png");
    ASSERT_TRUE(picture.save(png, "PNG"));
    const QString txt = dir.filePath("메모.txt");
    {
        QFile file(txt);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    // A small PNG whose header claims 100,000 × 100,000 pixels.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(&buffer, "PNG"));
    QByteArray bomb = buffer.data();
    qToBigEndian(quint32(100000), bomb.data() + 16);
    qToBigEndian(quint32(100000), bomb.data() + 20);
    qToBigEndian(crc32Of(bomb.mid(12, 17)), bomb.data() + 29);
    const QString bombPath = dir.filePath("폭탄.png");
    {
        QFile file(bombPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bomb);
    }
    QStringList ids;
    for (const QString& path : {png, txt, bombPath}) {
        QString error;
        const QString id = FileTransfer::uploadPath(config, path, nullptr, &error);
        ASSERT_FALSE(id.isEmpty()) << error.toStdString();
        ids.append(id);
        a->client().sendFileMetaToRoom(room, id, QFileInfo(path).fileName(),
                                       QString::number(QFileInfo(path).size()));
    }

    // A sees its own messages come back: the picture gets its thumbnail, the others none.
    auto* viewA = a->window()->findChild<QTextBrowser*>("chatView");
    ASSERT_TRUE(waitUntil(
        [&] { return !thumbnailsIn(viewA).isEmpty() && a->pictures().thumbnailRefused(ids[2]); },
        15000));
    a->mainWindow().transcript().flush();
    ASSERT_EQ(a->mainWindow().transcript().chatItems().size(), 3);
    QList<QImage> shown = thumbnailsIn(viewA);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].size(), QSize(240, 120));
    EXPECT_EQ(shown[0].pixelColor(120, 60), QColor(30, 90, 200));
    EXPECT_FALSE(a->pictures().thumbnailRefused(ids[0]));
    EXPECT_TRUE(
        a->mainWindow().transcript().plainText().contains("[파일] 폭탄.png (클릭하여 저장)"));

    // B opens the room afterwards: the same from the history page.
    b->room().open(room, "에이");
    auto* viewB = b->window()->findChild<QTextBrowser*>("chatView");
    ASSERT_TRUE(waitUntil(
        [&] { return !thumbnailsIn(viewB).isEmpty() && b->pictures().thumbnailRefused(ids[2]); },
        15000));
    EXPECT_EQ(b->mainWindow().transcript().chatItems().size(), 3);
    shown = thumbnailsIn(viewB);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].size(), QSize(240, 120));
    // The text file was never fetched as a picture.
    EXPECT_FALSE(b->pictures().thumbnailRequests().running(ids[1]));
    EXPECT_FALSE(b->pictures().thumbnailRefused(ids[1]));
}

} // namespace
} // namespace brindlewick::test
