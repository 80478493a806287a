// The transcript of the signed-in window as a reader meets it: opening a room to its painted first
// page, paging up 200 pages of 50 (the last 10 pages' cost against the first 10), the resident
// memory with the 10,000 messages loaded, and the paint time per frame while scrolling through
// them. Only the transcript's public face and its view as a scroll area are used, so the same
// source measures any transcript behind that face.
//
//   QT_QPA_PLATFORM=offscreen views_transcript_pages_bench [pages]
//
// The last lines are "figure <name> <value>" for scripts: open_ms, page_first10_ms,
// page_last10_ms, page_growth, rss_loaded_mib, scroll_median_ms, scroll_p95_ms.

#include "chat/bench_support.h"
#include "client_under_test.h"
#include "main_window.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QMainWindow>
#include <QScrollBar>
#include <QTcpServer>

#include <cstdio>
#include <vector>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

constexpr int kPageSize = 50;

// Counts the paint events a widget receives: a frame that painted nothing measured nothing.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Message `n` of a busy room (1 is the oldest): several senders with pictures, one's own, replies,
// lengths from a word to a few lines, a new day every 400 messages.
TranscriptEntry message(int n, const QVector<QImage>& pictures) {
    static const QStringList senders = {"민수", "지영", "하나", "나", "서준", "도윤", "예린"};
    static const QStringList texts = {
        "안녕하세요",
        "오늘 회의는 세 시에 시작합니다. 자료는 공유 폴더에 올려 두었어요.",
        "네 알겠습니다 👍",
        "점심 뭐 먹을까요? 근처에 새로 생긴 국숫집이 괜찮다던데",
        "ㅋㅋㅋㅋ",
        "어제 보낸 파일 확인 부탁드립니다. 수정한 부분은 빨간색으로 표시했어요. 내일까지 의견 "
        "주시면 반영하겠습니다. https://example.com/문서/42",
        "잠시만요",
        "퇴근합니다~ 다들 수고하셨어요\n내일 뵙겠습니다"};
    TranscriptEntry e;
    const int s = (n * 5) % senders.size();
    e.msgId = QString::number(n);
    e.sender = senders[s];
    e.mine = e.sender == QStringLiteral("나");
    e.text = texts[(n * 3) % texts.size()];
    const int day = 1 + n / 400 % 28, minute = n % 400;
    e.time = QStringLiteral("2026-11-%1T%2:%3:00+09:00")
                 .arg(day, 2, 10, QLatin1Char('0'))
                 .arg(8 + minute / 60, 2, 10, QLatin1Char('0'))
                 .arg(minute % 60, 2, 10, QLatin1Char('0'));
    e.dayTime = e.time;
    e.replyTo = n % 10 == 3 && n > 2 ? QString::number(n - 2) : QString();
    if (!e.mine)
        e.picture = {QStringLiteral("pic-%1").arg(s), pictures[s]};
    return e;
}

// Messages `from`..`to`, oldest first.
QList<TranscriptEntry> page(int from, int to, const QVector<QImage>& pictures) {
    QList<TranscriptEntry> out;
    for (int n = from; n <= to; ++n)
        out << message(n, pictures);
    return out;
}

double millis(const QElapsedTimer& clock) {
    return clock.nsecsElapsed() / 1e6;
}

double mean(const std::vector<double>& v, size_t from, size_t count) {
    double sum = 0;
    for (size_t i = from; i < from + count && i < v.size(); ++i)
        sum += v[i];
    return count ? sum / double(count) : 0;
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int pages = argc > 1 ? std::max(20, atoi(argv[1])) : 200;
    const int newest = pages * kPageSize;

    QVector<QImage> pictures;
    for (int i = 0; i < 8; ++i) {
        QImage img(96, 96, QImage::Format_ARGB32);
        img.fill(QColor::fromHsv(i * 45, 200, 220));
        pictures << img;
    }

    // Nothing answers: the window shows only what the benchmark puts into its transcript.
    bench::QuietPlatform platform;
    ServerConfig config;
    config.chatPort = closedPort();
    config.httpPort = closedPort();
    ClientUnderTest controller(QStringLiteral("01000000000"), QStringLiteral("나"),
                               QStringLiteral(""), config, platform);
    controller.showMain();
    controller.window()->resize(1000, 760);
    app.processEvents();
    TranscriptView& transcript = controller.transcript();
    QAbstractScrollArea* view = transcript.view();
    QScrollBar* bar = view->verticalScrollBar();
    const auto paint = [&] {
        transcript.flush();
        view->viewport()->repaint();
    };
    PaintCounter painted;
    view->viewport()->installEventFilter(&painted);

    // Opening: a room's newest page put in, the view placed, the viewport painted.
    std::vector<double> opens;
    for (int round = 0; round < 21; ++round) {
        const QString room = QStringLiteral("room-%1").arg(round % 2);
        const QList<TranscriptEntry> first = page(newest - kPageSize + 1, newest, pictures);
        QElapsedTimer clock;
        clock.start();
        controller.openRoom(room, QStringLiteral("벤치"));
        transcript.prependEntries(first, PageMarks{});
        transcript.scrollToReadLine();
        paint();
        opens.push_back(millis(clock));
        app.processEvents();
    }

    // Paging up: the reader at the top, a page put in above, the view painted.
    controller.openRoom(QStringLiteral("room-paged"), QStringLiteral("벤치"));
    app.processEvents();
    const long rssEmpty = bench::statusKiB("VmRSS:");
    std::vector<double> pageMs;
    for (int p = 0; p < pages; ++p) {
        const int to = newest - p * kPageSize;
        const QList<TranscriptEntry> entries = page(to - kPageSize + 1, to, pictures);
        PageMarks marks;
        marks.beginning = p == pages - 1;
        bar->setValue(0);
        QElapsedTimer clock;
        clock.start();
        transcript.prependEntries(entries, marks);
        paint();
        pageMs.push_back(millis(clock));
        app.processEvents();
    }
    const qsizetype loaded = transcript.chatItems().size();
    const long rssLoaded = bench::statusKiB("VmRSS:");

    // Scrolling from the top to the bottom of all that is loaded, a wheel notch at a time (at most
    // 3,000 frames, spread evenly over the whole height).
    paint();
    const int step = std::max(1, view->viewport()->height() / 8);
    const int frames = std::min(3000, std::max(1, bar->maximum() / step));
    std::vector<double> frameMs;
    painted.count = 0;
    for (int f = 0; f <= frames; ++f) {
        const int value = int(qint64(bar->maximum()) * f / frames);
        QElapsedTimer clock;
        clock.start();
        bar->setValue(value);
        view->viewport()->repaint();
        frameMs.push_back(millis(clock));
    }
    const int framesPainted = painted.count;
    app.processEvents();

    const double open = bench::percentile(opens, 0.5);
    const double first10 = mean(pageMs, 0, 10), last10 = mean(pageMs, pageMs.size() - 10, 10);
    std::printf(
        "opening a room to its painted first page of %d: median %.2f ms of %zu (aim < 50)\n",
        kPageSize, open, opens.size());
    std::printf("paging up %d pages of %d: first 10 pages %.2f ms each, last 10 %.2f ms each, "
                "last/first %.2fx (aim <= 1.2x); all pages %.0f ms\n",
                pages, kPageSize, first10, last10, last10 / first10,
                mean(pageMs, 0, pageMs.size()) * double(pageMs.size()));
    std::printf("memory: VmRSS %.1f MiB with %lld messages loaded, %.1f MiB with the room empty\n",
                rssLoaded / 1024.0, static_cast<long long>(loaded), rssEmpty / 1024.0);
    std::printf("scrolling through them: %zu frames of %d px in a %dx%d viewport (%d painted), "
                "paint per frame median %.2f ms, p95 %.2f ms, max %.2f ms (aim < 8 median)\n",
                frameMs.size(), step, view->viewport()->width(), view->viewport()->height(),
                framesPainted, bench::percentile(frameMs, 0.5), bench::percentile(frameMs, 0.95),
                bench::percentile(frameMs, 1.0));
    std::printf("figure open_ms %.3f\n", open);
    std::printf("figure page_first10_ms %.3f\n", first10);
    std::printf("figure page_last10_ms %.3f\n", last10);
    std::printf("figure page_growth %.3f\n", last10 / first10);
    std::printf("figure rss_loaded_mib %.1f\n", rssLoaded / 1024.0);
    std::printf("figure scroll_median_ms %.3f\n", bench::percentile(frameMs, 0.5));
    std::printf("figure scroll_p95_ms %.3f\n", bench::percentile(frameMs, 0.95));
    return loaded == qsizetype(newest) && framesPainted >= int(frameMs.size()) ? 0 : 1;
}
