#include "transfers.h"

#include "file_transfer.h"
#include "off_thread.h"

namespace brindlewick {

Transfers::Transfers(const ServerConfig& config, QObject* parent)
    : QObject(parent), config_(config) {
    pool_.setMaxThreadCount(kThreads);
}

Transfers::~Transfers() {
    cancelAll();
    pool_.clear();
    pool_.waitForDone();
}

Transfers::Flag Transfers::track(Id id) {
    Flag flag = std::make_shared<std::atomic<bool>>(false);
    cancelFlags_.insert(id, flag);
    return flag;
}

void Transfers::cancel(Id id) {
    if (const Flag flag = cancelFlags_.value(id))
        flag->store(true);
}

void Transfers::cancelAll() {
    for (const Flag& flag : std::as_const(cancelFlags_))
        flag->store(true);
}

Transfers::Id Transfers::upload(const QString& path) {
    const Id id = nextId_++;
    const Flag cancelled = track(id);
    struct Result {
        QString fileId;
        QString error;
    };
    const ServerConfig config = config_;
    QPointer<Transfers> self(this);
    runOffThread(
        pool_, this,
        [self, id, config, path, cancelled] {
            int lastPercent = -1;
            const transfer::Progress progress = [&lastPercent, self, id](int percent) {
                if (percent == lastPercent)
                    return;
                lastPercent = percent;
                onMainThread(self, [id, percent](Transfers& t) { emit t.progress(id, percent); });
            };
            Result result;
            result.fileId =
                transfer::upload(config, path, progress, &result.error, cancelled.get());
            return result;
        },
        [id](Transfers& transfers, Result result) {
            transfers.cancelFlags_.remove(id);
            emit transfers.uploadFinished(id, result.fileId, result.error);
        });
    return id;
}

Transfers::Id Transfers::download(const QString& fileId, const QString& destination) {
    const Id id = nextId_++;
    const Flag cancelled = track(id);
    struct Result {
        bool ok = false;
        QString error;
    };
    const ServerConfig config = config_;
    runOffThread(
        pool_, this,
        [config, fileId, destination, cancelled] {
            Result result;
            result.ok =
                transfer::download(config, fileId, destination, &result.error, cancelled.get());
            return result;
        },
        [id](Transfers& transfers, Result result) {
            transfers.cancelFlags_.remove(id);
            emit transfers.downloadFinished(id, result.ok, result.error);
        });
    return id;
}

} // namespace brindlewick
