#pragma once
// What the user sent that the server has not confirmed: messages, edits, deletions and files, in
// the order they were made, kept on disk (OutboxStore) until their echo comes. Each carries a
// client id, so a request resent after a lost echo or a restart is done once by the server.
// A file chosen by the user waits for its upload first (done by FileActions, one at a time, in
// the order chosen); its file id is kept, so the FileMeta alone goes again after a drop.
// Everything waiting goes out, in order, right after each sign-in; an echo settles its request
// by client id; a refusal or an age beyond the limit marks it failed until the user retries or
// removes it.

#include "messages.h"
#include "outbox_store.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QTemporaryDir;

namespace brindlewick {

class ChatClient;
class ChatEvents;

class Outbox : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kDefaultMaxAgeMs = 24LL * 60 * 60 * 1000;
    // The reason given to a request that waited too long.
    static const QString kTooOldText; // "24시간 동안 보내지 못했습니다"

    // "보내지 않은 메시지 N개가 있습니다. 나갈까요?", asked before leaving a room or logging out.
    static QString unsentQuestion(int count);

    // The outbox of `phone` in `folder` (the user's data folder).
    static QString pathFor(const QString& folder, const QString& phone);

    // Loads what `path` keeps (none: kept in memory only); sends once `events` reports a sign-in.
    Outbox(ChatClient& client, ChatEvents& events, const QString& path = QString(),
           QObject* parent = nullptr);
    // Keeps the outbox in `path` from now on: what it holds comes first, then what was taken
    // so far. Meant for the start, before the first sign-in.
    void attach(const QString& path);
    ~Outbox() override;

    // Tests move time; the product uses the system clock.
    void setClock(std::function<qint64()> nowMs) { nowMs_ = std::move(nowMs); }
    void setMaxAge(qint64 milliseconds) { maxAgeMs_ = milliseconds; }

    // Each takes a request and returns its client id; it goes out now when signed in.
    QString sendChat(const QString& room, const QString& text, const QString& replyTo);
    QString sendEdit(const QString& room, const QString& msgId, const QString& text);
    QString sendDelete(const QString& room, const QString& msgId);
    QString sendFile(const QString& room, const QString& fileId, const QString& name, qint64 size);
    // A file still to upload from `path`; its FileMeta goes once setFileId gives its id. With
    // `ownCopy` the file is the outbox's (in filesFolder()) and is removed with the entry.
    QString sendLocalFile(const QString& room, const QString& path, const QString& name,
                          qint64 size, bool ownCopy = false);

    // The oldest file waiting for its upload (not failed, no id yet); null when none.
    const OutboxEntry* nextUpload() const;
    // The upload of `clientId` gave `fileId` for `size` bytes: kept on disk, and the FileMeta goes
    // now when signed in, else after the next sign-in. False when the entry is gone or has an id.
    bool setFileId(const QString& clientId, const QString& fileId, qint64 size);
    // Marks a waiting request failed (a file that could not be uploaded); false when not kept.
    bool fail(const QString& clientId, const QString& reason);
    // Where pasted pictures wait, beside the outbox's file so they outlive a restart (a
    // temporary folder for an outbox kept in memory); made on first use, "" when it cannot be.
    QString filesFolder();

    // The server's answers, as the window receives them. Each returns the client id it settled,
    // "" when the frame answers nothing here. An echo without a client id (a server that does
    // not know them) settles the oldest message sent to that room when `mine`.
    QString settleChat(const wire::ChatMessage& message, bool mine);
    QString settleFile(const wire::FileMessage& message, bool mine);
    QString settleEdit(const wire::Edit& edit);
    QString settleDelete(const wire::Delete& deletion);
    // A refusal names only the type refused. Answers come in the order requests were sent,
    // except that a refusal may overtake echoes, so it is laid on the oldest request of its type
    // still unanswered and passed on when that one's echo comes after all. Returns the client
    // id marked failed, "" when the refusal is not for a request here.
    QString refused(const wire::ServerError& error);

    // A failed request waits again (its age counts from now) and goes out when signed in; its
    // place among the others stays.
    bool retry(const QString& clientId);
    // Forgets a request; true when it was kept.
    bool remove(const QString& clientId);

    const OutboxEntry* entry(const QString& clientId) const;
    // Kept requests of `room` (all rooms for ""), oldest first.
    QList<OutboxEntry> entries(const QString& room = QString()) const;
    // Requests of `room` (all rooms for "") waiting or failed.
    int waitingCount(const QString& room = QString()) const;
    int failedCount(const QString& room = QString()) const;
    int size() const { return int(entries_.size()); }
    bool signedIn() const { return signedIn_; }
    const QString& path() const { return store_->path(); }
    // Waits until everything taken so far is on disk (the store writes on a thread of its own).
    void flush();
    // Transactions the store committed, for benchmarks.
    qint64 diskCommits() const { return store_->commits(); }

signals:
    // A request was taken (not one loaded from disk).
    void added(const brindlewick::OutboxEntry& entry);
    void settled(const QString& clientId, const QString& room);
    void failed(const QString& clientId, const QString& room, const QString& reason);
    // A room's waiting or failed counts changed.
    void roomChanged(const QString& room);
    // Files wait for their upload (nextUpload) while signed in.
    void uploadsWaiting();
    // A request was forgotten before it was confirmed (remove).
    void removed(const QString& clientId, const QString& room);

private:
    struct Pending {
        OutboxEntry entry;
        bool sent = false;   // sent on this connection, no answer yet
        bool blamed = false; // took a refusal that may belong to a later one
    };
    QString take(OutboxEntry entry);
    void transmit(Pending& pending);
    void signedInNow();
    void lost();
    void expireOld();
    QString settle(const QString& clientId);
    void markFailed(Pending& pending, const QString& reason);
    Pending* find(const QString& clientId);
    Pending* oldestUnanswered(OutboxEntry::Kind kind, const QString& room = QString());
    void flushRemovals();
    void keep(const OutboxEntry& entry);
    void count(const OutboxEntry& entry, int delta);
    void forget(const OutboxEntry& entry);
    void sweepFilesFolder();
    void announceUploads();

    ChatClient& client_;
    std::unique_ptr<OutboxStore> store_;
    QList<std::shared_ptr<Pending>> entries_; // in the order made
    QHash<QString, std::shared_ptr<Pending>> byId_;
    struct Counts {
        int waiting = 0;
        int failed = 0;
    };
    QHash<QString, Counts> counts_; // per room, "" for all
    QStringList removals_;          // settled, written to disk in one transaction per turn
    QTimer removalTimer_;
    QTimer ageTimer_;
    std::function<qint64()> nowMs_;
    qint64 maxAgeMs_ = kDefaultMaxAgeMs;
    bool signedIn_ = false;
    std::unique_ptr<QTemporaryDir> memoryFiles_; // filesFolder() of an outbox without a file
};

} // namespace brindlewick
