// Pasting into the composer through the clipboard: a picture is sent as a PNG file after a
// question with its preview, copied files after the drop's confirmation, text stays text.

#include "chat_protocol.h"
#include "file_actions.h"
#include "files_fixture.h"
#include "main_window.h"
#include "room_session.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLocale>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

namespace brindlewick::test {
namespace {

class PasteTest : public FilesTest {
protected:
    // Puts `mime` on the clipboard and presses Ctrl+V in the composer, as a user would.
    void paste(QMimeData* mime) {
        QGuiApplication::clipboard()->setMimeData(mime);
        QPlainTextEdit* composer = widget<QPlainTextEdit>("composeView");
        composer->setFocus();
        QTest::keyClick(composer, Qt::Key_V, Qt::ControlModifier);
        // The question comes after the key's own handling.
        QCoreApplication::processEvents();
    }
    QString composerText() const { return widget<QPlainTextEdit>("composeView")->toPlainText(); }

    static QImage picture() {
        QImage image(300, 120, QImage::Format_RGB32);
        image.fill(QColor(20, 140, 60));
        image.setPixelColor(0, 0, Qt::white); // the corner tells a flipped or scaled copy
        return image;
    }
};

TEST_F(PasteTest, APastedPictureIsSentAsAPngFileOnceConfirmed) {
    scriptUpload("p1", 1);
    controller->openRoom("room", "방");
    auto* mime = new QMimeData;
    mime->setImageData(picture());
    paste(mime);

    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "이미지를 보낼까요?");
    EXPECT_EQ(platform.alerts[0].buttons, QStringList({"보내기", "취소"}));
    ASSERT_EQ(platform.alertPictures.size(), 1);
    EXPECT_EQ(platform.alertPictures[0].size(), picture().size());
    EXPECT_TRUE(composerText().isEmpty());
    ASSERT_TRUE(controller->uploading());
    ASSERT_TRUE(waitForUpload());

    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::FileMeta).empty(); }));
    const FieldList fields = chat.framesOfType(MessageType::FileMeta).front().fields;
    QStringList meta;
    for (const std::string& field : fields)
        meta.append(QString::fromStdString(field));
    EXPECT_EQ(meta.at(0), "room");
    EXPECT_TRUE(
        QRegularExpression("^붙여넣은 이미지 \\d{8}-\\d{6}\\.png$").match(meta.at(2)).hasMatch())
        << meta.at(2).toStdString();
    // The bytes that reached the server are a PNG of the very picture.
    QByteArray sent;
    for (const RecordedRequest& r : http.requests())
        if (r.method == "PUT")
            sent += r.body;
    EXPECT_TRUE(sent.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(sent, "PNG").convertToFormat(QImage::Format_RGB32), picture());
    EXPECT_EQ(meta.at(3), QString::number(sent.size()));

    // The PNG waits beside the outbox until the server has the file, then goes.
    const QDir kept(controller->session().outbox->filesFolder());
    EXPECT_EQ(kept.entryList(QDir::Files).size(), 1);
    chat.sendFrame(MessageType::FileMeta,
                   wire::FileMessage{"room", kMyNick, "p1", fields.at(2), fields.at(3),
                                     "2026-12-11T09:00:00", "3", kMyPhone, fields.at(5)}
                       .encode());
    ASSERT_TRUE(waitUntil([&] { return controller->session().outbox->size() == 0; }));
    EXPECT_TRUE(kept.entryList(QDir::Files).isEmpty());
}

TEST_F(PasteTest, NothingLeavesWhenThePictureIsRefusedOrNoRoomIsOpen) {
    controller->openRoom("room", "방");
    platform.alertAnswers = {Platform::kFirstButton + 1};
    auto* mime = new QMimeData;
    mime->setImageData(picture());
    paste(mime);
    EXPECT_EQ(platform.alerts.size(), 1);
    EXPECT_FALSE(controller->uploading());

    // The composer is off without a room; the action itself still refuses.
    controller->closeRoom();
    platform.clear();
    controller->session().files->attachPastedImage(picture());
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "먼저 채팅방을 열어주세요.");
    EXPECT_TRUE(platform.alertPictures.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(requestCount("POST", "/v1/files"), 0);
}

TEST_F(PasteTest, PastedFilesAreConfirmedOnceAndSentOneAfterAnother) {
    scriptUpload("f1", 1);
    controller->openRoom("room", "방");
    const QString first = writeFile("첫째.txt", "one");
    const QString second = writeFile("둘째.pdf", QByteArray(2048, 'x'));
    auto* mime = new QMimeData;
    // Folders and remote addresses are not files to send.
    mime->setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(dir.path()),
                   QUrl("https://example.org/a.png"), QUrl::fromLocalFile(second)});
    mime->setText(first);
    paste(mime);

    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "파일을 보낼까요?");
    const auto size = [](qint64 bytes) {
        return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
    };
    EXPECT_EQ(platform.alerts[0].informativeText,
              "첫째.txt (" + size(3) + ")\n둘째.pdf (" + size(2048) + ")");
    EXPECT_TRUE(composerText().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == 2; }));
    ASSERT_TRUE(waitForUpload());
    const auto frames = chat.framesOfType(MessageType::FileMeta);
    EXPECT_EQ(QString::fromStdString(frames[0].fields.at(2)), "첫째.txt");
    EXPECT_EQ(QString::fromStdString(frames[1].fields.at(2)), "둘째.pdf");
    EXPECT_EQ(frames[1].fields.at(0), "room");
    EXPECT_EQ(requestCount("POST", "/v1/files"), 2);
}

TEST_F(PasteTest, EveryFileOfAPasteGoesToItsRoomWhenAnotherOpens) {
    scriptUpload("f1", 1);
    controller->openRoom("room", "방");
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(writeFile("a.txt", "a")),
                   QUrl::fromLocalFile(writeFile("b.txt", "b"))});
    paste(mime);
    ASSERT_TRUE(controller->uploading());
    // Both wait in the outbox for the room they were pasted into.
    controller->openRoom("other", "다른 방");
    ASSERT_TRUE(waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == 2; }));
    ASSERT_TRUE(waitForUpload());
    const auto frames = chat.framesOfType(MessageType::FileMeta);
    EXPECT_EQ(frames[0].fields.at(0), "room");
    EXPECT_EQ(frames[0].fields.at(2), "a.txt");
    EXPECT_EQ(frames[1].fields.at(0), "room");
    EXPECT_EQ(frames[1].fields.at(2), "b.txt");
    EXPECT_EQ(requestCount("POST", "/v1/files"), 2);
}

TEST_F(PasteTest, TextIsPastedAsPlainTextWithoutAnyQuestion) {
    controller->openRoom("room", "방");
    struct Case {
        const char* name;
        std::function<QMimeData*()> make;
        QString expected;
    };
    const Case cases[] = {
        {"plain text",
         [] {
             auto* m = new QMimeData;
             m->setText("안녕 <b>하세요</b>");
             return m;
         },
         "안녕 <b>하세요</b>"},
        {"rich text keeps only its characters",
         [] {
             auto* m = new QMimeData;
             m->setHtml("<p><b>굵게</b> <img src=\"x.png\"></p>");
             m->setText("굵게");
             return m;
         },
         "굵게"},
        // Copied cells bring a rendering along; the text is what was meant.
        {"text with a picture beside it",
         [] {
             auto* m = new QMimeData;
             m->setText("표 내용");
             m->setImageData(picture());
             return m;
         },
         "표 내용"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        widget<QPlainTextEdit>("composeView")->clear();
        platform.clear();
        paste(c.make());
        EXPECT_EQ(composerText(), c.expected);
        EXPECT_TRUE(platform.alerts.isEmpty());
        EXPECT_FALSE(controller->uploading());
    }
}

} // namespace
} // namespace brindlewick::test
