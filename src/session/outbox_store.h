#pragma once
// The outbox on disk: one SQLite database per phone in the user's data folder, in WAL mode with
// full syncs, so a commit is on disk once it returns and a torn write is rolled back on the next
// open. Writes go to a thread of the store's own, in the order made, so the caller never waits
// for the disk; that thread commits everything queued in one transaction, one sync for a burst.
// Plain SQLite through its C API; nothing here knows Qt's event loop.

#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

struct sqlite3;

namespace brindlewick {

// One request the user made that the server has not confirmed yet.
struct OutboxEntry {
    enum class Kind : int { Chat = 0, Edit = 1, Delete = 2, File = 3 };
    QString clientId;
    Kind kind = Kind::Chat;
    QString room;
    QString text;     // the message, or an edit's new text
    QString target;   // the message an edit or deletion is about; a file's id once uploaded
    QString replyTo;  // a message's reply id
    QString fileName; // files only
    qint64 fileSize = -1;
    QString localPath;    // a file to upload, while it has no id yet
    bool ownCopy = false; // localPath is the outbox's own copy, removed with the entry
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
    // Closes: waits for what is queued to be written.
    ~OutboxStore();
    OutboxStore(const OutboxStore&) = delete;
    OutboxStore& operator=(const OutboxStore&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    const QString& path() const { return path_; }
    // Everything kept, in the order it was made, queued writes included (it waits for them).
    QList<OutboxEntry> load();

    // The writes queue and return at once: false only when the store is not open. A write the
    // disk refuses is logged (once until one succeeds again) and reported by flush().
    bool add(const OutboxEntry& entry);
    bool setFailed(const QString& clientId, bool failed, const QString& reason);
    // Removes the entries in one transaction.
    bool remove(const QStringList& clientIds);

    // Waits until everything queued so far is written; false when a write failed since the last
    // flush.
    bool flush();
    // Transactions committed so far, for benchmarks.
    qint64 commits() const;

private:
    bool open();
    bool exec(const char* sql);
    bool queue(std::function<bool()> write);
    void work();
    // Writes a batch in one transaction; returns how many writes did not make it to disk.
    std::size_t writeAll(std::deque<std::function<bool()>>& batch, QByteArray& error);
    void close();
    // Run on the store's thread, in the order queued, inside its transaction.
    bool addNow(const OutboxEntry& entry);
    bool setFailedNow(const QString& clientId, bool failed, const QString& reason);
    bool removeNow(const QStringList& clientIds);

    QString path_;
    sqlite3* db_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable wake_;    // writes queued, or closing
    std::condition_variable written_; // the queue ran dry
    std::deque<std::function<bool()>> queue_;
    bool busy_ = false; // the thread holds writes taken from the queue
    bool closing_ = false;
    bool failed_ = false; // a write failed since the last flush
    bool warned_ = false; // logged, until a transaction commits whole again
    std::atomic<qint64> commits_{0};
    std::mutex dbMutex_; // the connection: the thread's transaction or load()
    std::thread thread_;
};

} // namespace brindlewick
