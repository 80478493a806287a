// Sending a file: the open panel, the upload's progress and outcome, the announcement, drops.

#include "chat_protocol.h"
#include "directory_service.h"
#include "file_actions.h"
#include "file_transfer.h"
#include "files_fixture.h"
#include "main_window.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDropEvent>
#include <QLocale>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include <functional>

namespace brindlewick::test {
namespace {

TEST_F(FilesTest, UploadReportsEachPercentOnceAndAnnouncesTheFile) {
    // Two and a half chunks: 40, 80, 100 after the chunks, then 100 again at the end.
    const QString path = writeFile("보고서 v2.pdf", QByteArray(5 * transfer::kChunkSize / 2, 'x'));
    scriptUpload("f1", 3);
    controller->openRoom("room-1", "방");
    platform.openPanelAnswers = {path};
    StatusRecorder recorder(statusLabel());
    auto* attach = widget<QPushButton>("attachBtn");
    auto* progress = widget<QProgressBar>("uploadProgressBar");

    attach->click();
    EXPECT_EQ(platform.panelTitles, QStringList{"보낼 파일 선택"});
    EXPECT_TRUE(controller->uploading());
    EXPECT_FALSE(attach->isEnabled());
    EXPECT_TRUE(progress->isVisibleTo(controller->window()));
    EXPECT_EQ(statusLabel()->text(), "업로드 시작: 보고서 v2.pdf");

    ASSERT_TRUE(waitForUpload());
    EXPECT_EQ(recorder.texts, (QStringList{"업로드 40%", "업로드 80%", "업로드 100%",
                                           "업로드 완료: 보고서 v2.pdf"}));
    EXPECT_TRUE(attach->isEnabled());
    EXPECT_FALSE(progress->isVisibleTo(controller->window()));
    // Where the upload is shows in the status line only; the transcript holds the file, waiting
    // for the server's echo.
    QList<ChatItem> items = controller->transcript().chatItems();
    ASSERT_EQ(items.size(), 1);
    EXPECT_TRUE(items[0].isFile);
    EXPECT_EQ(items[0].text, "보고서 v2.pdf");
    EXPECT_EQ(items[0].fileSize, 2621440);
    EXPECT_EQ(items[0].sendState, SendState::Waiting);

    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::FileMeta).empty(); }));
    const FieldList meta = chat.framesOfType(MessageType::FileMeta).front().fields;
    ASSERT_EQ(meta.size(), 6u);
    EXPECT_EQ(FieldList(meta.begin(), meta.begin() + 5),
              (FieldList{"room-1", "f1", "보고서 v2.pdf", "2621440", ""}));
    EXPECT_TRUE(wire::isClientId(meta[5]));

    // The echo turns the row into the sent file.
    chat.sendFrame(MessageType::FileMeta,
                   wire::FileMessage{"room-1", kMyNick, "f1", "보고서 v2.pdf", "2621440",
                                     "2026-12-11T09:00:00", "7", kMyPhone, meta[5]}
                       .encode());
    ASSERT_TRUE(waitUntil([&] { return controller->session().outbox->size() == 0; }));
    items = controller->transcript().chatItems();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].sendState, SendState::Sent);
    EXPECT_EQ(items[0].fileId, "f1");
    EXPECT_EQ(items[0].msgId, "7");
}

TEST_F(FilesTest, TheAnnouncementGoesToTheRoomOpenWhenTheUploadStarted) {
    scriptUpload("f2", 1);
    controller->openRoom("first", "첫째");
    platform.openPanelAnswers = {writeFile("a.txt", "abc")};
    controller->attachFile();
    controller->openRoom("second", "둘째");
    ASSERT_TRUE(waitForUpload());
    ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::FileMeta).empty(); }));
    EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).front().fields.at(0), "first");
    EXPECT_EQ(statusLabel()->text(), "업로드 완료: a.txt");
    EXPECT_EQ(transcriptText(), "");
}

TEST_F(FilesTest, AnEmptyFileReportsOnlyTheFinalPercent) {
    scriptUpload("f0", 0);
    controller->openRoom("room", "방");
    platform.openPanelAnswers = {writeFile("empty", "")};
    StatusRecorder recorder(statusLabel());
    controller->attachFile();
    ASSERT_TRUE(waitForUpload());
    EXPECT_EQ(recorder.texts, (QStringList{"업로드 100%", "업로드 완료: empty"}));
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeHttpServer http;
        c.script(http);
        // A fresh controller per case, pointed at this case's server.
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        ClientUnderTest local(kMyPhone, kMyNick, QString(), config, platform);
        const int connection = chat.connectionCount() + 1;
        local.showMain();
        ASSERT_TRUE(signIn(local, connection));
        // The lists' counts would replace the failure's status.
        ASSERT_TRUE(local.waitForLists());
        local.openRoom("room", "방");
        const QString path = c.fileExists ? writeFile("up.bin", "data") : dir.filePath("missing");
        platform.openPanelAnswers = {path};
        local.attachFile();
        ASSERT_TRUE(waitUntil([&] { return !local.uploading(); }));
        const QString transcript = local.transcript().plainText();
        EXPECT_EQ(local.statusText(), "업로드 실패: " + c.expectedError);
        EXPECT_FALSE(transcript.contains("업로드")) << transcript.toStdString();
        EXPECT_TRUE(local.window()->findChild<QPushButton*>("attachBtn")->isEnabled());
        EXPECT_FALSE(local.window()
                         ->findChild<QProgressBar*>("uploadProgressBar")
                         ->isVisibleTo(local.window()));
    }
    EXPECT_TRUE(chat.framesOfType(MessageType::FileMeta).empty());
}

TEST_F(FilesTest, AskingAgainDuringAnUploadOnlyBeeps) {
    scriptUpload("f3", 1);
    controller->openRoom("room", "방");
    platform.openPanelAnswers = {writeFile("a", "1"), writeFile("b", "2")};
    controller->attachFile();
    controller->attachFile();
    // A drop too: the same one upload at a time.
    controller->session().files->attachDroppedFile(writeFile("c", "3"));
    EXPECT_EQ(platform.count("beep"), 2);
    EXPECT_EQ(platform.count("openPanel"), 1);
    ASSERT_TRUE(waitForUpload());
    ASSERT_TRUE(waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == 1; }));
    EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).front().fields.at(2), "a");
    EXPECT_EQ(requestCount("POST", "/v1/files"), 1);
}

TEST_F(FilesTest, WithoutARoomOnlyTheAlertAndACancelledPanelChangesNothing) {
    // "파일" is off without a room; asked another way, the action still refuses.
    EXPECT_FALSE(widget<QPushButton>("attachBtn")->isEnabled());
    controller->attachFile();
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "먼저 채팅방을 열어주세요.");
    EXPECT_EQ(platform.count("openPanel"), 0);

    controller->openRoom("room", "방");
    const QString status = statusLabel()->text();
    controller->attachFile(); // no answer scripted: cancelled
    EXPECT_EQ(platform.count("openPanel"), 1);
    EXPECT_FALSE(controller->uploading());
    EXPECT_TRUE(widget<QPushButton>("attachBtn")->isEnabled());
    EXPECT_EQ(statusLabel()->text(), status);
    EXPECT_EQ(transcriptText(), "");
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
    controller->openRoom("room", "방");
    const QString path = writeFile("끌어놓기.txt", "dropped");
    std::unique_ptr<QMimeData> mime(urlsOf({QUrl::fromLocalFile(path)}));
    auto* composer = widget<QPlainTextEdit>("composeView");
    auto* chatView = widget<QAbstractScrollArea>("chatView");
    // The text views would otherwise take the file's address as text.
    QWidget* const targets[] = {controller->window(), composer, composer->viewport(), chatView,
                                chatView->viewport()};
    std::size_t sent = 0;
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->objectName().toStdString());
        EXPECT_TRUE(drop(target, mime.get()));
        ASSERT_TRUE(
            waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == sent + 1; }));
        ++sent;
        EXPECT_FALSE(controller->uploading());
        EXPECT_EQ(composer->toPlainText(), "");
        EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).back().fields.at(2), "끌어놓기.txt");
    }
    EXPECT_EQ(platform.count("openPanel"), 0);
    // Each drop asked first (the fake answers with the first button, "보내기").
    EXPECT_EQ(platform.count("alert"), int(sent));

    // While no room is open: the same alert as the button, and no question.
    platform.clear();
    controller->closeRoom();
    EXPECT_TRUE(drop(controller->window(), mime.get()));
    ASSERT_TRUE(waitUntil([&] { return platform.alerts.size() == 1; }));
    EXPECT_EQ(platform.alerts[0].message, "먼저 채팅방을 열어주세요.");
}

TEST_F(FilesTest, ADropAsksBeforeSending) {
    scriptUpload("d2", 1);
    controller->openRoom("room", "방");
    const QString path = writeFile("발표 자료.txt", QByteArray(1536, 'x'));
    struct Case {
        const char* name;
        int answer;
        std::function<void()> duringAlert;
        bool sent;
    };
    const Case cases[] = {
        {"cancelled", Platform::kFirstButton + 1, {}, false},
        // The question ran the event loop: the room it was dropped on has gone.
        {"room changed meanwhile", Platform::kFirstButton,
         [this] { controller->openRoom("other", "다른 방"); }, false},
        {"confirmed", Platform::kFirstButton, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.clear();
        controller->openRoom("room", "방");
        platform.alertAnswers = {c.answer};
        platform.duringAlert = c.duringAlert;
        controller->session().files->attachDroppedFile(path);
        platform.duringAlert = nullptr;
        ASSERT_EQ(platform.alerts.size(), 1);
        EXPECT_EQ(platform.alerts[0].message, "파일을 보낼까요?");
        EXPECT_EQ(platform.alerts[0].informativeText,
                  "발표 자료.txt (" +
                      QLocale().formattedDataSize(1536, 1, QLocale::DataSizeTraditionalFormat) +
                      ")");
        EXPECT_EQ(platform.alerts[0].buttons, QStringList({"보내기", "취소"}));
        EXPECT_EQ(controller->uploading(), c.sent);
    }
    ASSERT_TRUE(waitForUpload());
    ASSERT_TRUE(waitUntil([&] { return chat.framesOfType(MessageType::FileMeta).size() == 1; }));
    EXPECT_EQ(chat.framesOfType(MessageType::FileMeta).front().fields.at(0), "room");
    EXPECT_EQ(requestCount("POST", "/v1/files"), 1);
}

TEST_F(FilesTest, TheWindowIsHighlightedWhileAFileIsDraggedOverIt) {
    controller->openRoom("room", "방");
    platform.alertAnswers = {Platform::kFirstButton + 1};
    std::unique_ptr<QMimeData> file(urlsOf({QUrl::fromLocalFile(writeFile("a.txt", "1"))}));
    std::unique_ptr<QMimeData> folder(urlsOf({QUrl::fromLocalFile(dir.path())}));
    auto* highlight = widget<QWidget>("dropHighlight");
    QWidget* window = controller->window();
    QWidget* composer = widget<QPlainTextEdit>("composeView")->viewport();
    const auto enter = [](QWidget* target, QMimeData* mime) {
        QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    };
    const auto leave = [](QWidget* target) {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(target, &event);
    };
    EXPECT_FALSE(highlight->isVisible());
    enter(window, folder.get());
    EXPECT_FALSE(highlight->isVisible()) << "a folder is not sent";
    enter(window, file.get());
    EXPECT_TRUE(highlight->isVisible());
    EXPECT_EQ(highlight->geometry(), highlight->parentWidget()->rect());
    // Over the composer: the window is left, the composer entered; the highlight stays.
    leave(window);
    enter(composer, file.get());
    EXPECT_TRUE(highlight->isVisible());
    leave(composer);
    EXPECT_FALSE(highlight->isVisible());
    // A drop ends it too, before the question.
    enter(window, file.get());
    EXPECT_TRUE(drop(window, file.get()));
    EXPECT_FALSE(highlight->isVisible());
    ASSERT_TRUE(waitUntil([&] { return platform.alerts.size() == 1; }));
    EXPECT_FALSE(controller->uploading());
}

TEST_F(FilesTest, FoldersAndRemoteAddressesAreNotTakenAsFiles) {
    controller->openRoom("room", "방");
    std::unique_ptr<QMimeData> folder(urlsOf({QUrl::fromLocalFile(dir.path())}));
    std::unique_ptr<QMimeData> remote(urlsOf({QUrl("https://example.com/a.txt")}));
    EXPECT_FALSE(drop(controller->window(), folder.get()));
    EXPECT_FALSE(drop(controller->window(), remote.get()));
    spin(50);
    EXPECT_FALSE(controller->uploading());
    EXPECT_TRUE(platform.calls.isEmpty());
    EXPECT_TRUE(http.requests().empty());
}

} // namespace
} // namespace brindlewick::test
