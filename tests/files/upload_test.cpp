// Sending a file: the open panel, the upload's progress and outcome, the announcement, drops.

#include "file_transfer.h"
#include "files_fixture.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThreadPool>
#include <QUrl>

namespace brindlewick::test {
namespace {

QString transcriptText(const MainController& c) {
    return c.transcript->plainText();
}

TEST_F(FilesTest, UploadReportsEachPercentOnceAndAnnouncesTheFile) {
    // Two and a half chunks: 40, 80, 100 after the chunks, then 100 again at the end.
    const QString path =
        writeFile("보고서 v2.pdf", QByteArray(5 * FileTransfer::kChunkSize / 2, 'x'));
    scriptUpload("f1", 3);
    controller->currentRoom = "room-1";
    platform.openPanelAnswers = {path};
    StatusRecorder recorder(controller->statusLabel);

    controller->attachFile();
    EXPECT_EQ(platform.panelTitles, QStringList{"보낼 파일 선택"});
    EXPECT_TRUE(controller->uploading);
    EXPECT_FALSE(controller->attachBtn->isEnabled());
    EXPECT_TRUE(controller->uploadProgressBar->isVisibleTo(controller->window()));
    EXPECT_EQ(controller->statusLabel->text(), "파일 업로드 중…");

    ASSERT_TRUE(waitForUpload());
    EXPECT_EQ(recorder.texts,
              (QStringList{"업로드 40%", "업로드 80%", "업로드 100%", "업로드 완료 — 전송됨"}));
    EXPECT_TRUE(controller->attachBtn->isEnabled());
    EXPECT_FALSE(controller->uploadProgressBar->isVisibleTo(controller->window()));
    EXPECT_EQ(transcriptText(*controller),
              "[시스템] 업로드 시작: 보고서 v2.pdf\n[시스템] 업로드 완료: 보고서 v2.pdf");

    ASSERT_TRUE(chat.waitForFrames(1));
    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::FileMeta).empty(); }));
    const FieldList meta = chat.framesOfType(MessageType::FileMeta).front().fields;
    EXPECT_EQ(meta, (FieldList{"room-1", "f1", "보고서 v2.pdf", "2621440", ""}));
}

TEST_F(FilesTest, TheAnnouncementGoesToTheRoomOpenWhenTheUploadStarted) {
    scriptUpload("f2", 1);
    controller->currentRoom = "first";
    platform.openPanelAnswers = {writeFile("a.txt", "abc")};
    controller->attachFile();
    controller->openRoom("second", "둘째");
    ASSERT_TRUE(waitForUpload());
    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::FileMeta).empty(); }));
    EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).front().fields.at(0), "first");
    // The lines go to whatever the window shows now.
    EXPECT_EQ(transcriptText(*controller), "[시스템] 업로드 완료: a.txt");
}

TEST_F(FilesTest, AnEmptyFileReportsOnlyTheFinalPercent) {
    scriptUpload("f0", 0);
    controller->currentRoom = "room";
    platform.openPanelAnswers = {writeFile("empty", "")};
    StatusRecorder recorder(controller->statusLabel);
    controller->attachFile();
    ASSERT_TRUE(waitForUpload());
    EXPECT_EQ(recorder.texts, (QStringList{"업로드 100%", "업로드 완료 — 전송됨"}));
    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::FileMeta).empty(); }));
    EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).front().fields.at(3), "0");
}

TEST_F(FilesTest, EveryFailureShowsItsLineAndStatusAndFreesTheButton) {
    struct Case {
        const char* what;
        std::function<void(FakeHttpServer&)> script;
        bool fileExists;
        QString expectedError;
    };
    const Case cases[] = {
        {"create refused",
         [](FakeHttpServer& h) { h.setReply("POST", "/v1/files", answer(507, "disk full")); }, true,
         "HTTP 507 disk full"},
        {"no id in the answer",
         [](FakeHttpServer& h) { h.setReply("POST", "/v1/files", answer(200, "{\"id\":7}")); },
         true, "file id 없음"},
        {"chunk refused",
         [](FakeHttpServer& h) {
             h.setReply("POST", "/v1/files", answer(200, "{\"id\":\"c1\"}"));
             h.setReply("PUT", "/v1/files/c1/chunks/0", answer(500, "청크 거부"));
         },
         true, "HTTP 500 청크 거부"},
        {"complete refused",
         [](FakeHttpServer& h) {
             h.setReply("POST", "/v1/files", answer(200, "{\"id\":\"c2\"}"));
             h.setReply("PUT", "/v1/files/c2/chunks/0", answer(200, ""));
         },
         true, "HTTP 404 "},
        {"file gone before reading",
         [](FakeHttpServer& h) { h.setReply("POST", "/v1/files", answer(200, "{\"id\":\"c3\"}")); },
         false, "파일 열기 실패"},
    };
    controller->currentRoom = "room";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeHttpServer http;
        c.script(http);
        // A fresh controller per case, pointed at this case's server.
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        MainController local(kMyPhone, kMyNick, QString(), config, platform);
        local.showMain();
        local.currentRoom = "room";
        const QString path = c.fileExists ? writeFile("up.bin", "data") : dir.filePath("missing");
        platform.openPanelAnswers = {path};
        local.attachFile();
        ASSERT_TRUE(waitUntil([&] { return !local.uploading; }, 10000));
        EXPECT_EQ(local.statusLabel->text(), "업로드 실패");
        EXPECT_TRUE(
            local.transcript->plainText().endsWith("[시스템] 업로드 실패: " + c.expectedError))
            << local.transcript->plainText().toStdString();
        EXPECT_TRUE(local.attachBtn->isEnabled());
        EXPECT_FALSE(local.uploadProgressBar->isVisibleTo(local.window()));
        QThreadPool::globalInstance()->waitForDone();
    }
    EXPECT_TRUE(chat.framesOfType(MessageType::FileMeta).empty());
}

TEST_F(FilesTest, PressingTheButtonDuringAnUploadOnlyBeeps) {
    scriptUpload("f3", 1);
    controller->currentRoom = "room";
    platform.openPanelAnswers = {writeFile("a", "1"), writeFile("b", "2")};
    controller->attachFile();
    controller->attachFile();
    EXPECT_EQ(platform.count("beep"), 1);
    EXPECT_EQ(platform.count("openPanel"), 1);
    ASSERT_TRUE(waitForUpload());
    ASSERT_TRUE(waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == 1; }));
    EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).front().fields.at(2), "a");
    EXPECT_EQ(requestCount("POST", "/v1/files"), 1);
}

TEST_F(FilesTest, WithoutARoomOnlyTheAlertAndACancelledPanelChangesNothing) {
    controller->attachFile();
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "먼저 채팅방을 열어주세요.");
    EXPECT_EQ(platform.count("openPanel"), 0);

    controller->currentRoom = "room";
    controller->setStatus("전");
    controller->attachFile(); // no answer scripted: cancelled
    EXPECT_EQ(platform.count("openPanel"), 1);
    EXPECT_FALSE(controller->uploading);
    EXPECT_TRUE(controller->attachBtn->isEnabled());
    EXPECT_EQ(controller->statusLabel->text(), "전");
    EXPECT_EQ(transcriptText(*controller), "");
    EXPECT_TRUE(http.requests().empty());
}

QMimeData* urlsOf(const QList<QUrl>& urls) {
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    mime->setText(urls.isEmpty() ? QString() : urls.first().toString());
    return mime;
}

bool drop(QWidget* target, QMimeData* mime) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent dropEvent(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropEvent);
    return accepted;
}

TEST_F(FilesTest, ADroppedFileIsSentLikeAChosenOne) {
    scriptUpload("d1", 1);
    controller->currentRoom = "room";
    const QString path = writeFile("끌어놓기.txt", "dropped");
    std::unique_ptr<QMimeData> mime(urlsOf({QUrl::fromLocalFile(path)}));
    // The text views would otherwise take the file's address as text.
    QWidget* const targets[] = {controller->window(), controller->composeView,
                                controller->composeView->viewport(), controller->chatView,
                                controller->chatView->viewport()};
    std::size_t sent = 0;
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->objectName().toStdString());
        EXPECT_TRUE(drop(target, mime.get()));
        ASSERT_TRUE(
            waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == sent + 1; }));
        ++sent;
        EXPECT_FALSE(controller->uploading);
        EXPECT_EQ(controller->composeView->toPlainText(), "");
        EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).back().fields.at(2), "끌어놓기.txt");
    }
    EXPECT_EQ(platform.count("openPanel"), 0);

    // While no room is open: the same alert as the button.
    controller->currentRoom.clear();
    EXPECT_TRUE(drop(controller->window(), mime.get()));
    ASSERT_TRUE(waitUntil([&] { return platform.alerts.size() == 1; }));
    EXPECT_EQ(platform.alerts[0].message, "먼저 채팅방을 열어주세요.");
}

TEST_F(FilesTest, FoldersAndRemoteAddressesAreNotTakenAsFiles) {
    controller->currentRoom = "room";
    std::unique_ptr<QMimeData> folder(urlsOf({QUrl::fromLocalFile(dir.path())}));
    std::unique_ptr<QMimeData> remote(urlsOf({QUrl("https://example.com/a.txt")}));
    EXPECT_FALSE(drop(controller->window(), folder.get()));
    EXPECT_FALSE(drop(controller->window(), remote.get()));
    spin(50);
    EXPECT_FALSE(controller->uploading);
    EXPECT_TRUE(platform.calls.isEmpty());
    EXPECT_TRUE(http.requests().empty());
}

} // namespace
} // namespace brindlewick::test
