#pragma once
// The outbox on disk: one SQLite database per phone in the user's data folder. Every change is
// one transaction in WAL mode, so a crash or a write cut short leaves the last committed state
// readable. The log is synced at checkpoints rather than at every commit (Return stays fast): a
// process crash loses nothing, a power cut at most the last moments. Plain SQLite through its C
// API; nothing here knows Qt's event loop.

#include <QList>
#include <QString>

struct sqlite3;

namespace brindlewick {

// One request the user made that the server has not confirmed yet.
struct OutboxEntry {
    enum class Kind : int { Chat = 0, Edit = 1, Delete = 2, File = 3 };
    QString clientId;
    Kind kind = Kind::Chat;
    QString room;
    QString text;     // the message, or an edit's new text
    QString target;   // the message an edit or deletion is about; a file's path
    QString replyTo;  // a message's reply id
    QString fileName; // files only
    qint64 fileSize = -1;
    qint64 createdMs = 0; // when the user made it, ms since the epoch
    bool failed = false;
    QString reason; // why it failed, "" while waiting
};

class OutboxStore {
public:
    // Opens (or creates) the database at `path`; none keeps it in memory. A file that cannot be
    // read as one is moved aside to `<path>.unreadable` and a new one started, so the user can
    // still send.
    explicit OutboxStore(const QString& path);
    ~OutboxStore();
    OutboxStore(const OutboxStore&) = delete;
    OutboxStore& operator=(const OutboxStore&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    const QString& path() const { return path_; }
    // Everything kept, in the order it was made.
    QList<OutboxEntry> load();
    bool add(const OutboxEntry& entry);
    bool setFailed(const QString& clientId, bool failed, const QString& reason);
    // Removes the entries in one transaction.
    bool remove(const QStringList& clientIds);

private:
    bool open();
    bool exec(const char* sql);

    QString path_;
    sqlite3* db_ = nullptr;
};

} // namespace brindlewick
