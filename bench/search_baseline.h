#pragma once
// Timing and the plain indexOf baseline shared by the search benchmarks.

#include <QElapsedTimer>
#include <QString>

#include <algorithm>

namespace brindlewick::bench {

// Best of `rounds`, in milliseconds.
template <typename F> double bestMs(int rounds, F&& f) {
    double best = 1e18;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

// Successive case-insensitive matches: what any search must at least do.
inline qsizetype indexOfLoop(const QString& text, const QString& word) {
    qsizetype n = 0;
    for (qsizetype pos = 0; (pos = text.indexOf(word, pos, Qt::CaseInsensitive)) >= 0;
         pos += word.size())
        ++n;
    return n;
}

} // namespace brindlewick::bench
