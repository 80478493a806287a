#include "outbox_store.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QtGlobal>

#include <sqlite3.h>

namespace brindlewick {

namespace {

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (db && sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return stmt_ != nullptr; }

    void bind(int index, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, qint64 value) { sqlite3_bind_int64(stmt_, index, value); }
    int step() { return sqlite3_step(stmt_); }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    QString text(int column) const {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(stmt_, column)) : QString();
    }
    qint64 integer(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Adds a column an older outbox lacks; its rows take the default.
bool ensureColumn(sqlite3* db, const char* column, const char* definition) {
    const QByteArray probe = QByteArray("SELECT ") + column + " FROM outbox LIMIT 0";
    if (Statement(db, probe.constData()))
        return true;
    const QByteArray alter =
        QByteArray("ALTER TABLE outbox ADD COLUMN ") + column + ' ' + definition;
    return sqlite3_exec(db, alter.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

OutboxStore::OutboxStore(const QString& path)
    : path_(path.isEmpty() ? QStringLiteral(":memory:") : path) {
    if (!open() && !path.isEmpty()) {
        // Unreadable as a database: kept aside for a look, and a new outbox begins.
        for (const char* suffix : {"", "-wal", "-shm"}) {
            const QString file = path_ + QLatin1String(suffix);
            QFile::remove(file + QStringLiteral(".unreadable"));
            QFile::rename(file, file + QStringLiteral(".unreadable"));
        }
        open();
    }
    if (db_)
        thread_ = std::thread([this] { work(); });
}

OutboxStore::~OutboxStore() {
    close();
    sqlite3_close(db_);
}

void OutboxStore::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool OutboxStore::queue(std::function<bool()> write) {
    if (!db_)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_)
            return false;
        queue_.push_back(std::move(write));
    }
    wake_.notify_one();
    return true;
}

void OutboxStore::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty())
            return; // closing, and everything is written
        std::deque<std::function<bool()>> batch;
        batch.swap(queue_);
        busy_ = true;
        lock.unlock();

        QByteArray error;
        const std::size_t lost = writeAll(batch, error);
        batch.clear();

        lock.lock();
        busy_ = false;
        if (lost > 0) {
            failed_ = true;
            if (!warned_)
                qWarning("The outbox could not keep %zu change(s) on disk (%s): they are sent "
                         "but would not survive a restart",
                         lost, error.constData());
            warned_ = true;
        } else {
            warned_ = false;
        }
        if (queue_.empty())
            written_.notify_all();
    }
}

std::size_t OutboxStore::writeAll(std::deque<std::function<bool()>>& batch, QByteArray& error) {
    std::lock_guard<std::mutex> db(dbMutex_);
    // One transaction for all that is queued: one sync however many were typed.
    const bool began = exec("BEGIN IMMEDIATE");
    std::size_t lost = 0;
    for (auto& write : batch) {
        // Each write whole or not at all; the rest of the batch commits regardless.
        bool ok = exec("SAVEPOINT w");
        try {
            ok = ok && write();
        } catch (...) {
            ok = false;
        }
        if (!ok && error.isEmpty())
            error = sqlite3_errmsg(db_);
        if (!ok)
            exec("ROLLBACK TO w");
        exec("RELEASE w");
        lost += ok ? 0 : 1;
    }
    if (!began)
        return lost;
    // A failing disk (full, gone) may end the transaction early: then none of it is trusted.
    if (sqlite3_get_autocommit(db_) || !exec("COMMIT")) {
        if (error.isEmpty())
            error = sqlite3_errmsg(db_);
        exec("ROLLBACK");
        return batch.size();
    }
    ++commits_;
    return lost;
}

bool OutboxStore::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    written_.wait(lock, [this] { return queue_.empty() && !busy_; });
    const bool ok = !failed_;
    failed_ = false;
    return ok;
}

qint64 OutboxStore::commits() const {
    return commits_;
}

bool OutboxStore::exec(const char* sql) {
    return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool OutboxStore::open() {
    sqlite3_close(db_);
    db_ = nullptr;
    const QByteArray file = path_.toUtf8();
    if (sqlite3_open_v2(file.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    // WAL: a commit is appended and checksummed, so a torn write is rolled back on the next open.
    const bool ok = exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=FULL") &&
                    exec("CREATE TABLE IF NOT EXISTS outbox ("
                         " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                         " client_id TEXT NOT NULL UNIQUE, kind INTEGER NOT NULL,"
                         " room TEXT NOT NULL, text TEXT NOT NULL, target TEXT NOT NULL,"
                         " reply_to TEXT NOT NULL, file_name TEXT NOT NULL,"
                         " file_size INTEGER NOT NULL, created_ms INTEGER NOT NULL,"
                         " failed INTEGER NOT NULL, reason TEXT NOT NULL)") &&
                    ensureColumn(db_, "local_path", "TEXT NOT NULL DEFAULT ''") &&
                    ensureColumn(db_, "own_copy", "INTEGER NOT NULL DEFAULT 0") &&
                    Statement(db_, "SELECT count(*) FROM outbox").step() == SQLITE_ROW;
    if (!ok) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    return ok;
}

QList<OutboxEntry> OutboxStore::load() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        written_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    std::lock_guard<std::mutex> db(dbMutex_);
    QList<OutboxEntry> entries;
    Statement select(db_, "SELECT client_id, kind, room, text, target, reply_to, file_name,"
                          " file_size, created_ms, failed, reason, local_path, own_copy"
                          " FROM outbox ORDER BY seq");
    if (!select)
        return entries;
    while (select.step() == SQLITE_ROW) {
        OutboxEntry e;
        e.clientId = select.text(0);
        const qint64 kind = select.integer(1);
        if (kind < 0 || kind > int(OutboxEntry::Kind::File))
            continue;
        e.kind = OutboxEntry::Kind(kind);
        e.room = select.text(2);
        e.text = select.text(3);
        e.target = select.text(4);
        e.replyTo = select.text(5);
        e.fileName = select.text(6);
        e.fileSize = select.integer(7);
        e.createdMs = select.integer(8);
        e.failed = select.integer(9) != 0;
        e.reason = select.text(10);
        e.localPath = select.text(11);
        e.ownCopy = select.integer(12) != 0;
        if (!e.clientId.isEmpty() && !e.room.isEmpty())
            entries.append(e);
    }
    return entries;
}

bool OutboxStore::add(const OutboxEntry& entry) {
    return queue([this, entry] { return addNow(entry); });
}

bool OutboxStore::setFailed(const QString& clientId, bool failed, const QString& reason) {
    return queue(
        [this, clientId, failed, reason] { return setFailedNow(clientId, failed, reason); });
}

bool OutboxStore::remove(const QStringList& clientIds) {
    if (clientIds.isEmpty())
        return true;
    return queue([this, clientIds] { return removeNow(clientIds); });
}

bool OutboxStore::addNow(const OutboxEntry& e) {
    // Stored again (a retry, a file's id) it keeps its place: the row is updated, not replaced.
    Statement insert(db_, "INSERT INTO outbox (client_id, kind, room, text, target, reply_to,"
                          " file_name, file_size, created_ms, failed, reason, local_path,"
                          " own_copy) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)"
                          " ON CONFLICT(client_id) DO UPDATE SET kind = excluded.kind,"
                          " room = excluded.room, text = excluded.text, target = excluded.target,"
                          " reply_to = excluded.reply_to, file_name = excluded.file_name,"
                          " file_size = excluded.file_size, created_ms = excluded.created_ms,"
                          " failed = excluded.failed, reason = excluded.reason,"
                          " local_path = excluded.local_path, own_copy = excluded.own_copy");
    if (!insert)
        return false;
    insert.bind(1, e.clientId);
    insert.bind(2, qint64(e.kind));
    insert.bind(3, e.room);
    insert.bind(4, e.text.isNull() ? QStringLiteral("") : e.text);
    insert.bind(5, e.target.isNull() ? QStringLiteral("") : e.target);
    insert.bind(6, e.replyTo.isNull() ? QStringLiteral("") : e.replyTo);
    insert.bind(7, e.fileName.isNull() ? QStringLiteral("") : e.fileName);
    insert.bind(8, e.fileSize);
    insert.bind(9, e.createdMs);
    insert.bind(10, qint64(e.failed ? 1 : 0));
    insert.bind(11, e.reason.isNull() ? QStringLiteral("") : e.reason);
    insert.bind(12, e.localPath.isNull() ? QStringLiteral("") : e.localPath);
    insert.bind(13, qint64(e.ownCopy ? 1 : 0));
    return insert.step() == SQLITE_DONE;
}

bool OutboxStore::setFailedNow(const QString& clientId, bool failed, const QString& reason) {
    Statement update(db_, "UPDATE outbox SET failed = ?, reason = ? WHERE client_id = ?");
    if (!update)
        return false;
    update.bind(1, qint64(failed ? 1 : 0));
    update.bind(2, reason.isNull() ? QStringLiteral("") : reason);
    update.bind(3, clientId);
    return update.step() == SQLITE_DONE;
}

bool OutboxStore::removeNow(const QStringList& clientIds) {
    Statement erase(db_, "DELETE FROM outbox WHERE client_id = ?");
    bool ok = bool(erase);
    for (const QString& id : clientIds) {
        if (!ok)
            break;
        erase.bind(1, id);
        ok = erase.step() == SQLITE_DONE;
        erase.reset();
    }
    return ok;
}

} // namespace brindlewick
