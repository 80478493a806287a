#pragma once
// Shared by the two start-up probes: report once a window has painted for the first time.

#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace brindlewick::bench {

// Resident memory of this process in KiB, from /proc.
inline long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Prints "shown" at the window's first paint; then, once `settled` holds (checked every
// 20 ms) and 300 ms more have passed, prints "rss <KiB>" and quits.
class FirstPaintProbe : public QObject {
public:
    FirstPaintProbe(QWidget* window, std::function<bool()> settled)
        : QObject(window), settled_(std::move(settled)) {
        for (QWidget* widget : window->findChildren<QWidget*>())
            widget->installEventFilter(this);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !shown_) {
            shown_ = true;
            std::printf("shown\n");
            std::fflush(stdout);
            QTimer::singleShot(0, this, [this] { waitForSettled(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void waitForSettled() {
        if (settled_ && !settled_()) {
            QTimer::singleShot(20, this, [this] { waitForSettled(); });
            return;
        }
        QTimer::singleShot(300, this, [] {
            std::printf("rss %ld\n", residentKiB());
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

    std::function<bool()> settled_;
    bool shown_ = false;
};

} // namespace brindlewick::bench
