#pragma once
// File uploads and saves running in the background. Each can be cancelled; quitting or
// logging out cancels them all, so the process never finishes an upload with no window.

#include "server_config.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

namespace brindlewick {

class Transfers : public QObject {
    Q_OBJECT
public:
    using Id = quint64;
    static constexpr int kThreads = 2;

    explicit Transfers(const ServerConfig& config, QObject* parent = nullptr);
    // Cancels what runs and waits for the workers to notice (libcurl checks often).
    ~Transfers() override;

    Id upload(const QString& path);
    Id download(const QString& fileId, const QString& destination);
    // Ends one transfer; its finished signal still comes, with the error "취소됨".
    void cancel(Id id);
    void cancelAll();
    int running() const { return int(cancelFlags_.size()); }

signals:
    void progress(brindlewick::Transfers::Id id, int percent);
    // `fileId` is empty when the upload failed; `error` then says why.
    void uploadFinished(brindlewick::Transfers::Id id, const QString& fileId, const QString& error);
    void downloadFinished(brindlewick::Transfers::Id id, bool ok, const QString& error);

private:
    using Flag = std::shared_ptr<std::atomic<bool>>;
    Flag track(Id id);

    ServerConfig config_;
    Id nextId_ = 1;
    QHash<Id, Flag> cancelFlags_; // running transfers
    QThreadPool pool_;
};

} // namespace brindlewick
