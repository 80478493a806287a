// Transcript search over 100,000 entries for a word with 1,000 matches, against a plain
// case-insensitive QString::indexOf loop over the same text; and the cost of stepping.
//
//   QT_QPA_PLATFORM=offscreen views_transcript_search_bench [entries]

#include "bench_corpus.h"
#include "search_baseline.h"

#include "message_list_view.h"
#include <algorithm>

using brindlewick::bench::bestMs;
using brindlewick::bench::indexOfLoop;

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1000, atoi(argv[1])) : 100000;
    const QString word = QStringLiteral("Kickoff회의");
    const int rounds = 5;

    brindlewick::MessageListView browser;
    browser.resize(640, 480);
    browser.show();
    brindlewick::TranscriptView view(&browser);
    const QVector<QImage> pics = bench::pictures();
    const QVector<bench::Entry> entries = bench::corpus(count, count / 1000, word);
    for (int i = 0; i < count; ++i) {
        bench::append(view, entries[i], pics);
        if (i % 100 == 99)
            app.processEvents();
    }
    app.processEvents();

    const QString text = view.plainText();
    qsizetype baselineMatches = 0;
    const double baseline = bestMs(rounds, [&] { baselineMatches = indexOfLoop(text, word); });
    const double extract = bestMs(rounds, [&] { (void)view.plainText(); });
    brindlewick::TranscriptSearch engine;
    const double engineOnly = bestMs(rounds, [&] { engine.findSearchChanged(word, text); });
    const double full = bestMs(rounds, [&] { view.findSearchChanged(word); });

    // Stepping: the average of many steps, against one search.
    const int steps = 1000;
    const double stepEngine = bestMs(rounds,
                                     [&] {
                                         for (int i = 0; i < steps; ++i)
                                             engine.findNext();
                                     }) /
                              steps;
    const double stepView = bestMs(1,
                                   [&] {
                                       for (int i = 0; i < steps; ++i)
                                           view.findNext();
                                   }) /
                            steps;

    // Text in decomposed form somewhere (a file name from another system) needs real work.
    const QString jamo = QString::fromUtf8("자료.hwp").normalized(QString::NormalizationForm_D);
    QString mixed = text;
    mixed.insert(text.size() / 2, jamo);
    const double decomposed = bestMs(rounds, [&] { engine.findSearchChanged(word, mixed); });
    view.appendChatMsgId("d", "Jun", jamo, "", false, "");
    const double decomposedView = bestMs(rounds, [&] { view.findSearchChanged(word); });

    std::printf("transcript: %d entries, %lld UTF-16 units, %lld matches (indexOf loop %lld)\n",
                count, (long long)text.size(), (long long)view.search().matches().size(),
                (long long)baselineMatches);
    std::printf("baseline indexOf loop: %.2f ms\n", baseline);
    std::printf("search in TranscriptView (text read + search + select): %.2f ms, ratio %.2f "
                "(aim <= 3)\n",
                full, full / baseline);
    std::printf(
        "  for comparison: reading the document text (not done: the view keeps a copy) %.2f ms; "
        "engine over a plain QString %.2f ms, ratio %.2f\n",
        extract, engineOnly, engineOnly / baseline);
    std::printf("step to next match: engine %.4f us, view (select, scroll, highlight) %.1f us; "
                "%.5f / %.4f of a search (no re-scan)\n",
                stepEngine * 1000, stepView * 1000, stepEngine / engineOnly, stepView / full);
    std::printf("with some decomposed text in the transcript: view %.2f ms, ratio %.2f; engine "
                "alone %.2f ms, ratio %.2f\n",
                decomposedView, decomposedView / baseline, decomposed, decomposed / baseline);
    return 0;
}
