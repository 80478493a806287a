// Saving a file from a transcript link: which links count, the name offered, the download.

#include "chat_events.h"
#include "file_actions.h"
#include "file_link.h"
#include "files_fixture.h"
#include "main_window.h"
#include "messages.h"
#include "room_session.h"
#include "transcript_points.h"
#include "transcript_view.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace brindlewick::test {
namespace {

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A message's row as the transcript shows it, and the point where a click acts on it.
QPoint clickPointOf(ClientUnderTest& controller, const QString& msgId) {
    TranscriptView& transcript = controller.transcript();
    transcript.flush();
    return linkPointIn(transcript.view(), transcript.rowOfMsgId(msgId));
}

void receiveFile(ClientUnderTest& controller, const QString& name, const QString& fileId,
                 const QString& msgId) {
    wire::FileMessage file;
    file.room = "room";
    file.sender = "01099998888";
    file.fileId = fileId.toStdString();
    file.name = name.toStdString();
    file.size = "3";
    file.msgId = msgId.toStdString();
    controller.receiveFrame(wire::FileMessage::kType, file.encode());
}

TEST_F(FilesTest, FilesOfferThemselvesUnderAPlainName) {
    controller->openRoom("room", "방");
    struct Case {
        QString name;       // as the sender wrote it
        QString suggestion; // what the save panel offers
    };
    const Case cases[] = {
        {"보고서 최종.pdf", "보고서 최종.pdf"},
        // Nothing is decoded: a name holding "%25" is offered as written.
        {"100%25.txt", "100%25.txt"},
        {"50% off.txt", "50% off.txt"},
        // Another user's name never points the panel at another folder.
        {"../../.bashrc", ".bashrc"},
        {"..\\..\\win.ini", "win.ini"},
        {"..", "file"},
        {"a/", "file"},
        // Nor reads otherwise than it is.
        {QStringLiteral("fdp\u202E.exe"), "fdp.exe"},
    };
    MessageListView* view = controller->transcript().view();
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString msgId = QString::number(++id);
        receiveFile(*controller, c.name, "abc", msgId);
        const QPoint at = clickPointOf(*controller, msgId);
        ASSERT_FALSE(at.isNull());
        platform.clear();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(platform.calls, QStringList{"savePanel"});
        EXPECT_EQ(platform.panelTitles, QStringList{"파일 저장"});
        EXPECT_EQ(platform.suggestedNames, QStringList{c.suggestion});
    }
    // A cancelled panel downloads nothing.
    spin(20);
    EXPECT_EQ(requestCount("GET", "/v1/files/abc"), 0);
}

// Addresses in a message's text go to the desktop, never to a save panel; text written like
// a file's link is only text.
TEST_F(FilesTest, AddressesInTextAreNeverFiles) {
    controller->openRoom("room", "방");
    const std::pair<QString, QString> cases[] = {
        {"http://example.com/a.txt", "http://example.com/a.txt"},
        {"x@example.com", "mailto:x@example.com"},
        {"brindlewick-file://abc/a.txt", ""},
    };
    MessageListView* view = controller->transcript().view();
    int id = 0;
    for (const auto& [text, opened] : cases) {
        SCOPED_TRACE(text.toStdString());
        const QString msgId = QString::number(++id);
        wire::ChatMessage message;
        message.room = "room";
        message.sender = "01099998888";
        message.text = text.toStdString();
        message.msgId = msgId.toStdString();
        controller->receiveFrame(wire::ChatMessage::kType, message.encode());
        const QPoint at = clickPointOf(*controller, msgId);
        if (opened.isEmpty()) {
            EXPECT_TRUE(at.isNull()); // no place of it is a link
            continue;
        }
        ASSERT_FALSE(at.isNull());
        platform.clear();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        EXPECT_EQ(platform.calls, QStringList{"openUrl"});
        EXPECT_EQ(platform.openedUrls, QList<QUrl>{QUrl(opened)});
    }
    EXPECT_EQ(platform.count("savePanel"), 0);
}

TEST_F(FilesTest, AClickOnAFileEntryOpensOneSavePanel) {
    controller->openRoom("room", "방");
    receiveFile(*controller, "사진 1.png", "abc", "m1");
    const TranscriptView& transcript = controller->transcript();
    ASSERT_TRUE(waitUntil([&] { return transcript.chatItems().size() == 1; }));
    ASSERT_TRUE(transcript.chatItems()[0].isFile);
    // One click, one panel, whatever else hears of it.
    const QPoint at = clickPointOf(*controller, "m1");
    ASSERT_FALSE(at.isNull());
    QTest::mouseClick(transcript.view()->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(platform.count("savePanel"), 1);
    EXPECT_EQ(platform.suggestedNames, QStringList{"사진 1.png"});
}

TEST_F(FilesTest, ASavedFileIsWrittenAndOpened) {
    http.setReply("GET", "/v1/files/abc", answer(200, "파일 내용"));
    const QString dest = dir.filePath("저장.txt");
    platform.savePanelAnswers = {dest};
    controller->session().files->saveFile("abc", "a.txt");
    EXPECT_EQ(statusLabel()->text(), "다운로드 중…");
    ASSERT_TRUE(waitUntil([&] { return !platform.openedFiles.isEmpty(); }));
    EXPECT_EQ(platform.openedFiles, QStringList{dest});
    EXPECT_EQ(contentsOf(dest), "파일 내용");
    EXPECT_EQ(statusLabel()->text(), "저장됨: " + dest);
    EXPECT_TRUE(platform.alerts.isEmpty());
    // Nothing of the download stays beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"저장.txt"});
}

// Another user chose the content: what could run is saved and reported, never started.
TEST_F(FilesTest, ASavedFileThatCouldRunIsKeptButNotOpened) {
    const std::pair<const char*, QByteArray> cases[] = {
        {"설치.sh", "echo hi\n"},
        {"사진.txt", "#!/bin/sh\nrm -rf ~\n"},
        {"바로가기.desktop", "[Desktop Entry]\nType=Application\nExec=true\n"},
    };
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        platform.clear();
        http.setReply("GET", "/v1/files/run", answer(200, content));
        const QString dest = dir.filePath(QString::fromUtf8(name));
        platform.savePanelAnswers = {dest};
        controller->session().files->saveFile("run", QString::fromUtf8(name));
        ASSERT_TRUE(waitUntil([&] { return statusLabel()->text() == "저장됨: " + dest; }));
        EXPECT_EQ(contentsOf(dest), content);
        EXPECT_TRUE(platform.openedFiles.isEmpty());
        EXPECT_TRUE(platform.alerts.isEmpty());
    }
}

TEST_F(FilesTest, AFailedDownloadShowsStatusAndAlertAndKeepsTheOldFile) {
    http.setReply("GET", "/v1/files/gone", answer(410, "만료됨"));
    const QString dest = writeFile("old.txt", "keep me");
    platform.savePanelAnswers = {dest};
    controller->session().files->saveFile("gone", QString());
    EXPECT_EQ(platform.suggestedNames, QStringList{""});
    ASSERT_TRUE(waitUntil([&] { return !platform.alerts.isEmpty(); }));
    EXPECT_EQ(statusLabel()->text(), "다운로드 실패: HTTP 410 만료됨");
    EXPECT_EQ(platform.alerts[0].message, "다운로드 실패");
    EXPECT_EQ(platform.alerts[0].informativeText, "HTTP 410 만료됨");
    EXPECT_TRUE(platform.openedFiles.isEmpty());
    EXPECT_EQ(contentsOf(dest), "keep me");

    // Into a folder that does not exist.
    http.setReply("GET", "/v1/files/abc", answer(200, "x"));
    platform.savePanelAnswers = {dir.filePath("no/such/folder/x.txt")};
    controller->session().files->saveFile("abc", "x.txt");
    ASSERT_TRUE(waitUntil([&] { return platform.alerts.size() == 2; }));
    EXPECT_EQ(statusLabel()->text(), "다운로드 실패: 저장 실패");
}

TEST_F(FilesTest, TwoDownloadsRunSideBySideAndEachReportsItself) {
    http.setReply("GET", "/v1/files/one", answer(200, "첫째"));
    http.setReply("GET", "/v1/files/two", answer(200, "둘째"));
    const QString first = dir.filePath("1.txt");
    const QString second = dir.filePath("2.txt");
    platform.savePanelAnswers = {first, second};
    controller->session().files->saveFile("one", "1.txt");
    controller->session().files->saveFile("two", "2.txt");
    ASSERT_TRUE(waitUntil([&] { return platform.openedFiles.size() == 2; }));
    EXPECT_TRUE(platform.openedFiles.contains(first));
    EXPECT_TRUE(platform.openedFiles.contains(second));
    EXPECT_EQ(contentsOf(first), "첫째");
    EXPECT_EQ(contentsOf(second), "둘째");
}

TEST_F(FilesTest, NoFileIdNoPanel) {
    controller->session().files->saveFile(QString(), "a.txt");
    EXPECT_TRUE(platform.calls.isEmpty());
}

} // namespace
} // namespace brindlewick::test
