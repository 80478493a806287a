// Two signed-in clients in one process against the real server: a file goes from one to the
// other through the file button and a click on the link, a picture set on the server shows,
// and pictures sent as files show as thumbnails, live and in history pages.

#include "chat_client.h"
#include "chat_protocol.h"
#include "client_under_test.h"
#include "directory.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "file_actions.h"
#include "file_transfer.h"
#include "main_window.h"
#include "picture_cache.h"
#include "room_session.h"
#include "server_harness.h"
#include "transcript_points.h"
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
        a = std::make_unique<ClientUnderTest>(kPhoneA, "에이", "", config, platformA);
        b = std::make_unique<ClientUnderTest>(kPhoneB, "비", "", config, platformB);
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
    std::unique_ptr<ClientUnderTest> a, b;
    QString room;
    QTemporaryDir dir;
};

// Clicks the newest message's file name the way a user would.
bool clickNewestFile(TranscriptView& transcript) {
    transcript.flush();
    const ChatItem* newest = transcript.lastMessage();
    if (!newest || !newest->isFile)
        return false;
    MessageListView* view = transcript.view();
    const QPoint at = linkPointIn(view, transcript.rowOfMsgId(newest->msgId));
    if (at.isNull())
        return false;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

TEST_F(FilesEndToEnd, AFileSentByOneIsSavedByTheOtherByteForByte) {
    a->openRoom(room, "비");
    b->openRoom(room, "에이");

    QByteArray original(3 * 1024 * 1024 + 123, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(original.data()), original.size() / 4);
    const QString source = dir.filePath("사진 모음 100%.bin");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(original);
    }
    platformA.openPanelAnswers = {source};
    // A file chosen before the sign-in would wait for it: this one goes at once.
    ASSERT_TRUE(a->waitSignedIn());
    a->attachFile();
    ASSERT_TRUE(waitUntil([&] { return !a->uploading(); }, 30000));
    EXPECT_EQ(a->statusText(), "업로드 완료: 사진 모음 100%.bin");

    // The server hands the file message to both; B shows it as a link.
    ASSERT_TRUE(waitUntil(
        [&] {
            const QList<ChatItem>& items = b->transcript().chatItems();
            return !items.isEmpty() && items.last().isFile;
        },
        10000));
    EXPECT_EQ(b->transcript().chatItems().last().fileName, "사진 모음 100%.bin");

    const QString saved = dir.filePath("받은 파일.bin");
    platformB.savePanelAnswers = {saved};
    b->window()->resize(840, 600);
    b->transcript().flush();
    ASSERT_TRUE(clickNewestFile(b->transcript()));
    ASSERT_TRUE(waitUntil([&] { return !platformB.openedFiles.isEmpty(); }, 30000))
        << b->statusText().toStdString();
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
    const QString pictureId = transfer::upload(config, png, nullptr, &error);
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
    Directory& directory = *a->session().directory;
    ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }));
    QSignalSpy listed(&directory, &Directory::listsChanged);
    directory.refresh();
    ASSERT_TRUE(waitUntil([&] { return listed.count() > 0; }));
    ASSERT_EQ(directory.friends().size(), 1);
    EXPECT_EQ(directory.friends()[0].profilePic, pictureId);
    a->openRoom(room, "비"); // the header asks for the picture too
    ASSERT_TRUE(waitUntil([&] { return a->session().pictures->contains(pictureId); }));
    const QImage header = a->window()->findChild<QLabel*>("roomAvatarView")->pixmap().toImage();
    EXPECT_EQ(header.pixelColor(header.width() / 2, header.height() / 2), QColor(Qt::red));
}

// Where pixels of `color` are drawn in the row of `msgId`, brought into view: their bounding box
// in the viewport, empty when there are none.
QRect drawnBoxOf(TranscriptView& transcript, const QString& msgId, const QColor& color) {
    transcript.flush();
    MessageListView* view = transcript.view();
    view->ensureVisible(transcript.rowOfMsgId(msgId));
    view->settle();
    const QImage shot = view->viewport()->grab().toImage();
    const QRect row = view->visualRect(transcript.rowOfMsgId(msgId)) & shot.rect();
    QRect box;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x <= row.right(); ++x)
            if (shot.pixelColor(x, y) == color)
                box |= QRect(x, y, 1, 1);
    return box;
}

// The picture's thumbnail is drawn in its row at the thumbnail's size (its rounded corners
// aside).
void expectThumbnailDrawn(TranscriptView& transcript, const QString& msgId, const QColor& color) {
    const QRect box = drawnBoxOf(transcript, msgId, color);
    ASSERT_FALSE(box.isEmpty());
    EXPECT_NEAR(box.width(), 240, 4);
    EXPECT_NEAR(box.height(), 120, 4);
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
    a->openRoom(room, "비");
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
        const QString id = transfer::upload(config, path, nullptr, &error);
        ASSERT_FALSE(id.isEmpty()) << error.toStdString();
        ids.append(id);
        a->session().client->sendFileMetaToRoom(room, id, QFileInfo(path).fileName(),
                                                QString::number(QFileInfo(path).size()));
    }

    // A sees its own messages come back: the picture gets its thumbnail, the others none.
    const QColor sea(30, 90, 200);
    TranscriptView& transcriptA = a->transcript();
    ASSERT_TRUE(waitUntil(
        [&] {
            return transcriptA.thumbnailResourceCount() == 1 &&
                   a->session().pictures->thumbnailRefused(ids[2]);
        },
        15000));
    transcriptA.flush();
    const QList<ChatItem> itemsA = transcriptA.chatItems();
    ASSERT_EQ(itemsA.size(), 3);
    expectThumbnailDrawn(transcriptA, itemsA[0].msgId, sea);
    for (const int other : {1, 2})
        EXPECT_TRUE(drawnBoxOf(transcriptA, itemsA[other].msgId, sea).isEmpty()) << other;
    EXPECT_FALSE(a->session().pictures->thumbnailRefused(ids[0]));
    EXPECT_TRUE(transcriptA.plainText().contains(": 파일 폭탄.png " +
                                                 TranscriptModel::sizeText(bomb.size())));

    // B opens the room afterwards: the same from the history page.
    b->openRoom(room, "에이");
    TranscriptView& transcriptB = b->transcript();
    ASSERT_TRUE(waitUntil(
        [&] {
            return transcriptB.thumbnailResourceCount() == 1 &&
                   b->session().pictures->thumbnailRefused(ids[2]);
        },
        15000));
    const QList<ChatItem> itemsB = transcriptB.chatItems();
    ASSERT_EQ(itemsB.size(), 3);
    expectThumbnailDrawn(transcriptB, itemsB[0].msgId, sea);
    // The text file was never fetched as a picture.
    EXPECT_FALSE(b->session().pictures->thumbnailRequests().running(ids[1]));
    EXPECT_FALSE(b->session().pictures->thumbnailRefused(ids[1]));
}

} // namespace
} // namespace brindlewick::test
