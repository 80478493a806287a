// The outbox against a scripted server: what waits goes out in order after each sign-in and
// again after a lost connection until its echo comes; refusals land on the requests that got
// no echo; what is kept survives a restart, an age beyond the limit and a write cut short.

#include "chat_client.h"
#include "chat_events.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "outbox.h"
#include "outbox_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kRoom = QStringLiteral("dm:01011112222:01033334444");

// A signed-in client whose server is the test.
struct Session {
    explicit Session(const QString& path = QString()) : client(config()), events(client) {
        client.setPhone(QStringLiteral("01011112222"));
        client.setNick(QStringLiteral("민지"));
        events.setReconnectDelay(20);
        outbox = std::make_unique<Outbox>(client, events, path);
    }
    ServerConfig config() {
        ServerConfig c;
        c.chatPort = server.port();
        return c;
    }
    // Connects (again) and signs in; true once the outbox knows.
    bool signIn() {
        const int before = server.connectionCount();
        const std::size_t framesBefore = server.frames().size();
        if (!client.connected())
            client.connect();
        if (!server.waitForConnection(before + 1)) {
            ADD_FAILURE() << "no connection " << before;
            return false;
        }
        if (!server.waitForFrames(framesBefore + 1)) {
            ADD_FAILURE() << "no auth " << server.frames().size();
            return false;
        }
        server.sendFrame(MessageType::AuthOk, {});
        return waitUntil([&] { return outbox->signedIn(); });
    }
    // True once a frame sent now has arrived, so everything sent before it has too.
    bool everythingArrived() {
        client.joinRoom(QStringLiteral("probe"));
        return waitUntil([&] { return !server.framesOfType(MessageType::JoinRoom).empty(); });
    }
    // Ends the connection; the client reconnects by itself.
    bool drop() {
        server.resetConnection();
        return waitUntil([&] { return !outbox->signedIn(); });
    }
    // Client ids of the requests of `type` received since the last clear, in order.
    std::vector<std::string> sent(std::uint8_t type, std::size_t idField) {
        std::vector<std::string> ids;
        for (const ReceivedFrame& f : server.framesOfType(type))
            ids.push_back(f.fields.size() > idField ? f.fields[idField] : "");
        return ids;
    }
    wire::ChatMessage echo(const QString& clientId, const std::string& msgId) {
        return wire::ChatMessage{
            kRoom.toStdString(),   "민지", "글", "2026-12-11T09:00:00", msgId, "01011112222", "",
            clientId.toStdString()};
    }

    FakeChatServer server;
    ChatClient client;
    ChatEvents events;
    std::unique_ptr<Outbox> outbox;
};

std::vector<std::string> ids(std::initializer_list<QString> list) {
    std::vector<std::string> out;
    for (const QString& id : list)
        out.push_back(id.toStdString());
    return out;
}

} // namespace

TEST(Outbox, WaitsUntilSignedInThenSendsInOrderAndAgainAfterALostConnection) {
    Session s;
    const QString first = s.outbox->sendChat(kRoom, "하나", "");
    const QString edit = s.outbox->sendEdit(kRoom, "7", "고친 말");
    const QString second = s.outbox->sendChat(kRoom, "둘", "7");
    const QString deletion = s.outbox->sendDelete(kRoom, "5");
    EXPECT_EQ(s.outbox->waitingCount(kRoom), 4);
    EXPECT_TRUE(wire::isClientId(first.toStdString()));

    ASSERT_TRUE(s.signIn());
    ASSERT_TRUE(s.server.waitForFrames(5)); // Auth and the four
    std::vector<std::uint8_t> types;
    for (const ReceivedFrame& f : s.server.frames())
        types.push_back(f.type);
    EXPECT_EQ(types, (std::vector<std::uint8_t>{MessageType::Auth, MessageType::Chat,
                                                MessageType::ChatEdit, MessageType::Chat,
                                                MessageType::ChatDelete}));
    EXPECT_EQ(s.sent(MessageType::Chat, 3), ids({first, second}));
    EXPECT_EQ(s.server.framesOfType(MessageType::Chat)[1].fields[2], "7"); // the reply stays
    EXPECT_EQ(s.sent(MessageType::ChatEdit, 3), ids({edit}));
    EXPECT_EQ(s.sent(MessageType::ChatDelete, 2), ids({deletion}));

    // Only the first is confirmed before the connection goes: the rest goes again, in order.
    EXPECT_EQ(s.outbox->settleChat(s.echo(first, "8"), true), first);
    EXPECT_EQ(s.outbox->settleChat(s.echo(first, "8"), true), ""); // a second echo: nothing
    ASSERT_TRUE(s.drop());
    s.server.clearFrames();
    const QString offline = s.outbox->sendChat(kRoom, "셋", "");
    ASSERT_TRUE(s.signIn());
    ASSERT_TRUE(s.server.waitForFrames(5));
    EXPECT_EQ(s.sent(MessageType::Chat, 3), ids({second, offline}));
    EXPECT_EQ(s.sent(MessageType::ChatEdit, 3), ids({edit}));

    // Taken while signed in: out at once.
    const QString now = s.outbox->sendChat(kRoom, "넷", "");
    ASSERT_TRUE(s.server.waitForFrames(6));
    EXPECT_EQ(s.sent(MessageType::Chat, 3).back(), now.toStdString());
    wire::Edit editEcho{kRoom.toStdString(), "7", "고친 말", edit.toStdString()};
    EXPECT_EQ(s.outbox->settleEdit(editEcho), edit);
    EXPECT_EQ(s.outbox->settleDelete(wire::Delete{kRoom.toStdString(), "5", ""}), "");
    EXPECT_EQ(s.outbox->waitingCount(kRoom), 4);
}

TEST(Outbox, AnEchoWithoutClientIdSettlesTheOldestOwnMessageOfItsRoom) {
    Session s;
    ASSERT_TRUE(s.signIn());
    const QString first = s.outbox->sendChat(kRoom, "하나", "");
    const QString other = s.outbox->sendChat("g:other", "딴 방", "");
    s.outbox->sendChat(kRoom, "둘", "");
    // Someone else's message without an id settles nothing.
    EXPECT_EQ(s.outbox->settleChat(s.echo("", "1"), false), "");
    EXPECT_EQ(s.outbox->settleChat(s.echo("", "2"), true), first);
    wire::ChatMessage inOther = s.echo("", "3");
    inOther.room = "g:other";
    EXPECT_EQ(s.outbox->settleChat(inOther, true), other);
    EXPECT_EQ(s.outbox->size(), 1);
}

// A refusal names only the type it refuses and may overtake echoes of earlier requests; once
// every request has its answer, exactly the ones without an echo are failed.
TEST(Outbox, RefusalsEndOnTheRequestsThatGotNoEcho) {
    struct Case {
        const char* name;
        int sent;
        // "e<n>": the echo of request n; "x": a refusal.
        std::vector<std::string> answers;
        std::vector<int> failed;
    };
    const std::vector<Case> cases = {
        {"in order", 3, {"e0", "x", "e2"}, {1}},
        {"refusal first, its echo later", 2, {"x", "e0"}, {1}},
        {"overtaking two echoes", 3, {"x", "e0", "e1"}, {2}},
        {"two refusals", 3, {"x", "e1", "x"}, {0, 2}},
        {"all refused", 2, {"x", "x"}, {0, 1}},
        {"a refusal for nothing sent", 1, {"e0", "x"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_TRUE(s.signIn());
        std::vector<QString> cids;
        for (int i = 0; i < c.sent; ++i)
            cids.push_back(s.outbox->sendChat(kRoom, QStringLiteral("글 %1").arg(i), ""));
        for (const std::string& answer : c.answers) {
            if (answer == "x")
                s.outbox->refused(wire::ServerError{"5", "방의 멤버가 아닙니다"});
            else
                s.outbox->settleChat(
                    s.echo(cids[std::size_t(std::stoi(answer.substr(1)))], answer.substr(1)), true);
        }
        std::vector<int> failed;
        for (int i = 0; i < c.sent; ++i)
            if (const OutboxEntry* e = s.outbox->entry(cids[std::size_t(i)]); e && e->failed) {
                failed.push_back(i);
                EXPECT_EQ(e->reason, "방의 멤버가 아닙니다");
            }
        EXPECT_EQ(failed, c.failed);
        EXPECT_EQ(s.outbox->failedCount(kRoom), int(c.failed.size()));
    }
    // Refusals of other requests (a history page, an edit with none waiting) touch nothing.
    Session s;
    ASSERT_TRUE(s.signIn());
    const QString id = s.outbox->sendChat(kRoom, "글", "");
    EXPECT_EQ(s.outbox->refused(wire::ServerError{"20", "방의 멤버가 아닙니다"}), "");
    EXPECT_EQ(s.outbox->refused(wire::ServerError{"10", "없는 메시지입니다"}), "");
    EXPECT_EQ(s.outbox->refused(wire::ServerError{"x", "?"}), "");
    EXPECT_FALSE(s.outbox->entry(id)->failed);
}

TEST(Outbox, AFailedRequestGoesAgainOnlyWhenRetriedAndCanBeRemoved) {
    Session s;
    ASSERT_TRUE(s.signIn());
    const QString id = s.outbox->sendChat(kRoom, "글", "");
    const QString gone = s.outbox->sendChat(kRoom, "지울 글", "");
    s.outbox->refused(wire::ServerError{"5", "가입하지 않은 사용자와는 대화할 수 없습니다"});
    s.outbox->refused(wire::ServerError{"5", "가입하지 않은 사용자와는 대화할 수 없습니다"});
    ASSERT_TRUE(s.drop());
    s.server.clearFrames();
    ASSERT_TRUE(s.signIn());
    ASSERT_TRUE(s.everythingArrived());
    EXPECT_TRUE(s.sent(MessageType::Chat, 3).empty()); // failed ones wait for the user

    EXPECT_TRUE(s.outbox->retry(id));
    EXPECT_FALSE(s.outbox->retry(id));      // waiting again, not failed
    ASSERT_TRUE(s.server.waitForFrames(3)); // Auth, the probe's JoinRoom, the retry
    EXPECT_EQ(s.sent(MessageType::Chat, 3), ids({id}));
    EXPECT_TRUE(s.outbox->remove(gone));
    EXPECT_FALSE(s.outbox->remove(gone));
    EXPECT_EQ(s.outbox->failedCount(kRoom), 0);
    EXPECT_EQ(s.outbox->waitingCount(kRoom), 1);
}

TEST(Outbox, WhatWaitedTooLongFailsInsteadOfGoing) {
    qint64 now = 1'000'000'000'000;
    Session s;
    s.outbox->setClock([&] { return now; });
    const QString old = s.outbox->sendChat(kRoom, "어제 글", "");
    now += Outbox::kDefaultMaxAgeMs - 1000;
    const QString recent = s.outbox->sendChat(kRoom, "오늘 글", "");
    now += 2000;
    QString failedId;
    QObject::connect(s.outbox.get(), &Outbox::failed,
                     [&](const QString& id, const QString&, const QString&) { failedId = id; });
    ASSERT_TRUE(s.signIn());
    ASSERT_TRUE(s.server.waitForFrames(2));
    EXPECT_EQ(s.sent(MessageType::Chat, 3), ids({recent}));
    EXPECT_EQ(failedId, old);
    EXPECT_EQ(s.outbox->entry(old)->reason, Outbox::kTooOldText);
    // Retried, its age starts again.
    EXPECT_TRUE(s.outbox->retry(old));
    ASSERT_TRUE(s.server.waitForFrames(3));
    EXPECT_EQ(s.sent(MessageType::Chat, 3), ids({recent, old}));
}

TEST(Outbox, WhatIsKeptSurvivesARestartInOrderWithItsState) {
    QTemporaryDir dir;
    const QString path = Outbox::pathFor(dir.path(), QStringLiteral("010-1111-2222"));
    EXPECT_EQ(path, Outbox::pathFor(dir.path(), QStringLiteral("01011112222")));
    QString a, b, c, file;
    {
        Session s(path);
        a = s.outbox->sendChat(kRoom, "하나\n둘째 줄", "3");
        b = s.outbox->sendChat(kRoom, "안녕 😀", "");
        c = s.outbox->sendDelete(kRoom, "4");
        file = s.outbox->sendFile(kRoom, "ab12", "사진.png", 2048);
        ASSERT_TRUE(s.signIn());
        s.outbox->refused(wire::ServerError{"11", "없는 메시지입니다"});
        EXPECT_EQ(s.outbox->settleChat(s.echo(b, "9"), true), b);
    }
    {
        Session s(path);
        const QList<OutboxEntry> kept = s.outbox->entries();
        ASSERT_EQ(kept.size(), 3);
        EXPECT_EQ(kept[0].clientId, a);
        EXPECT_EQ(kept[0].text, "하나\n둘째 줄");
        EXPECT_EQ(kept[0].replyTo, "3");
        EXPECT_EQ(kept[1].clientId, c);
        EXPECT_EQ(kept[1].kind, OutboxEntry::Kind::Delete);
        EXPECT_TRUE(kept[1].failed);
        EXPECT_EQ(kept[1].reason, "없는 메시지입니다");
        EXPECT_EQ(kept[2].kind, OutboxEntry::Kind::File);
        EXPECT_EQ(kept[2].fileName, "사진.png");
        EXPECT_EQ(kept[2].fileSize, 2048);
        EXPECT_EQ(s.outbox->waitingCount(kRoom), 2);
        EXPECT_EQ(s.outbox->failedCount(kRoom), 1);
        // What a session took before the file was attached joins what the file keeps, after it.
        Session memory;
        const QString early = memory.outbox->sendChat(kRoom, "먼저", "");
        memory.outbox->attach(path);
        const QList<OutboxEntry> joined = memory.outbox->entries();
        ASSERT_EQ(joined.size(), 4);
        EXPECT_EQ(joined[3].clientId, early);
    }
}

// A write cut short by a kill, a log torn at any byte, or a file that is no database at all:
// the outbox opens, keeps every request committed whole, and takes new ones.
TEST(OutboxStore, AWriteCutShortLeavesAReadableOutbox) {
    QTemporaryDir dir;
    const QString path = dir.filePath("outbox.db");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        OutboxStore store(path);
        for (int i = 0;; ++i) {
            OutboxEntry e;
            e.clientId = QStringLiteral("%1").arg(i, 32, 10, QChar(u'0'));
            e.room = kRoom;
            e.text = QString(200, QChar(u'가')) + QString::number(i);
            store.add(e);
            // Written a few at a time, so the kill may land inside a transaction of several.
            if (i % 4 == 3 && !store.flush())
                _exit(1);
            if (i == 51 && write(ready[1], "r", 1) != 1)
                _exit(1);
        }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    auto readsInOrder = [&](int atLeast) {
        OutboxStore store(path);
        EXPECT_TRUE(store.isOpen());
        const QList<OutboxEntry> kept = store.load();
        EXPECT_GE(kept.size(), atLeast);
        for (int i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(kept[i].clientId.toInt(), i);
            EXPECT_EQ(kept[i].text, QString(200, QChar(u'가')) + QString::number(i));
        }
        return int(kept.size());
    };
    const int committed = readsInOrder(51);

    // The log torn mid-frame, as a power cut may leave it: the frames before stay.
    {
        OutboxStore store(path);
        OutboxEntry e;
        e.room = kRoom;
        for (int i = committed; i < committed + 20; ++i) {
            e.clientId = QStringLiteral("%1").arg(i, 32, 10, QChar(u'0'));
            e.text = QString(200, QChar(u'가')) + QString::number(i);
            ASSERT_TRUE(store.add(e));
        }
        ASSERT_TRUE(store.flush());
        // Copied while open: the log holds the last commits, as a crash leaves it.
        QFile::copy(path + "-wal", dir.filePath("torn-wal"));
        QFile::copy(path, dir.filePath("torn"));
    }
    QFile wal(dir.filePath("torn-wal"));
    if (wal.size() > 1000) {
        ASSERT_TRUE(wal.resize(wal.size() - 777));
        QFile::remove(path);
        QFile::remove(path + "-wal");
        QFile::remove(path + "-shm");
        ASSERT_TRUE(QFile::copy(dir.filePath("torn"), path));
        ASSERT_TRUE(QFile::copy(dir.filePath("torn-wal"), path + "-wal"));
    }
    const int afterTear = readsInOrder(committed);
    EXPECT_LE(afterTear, committed + 20);

    // Not a database at all: put aside, and a new outbox works.
    QFile::remove(path + "-wal");
    QFile::remove(path + "-shm");
    {
        QFile junk(path);
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly | QIODevice::Truncate));
        junk.write(QByteArray(5000, '\x5a'));
    }
    OutboxStore fresh(path);
    ASSERT_TRUE(fresh.isOpen());
    EXPECT_TRUE(fresh.load().isEmpty());
    OutboxEntry e;
    e.clientId = QStringLiteral("1");
    e.room = kRoom;
    EXPECT_TRUE(fresh.add(e));
    EXPECT_EQ(fresh.load().size(), 1);
    EXPECT_TRUE(QFile::exists(path + ".unreadable"));
}

namespace {

// What a store keeps, one entry a word: its client id, "!" when failed.
QString keptOf(OutboxStore& store) {
    QStringList words;
    for (const OutboxEntry& e : store.load())
        words << e.clientId + (e.failed ? QStringLiteral("!") : QString());
    return words.join(u' ');
}

OutboxEntry entryFor(const QString& clientId) {
    OutboxEntry e;
    e.clientId = clientId;
    e.room = kRoom;
    e.text = QStringLiteral("글 ") + clientId;
    return e;
}

// Runs a script of writes, each "+id" (add), "!id" (failed), "?id" (waiting again) or "-id"
// (remove; "-a,b" removes both at once), queued without waiting.
void play(OutboxStore& store, const QStringList& script) {
    for (const QString& step : script) {
        const QString rest = step.mid(1);
        if (step.startsWith(u'+'))
            EXPECT_TRUE(store.add(entryFor(rest)));
        else if (step.startsWith(u'!'))
            EXPECT_TRUE(store.setFailed(rest, true, QStringLiteral("거절")));
        else if (step.startsWith(u'?'))
            EXPECT_TRUE(store.setFailed(rest, false, QString()));
        else
            EXPECT_TRUE(store.remove(rest.split(u',')));
    }
}

} // namespace

// The writes run on the store's thread in the order made, whatever batches they fall into; what
// was queued before the store closed is there when it opens again.
TEST(OutboxStore, WritesLandInTheOrderMadeAndAllBeforeItCloses) {
    struct Case {
        const char* name;
        QStringList script;
        QString kept;
    };
    const std::vector<Case> cases = {
        {"added then removed", {"+a", "+b", "-a"}, "b"},
        {"removed before it was added", {"-a", "+a"}, "a"},
        {"failed, then removed", {"+a", "!a", "+b", "-a"}, "b"},
        {"removed, then failed: nothing", {"+a", "-a", "!a"}, ""},
        {"failed then waiting again", {"+a", "!a", "+b", "?a", "!b"}, "a b!"},
        {"one removal of several", {"+a", "+b", "+c", "-a,c"}, "b"},
        {"added again after removal goes last", {"+a", "+b", "-a", "+a"}, "b a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("outbox.db");
        {
            OutboxStore store(path);
            play(store, c.script);
        } // closed at once: it writes what was queued first
        OutboxStore reopened(path);
        EXPECT_EQ(keptOf(reopened), c.kept);
        // And the same without closing, read back by the store that queued them.
        OutboxStore memory((QString()));
        play(memory, c.script);
        EXPECT_EQ(keptOf(memory), c.kept);
    }

    // A burst with every kind of write mixed in, closed while the thread is still behind.
    QTemporaryDir dir;
    const QString path = dir.filePath("outbox.db");
    QStringList expected;
    {
        OutboxStore store(path);
        for (int i = 0; i < 3000; ++i) {
            const QString id = QString::number(i);
            ASSERT_TRUE(store.add(entryFor(id)));
            if (i % 3 == 1) { // settled soon after, as echoes come
                ASSERT_TRUE(store.remove({QString::number(i - 1), id}));
                expected.removeLast();
                continue;
            }
            if (i % 7 == 0) {
                ASSERT_TRUE(store.setFailed(id, true, QStringLiteral("거절")));
            }
            expected << id + (i % 7 == 0 ? QStringLiteral("!") : QString());
        }
    }
    OutboxStore reopened(path);
    EXPECT_EQ(keptOf(reopened), expected.join(u' '));
}

// A write the disk refuses is logged once, reported by flush, and the store goes on: once
// writes succeed again, a new failure is logged again.
TEST(OutboxStore, AFailedWriteIsLoggedOnceAndReported) {
    static std::atomic<int> warnings{0};
    warnings = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg && text.contains(QStringLiteral("outbox")))
                ++warnings;
        });
    QTemporaryDir dir;
    const QString path = dir.filePath("outbox.db");
    OutboxStore store(path);
    ASSERT_TRUE(store.add(entryFor("a")));
    ASSERT_TRUE(store.flush());

    // Another hand takes the table away: every write fails.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &other), SQLITE_OK);
    auto run = [&](const char* sql) {
        return sqlite3_exec(other, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    const std::string schema = [&] {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(other, "SELECT sql FROM sqlite_master WHERE name = 'outbox'", -1, &stmt,
                           nullptr);
        std::string sql;
        if (sqlite3_step(stmt) == SQLITE_ROW)
            sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
        return sql;
    }();
    ASSERT_FALSE(schema.empty());
    ASSERT_TRUE(run("DROP TABLE outbox"));
    play(store, {"+b", "!a", "-a", "+c"});
    EXPECT_FALSE(store.flush());
    play(store, {"+d"});
    EXPECT_FALSE(store.flush());
    EXPECT_TRUE(store.flush()); // reported once
    EXPECT_EQ(warnings, 1);
    EXPECT_TRUE(store.load().isEmpty());

    // The table back: writes go through, and the next failure is news again.
    ASSERT_TRUE(run(schema.c_str()));
    play(store, {"+e"});
    EXPECT_TRUE(store.flush());
    EXPECT_EQ(keptOf(store), "e");
    ASSERT_TRUE(run("DROP TABLE outbox"));
    play(store, {"+f"});
    EXPECT_FALSE(store.flush());
    EXPECT_EQ(warnings, 2);
    sqlite3_close(other);
    qInstallMessageHandler(previous);
}

// An outbox file of the version before files waited for their upload: it loads, its rows take
// the new fields' defaults, and the new fields are kept from then on. A row stored again keeps
// its place.
TEST(OutboxStore, AnOlderOutboxFileLoadsAndGainsTheFileColumns) {
    QTemporaryDir dir;
    const QString path = dir.filePath("outbox.db");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        const char* old =
            "CREATE TABLE outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT,"
            " client_id TEXT NOT NULL UNIQUE, kind INTEGER NOT NULL, room TEXT NOT NULL,"
            " text TEXT NOT NULL, target TEXT NOT NULL, reply_to TEXT NOT NULL,"
            " file_name TEXT NOT NULL, file_size INTEGER NOT NULL, created_ms INTEGER NOT NULL,"
            " failed INTEGER NOT NULL, reason TEXT NOT NULL);"
            "INSERT INTO outbox (client_id, kind, room, text, target, reply_to, file_name,"
            " file_size, created_ms, failed, reason) VALUES"
            " ('a', 3, 'r', '', 'f9', '', '사진.png', 2048, 5, 0, ''),"
            " ('b', 0, 'r', '안녕', '', '', '', -1, 6, 1, '거절');";
        EXPECT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    {
        OutboxStore store(path);
        ASSERT_TRUE(store.isOpen());
        const QList<OutboxEntry> kept = store.load();
        ASSERT_EQ(kept.size(), 2);
        EXPECT_EQ(kept[0].kind, OutboxEntry::Kind::File);
        EXPECT_EQ(kept[0].target, "f9");
        EXPECT_EQ(kept[0].fileName, "사진.png");
        EXPECT_EQ(kept[0].localPath, "");
        EXPECT_FALSE(kept[0].ownCopy);
        EXPECT_EQ(kept[1].text, "안녕");
        EXPECT_TRUE(kept[1].failed);

        OutboxEntry file;
        file.clientId = "c";
        file.kind = OutboxEntry::Kind::File;
        file.room = "r";
        file.fileName = "붙여넣은 이미지.png";
        file.localPath = dir.filePath("copy.png");
        file.ownCopy = true;
        ASSERT_TRUE(store.add(file));
        OutboxEntry retried = kept[0];
        retried.createdMs = 99;
        ASSERT_TRUE(store.add(retried));
        ASSERT_TRUE(store.flush());
    }
    OutboxStore store(path);
    const QList<OutboxEntry> kept = store.load();
    ASSERT_EQ(kept.size(), 3);
    EXPECT_EQ(kept[0].clientId, "a");
    EXPECT_EQ(kept[0].createdMs, 99);
    EXPECT_EQ(kept[2].clientId, "c");
    EXPECT_EQ(kept[2].localPath, dir.filePath("copy.png"));
    EXPECT_TRUE(kept[2].ownCopy);
}

// A file waits for its upload: messages around it go out at once, its FileMeta only once the
// upload gave an id, with its client id; after a lost connection or a restart the FileMeta goes
// again without another upload. A failed one is uploaded again when retried.
TEST(Outbox, AFileGoesOutOnceItsUploadGaveItAnId) {
    QTemporaryDir dir;
    const QString path = Outbox::pathFor(dir.path(), QStringLiteral("01011112222"));
    const QString local = dir.filePath("보고서.pdf");
    QString before, file, after;
    {
        Session s(path);
        int announced = 0;
        QObject::connect(s.outbox.get(), &Outbox::uploadsWaiting, [&] { ++announced; });
        before = s.outbox->sendChat(kRoom, "먼저", "");
        file = s.outbox->sendLocalFile(kRoom, local, "보고서.pdf", 300);
        EXPECT_EQ(s.outbox->waitingCount(kRoom), 2);
        EXPECT_EQ(announced, 0); // not signed in
        ASSERT_NE(s.outbox->nextUpload(), nullptr);
        EXPECT_EQ(s.outbox->nextUpload()->clientId, file);

        ASSERT_TRUE(s.signIn());
        ASSERT_TRUE(waitUntil([&] { return announced == 1; }));
        after = s.outbox->sendChat(kRoom, "나중", "");
        ASSERT_TRUE(s.everythingArrived());
        // Typed after the file, it does not wait for the upload.
        EXPECT_EQ(s.sent(MessageType::Chat, 3), ids({before, after}));
        EXPECT_TRUE(s.server.framesOfType(MessageType::FileMeta).empty());

        EXPECT_FALSE(s.outbox->setFileId("없는 id", "f1", 300));
        EXPECT_TRUE(s.outbox->setFileId(file, "f1", 321));
        EXPECT_FALSE(s.outbox->setFileId(file, "f2", 321)); // uploaded once
        EXPECT_EQ(s.outbox->nextUpload(), nullptr);
        ASSERT_TRUE(s.server.waitForFrames(5));
        const auto metas = s.server.framesOfType(MessageType::FileMeta);
        ASSERT_EQ(metas.size(), 1u);
        EXPECT_EQ(metas[0].fields, (FieldList{kRoom.toStdString(), "f1", "보고서.pdf", "321", "",
                                              file.toStdString()}));

        // The echo lost with the connection: the FileMeta goes again, nothing is uploaded.
        ASSERT_TRUE(s.drop());
        s.server.clearFrames();
        ASSERT_TRUE(s.signIn());
        ASSERT_TRUE(s.everythingArrived());
        EXPECT_EQ(s.sent(MessageType::FileMeta, 5), ids({file}));
        EXPECT_EQ(announced, 1);
    }
    {
        // Started again: the id is kept, so the FileMeta alone goes.
        Session s(path);
        const OutboxEntry* kept = s.outbox->entry(file);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->target, "f1");
        EXPECT_EQ(kept->localPath, local);
        EXPECT_EQ(s.outbox->nextUpload(), nullptr);
        ASSERT_TRUE(s.signIn());
        ASSERT_TRUE(s.everythingArrived());
        EXPECT_EQ(s.sent(MessageType::FileMeta, 5), ids({file}));

        // A failed upload waits for the user; retried, it is to be uploaded again.
        const QString second = s.outbox->sendLocalFile(kRoom, local, "보고서.pdf", 300);
        EXPECT_TRUE(s.outbox->fail(second, "HTTP 413 too large"));
        EXPECT_FALSE(s.outbox->fail(second, "again"));
        EXPECT_EQ(s.outbox->nextUpload(), nullptr);
        EXPECT_EQ(s.outbox->failedCount(kRoom), 1);
        int announced = 0;
        QObject::connect(s.outbox.get(), &Outbox::uploadsWaiting, [&] { ++announced; });
        EXPECT_TRUE(s.outbox->retry(second));
        EXPECT_EQ(announced, 1);
        ASSERT_NE(s.outbox->nextUpload(), nullptr);
        EXPECT_EQ(s.outbox->nextUpload()->clientId, second);
    }
}

// A pasted picture's copy lives beside the outbox file while its entry does: removed once
// settled or removed, and a copy no entry names is cleared when the outbox opens.
TEST(Outbox, AKeptCopyGoesWithItsEntry) {
    QTemporaryDir dir;
    const QString path = Outbox::pathFor(dir.path(), QStringLiteral("01011112222"));
    const auto copyIn = [](const QString& folder, const QString& name) {
        QFile file(QDir(folder).filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("png");
        return file.fileName();
    };
    QString settledCopy, removedCopy, keptCopy, folder;
    QString settledId, removedId, keptId;
    {
        Session s(path);
        folder = s.outbox->filesFolder();
        ASSERT_FALSE(folder.isEmpty());
        EXPECT_TRUE(folder.startsWith(dir.path()));
        settledCopy = copyIn(folder, "1.png");
        removedCopy = copyIn(folder, "2.png");
        keptCopy = copyIn(folder, "3.png");
        settledId = s.outbox->sendLocalFile(kRoom, settledCopy, "a.png", 3, true);
        removedId = s.outbox->sendLocalFile(kRoom, removedCopy, "b.png", 3, true);
        keptId = s.outbox->sendLocalFile(kRoom, keptCopy, "c.png", 3, true);
        ASSERT_TRUE(s.signIn());
        ASSERT_TRUE(s.outbox->setFileId(settledId, "f1", 3));
        wire::FileMessage echo;
        echo.room = kRoom.toStdString();
        echo.fileId = "f1";
        echo.name = "a.png";
        echo.msgId = "8";
        echo.clientId = settledId.toStdString();
        EXPECT_EQ(s.outbox->settleFile(echo, true), settledId);
        EXPECT_FALSE(QFile::exists(settledCopy));
        QString removedSignal;
        QObject::connect(s.outbox.get(), &Outbox::removed,
                         [&](const QString& id) { removedSignal = id; });
        EXPECT_TRUE(s.outbox->remove(removedId));
        EXPECT_EQ(removedSignal, removedId);
        EXPECT_FALSE(QFile::exists(removedCopy));
        EXPECT_TRUE(QFile::exists(keptCopy));
    }
    const QString stray = copyIn(folder, "stray.png");
    Session s(path);
    EXPECT_EQ(s.outbox->size(), 1);
    EXPECT_TRUE(QFile::exists(keptCopy));
    EXPECT_FALSE(QFile::exists(stray));
}
