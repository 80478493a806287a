#pragma once
// The longest stretch the GUI thread spends between two turns of its event loop. A call that
// posts itself again runs once per turn (posted calls are not starved by a busy socket, unlike
// zero timers); the gaps between its runs are the time spent elsewhere: decoding, layout,
// painting. Header-only, for tests and benchmarks alike.

#include <QElapsedTimer>
#include <QObject>

#include <algorithm>

namespace brindlewick::test {

class StallMeter : public QObject {
public:
    StallMeter() {
        clock_.start();
        post();
    }

    // Starts over from now.
    void reset() {
        last_ = clock_.nsecsElapsed();
        longest_ = 0;
        turns_ = 0;
    }
    // Milliseconds, the stretch running now included.
    double longestMs() const {
        return double(std::max(longest_, clock_.nsecsElapsed() - last_)) / 1e6;
    }
    long long turns() const { return turns_; }

private:
    void post() {
        QMetaObject::invokeMethod(
            this, [this] { beat(); }, Qt::QueuedConnection);
    }
    void beat() {
        const qint64 now = clock_.nsecsElapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
        ++turns_;
        post();
    }

    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    long long turns_ = 0;
};

} // namespace brindlewick::test
