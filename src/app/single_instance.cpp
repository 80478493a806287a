#include "single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace brindlewick {

namespace {

constexpr char kRaise[] = "raise\n";
// How long a later start waits for the running one, which may still be starting up.
constexpr int kAskMs = 3000;

} // namespace

SingleInstance::SingleInstance(const QString& key, const QString& folder, QObject* parent)
    : QObject(parent) {
    const QString dir = folder.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                            : folder;
    // Short enough for a socket path; the same settings give the same name.
    const QString name =
        QStringLiteral("brindlewick-") +
        QString::fromLatin1(
            QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    socketPath_ = QDir(dir).filePath(name + QStringLiteral(".socket"));
    lockPath_ = QDir(dir).filePath(name + QStringLiteral(".lock"));
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    // Only the one short line is asked for; anything else ends the talk.
                    if (socket->bytesAvailable() > 64)
                        socket->abort();
                    return;
                }
                const bool raise = socket->readLine(64) == kRaise;
                socket->write("ok\n");
                socket->disconnectFromServer();
                if (raise)
                    emit raiseRequested();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    server_.close();
}

bool SingleInstance::claim() {
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // Held while the holder lives, however long: only a dead holder's lock is stale.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        if (lock_->error() != QLockFile::LockFailedError)
            return true; // no place for a lock: run without the check rather than not at all
        if (askRunning())
            return false;
        // A holder that never answers (stopped, or hung): this start goes on alone.
        return true;
    }
    // A socket left by a crash would make listening fail.
    QLocalServer::removeServer(socketPath_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(socketPath_);
    return true;
}

bool SingleInstance::askRunning() {
    const QDeadlineTimer deadline(kAskMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(200)) {
            socket.write(kRaise);
            if (socket.waitForBytesWritten(500) &&
                (socket.canReadLine() || socket.waitForReadyRead(1000)))
                return socket.readLine(16) == "ok\n";
        }
        // The running one may not listen yet.
        QThread::msleep(50);
    }
    return false;
}

} // namespace brindlewick
