#pragma once
// Which picture downloads may start now. A picture already on its way is not asked for again,
// and one whose download failed waits a while: the sidebar asks for every icon on each repaint,
// which would otherwise keep a failing server busy.

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

namespace brindlewick {

class AvatarRequests {
public:
    static constexpr qint64 kFailurePauseMs = 60 * 1000;
    using Clock = std::function<qint64()>; // milliseconds, never going back

    AvatarRequests();

    // True when a download of `fileId` should start now; it then counts as running.
    bool begin(const QString& fileId);
    // The download ended; a failure pauses the id.
    void finish(const QString& fileId, bool ok);
    bool running(const QString& fileId) const { return running_.contains(fileId); }

    void setClock(Clock clock) { clock_ = std::move(clock); }

private:
    Clock clock_;
    QSet<QString> running_;
    QHash<QString, qint64> failedAt_;
};

} // namespace brindlewick
