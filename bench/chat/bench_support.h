#pragma once
// Shared bits of the chat benchmarks: an offscreen application, a platform that does nothing,
// memory figures and percentiles.

#include "platform.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <vector>

namespace bench {

inline void ensureOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The user works in this window: no desktop notifications, no dialogs.
class QuietPlatform : public brindlewick::Platform {
public:
    void beep() override {}
    void requestAttention() override {}
    bool isApplicationActive() const override { return true; }
    void postDesktopNotification(const QString&, const QString&, const QString&) override {}
    int runAlert(QWidget*, const QString&, const QString&, const QStringList&) override {
        return kFirstButton;
    }
    brindlewick::AddFriendInput runAddFriendDialog(QWidget*) override { return {}; }
    QString runOpenPanel(QWidget*, const QString&) override { return {}; }
    QString runSavePanel(QWidget*, const QString&, const QString&) override { return {}; }
    void openFile(const QString&) override {}
    void openUrl(const QUrl&) override {}
};

// A field of /proc/self/status in KiB.
inline long statusKiB(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    return -1;
}

inline double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace bench
