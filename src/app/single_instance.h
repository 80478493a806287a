#pragma once
// One running client per user settings: a later start asks the running one to come forward and
// ends. A lock file says who runs (a crashed holder's lock is stale and taken over); a local
// socket beside it carries the request.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace brindlewick {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `key` names what one instance owns (the settings file); `folder` holds the lock and the
    // socket, the user's runtime folder when empty.
    explicit SingleInstance(const QString& key, const QString& folder = QString(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the only instance, which from now on answers later starts. False when
    // another one runs and was asked to come forward.
    bool claim();
    const QString& socketPath() const { return socketPath_; }
    const QString& lockPath() const { return lockPath_; }

signals:
    // A later start asked this one to come forward.
    void raiseRequested();

private:
    bool askRunning();

    QString socketPath_;
    QString lockPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace brindlewick
