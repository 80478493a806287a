// The outbox through the real server: messages typed while it is down go out once it is up,
// an echo lost with the connection and a client killed after sending leave each message stored
// and shown once, and a refused message is sent by "다시 보내기" once it can be.

#include "chat_events.h"
#include "chat_relay.h"
#include "client_under_test.h"
#include "directory_actions.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "main_window.h"
#include "outbox.h"
#include "outbox_store.h"
#include "room_session.h"
#include "server_harness.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"
#include "transcript_view.h"
#include "unsent_rows.h"

#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kPhoneA = QStringLiteral("01000000001");
const QString kPhoneB = QStringLiteral("01000000002");
const QString kRoom = QStringLiteral("dm:01000000001:01000000002");

// User A's client with its outbox in `outboxPath`, reaching the chat port through `chatPort`
// and the HTTP port, for files, through `httpPort`.
struct Client {
    Client(const QString& outboxPath, std::uint16_t chatPort, std::uint16_t httpPort = 1) {
        ServerConfig config;
        config.chatPort = chatPort;
        config.httpPort = httpPort; // without files, 1: the lists are not needed here
        controller = std::make_unique<ClientUnderTest>(kPhoneA, QStringLiteral("에이"),
                                                       QStringLiteral(""), config, platform);
        controller->session().events->setReconnectDelay(50);
        controller->session().outbox->attach(outboxPath);
        controller->showMain();
        controller->openRoom(kRoom, QStringLiteral("대화"));
    }
    bool signedIn() { return controller->waitSignedIn(); }
    void type(const QString& text) {
        QPlainTextEdit* composer = controller->composer();
        composer->setPlainText(text);
        QTest::keyClick(composer, Qt::Key_Return);
    }
    // The file at `path` chosen with the file button.
    void choose(const QString& path) {
        platform.openPanelAnswers = {path};
        controller->attachFile();
    }
    QList<ChatItem> items() { return controller->transcript().chatItems(); }
    // "<id>:<text>" per message, with "?" for one not sent and "!" for one failed.
    QStringList shown() {
        QStringList out;
        for (const ChatItem& item : items())
            out << (item.sendState == SendState::Waiting  ? QStringLiteral("?")
                    : item.sendState == SendState::Failed ? QStringLiteral("!")
                                                          : item.msgId) +
                       ":" + item.text;
        return out;
    }
    bool allSent() {
        return waitUntil(
            [&] {
                const QList<ChatItem> all = items();
                return controller->session().outbox->size() == 0 &&
                       std::all_of(all.begin(), all.end(), [](const ChatItem& i) {
                           return i.sendState == SendState::Sent;
                       });
            },
            10000);
    }
    // The transcript row of the newest message not sent, -1 when none.
    int unsentRow() {
        const TranscriptModel& model = controller->transcript().model();
        for (int row = model.size() - 1; row >= 0; --row)
            if (const ChatItem* item = model.message(row);
                item && item->sendState != SendState::Sent)
                return row;
        return -1;
    }

    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
};

class OutboxEndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        server.reset();
        std::filesystem::remove_all(dataDir);
    }
    void startServer() {
        server = std::make_unique<ServerProcess>(dataDir);
        relay.setTarget(server->chatPort);
    }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(filesDir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    void registerB() {
        ChatConnection b(server->chatPort);
        ASSERT_TRUE(b.signIn(kPhoneB.toStdString(), "비"));
    }
    // The room's messages as the server keeps them, read by B: "<id>:<text>", a file's name
    // for its text.
    QStringList stored() {
        ChatConnection b(server->chatPort);
        EXPECT_TRUE(b.signIn(kPhoneB.toStdString(), "비"));
        b.send(wire::HistoryRequest{kRoom.toStdString(), "", "100"});
        const std::optional<wire::HistoryPage> page = b.nextMessage<wire::HistoryPage>();
        QStringList out;
        if (page)
            for (const wire::HistoryEntry& e : page->entries)
                out << QString::fromStdString(e.msgId + ":" +
                                              (e.kind == "file" ? e.fileName : e.text));
        return out;
    }

    std::string dataDir = makeTempDir();
    QTemporaryDir outboxDir;
    QString outboxPath = outboxDir.filePath("outbox.db");
    std::unique_ptr<ServerProcess> server;
    ChatRelay relay;
    QTemporaryDir filesDir;
};

} // namespace

TEST_F(OutboxEndToEnd, TypedWhileTheServerIsDownGoOutOnceInOrderWhenItIsUp) {
    startServer();
    registerB();
    server.reset();
    relay.setTarget(0);
    Client a(outboxPath, relay.port());
    a.type("하나");
    a.type("둘");
    EXPECT_EQ(a.shown(), QStringList({"?:하나", "?:둘"}));
    EXPECT_EQ(a.controller->composer()->toPlainText(), "");

    startServer();
    ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString();
    EXPECT_EQ(a.shown(), QStringList({"1:하나", "2:둘"}));
    EXPECT_EQ(stored(), QStringList({"1:하나", "2:둘"}));
}

TEST_F(OutboxEndToEnd, AnEchoLostWithTheConnectionLeavesTheMessageStoredAndShownOnce) {
    startServer();
    registerB();
    Client a(outboxPath, relay.port());
    ASSERT_TRUE(a.signedIn());
    a.type("먼저");
    ASSERT_TRUE(a.allSent());

    relay.swallow(true);
    a.type("셋");
    ASSERT_TRUE(waitUntil([&] { return stored().size() == 2; }));
    EXPECT_EQ(a.shown(), QStringList({"1:먼저", "?:셋"}));
    relay.cut(true);
    ASSERT_TRUE(waitUntil([&] { return !a.controller->session().outbox->signedIn(); }));
    relay.swallow(false);
    relay.cut(false);
    ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString();
    // The newest page asked after the sign-in comes too; the message stays one row.
    ASSERT_TRUE(waitUntil([&] { return a.controller->transcript().showsBeginning(); }));
    EXPECT_EQ(a.shown(), QStringList({"1:먼저", "2:셋"}));
    EXPECT_EQ(stored(), QStringList({"1:먼저", "2:셋"}));
}

TEST_F(OutboxEndToEnd, AClientKilledAfterSendingSendsAgainAfterItsRestartAndItIsStoredOnce) {
    startServer();
    registerB();
    QProcess probe;
    probe.start(
        QStringLiteral(BRINDLEWICK_OUTBOX_PROBE),
        {outboxPath, kPhoneA, kRoom, QStringLiteral("죽기 전에"), QString::number(relay.port())});
    QByteArray said;
    auto saw = [&](const char* line) {
        return waitUntil(
            [&] {
                said += probe.readAllStandardOutput();
                return said.contains(line);
            },
            10000);
    };
    ASSERT_TRUE(saw("signed in"));
    relay.swallow(true); // stored, but the echo never reaches the client
    probe.write("send\n");
    ASSERT_TRUE(saw("taken"));
    ASSERT_TRUE(waitUntil([&] { return stored().size() == 1; }));
    probe.kill();
    ASSERT_TRUE(probe.waitForFinished(5000));
    relay.cut(true);

    // Started again, before the server can be reached: the message waits, shown as waiting.
    Client a(outboxPath, relay.port());
    EXPECT_EQ(a.shown(), QStringList({"?:죽기 전에"}));
    relay.swallow(false);
    relay.cut(false);
    ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString();
    EXPECT_EQ(stored(), QStringList({"1:죽기 전에"}));
    ASSERT_TRUE(waitUntil([&] { return a.controller->transcript().showsBeginning(); }));
    EXPECT_EQ(a.shown(), QStringList({"1:죽기 전에"}));
}

TEST_F(OutboxEndToEnd, ARefusedMessageFailsAndGoesWithRetryOnceItCan) {
    startServer();
    Client a(outboxPath, relay.port());
    ASSERT_TRUE(a.signedIn());
    // B has never signed in: the server refuses a direct room with them.
    a.type("안녕");
    ASSERT_TRUE(waitUntil([&] { return a.shown() == QStringList({"!:안녕"}); }))
        << a.shown().join(" | ").toStdString();
    EXPECT_TRUE(a.controller->statusText().startsWith("전송 실패: "))
        << a.controller->statusText().toStdString();
    EXPECT_EQ(a.controller->session().outbox->failedCount(kRoom), 1);

    // The chats list marks the room; leaving it or logging out asks first (both cancelled).
    SideRow row;
    row.kind = SideRow::Kind::Room;
    row.room = kRoom;
    SidebarModel& sidebar = *a.controller->session().sidebar->model();
    sidebar.setRows({row});
    const QModelIndex name = sidebar.index(0, SidebarModel::NameColumn);
    EXPECT_EQ(name.data(SidebarModel::UnsentRole).toInt(), SidebarModel::FailedUnsent);
    const QString question = QStringLiteral("보내지 않은 메시지 1개가 있습니다. 나갈까요?");
    a.platform.alertAnswers = {Platform::kFirstButton + 1, Platform::kFirstButton + 1};
    a.controller->session().directoryActions->leaveOpenRoom();
    emit a.controller->session().window->logoutRequested();
    ASSERT_EQ(a.platform.alerts.size(), 2);
    EXPECT_EQ(a.platform.alerts[0].message, question);
    EXPECT_EQ(a.platform.alerts[1].message, question);
    EXPECT_EQ(a.controller->openRoomId(), kRoom);

    registerB();
    UnsentRows& rows = *a.controller->session().unsentRows;
    ASSERT_TRUE(rows.showMenu(a.unsentRow(), QPoint(10, 10)));
    QMenu* menu = rows.menu();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "다시 보내기");
    EXPECT_EQ(menu->actions()[1]->text(), "삭제");
    ASSERT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
    menu->hide();
    ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString();
    EXPECT_EQ(a.shown(), QStringList({"1:안녕"}));
    EXPECT_EQ(stored(), QStringList({"1:안녕"}));
    EXPECT_EQ(name.data(SidebarModel::UnsentRole).toInt(), SidebarModel::NoneUnsent);

    // A failed message removed is gone for good, from the row and the outbox file.
    registerB();
    a.controller->openRoom(QStringLiteral("dm:01000000001:01000000099"), QString());
    a.type("없는 사람");
    ASSERT_TRUE(waitUntil([&] { return a.shown() == QStringList({"!:없는 사람"}); }));
    ASSERT_TRUE(rows.showMenu(a.unsentRow(), QPoint(10, 10)));
    menu->actions()[1]->trigger();
    menu->hide();
    EXPECT_TRUE(a.shown().isEmpty());
    EXPECT_EQ(a.controller->session().outbox->size(), 0);
}

TEST_F(OutboxEndToEnd, AFileChosenWhileTheServerIsDownWaitsThenIsUploadedAndStoredOnce) {
    startServer();
    registerB();
    relay.cut(true); // the server cannot be reached
    Client a(outboxPath, relay.port(), server->httpPort);
    a.type("먼저");
    a.choose(writeFile("보고서.pdf", QByteArray(300000, 'x')));
    // Shown at once with its name and size, waiting behind the message typed before it.
    EXPECT_EQ(a.shown(), QStringList({"?:먼저", "?:보고서.pdf"}));
    const QList<ChatItem> waiting = a.items();
    ASSERT_EQ(waiting.size(), 2);
    EXPECT_TRUE(waiting[1].isFile);
    EXPECT_EQ(waiting[1].fileSize, 300000);
    EXPECT_FALSE(a.controller->uploading());

    relay.cut(false);
    ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString() << " "
                             << a.controller->statusText().toStdString();
    EXPECT_EQ(stored(), QStringList({"1:먼저", "2:보고서.pdf"}));
    // The newest page asked after the sign-in comes too; the file stays one row.
    ASSERT_TRUE(waitUntil([&] { return a.controller->transcript().showsBeginning(); }));
    EXPECT_EQ(a.shown(), QStringList({"1:먼저", "2:보고서.pdf"}));
    const ChatItem file = a.items().at(1);
    EXPECT_TRUE(file.isFile);
    EXPECT_FALSE(file.fileId.isEmpty());
    EXPECT_EQ(file.fileSize, 300000);
}

// A client killed with a file in its outbox, before the server could be reached or after the
// upload with the FileMeta's echo lost, sends it once when started again; an upload done before
// is not done again.
TEST_F(OutboxEndToEnd, AClientKilledWithAFileInItsOutboxSendsItOnceAfterItsRestart) {
    startServer();
    registerB();
    struct Case {
        const char* name;
        bool reachable; // the server took the sign-in and the upload before the kill
        QStringList stored;
    };
    const Case cases[] = {
        {"never reached", false, {"1:첫째.bin"}},
        {"echo lost", true, {"1:첫째.bin", "2:둘째.bin"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = c.stored.last().section(':', 1);
        const QString file = writeFile(name, QByteArray(1000 + n, 'f'));
        const QString path = outboxDir.filePath(QStringLiteral("killed-%1.db").arg(n++));
        relay.cut(!c.reachable);
        QProcess probe;
        probe.start(QStringLiteral(BRINDLEWICK_OUTBOX_PROBE),
                    {path, kPhoneA, kRoom, file, QString::number(relay.port()),
                     QString::number(server->httpPort)});
        QByteArray said;
        auto saw = [&](const char* line) {
            return waitUntil([&] {
                said += probe.readAllStandardOutput();
                return said.contains(line);
            });
        };
        if (c.reachable) {
            ASSERT_TRUE(saw("signed in"));
            relay.swallow(true); // stored, but the echo never reaches the client
        }
        probe.write("file\n");
        ASSERT_TRUE(saw("taken"));
        if (c.reachable) {
            ASSERT_TRUE(waitUntil([&] { return stored().size() == c.stored.size(); }));
            // The upload's id is on disk before the kill.
            ASSERT_TRUE(waitUntil([&] {
                const QList<OutboxEntry> kept = OutboxStore(path).load();
                return kept.size() == 1 && !kept[0].target.isEmpty();
            }));
        }
        probe.kill();
        ASSERT_TRUE(probe.waitForFinished(5000));
        relay.cut(true);

        Client a(path, relay.port(), server->httpPort);
        ASSERT_EQ(a.shown(), QStringList({"?:" + name}));
        const QList<OutboxEntry> kept = a.controller->session().outbox->entries();
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(kept[0].target.isEmpty(), !c.reachable); // uploaded: not again
        relay.swallow(false);
        relay.cut(false);
        ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString();
        EXPECT_EQ(stored(), c.stored);
        ASSERT_TRUE(waitUntil([&] { return a.controller->transcript().showsBeginning(); }));
        EXPECT_EQ(a.shown().filter(name).size(), 1) << a.shown().join(" | ").toStdString();
    }
}

TEST_F(OutboxEndToEnd, AFileThatCannotBeReadFailsAndRetryOrRemoveEndIt) {
    startServer();
    registerB();
    relay.cut(true); // the server cannot be reached
    Client a(outboxPath, relay.port(), server->httpPort);
    const QString kept = writeFile("돌아올.txt", "abc");
    const QString gone = writeFile("지울.txt", "def");
    a.choose(kept);
    a.choose(gone);
    ASSERT_TRUE(QFile::remove(kept));
    ASSERT_TRUE(QFile::remove(gone));
    relay.cut(false);
    ASSERT_TRUE(waitUntil([&] {
        return a.shown() == QStringList({"!:돌아올.txt", "!:지울.txt"});
    })) << a.shown().join(" | ").toStdString();
    for (const OutboxEntry& failed : a.controller->session().outbox->entries())
        EXPECT_EQ(failed.reason, "파일 열기 실패");

    UnsentRows& rows = *a.controller->session().unsentRows;
    QMenu* menu = rows.menu();
    // 삭제 forgets the newest.
    ASSERT_TRUE(rows.showMenu(a.unsentRow(), QPoint(10, 10)));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[1]->text(), "삭제");
    menu->actions()[1]->trigger();
    menu->hide();
    EXPECT_EQ(a.shown(), QStringList({"!:돌아올.txt"}));
    // The other back where it was: 다시 보내기 uploads it.
    writeFile("돌아올.txt", "abc");
    ASSERT_TRUE(rows.showMenu(a.unsentRow(), QPoint(10, 10)));
    EXPECT_EQ(menu->actions()[0]->text(), "다시 보내기");
    ASSERT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
    menu->hide();
    ASSERT_TRUE(a.allSent()) << a.shown().join(" | ").toStdString();
    EXPECT_EQ(a.shown(), QStringList({"1:돌아올.txt"}));
    EXPECT_EQ(stored(), QStringList({"1:돌아올.txt"}));
}
