#include "outbox_store.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

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

} // namespace

OutboxStore::OutboxStore(const QString& path)
    : path_(path.isEmpty() ? QStringLiteral(":memory:") : path) {
    if (open() || path.isEmpty())
        return;
    // Unreadable as a database: kept aside for a look, and a new outbox begins.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const QString file = path_ + QLatin1String(suffix);
        QFile::remove(file + QStringLiteral(".unreadable"));
        QFile::rename(file, file + QStringLiteral(".unreadable"));
    }
    open();
}

OutboxStore::~OutboxStore() {
    sqlite3_close(db_);
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
    const bool ok = exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=NORMAL") &&
                    exec("CREATE TABLE IF NOT EXISTS outbox ("
                         " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                         " client_id TEXT NOT NULL UNIQUE, kind INTEGER NOT NULL,"
                         " room TEXT NOT NULL, text TEXT NOT NULL, target TEXT NOT NULL,"
                         " reply_to TEXT NOT NULL, file_name TEXT NOT NULL,"
                         " file_size INTEGER NOT NULL, created_ms INTEGER NOT NULL,"
                         " failed INTEGER NOT NULL, reason TEXT NOT NULL)") &&
                    Statement(db_, "SELECT count(*) FROM outbox").step() == SQLITE_ROW;
    if (!ok) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    return ok;
}

QList<OutboxEntry> OutboxStore::load() {
    QList<OutboxEntry> entries;
    Statement select(db_, "SELECT client_id, kind, room, text, target, reply_to, file_name,"
                          " file_size, created_ms, failed, reason FROM outbox ORDER BY seq");
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
        if (!e.clientId.isEmpty() && !e.room.isEmpty())
            entries.append(e);
    }
    return entries;
}

bool OutboxStore::add(const OutboxEntry& e) {
    Statement insert(db_, "INSERT OR REPLACE INTO outbox (client_id, kind, room, text, target,"
                          " reply_to, file_name, file_size, created_ms, failed, reason)"
                          " VALUES (?,?,?,?,?,?,?,?,?,?,?)");
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
    return insert.step() == SQLITE_DONE;
}

bool OutboxStore::setFailed(const QString& clientId, bool failed, const QString& reason) {
    Statement update(db_, "UPDATE outbox SET failed = ?, reason = ? WHERE client_id = ?");
    if (!update)
        return false;
    update.bind(1, qint64(failed ? 1 : 0));
    update.bind(2, reason.isNull() ? QStringLiteral("") : reason);
    update.bind(3, clientId);
    return update.step() == SQLITE_DONE;
}

bool OutboxStore::remove(const QStringList& clientIds) {
    if (clientIds.isEmpty())
        return true;
    if (!exec("BEGIN"))
        return false;
    Statement erase(db_, "DELETE FROM outbox WHERE client_id = ?");
    bool ok = bool(erase);
    for (const QString& id : clientIds) {
        if (!ok)
            break;
        erase.bind(1, id);
        ok = erase.step() == SQLITE_DONE;
        erase.reset();
    }
    if (ok)
        return exec("COMMIT");
    exec("ROLLBACK");
    return false;
}

} // namespace brindlewick
