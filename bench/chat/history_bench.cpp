// The open room's past through the real server on loopback, in a room of many messages.
//  1. Opening the room to its newest page painted, many times over (closing in between);
//     baseline from the same run: the same page as a bare socket's round trip.
//  2. Scrolling up page by page: the longest stretch the main thread spent away from the event
//     loop per page, and the late pages' cost against the first ones'.
//  3. Memory with everything paged in.
//
//   chat_history_bench [pages] [opens]

#include "bench_support.h"
#include "chat_events.h"
#include "client_under_test.h"
#include "main_window.h"
#include "room_history.h"
#include "room_session.h"
#include "transcript_view.h"

#include "server_harness.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <cstdio>
#include <filesystem>
#include <functional>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

const std::string kRoom = "dm:01000000001:01000000002";

const char* const kTexts[] = {
    "안녕하세요",      "오늘 회의는 세 시에 시작합니다. 자료는 공유 폴더에 올려 두었어요.",
    "네 알겠습니다 👍", "점심 뭐 먹을까요? 근처에 새로 생긴 국숫집이 괜찮다던데",
    "ㅋㅋㅋ",
};

// `count` messages from A, sent without waiting and then waited for as a whole.
bool fill(std::uint16_t port, int count) {
    test::ChatConnection a(port);
    if (!a.signIn("01000000001", "에이"))
        return false;
    for (int i = 1; i <= count; ++i) {
        a.send(wire::ChatRequest{kRoom, std::string(kTexts[i % 5]) + " #" + std::to_string(i),
                                 i % 10 == 0 ? std::to_string(i - 1) : ""});
        // Keep the connection's queue short: every 500th, wait for everything so far.
        if (i % 500 == 0 || i == count)
            for (std::optional<wire::ChatMessage> m; (m = a.nextMessage<wire::ChatMessage>());)
                if (m->msgId == std::to_string(i))
                    break;
    }
    return true;
}

// Runs the event loop until `done` holds, measuring the longest stretch between turns.
struct Beat {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    bool running = false;
    std::function<void()> tick;

    Beat() {
        tick = [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
            if (running)
                QMetaObject::invokeMethod(qApp, tick, Qt::QueuedConnection);
        };
    }
    // Milliseconds of the longest stretch; -1 on timeout.
    double runUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        clock.start();
        last = 0;
        longest = 0;
        running = true;
        QMetaObject::invokeMethod(qApp, tick, Qt::QueuedConnection);
        while (!done() && clock.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        running = false;
        longest = std::max(longest, clock.nsecsElapsed() - last);
        QCoreApplication::processEvents(); // the last posted tick
        return done() ? longest / 1e6 : -1;
    }
};

double median(const std::vector<double>& v) {
    return bench::percentile(v, 0.5);
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int pages = argc > 1 ? std::max(20, atoi(argv[1])) : 200;
    const int opens = argc > 2 ? std::max(5, atoi(argv[2])) : 40;
    const int messages = (pages + 1) * RoomHistory::kPageSize + 500;
    const std::string dataDir = test::makeTempDir();
    int status = 0;
    {
        test::ServerProcess server(dataDir);
        QElapsedTimer fillClock;
        fillClock.start();
        {
            test::ChatConnection b(server.chatPort); // known to the server
            if (!b.signIn("01000000002", "비") || !fill(server.chatPort, messages))
                return 1;
        }
        {
            // All read: the room opens at its newest page, and scrolling brings the rest (a room
            // opened with unread messages would go on to its read line by itself).
            test::ChatConnection b(server.chatPort);
            const std::string mark = std::to_string(messages);
            if (!b.signIn("01000000002", "비"))
                return 1;
            b.send(wire::ReadWatermark{kRoom, mark});
            b.send(wire::HistoryRequest{kRoom, "", "1"});
            const std::optional<wire::HistoryPage> marked = b.nextMessage<wire::HistoryPage>();
            if (!marked || marked->readMark != mark) {
                std::printf("the read mark was not stored\n");
                return 1;
            }
        }
        std::printf("room: %d messages, filled over the protocol in %.1f s\n", messages,
                    fillClock.elapsed() / 1000.0);

        ServerConfig config;
        config.chatPort = server.chatPort;
        config.httpPort = server.httpPort;
        bench::QuietPlatform platform;
        ClientUnderTest b(QStringLiteral("01000000002"), QStringLiteral("비"), QStringLiteral(""),
                          config, platform);
        b.showMain();
        TranscriptView& transcript = b.transcript();
        QAbstractScrollArea* view = transcript.view();
        RoomHistory& history = *b.session().history;
        Beat beat;
        if (beat.runUntil([&] { return b.statusText().startsWith("친구"); }) < 0) {
            std::printf("no sign-in: %s\n", qPrintable(b.statusText()));
            return 1;
        }
        const long rssBefore = bench::statusKiB("VmRSS:");

        // 1. Open to painted, against a bare socket asking for the same page.
        test::ChatConnection bare(server.chatPort);
        if (!bare.signIn("01000000002", "비"))
            return 1;
        std::vector<double> openMs, bareMs;
        QElapsedTimer clock;
        for (int i = -3; i < opens; ++i) { // three to warm up
            b.closeRoom();
            app.processEvents();
            clock.start();
            b.openRoom(QString::fromStdString(kRoom), QStringLiteral("에이"));
            if (beat.runUntil(
                    [&] { return history.opened() && !transcript.chatItems().isEmpty(); }) < 0) {
                std::printf("no newest page\n");
                return 1;
            }
            transcript.flush();
            view->viewport()->repaint();
            const double ms = clock.nsecsElapsed() / 1e6;
            clock.start();
            bare.send(wire::HistoryRequest{kRoom, "", "50"});
            if (!bare.nextMessage<wire::HistoryPage>())
                return 1;
            const double bms = clock.nsecsElapsed() / 1e6;
            if (i >= 0) {
                openMs.push_back(ms);
                bareMs.push_back(bms);
            }
        }
        std::printf("open -> newest page painted: median %.2f ms, p90 %.2f ms (aim median < 100)\n",
                    median(openMs), bench::percentile(openMs, 0.9));
        std::printf("baseline, bare socket newest page: median %.2f ms; window / bare: %.1fx\n",
                    median(bareMs), median(openMs) / median(bareMs));

        // 2. Scrolling up, one page at a time; the page is asked for when the view nears the top.
        std::vector<double> stallMs;
        for (int p = 0; p < pages; ++p) {
            const qsizetype before = transcript.chatItems().size();
            transcript.flush();
            view->verticalScrollBar()->setValue(0);
            const double stall = beat.runUntil(
                [&] { return transcript.chatItems().size() > before && !history.loading(); });
            if (stall < 0) {
                std::printf("page %d did not arrive\n", p + 1);
                return 1;
            }
            view->viewport()->repaint();
            stallMs.push_back(stall);
        }
        const std::vector<double> first(stallMs.begin(), stallMs.begin() + 10);
        const std::vector<double> last(stallMs.end() - 10, stallMs.end());
        std::printf("scrolling up %d pages: longest stall per page median %.2f ms, p90 %.2f ms, "
                    "max %.2f ms (aim < 30)\n",
                    pages, median(stallMs), bench::percentile(stallMs, 0.9),
                    *std::max_element(stallMs.begin(), stallMs.end()));
        std::printf("last 10 pages against the first 10 (medians): %.2f ms / %.2f ms = %.2fx "
                    "(aim within 1.5x)\n",
                    median(last), median(first), median(last) / median(first));
        const long rssAfter = bench::statusKiB("VmRSS:");
        std::printf("memory: VmRSS %.1f MiB with %lld entries loaded, %.1f MiB before opening "
                    "(+%.1f MiB)\n",
                    rssAfter / 1024.0, static_cast<long long>(transcript.chatItems().size()),
                    rssBefore / 1024.0, (rssAfter - rssBefore) / 1024.0);
        if (transcript.chatItems().size() < qsizetype(pages + 1) * RoomHistory::kPageSize)
            status = 1;
    }
    std::filesystem::remove_all(dataDir);
    return status;
}
