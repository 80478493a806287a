// The open room's past through the real server: what was said while signed out, reopening and
// restarting, paging a long room to its beginning, live messages meeting a page, the cap.

#include "chat_events.h"
#include "chat_relay.h"
#include "client_under_test.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "main_window.h"
#include "on_screen.h"
#include "room_history.h"
#include "room_session.h"
#include "server_harness.h"
#include "transcript_view.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBrowser>
#include <filesystem>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kPhoneA = QStringLiteral("01000000001");
const QString kPhoneB = QStringLiteral("01000000002");
const QString kRoom = QStringLiteral("dm:01000000001:01000000002");
const QString kBeginning = QStringLiteral("대화의 처음입니다");
const QString kRead = QStringLiteral("여기까지 읽었습니다");

struct User {
    User(const QString& phone, const QString& nick, const ServerConfig& config)
        : controller(phone, nick, QStringLiteral(""), config, platform) {
        controller.showMain();
    }
    bool signedIn() {
        return waitUntil([&] { return controller.statusText().startsWith("친구"); });
    }
    TranscriptView& transcript() { return controller.transcript(); }
    QString text() { return transcript().plainText(); }
    QStringList ids() {
        QStringList out;
        for (const ChatItem& item : transcript().chatItems())
            out << item.msgId;
        return out;
    }
    QStringList texts() {
        QStringList out;
        for (const ChatItem& item : transcript().chatItems())
            out << item.sender + ": " + item.text;
        return out;
    }
    // Opens the room and waits for its newest page.
    bool open(const QString& room = kRoom) {
        controller.openRoom(room, QStringLiteral("대화"));
        return waitUntil([&] { return controller.session().history->opened(); });
    }
    void send(const QString& message) {
        QPlainTextEdit* composer = controller.composer();
        composer->setPlainText(message);
        QTest::keyClick(composer, Qt::Key_Return);
    }
    // More than `before` messages are shown and the newest came back from the server, stored.
    bool stored(qsizetype before) {
        const QList<ChatItem> items = transcript().chatItems();
        return items.size() > before && !items.constLast().msgId.isEmpty();
    }
    // The room's unread count as freshly fetched lists give it; -1 when unknown.
    qint64 unreadOf(const QString& room) {
        Directory& directory = *controller.session().directory;
        if (!waitUntil([&] { return !directory.refreshing(); }))
            return -1;
        QSignalSpy arrived(&directory, &Directory::listsChanged);
        directory.refresh();
        if (!waitUntil([&] { return arrived.count() > 0; }))
            return -1;
        for (const RoomRecord& r : directory.rooms())
            if (r.room == room)
                return r.unread;
        return -1;
    }
    // Scrolls to the top, as the reader would, until the beginning line shows; false if it never
    // does.
    bool pageToTheBeginning(int maxPages = 100) {
        QScrollBar* bar = transcript().view()->verticalScrollBar();
        for (int i = 0; i < maxPages && !transcript().showsBeginning(); ++i) {
            transcript().flush();
            bar->triggerAction(QAbstractSlider::SliderToMinimum);
            if (!waitUntil([&] { return !controller.session().history->loading(); }))
                return false;
        }
        return transcript().showsBeginning();
    }

    FakePlatform platform;
    ClientUnderTest controller;
};

QStringList range(int from, int to) {
    QStringList out;
    for (int i = from; i <= to; ++i)
        out << QString::number(i);
    return out;
}

class HistoryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ServerProcess>(dataDir);
        config.chatPort = server->chatPort;
        config.httpPort = server->httpPort;
    }
    void TearDown() override {
        server.reset();
        std::filesystem::remove_all(dataDir);
    }
    // `count` messages from A into the room over a bare connection, each delivered before the
    // next goes.
    void fill(int count, const std::string& prefix = "글 ") {
        ChatConnection a(server->chatPort);
        ASSERT_TRUE(a.signIn(kPhoneA.toStdString(), "에이"));
        for (int i = 1; i <= count; ++i) {
            a.send(wire::ChatRequest{kRoom.toStdString(), prefix + std::to_string(i), ""});
            ASSERT_TRUE(a.nextOf(MessageType::Chat)) << i;
        }
    }
    // Signs B in once so the server knows them, then signs them out.
    void registerB() {
        ChatConnection b(server->chatPort);
        ASSERT_TRUE(b.signIn(kPhoneB.toStdString(), "비"));
    }
    // B has read the room up to message `msgId`, as far as the server knows.
    void readUpTo(int msgId) {
        ChatConnection b(server->chatPort);
        ASSERT_TRUE(b.signIn(kPhoneB.toStdString(), "비"));
        const std::string mark = std::to_string(msgId);
        b.send(wire::ReadWatermark{kRoom.toStdString(), mark});
        // A page asked after the mark reads it back once it is stored.
        b.send(wire::HistoryRequest{kRoom.toStdString(), "", "1"});
        const std::optional<wire::HistoryPage> page = b.nextMessage<wire::HistoryPage>();
        ASSERT_TRUE(page);
        ASSERT_EQ(page->readMark, mark);
    }

    std::string dataDir = makeTempDir();
    std::unique_ptr<ServerProcess> server;
    ServerConfig config;
};

} // namespace

TEST_F(HistoryEndToEnd, WhatWasSaidWhileSignedOutShowsAfterTheReadLineAndStays) {
    registerB();
    {
        User a(kPhoneA, QStringLiteral("에이"), config);
        ASSERT_TRUE(a.signedIn());
        ASSERT_TRUE(a.open());
        for (const char* text : {"하나", "둘", "셋"}) {
            const qsizetype before = a.transcript().chatItems().size();
            a.send(QString::fromUtf8(text));
            ASSERT_TRUE(waitUntil([&] { return a.stored(before); }));
        }
    }
    const QStringList expected = {"에이: 하나", "에이: 둘", "에이: 셋"};
    QString firstText;
    {
        User b(kPhoneB, QStringLiteral("비"), config);
        ASSERT_TRUE(b.signedIn());
        b.platform.clear();
        ASSERT_TRUE(b.open());
        b.transcript().flush();
        EXPECT_EQ(b.texts(), expected);
        EXPECT_TRUE(b.text().startsWith(kBeginning + "\n"));
        const qsizetype readLine = b.text().indexOf(kRead);
        ASSERT_GE(readLine, 0);
        EXPECT_LT(readLine, b.text().indexOf("하나"));
        for (const ChatItem& item : b.transcript().chatItems())
            EXPECT_FALSE(item.mine);
        // History never notifies or beeps.
        EXPECT_EQ(b.platform.calls, QStringList());
        // The room counts as read now.
        ASSERT_TRUE(waitUntil([&] { return b.unreadOf(kRoom) == 0; }));

        // Reopening shows the same conversation, now without unread messages.
        b.controller.closeRoom();
        ASSERT_TRUE(b.open());
        EXPECT_EQ(b.texts(), expected);
        EXPECT_FALSE(b.text().contains(kRead));
        firstText = b.text();
    }
    // So does a new start of the client.
    User b(kPhoneB, QStringLiteral("비"), config);
    ASSERT_TRUE(b.signedIn());
    ASSERT_TRUE(b.open());
    b.transcript().flush();
    EXPECT_EQ(b.texts(), expected);
    EXPECT_EQ(b.text(), firstText);
    EXPECT_EQ(b.platform.count("notify") + b.platform.count("beep"), 0);
}

// A reader whose connection was lost with the room open sees, once it is back, what was said
// and deleted meanwhile, in order and once.
TEST_F(HistoryEndToEnd, AReconnectedReaderCatchesUpTheOpenRoom) {
    registerB();
    fill(3);
    ChatRelay relay(server->chatPort);
    ServerConfig throughRelay = config;
    throughRelay.chatPort = relay.port();
    User b(kPhoneB, QStringLiteral("비"), throughRelay);
    ASSERT_TRUE(b.signedIn());
    ASSERT_TRUE(b.open());
    ASSERT_EQ(b.ids(), range(1, 3));

    relay.cut(true);
    ASSERT_TRUE(waitUntil([&] { return b.controller.statusText().startsWith("끊김"); }));
    {
        ChatConnection a(server->chatPort);
        ASSERT_TRUE(a.signIn(kPhoneA.toStdString(), "에이"));
        for (int i = 4; i <= 6; ++i) {
            a.send(wire::ChatRequest{kRoom.toStdString(), "글 " + std::to_string(i), ""});
            ASSERT_TRUE(a.nextOf(MessageType::Chat)) << i;
        }
        a.send(wire::Delete{kRoom.toStdString(), "2"});
        ASSERT_TRUE(a.nextOf(MessageType::ChatDelete));
    }
    relay.cut(false);
    // The client's reconnect time, then the newest page.
    ASSERT_TRUE(waitUntil([&] { return b.ids().size() == 6; })) << b.ids().join(",").toStdString();
    EXPECT_EQ(b.ids(), range(1, 6));
    EXPECT_EQ(b.texts().mid(3), QStringList({"에이: 글 4", "에이: 글 5", "에이: 글 6"}));
    EXPECT_TRUE(b.transcript().chatItems()[1].deleted);
    EXPECT_EQ(b.platform.count("notify") + b.platform.count("beep"), 0);
    // And it counts as read.
    EXPECT_TRUE(waitUntil([&] { return b.unreadOf(kRoom) == 0; }));
}

// More unread than a page: the room opens on its read line with the first unread message below.
TEST_F(HistoryEndToEnd, EightyUnreadOpenOnTheReadLine) {
    registerB();
    fill(200);
    readUpTo(120);
    User b(kPhoneB, QStringLiteral("비"), config);
    ASSERT_TRUE(b.signedIn());
    ASSERT_TRUE(b.open());
    ASSERT_TRUE(waitUntil([&] {
        return b.transcript().hasReadLine() && !b.controller.session().history->loading();
    }));
    b.transcript().flush();
    const QStringList ids = b.ids();
    EXPECT_EQ(ids, range(ids.first().toInt(), 200));
    EXPECT_LE(ids.first().toInt(), 121);
    QAbstractScrollArea* view = b.transcript().view();
    const QRect readLine = viewportRectOf(view, kRead);
    ASSERT_FALSE(readLine.isEmpty());
    EXPECT_GE(readLine.top(), 0);
    EXPECT_LT(readLine.top(), view->viewport()->height() / 4);
    EXPECT_TRUE(onScreen(view, QStringLiteral("글 121")));
    EXPECT_EQ(b.text().count(kRead), 1);
    EXPECT_EQ(b.platform.count("notify") + b.platform.count("beep"), 0);
}

TEST_F(HistoryEndToEnd, PagingALongRoomShowsEveryMessageOnceInOrder) {
    registerB();
    fill(500);
    readUpTo(500);
    User b(kPhoneB, QStringLiteral("비"), config);
    ASSERT_TRUE(b.signedIn());
    ASSERT_TRUE(b.open());
    // The newest page, and older ones for as long as what is shown does not reach well above
    // the view's top: how many depends on the window's height, never on how fast pages come.
    ASSERT_TRUE(waitUntil([&] { return !b.controller.session().history->loading(); }));
    const QStringList opened = b.ids();
    ASSERT_FALSE(opened.isEmpty());
    EXPECT_EQ(opened, range(opened.first().toInt(), 500));
    EXPECT_LE(opened.first().toInt(), 451);
    // Everything read: the newest at the bottom.
    b.transcript().flush();
    QScrollBar* bar = b.transcript().view()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(b.text().contains(kRead));
    ASSERT_TRUE(b.pageToTheBeginning());
    EXPECT_EQ(b.ids(), range(1, 500));
    EXPECT_TRUE(b.text().startsWith(kBeginning + "\n"));
    EXPECT_EQ(b.text().count(kBeginning), 1);
    EXPECT_EQ(b.text().count("글 250\n"), 1);
    EXPECT_EQ(b.platform.count("notify") + b.platform.count("beep"), 0);
}

TEST_F(HistoryEndToEnd, ALiveMessageWhileAPageLoadsShowsOnceInOrder) {
    registerB();
    fill(120);
    User b(kPhoneB, QStringLiteral("비"), config);
    ASSERT_TRUE(b.signedIn());
    ChatConnection a(server->chatPort);
    ASSERT_TRUE(a.signIn(kPhoneA.toStdString(), "에이"));
    // The newest page and a live message race each other.
    b.controller.openRoom(kRoom, QStringLiteral("대화"));
    a.send(wire::ChatRequest{kRoom.toStdString(), "그 사이", ""});
    ASSERT_TRUE(waitUntil([&] { return b.ids().contains("121"); }));
    // An older page and another live message.
    ASSERT_TRUE(waitUntil([&] { return b.controller.session().history->opened(); }));
    b.transcript().flush();
    b.transcript().view()->verticalScrollBar()->setValue(0);
    a.send(wire::ChatRequest{kRoom.toStdString(), "또 그 사이", ""});
    ASSERT_TRUE(waitUntil([&] { return b.ids().contains("122"); }));
    ASSERT_TRUE(waitUntil([&] { return !b.controller.session().history->loading(); }));
    const QStringList ids = b.ids();
    ASSERT_GE(ids.size(), 72);
    EXPECT_EQ(ids, range(ids.first().toInt(), 122));
    EXPECT_EQ(b.texts().count("에이: 그 사이"), 1);
    EXPECT_EQ(b.texts().count("에이: 또 그 사이"), 1);
}

TEST_F(HistoryEndToEnd, TheCapTrimsAtTheBottomAndPagingBringsItBack) {
    registerB();
    fill(60);
    User b(kPhoneB, QStringLiteral("비"), config);
    ASSERT_TRUE(b.signedIn());
    b.transcript().setEntryCap(80);
    ASSERT_TRUE(b.open());
    // Nothing was read: the view opens at the top of what is unread; the reader goes down.
    ASSERT_TRUE(waitUntil([&] { return !b.controller.session().history->loading(); }));
    b.transcript().flush();
    QScrollBar* bar = b.transcript().view()->verticalScrollBar();
    bar->setValue(bar->maximum());
    fill(60, "새 글 ");
    ASSERT_TRUE(waitUntil([&] { return b.ids().contains("120"); }));
    b.transcript().flush();
    // However the messages were spread over bursts, the oldest left and at most 80 stay.
    const QStringList kept = b.ids();
    ASSERT_LE(kept.size(), 80);
    EXPECT_GE(kept.size(), TranscriptView::keptAfterTrim(80));
    EXPECT_EQ(kept, range(121 - int(kept.size()), 120));
    EXPECT_TRUE(b.controller.session().history->hasOlder());
    ASSERT_TRUE(b.pageToTheBeginning());
    EXPECT_EQ(b.ids(), range(1, 120));
}

TEST_F(HistoryEndToEnd, AMemoRoomKeepsItsNotes) {
    QString memo;
    {
        User a(kPhoneA, QStringLiteral("에이"), config);
        ASSERT_TRUE(a.signedIn());
        QSignalSpy created(a.controller.session().directory.get(), &Directory::memoRoomCreated);
        a.controller.session().directory->createMemoRoom(QStringLiteral("할 일"));
        ASSERT_TRUE(waitUntil([&] { return created.count() > 0; }));
        memo = created.first().at(0).toString();
        ASSERT_TRUE(waitUntil([&] { return a.controller.openRoomId() == memo; }) || a.open(memo));
        ASSERT_TRUE(waitUntil([&] { return a.controller.session().history->opened(); }));
        for (const char* note : {"우유 사기", "은행 가기"}) {
            const qsizetype before = a.transcript().chatItems().size();
            a.send(QString::fromUtf8(note));
            ASSERT_TRUE(waitUntil([&] { return a.stored(before); }));
        }
        a.controller.closeRoom();
        ASSERT_TRUE(a.open(memo));
        EXPECT_EQ(a.texts(), QStringList({"에이: 우유 사기", "에이: 은행 가기"}));
    }
    User a(kPhoneA, QStringLiteral("에이"), config);
    ASSERT_TRUE(a.signedIn());
    ASSERT_TRUE(a.open(memo));
    EXPECT_EQ(a.texts(), QStringList({"에이: 우유 사기", "에이: 은행 가기"}));
    for (const ChatItem& item : a.transcript().chatItems())
        EXPECT_TRUE(item.mine);
}
