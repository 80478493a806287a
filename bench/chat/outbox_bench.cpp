// The outbox's cost, through the real server on loopback.
//  1. Send latency: Return in A's composer to A's own row shown as sent (the echo settled it),
//     and to the message shown in B's window, median and p99.
//  2. A burst typed while offline: `burst` messages taken into the open room's outbox before
//     the client connects, then the time from connecting until all are sent and settled, and
//     the longest event-loop stall meanwhile (the server's per-sender rate raised, as it would
//     otherwise pace the burst at 50 a second).
//
//   chat_outbox_bench [messages] [burst]

#include "bench_support.h"
#include "client_under_test.h"
#include "main_window.h"
#include "outbox.h"
#include "room_session.h"
#include "server_harness.h"
#include "stall_meter.h"
#include "transcript_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <filesystem>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

// Runs the event loop, blocking until something happens, until `done` holds.
bool runUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void report(const char* what, const std::vector<double>& ms) {
    std::printf("%s: %zu messages, median %.3f ms, p99 %.3f ms, max %.3f ms\n", what, ms.size(),
                bench::percentile(ms, 0.5), bench::percentile(ms, 0.99),
                *std::max_element(ms.begin(), ms.end()));
}

const ChatItem* lastOf(ClientUnderTest& c) {
    const TranscriptModel& model = c.transcript().model();
    for (int row = model.size() - 1; row >= 0; --row)
        if (const ChatItem* item = model.message(row))
            return item;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(20, atoi(argv[1])) : 500;
    const int burst = argc > 2 ? std::max(1, atoi(argv[2])) : 10000;
    const std::string dataDir = test::makeTempDir();
    QTemporaryDir outboxes;
    const QString room = QStringLiteral("dm:01000000001:01000000002");
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
        a.session().outbox->attach(outboxes.filePath("a.db"));
        a.showMain();
        b.showMain();
        if (!runUntil(
                [&] { return a.session().outbox->signedIn() && b.session().outbox->signedIn(); }))
            return 1;
        a.openRoom(room, QStringLiteral("비"));
        b.openRoom(room, QStringLiteral("에이"));
        QPlainTextEdit* composer = a.composer();
        for (int i = 0; i < 20; ++i) { // warm up
            composer->setPlainText(QStringLiteral("준비"));
            QTest::keyClick(composer, Qt::Key_Return);
        }
        if (!runUntil(
                [&] { return a.session().outbox->size() == 0 && b.session().room->isOpen(); }))
            return 1;
        runUntil([] { return false; }, 300);

        std::vector<double> sentMs, shownMs;
        const qint64 commitsBefore = a.session().outbox->diskCommits();
        QElapsedTimer clock;
        for (int i = 0; i < count; ++i) {
            const int before = b.transcript().model().messageCount();
            composer->setPlainText(QStringLiteral("지연 측정 메시지 %1").arg(i));
            clock.start();
            QTest::keyClick(composer, Qt::Key_Return);
            bool sent = false, shown = false;
            if (!runUntil([&] {
                    if (!sent && a.session().outbox->size() == 0 && lastOf(a) &&
                        lastOf(a)->sendState == SendState::Sent) {
                        sent = true;
                        sentMs.push_back(clock.nsecsElapsed() / 1e6);
                    }
                    if (!shown && b.transcript().model().messageCount() > before) {
                        shown = true;
                        shownMs.push_back(clock.nsecsElapsed() / 1e6);
                    }
                    return sent && shown;
                }))
                return 1;
        }
        report("Return to own row sent (echo settled)", sentMs);
        a.session().outbox->flush();
        std::printf("outbox file: %lld transactions for %d messages taken and settled\n",
                    static_cast<long long>(a.session().outbox->diskCommits() - commitsBefore),
                    count);
        report("Return to the message shown in B's window", shownMs);
    }
    {
        // A burst typed offline into a fresh server's room, then connected.
        std::filesystem::remove_all(dataDir);
        // The server's per-sender rate (50 a second by default) would pace the burst alone.
        test::ServerProcess server(dataDir, "--max-messages-per-second 100000");
        {
            test::ChatConnection b(server.chatPort);
            if (!b.signIn("01000000002", "비"))
                return 1;
        }
        ServerConfig config;
        config.chatPort = server.chatPort;
        config.httpPort = server.httpPort;
        bench::QuietPlatform platform;
        ClientUnderTest a(QStringLiteral("01000000001"), QStringLiteral("에이"), QStringLiteral(""),
                          config, platform);
        a.session().outbox->attach(outboxes.filePath("burst.db"));
        a.openRoom(room, QStringLiteral("비"));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < burst; ++i)
            a.session().room->send(QStringLiteral("오프라인 %1").arg(i));
        std::printf("burst: %d messages taken offline in %.0f ms (outbox file and rows)\n", burst,
                    clock.nsecsElapsed() / 1e6);
        a.session().outbox->flush();
        const qint64 takenCommits = a.session().outbox->diskCommits();
        std::printf("burst: written to the outbox file in %lld transactions (one sync each)\n",
                    static_cast<long long>(takenCommits));
        runUntil([] { return false; }, 200);
        test::StallMeter stalls;
        clock.start();
        stalls.reset();
        a.showMain();
        const bool done = runUntil(
            [&] {
                if (a.session().outbox->size() != 0)
                    return false;
                const QList<ChatItem> items = a.transcript().chatItems();
                return std::all_of(items.begin(), items.end(), [](const ChatItem& item) {
                    return item.sendState == SendState::Sent;
                });
            },
            120000);
        const double total = clock.nsecsElapsed() / 1e6;
        std::printf("burst: %s %d messages sent and settled %.0f ms after connecting; longest "
                    "event-loop stall %.1f ms\n",
                    done ? "all" : "NOT all", burst, total, stalls.longestMs());
        if (!done)
            return 1;
        a.session().outbox->flush();
        std::printf("burst: settled ones removed from the outbox file in %lld transactions\n",
                    static_cast<long long>(a.session().outbox->diskCommits() - takenCommits));
    }
    std::filesystem::remove_all(dataDir);
    return 0;
}
