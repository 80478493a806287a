#pragma once
// The longest stretch the GUI thread spends between two turns of its event loop. A call that
// posts itself again runs once per turn (posted calls are not starved by a busy socket, unlike
// zero timers); the gaps between its runs are the time spent elsewhere: decoding, layout,
// painting. Header-only, for tests and benchmarks alike.

#include <QElapsedTimer>
#include <QObject>

#include <algorithm>
#include <ctime>

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
        lastCpu_ = threadCpuNs();
        longest_ = 0;
        longestCpu_ = 0;
        turns_ = 0;
    }
    // Milliseconds, the stretch running now included.
    double longestMs() const {
        return double(std::max(longest_, clock_.nsecsElapsed() - last_)) / 1e6;
    }
    // The same in the thread's own CPU time: what it spent working, which other processes on a
    // loaded machine do not stretch (a stall spent waiting on something does not count).
    double longestCpuMs() const {
        return double(std::max(longestCpu_, threadCpuNs() - lastCpu_)) / 1e6;
    }
    long long turns() const { return turns_; }

private:
    void post() {
        QMetaObject::invokeMethod(
            this, [this] { beat(); }, Qt::QueuedConnection);
    }
    static qint64 threadCpuNs() {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    }
    void beat() {
        const qint64 now = clock_.nsecsElapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
        const qint64 cpu = threadCpuNs();
        longestCpu_ = std::max(longestCpu_, cpu - lastCpu_);
        lastCpu_ = cpu;
        ++turns_;
        post();
    }

    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    qint64 lastCpu_ = threadCpuNs();
    qint64 longestCpu_ = 0;
    long long turns_ = 0;
};

} // namespace brindlewick::test
