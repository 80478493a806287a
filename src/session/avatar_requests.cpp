#include "avatar_requests.h"

#include <QElapsedTimer>

namespace brindlewick {

AvatarRequests::AvatarRequests() {
    clock_ = [] {
        static QElapsedTimer timer = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return timer.elapsed();
    };
}

bool AvatarRequests::begin(const QString& fileId) {
    if (running_.contains(fileId))
        return false;
    const auto failed = failedAt_.constFind(fileId);
    if (failed != failedAt_.cend()) {
        if (clock_() - *failed < kFailurePauseMs)
            return false;
        failedAt_.erase(failed);
    }
    running_.insert(fileId);
    return true;
}

void AvatarRequests::finish(const QString& fileId, bool ok) {
    running_.remove(fileId);
    if (ok)
        failedAt_.remove(fileId);
    else
        failedAt_.insert(fileId, clock_());
}

} // namespace brindlewick
