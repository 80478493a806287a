// The transcript against the real server as a reader meets it: reading further up is never
// disturbed by what arrives, and the button for new messages takes the reader down.

#include "client_under_test.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "main_window.h"
#include "message_list_view.h"
#include "room_history.h"
#include "room_session.h"
#include "server_harness.h"
#include "transcript_view.h"

#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kRoom = QStringLiteral("dm:01000000001:01000000002");

class TranscriptEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(dataDir);
        config.chatPort = server->chatPort;
        config.httpPort = server->httpPort;
        {
            // The server knows both people of a direct room before it is used.
            ChatConnection reader(server->chatPort);
            ASSERT_TRUE(reader.signIn("01000000002", "비"));
        }
        writer = std::make_unique<ChatConnection>(server->chatPort);
        ASSERT_TRUE(writer->signIn("01000000001", "에이"));
    }
    void TearDown() override {
        writer.reset();
        server.reset();
        std::filesystem::remove_all(dataDir);
    }
    void say(const std::string& text) {
        writer->send(wire::ChatRequest{kRoom.toStdString(), text, ""});
        ASSERT_TRUE(writer->nextOf(MessageType::Chat)) << text;
    }

    std::string dataDir = makeTempDir();
    std::unique_ptr<ServerProcess> server;
    ServerConfig config;
    std::unique_ptr<ChatConnection> writer;
};

void wheelUp(QWidget* viewport, int notches) {
    const QPoint at = viewport->rect().center();
    for (int i = 0; i < notches; ++i) {
        QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
    }
}

} // namespace

TEST_F(TranscriptEndToEnd, ReadingUpIsNotYankedAndTheButtonBringsTheReaderDown) {
    for (int i = 1; i <= 60; ++i)
        say("글 " + std::to_string(i));
    FakePlatform platform;
    ClientUnderTest b(QStringLiteral("01000000002"), QStringLiteral("비"), QStringLiteral(""),
                      config, platform);
    b.showMain();
    b.window()->resize(900, 600);
    ASSERT_TRUE(waitUntil([&] { return b.statusText().startsWith("친구"); }));
    b.openRoom(kRoom, QStringLiteral("에이"));
    ASSERT_TRUE(waitUntil([&] { return b.session().history->opened(); }));
    TranscriptView& transcript = b.transcript();
    MessageListView* view = transcript.view();
    // All of it is unread: the room lands on its first message, after the older page.
    ASSERT_TRUE(
        waitUntil([&] { return transcript.showsBeginning() && !b.session().history->loading(); }));
    transcript.flush();
    view->scrollToBottom();
    ASSERT_TRUE(view->atBottom());

    // Up a few screens, as a reader would with the wheel, short of the top (no older page).
    wheelUp(view->viewport(), 6);
    ASSERT_FALSE(view->atBottom());
    const int firstRow = view->shownRows().first;
    const QString firstText = transcript.model().spokenText(firstRow);
    const int firstTop = view->visualRect(firstRow).top();
    QPushButton* button = view->newMessagesButton();
    EXPECT_FALSE(button->isVisible());

    say("새 글 하나");
    say("새 글 둘");
    ASSERT_TRUE(waitUntil([&] { return transcript.rowOfMsgId(QStringLiteral("62")) >= 0; }));
    transcript.flush();
    // The same row stands where it stood.
    const int nowFirst = view->shownRows().first;
    EXPECT_EQ(transcript.model().spokenText(nowFirst), firstText);
    EXPECT_EQ(view->visualRect(nowFirst).top(), firstTop);
    ASSERT_TRUE(button->isVisible());
    EXPECT_EQ(button->text(), QStringLiteral("새 메시지 2개 ↓"));
    EXPECT_TRUE(button->accessibleName().startsWith(QStringLiteral("새 메시지")));

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(view->atBottom());
    EXPECT_FALSE(button->isVisible());
    const int newest = transcript.rowOfMsgId(QStringLiteral("62"));
    EXPECT_EQ(view->shownRows().second, newest);
    EXPECT_FALSE(view->visualRect(newest).isEmpty());

    // At the bottom, new messages scroll into view as they come.
    say("새 글 셋");
    ASSERT_TRUE(waitUntil([&] { return transcript.rowOfMsgId(QStringLiteral("63")) >= 0; }));
    transcript.flush();
    EXPECT_EQ(view->shownRows().second, transcript.rowOfMsgId(QStringLiteral("63")));
    EXPECT_FALSE(button->isVisible());
}
