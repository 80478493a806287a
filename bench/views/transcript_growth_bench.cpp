// Appends 100,000 chat entries through TranscriptView into a shown list view and compares:
// late vs early cost per entry, the total vs the same texts appended to a bare QTextDocument, and
// the resident memory afterwards.
//
//   QT_QPA_PLATFORM=offscreen views_transcript_growth_bench [entries]

#include "bench_corpus.h"

#include "message_list_view.h"
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(2000, atoi(argv[1])) : 100000;
    const int window = 1000;
    const int turn = 100; // entries arriving per turn of the event loop

    const QVector<QImage> pics = bench::pictures();
    const QVector<bench::Entry> entries = bench::corpus(count);
    const long rssStart = bench::statusKiB("VmRSS:");

    QElapsedTimer clock;
    qint64 firstNs = 0, lastNs = 0, totalNs = 0;
    {
        brindlewick::MessageListView browser;
        browser.resize(640, 480);
        browser.show();
        brindlewick::TranscriptView view(&browser);
        app.processEvents();
        for (int i = 0; i < count; ++i) {
            clock.start();
            bench::append(view, entries[i], pics);
            if (i % turn == turn - 1)
                app.processEvents();
            const qint64 ns = clock.nsecsElapsed();
            totalNs += ns;
            if (i < window)
                firstNs += ns;
            if (i >= count - window)
                lastNs += ns;
        }
        app.processEvents();
        const long rss = bench::statusKiB("VmRSS:");
        const long hwm = bench::statusKiB("VmHWM:");
        QScrollBar* bar = browser.verticalScrollBar();
        std::printf("transcript: %d entries, %d rows, %d pictures, scrolled to end: %s\n", count,
                    view.model().size(), view.pictureResourceCount(),
                    bar->value() == bar->maximum() ? "yes" : "no");
        std::printf(
            "memory: VmRSS %.1f MiB, VmHWM %.1f MiB (%.1f MiB before appending; aim < 200)\n",
            rss / 1024.0, hwm / 1024.0, rssStart / 1024.0);
    }

    // Baseline: the same texts into a bare QTextDocument, one insertText per entry.
    qint64 bareNs = 0;
    {
        QTextDocument doc;
        doc.setUndoRedoEnabled(false);
        QTextCursor cursor(&doc);
        clock.start();
        for (int i = 0; i < count; ++i) {
            const bench::Entry& e = entries[i];
            QString t = i == 0 ? QString() : QStringLiteral("\n");
            if (!e.replyTo.isEmpty())
                t += "  ↳ [답장 #" + e.replyTo + "]\n";
            t += QChar(QChar::ObjectReplacementCharacter);
            t += " " + e.sender + "  " + e.time.mid(11, 5) + "\n" + e.text + "\n";
            cursor.insertText(t);
        }
        bareNs = clock.nsecsElapsed();
    }

    const double first = firstNs / double(window) / 1000.0;
    const double last = lastNs / double(window) / 1000.0;
    std::printf("per entry: first %d %.1f us, last %d %.1f us, ratio %.2f (aim <= 2)\n", window,
                first, window, last, last / first);
    std::printf("total: view %.0f ms, bare QTextDocument %.0f ms, ratio %.2f (aim <= 3)\n",
                totalNs / 1e6, bareNs / 1e6, double(totalNs) / double(bareNs));
    return 0;
}
