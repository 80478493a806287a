// Return in A's composer to A's own message shown as sent (its echo came back) and to the entry
// in B's transcript, two windows in one process talking through the real server on loopback.
// Baseline from the same run: the same message between two bare sockets through the same server
// (its own delivery time, no window on either side).
//
//   chat_latency_bench [messages]
//   BENCH_READ_MARKS=1 also sends the read marks the windows send, on the bare sockets

#include "bench_support.h"
#include "chat_client.h"
#include "client_under_test.h"
#include "main_window.h"
#include "room_session.h"
#include "transcript_view.h"

#include "server_harness.h"
#include <QPlainTextEdit>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <filesystem>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

// Runs the event loop as the application does (blocking until something happens) until `done`
// holds; `done` is checked whenever a row of `models` comes or changes and on a slow timer.
bool runUntil(std::initializer_list<QAbstractItemModel*> models, const std::function<bool()>& done,
              int timeoutMs = 10000) {
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer t;
    t.start();
    auto check = [&] {
        if (done() || t.elapsed() > timeoutMs)
            loop.quit();
    };
    for (QAbstractItemModel* model : models) {
        QObject::connect(model, &QAbstractItemModel::rowsInserted, &loop, check);
        QObject::connect(model, &QAbstractItemModel::dataChanged, &loop, check);
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(20);
    loop.exec();
    return done();
}

void report(const char* what, const std::vector<double>& ms) {
    std::printf("%s: %zu messages, median %.3f ms, p99 %.3f ms, max %.3f ms\n", what, ms.size(),
                bench::percentile(ms, 0.5), bench::percentile(ms, 0.99),
                *std::max_element(ms.begin(), ms.end()));
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(20, atoi(argv[1])) : 1000;
    const std::string dataDir = test::makeTempDir();
    std::vector<double> ownMs, windowMs, bareMs;
    {
        test::ServerProcess server(dataDir);
        ServerConfig config;
        config.chatPort = server.chatPort;
        config.httpPort = server.httpPort;
        bench::QuietPlatform platformA, platformB;
        ClientUnderTest a(QStringLiteral("01000000001"), QStringLiteral("에이"), QStringLiteral(""),
                          config, platformA);
        ClientUnderTest b(QStringLiteral("01000000002"), QStringLiteral("비"), QStringLiteral(""),
                          config, platformB);
        a.showMain();
        b.showMain();
        const QString room = QStringLiteral("dm:01000000001:01000000002");
        // The server takes a direct room only with a phone that signed in once.
        if (!runUntil({b.transcript().view()->model()}, [&] {
                return a.session().outbox->signedIn() && b.session().outbox->signedIn();
            }))
            return 1;
        // The first message creates the room on the server; B joins after it.
        a.openRoom(room, QStringLiteral("비"));
        a.composer()->setPlainText(QStringLiteral("준비"));
        QTest::keyClick(a.composer(), Qt::Key_Return);
        if (!runUntil({a.transcript().view()->model()},
                      [&] { return a.transcript().model().messageCount() > 0; }))
            return 1;
        b.openRoom(room, QStringLiteral("에이"));
        // Warm up until B sees a message.
        for (int tries = 0; b.transcript().model().messageCount() == 0 && tries < 50; ++tries) {
            a.composer()->setPlainText(QStringLiteral("준비"));
            QTest::keyClick(a.composer(), Qt::Key_Return);
            runUntil(
                {b.transcript().view()->model()},
                [&] { return b.transcript().model().messageCount() != 0; }, 200);
        }
        if (b.transcript().model().messageCount() == 0) {
            std::printf("no delivery; B shows: %s\n", qPrintable(b.transcript().plainText()));
            return 1;
        }
        runUntil(
            {b.transcript().view()->model()}, [] { return false; },
            300); // warm-up echoes settle

        const TranscriptModel& modelA = a.transcript().model();
        const TranscriptModel& modelB = b.transcript().model();
        auto ownSent = [&](int before) {
            if (modelA.messageCount() <= before)
                return false;
            for (int row = modelA.size() - 1; row >= 0; --row)
                if (const ChatItem* item = modelA.message(row))
                    return item->sendState == SendState::Sent;
            return false;
        };
        QElapsedTimer clock;
        for (int i = 0; i < count; ++i) {
            const int beforeA = modelA.messageCount();
            const int beforeB = modelB.messageCount();
            a.composer()->setPlainText(QStringLiteral("지연 측정 메시지 %1").arg(i));
            bool sent = false, shown = false;
            clock.start();
            QTest::keyClick(a.composer(), Qt::Key_Return);
            if (!runUntil({a.transcript().view()->model(), b.transcript().view()->model()}, [&] {
                    if (!sent && ownSent(beforeA)) {
                        sent = true;
                        ownMs.push_back(clock.nsecsElapsed() / 1e6);
                    }
                    if (!shown && modelB.messageCount() > beforeB) {
                        shown = true;
                        windowMs.push_back(clock.nsecsElapsed() / 1e6);
                    }
                    return sent && shown;
                }))
                return 1;
        }
        std::printf("transcripts: A %lld entries, B %lld entries\n",
                    static_cast<long long>(a.transcript().chatItems().size()),
                    static_cast<long long>(b.transcript().model().messageCount()));

        // Baseline: two plain connections through the same server.
        test::ChatConnection sa(server.chatPort), sb(server.chatPort);
        if (!sa.signIn("01000000003", "씨") || !sb.signIn("01000000004", "디"))
            return 1;
        const std::string bareRoom = "dm:01000000003:01000000004";
        sa.send(MessageType::JoinRoom, {bareRoom});
        sb.send(MessageType::JoinRoom, {bareRoom});
        const bool withReadMarks = qEnvironmentVariableIsSet("BENCH_READ_MARKS");
        for (int i = 0; i < count; ++i) {
            clock.start();
            sa.send(MessageType::Chat, {bareRoom, "지연 측정 메시지 " + std::to_string(i)});
            const std::optional<test::Frame> got = sb.nextOf(MessageType::Chat);
            if (!got || got->fields.size() < 5)
                return 1;
            bareMs.push_back(clock.nsecsElapsed() / 1e6);
            sa.nextOf(MessageType::Chat); // its own echo
            if (withReadMarks) {          // what the windows send for every entry they show
                sb.send(MessageType::ReadWatermark, {bareRoom, got->fields[4]});
                sa.send(MessageType::ReadWatermark, {bareRoom, got->fields[4]});
            }
        }
    }
    std::filesystem::remove_all(dataDir);
    report("window A Return -> own message shown as sent", ownMs);
    report("window A Return -> window B entry", windowMs);
    report("baseline, bare socket -> bare socket", bareMs);
    std::printf("median ratio window / bare: %.2fx (aim: window median < 5 ms)\n",
                bench::percentile(windowMs, 0.5) / bench::percentile(bareMs, 0.5));
    return 0;
}
