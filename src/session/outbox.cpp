#include "outbox.h"

#include "chat_client.h"
#include "chat_events.h"
#include "phone_number.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

namespace brindlewick {

const QString Outbox::kTooOldText = QStringLiteral("24시간 동안 보내지 못했습니다");

namespace {

std::string std8(const QString& text) {
    return text.toStdString();
}

OutboxEntry::Kind kindOfType(const std::string& type) {
    if (type == std::to_string(MessageType::FileMeta))
        return OutboxEntry::Kind::File;
    if (type == std::to_string(MessageType::ChatEdit))
        return OutboxEntry::Kind::Edit;
    if (type == std::to_string(MessageType::ChatDelete))
        return OutboxEntry::Kind::Delete;
    return OutboxEntry::Kind::Chat;
}

// The folder of pasted pictures beside an outbox file: "outbox-….db" keeps "outbox-…-files".
QString filesFolderOf(const QString& storePath) {
    const QFileInfo file(storePath);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral("-files"));
}

bool inMemory(const QString& storePath) {
    return storePath == QLatin1String(":memory:");
}

bool answersType(const std::string& type) {
    return type == std::to_string(MessageType::Chat) ||
           type == std::to_string(MessageType::FileMeta) ||
           type == std::to_string(MessageType::ChatEdit) ||
           type == std::to_string(MessageType::ChatDelete);
}

} // namespace

QString Outbox::unsentQuestion(int count) {
    return QStringLiteral("보내지 않은 메시지 %1개가 있습니다. 나갈까요?").arg(count);
}

QString Outbox::pathFor(const QString& folder, const QString& phone) {
    // One spelling per phone, as hex: a file name never holds a separator.
    const QByteArray key = QByteArray::fromStdString(normalizePhone(phone.toStdString())).toHex();
    return QDir(folder).filePath(QStringLiteral("outbox-%1.db").arg(QString::fromLatin1(key)));
}

Outbox::Outbox(ChatClient& client, ChatEvents& events, const QString& path, QObject* parent)
    : QObject(parent), client_(client), store_(std::make_unique<OutboxStore>(path)),
      nowMs_([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    for (const OutboxEntry& kept : store_->load())
        keep(kept);
    sweepFilesFolder();
    removalTimer_.setSingleShot(true);
    removalTimer_.setInterval(0);
    connect(&removalTimer_, &QTimer::timeout, this, &Outbox::flushRemovals);
    ageTimer_.setInterval(60 * 1000);
    connect(&ageTimer_, &QTimer::timeout, this, &Outbox::expireOld);
    ageTimer_.start();
    connect(&events, &ChatEvents::connectionChanged, this,
            [this](ChatEvents::Connection state, const QString&) {
                if (state == ChatEvents::Connection::SignedIn)
                    signedInNow();
                else
                    lost();
            });
}

Outbox::~Outbox() {
    flushRemovals();
}

void Outbox::keep(const OutboxEntry& entry) {
    if (byId_.contains(entry.clientId))
        return;
    auto pending = std::make_shared<Pending>();
    pending->entry = entry;
    entries_.append(pending);
    byId_.insert(entry.clientId, pending);
    count(entry, +1);
}

void Outbox::attach(const QString& path) {
    flushRemovals();
    auto store = std::make_unique<OutboxStore>(path);
    const auto taken = entries_;
    entries_.clear();
    byId_.clear();
    counts_.clear();
    for (const OutboxEntry& kept : store->load())
        keep(kept);
    for (const auto& pending : taken) {
        store->add(pending->entry);
        if (!byId_.contains(pending->entry.clientId)) {
            entries_.append(pending);
            byId_.insert(pending->entry.clientId, pending);
            count(pending->entry, +1);
        }
    }
    store_ = std::move(store);
    sweepFilesFolder();
    QSet<QString> rooms;
    for (const auto& pending : entries_)
        rooms.insert(pending->entry.room);
    for (const QString& room : rooms)
        emit roomChanged(room);
    if (signedIn_)
        signedInNow();
}

QString Outbox::take(OutboxEntry entry) {
    entry.clientId = QString::fromStdString(wire::newClientId());
    entry.createdMs = nowMs_();
    // Kept in memory even when the disk refuses it: the session still sends it.
    store_->add(entry);
    auto pending = std::make_shared<Pending>();
    pending->entry = entry;
    entries_.append(pending);
    byId_.insert(entry.clientId, pending);
    count(entry, +1);
    emit added(entry);
    if (signedIn_)
        transmit(*pending);
    emit roomChanged(entry.room);
    if (signedIn_ && entry.kind == OutboxEntry::Kind::File && entry.target.isEmpty())
        announceUploads();
    return entry.clientId;
}

QString Outbox::sendChat(const QString& room, const QString& text, const QString& replyTo) {
    OutboxEntry e;
    e.kind = OutboxEntry::Kind::Chat;
    e.room = room;
    e.text = text;
    e.replyTo = replyTo;
    return take(e);
}

QString Outbox::sendEdit(const QString& room, const QString& msgId, const QString& text) {
    OutboxEntry e;
    e.kind = OutboxEntry::Kind::Edit;
    e.room = room;
    e.target = msgId;
    e.text = text;
    return take(e);
}

QString Outbox::sendDelete(const QString& room, const QString& msgId) {
    OutboxEntry e;
    e.kind = OutboxEntry::Kind::Delete;
    e.room = room;
    e.target = msgId;
    return take(e);
}

QString Outbox::sendFile(const QString& room, const QString& fileId, const QString& name,
                         qint64 size) {
    OutboxEntry e;
    e.kind = OutboxEntry::Kind::File;
    e.room = room;
    e.target = fileId;
    e.fileName = name;
    e.fileSize = size;
    return take(e);
}

QString Outbox::sendLocalFile(const QString& room, const QString& path, const QString& name,
                              qint64 size, bool ownCopy) {
    OutboxEntry e;
    e.kind = OutboxEntry::Kind::File;
    e.room = room;
    e.fileName = name;
    e.fileSize = size;
    e.localPath = path;
    e.ownCopy = ownCopy;
    return take(e);
}

const OutboxEntry* Outbox::nextUpload() const {
    for (const auto& pending : entries_)
        if (pending->entry.kind == OutboxEntry::Kind::File && pending->entry.target.isEmpty() &&
            !pending->entry.failed)
            return &pending->entry;
    return nullptr;
}

bool Outbox::setFileId(const QString& clientId, const QString& fileId, qint64 size) {
    Pending* pending = find(clientId);
    if (!pending || fileId.isEmpty() || pending->entry.kind != OutboxEntry::Kind::File ||
        !pending->entry.target.isEmpty())
        return false;
    pending->entry.target = fileId;
    pending->entry.fileSize = size;
    // On disk before it goes: a restart sends the FileMeta without uploading again.
    store_->add(pending->entry);
    if (signedIn_)
        transmit(*pending);
    return true;
}

bool Outbox::fail(const QString& clientId, const QString& reason) {
    Pending* pending = find(clientId);
    if (!pending || pending->entry.failed)
        return false;
    markFailed(*pending, reason);
    return true;
}

QString Outbox::filesFolder() {
    QString folder;
    if (inMemory(store_->path())) {
        if (!memoryFiles_)
            memoryFiles_ = std::make_unique<QTemporaryDir>();
        folder = memoryFiles_->isValid() ? memoryFiles_->path() : QString();
    } else {
        folder = filesFolderOf(store_->path());
    }
    return !folder.isEmpty() && QDir().mkpath(folder) ? folder : QString();
}

void Outbox::sweepFilesFolder() {
    // Copies whose entry went while the process did (a crash between the two) are no one's.
    if (inMemory(store_->path()))
        return;
    QDir folder(filesFolderOf(store_->path()));
    if (!folder.exists())
        return;
    QSet<QString> kept;
    for (const auto& pending : std::as_const(entries_))
        if (pending->entry.ownCopy)
            kept.insert(QFileInfo(pending->entry.localPath).fileName());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
        if (!kept.contains(name))
            folder.remove(name);
}

void Outbox::forget(const OutboxEntry& entry) {
    if (entry.ownCopy && !entry.localPath.isEmpty())
        QFile::remove(entry.localPath);
}

void Outbox::announceUploads() {
    if (signedIn_ && nextUpload())
        emit uploadsWaiting();
}

void Outbox::transmit(Pending& pending) {
    const OutboxEntry& e = pending.entry;
    if (e.failed)
        return;
    if (nowMs_() - e.createdMs > maxAgeMs_) {
        markFailed(pending, kTooOldText);
        return;
    }
    // A connection closed on purpose (logging out) reports nothing: the request stays unsent.
    if (!client_.connected())
        return;
    // A file goes once its upload gave it an id.
    if (e.kind == OutboxEntry::Kind::File && e.target.isEmpty())
        return;
    const std::string id = std8(e.clientId);
    switch (e.kind) {
    case OutboxEntry::Kind::Chat:
        client_.send(wire::ChatRequest{std8(e.room), std8(e.text), std8(e.replyTo), id});
        break;
    case OutboxEntry::Kind::Edit:
        client_.send(wire::Edit{std8(e.room), std8(e.target), std8(e.text), id});
        break;
    case OutboxEntry::Kind::Delete:
        client_.send(wire::Delete{std8(e.room), std8(e.target), id});
        break;
    case OutboxEntry::Kind::File:
        client_.send(wire::FileRequest{std8(e.room), std8(e.target), std8(e.fileName),
                                       std::to_string(std::max<qint64>(e.fileSize, 0)), id});
        break;
    }
    pending.sent = true;
}

void Outbox::signedInNow() {
    signedIn_ = true;
    // A copy: a request found too old changes nothing in the list, but signals may run code.
    const auto all = entries_;
    for (const auto& pending : all)
        if (!pending->sent)
            transmit(*pending);
    // After everyone else has heard of the sign-in: an upload's status comes after theirs.
    QMetaObject::invokeMethod(this, &Outbox::announceUploads, Qt::QueuedConnection);
}

void Outbox::lost() {
    signedIn_ = false;
    // What got no answer goes again after the next sign-in; the server keeps it once.
    for (const auto& pending : entries_)
        pending->sent = false;
}

void Outbox::expireOld() {
    const qint64 now = nowMs_();
    const auto all = entries_;
    for (const auto& pending : all)
        if (!pending->entry.failed && !pending->sent && now - pending->entry.createdMs > maxAgeMs_)
            markFailed(*pending, kTooOldText);
}

void Outbox::markFailed(Pending& pending, const QString& reason) {
    if (pending.entry.failed)
        return;
    count(pending.entry, -1);
    pending.entry.failed = true;
    pending.entry.reason = reason;
    count(pending.entry, +1);
    store_->setFailed(pending.entry.clientId, true, reason);
    emit failed(pending.entry.clientId, pending.entry.room, reason);
    emit roomChanged(pending.entry.room);
}

Outbox::Pending* Outbox::find(const QString& clientId) {
    const auto it = byId_.constFind(clientId);
    return it == byId_.cend() ? nullptr : it->get();
}

const OutboxEntry* Outbox::entry(const QString& clientId) const {
    const auto it = byId_.constFind(clientId);
    return it == byId_.cend() ? nullptr : &(*it)->entry;
}

Outbox::Pending* Outbox::oldestUnanswered(OutboxEntry::Kind kind, const QString& room) {
    for (const auto& pending : entries_)
        if (pending->sent && !pending->blamed && pending->entry.kind == kind &&
            (room.isEmpty() || pending->entry.room == room))
            return pending.get();
    return nullptr;
}

QString Outbox::settle(const QString& clientId) {
    const std::shared_ptr<Pending> pending = byId_.take(clientId);
    if (!pending)
        return QString();
    // The refusal it took belongs to the next one still unanswered.
    if (pending->blamed) {
        if (Pending* next = oldestUnanswered(pending->entry.kind); next && !next->entry.failed) {
            next->blamed = true;
            markFailed(*next, pending->entry.reason);
        }
    }
    // Settled in the order sent: the first in the list, almost always.
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (entries_.at(i) == pending) {
            entries_.removeAt(i);
            break;
        }
    count(pending->entry, -1);
    removals_.append(clientId);
    if (!removalTimer_.isActive())
        removalTimer_.start();
    forget(pending->entry);
    emit settled(clientId, pending->entry.room);
    emit roomChanged(pending->entry.room);
    return clientId;
}

void Outbox::flush() {
    flushRemovals();
    store_->flush();
}

void Outbox::flushRemovals() {
    if (removals_.isEmpty())
        return;
    store_->remove(removals_);
    removals_.clear();
}

QString Outbox::settleChat(const wire::ChatMessage& message, bool mine) {
    if (!message.clientId.empty())
        return settle(QString::fromStdString(message.clientId));
    if (!mine)
        return QString();
    Pending* oldest =
        oldestUnanswered(OutboxEntry::Kind::Chat, QString::fromStdString(message.room));
    return oldest ? settle(oldest->entry.clientId) : QString();
}

QString Outbox::settleFile(const wire::FileMessage& message, bool mine) {
    if (!message.clientId.empty())
        return settle(QString::fromStdString(message.clientId));
    if (!mine)
        return QString();
    Pending* oldest =
        oldestUnanswered(OutboxEntry::Kind::File, QString::fromStdString(message.room));
    return oldest ? settle(oldest->entry.clientId) : QString();
}

QString Outbox::settleEdit(const wire::Edit& edit) {
    return edit.clientId.empty() ? QString() : settle(QString::fromStdString(edit.clientId));
}

QString Outbox::settleDelete(const wire::Delete& deletion) {
    return deletion.clientId.empty() ? QString()
                                     : settle(QString::fromStdString(deletion.clientId));
}

QString Outbox::refused(const wire::ServerError& error) {
    if (!answersType(error.refusedType))
        return QString();
    Pending* pending = oldestUnanswered(kindOfType(error.refusedType));
    if (!pending)
        return QString();
    // Still counted as sent: its own echo may come yet, and passes the refusal on.
    pending->blamed = true;
    markFailed(*pending, QString::fromStdString(error.text));
    return pending->entry.clientId;
}

bool Outbox::retry(const QString& clientId) {
    Pending* pending = find(clientId);
    if (!pending || !pending->entry.failed)
        return false;
    count(pending->entry, -1);
    pending->entry.failed = false;
    pending->entry.reason.clear();
    pending->blamed = false;
    pending->sent = false;
    pending->entry.createdMs = nowMs_();
    count(pending->entry, +1);
    // Stored again whole: the age counts from now.
    store_->add(pending->entry);
    if (signedIn_)
        transmit(*pending);
    emit roomChanged(pending->entry.room);
    announceUploads();
    return true;
}

bool Outbox::remove(const QString& clientId) {
    const std::shared_ptr<Pending> pending = byId_.take(clientId);
    if (!pending)
        return false;
    entries_.removeOne(pending);
    count(pending->entry, -1);
    removals_.append(clientId);
    flushRemovals();
    forget(pending->entry);
    emit removed(clientId, pending->entry.room);
    emit roomChanged(pending->entry.room);
    return true;
}

QList<OutboxEntry> Outbox::entries(const QString& room) const {
    QList<OutboxEntry> out;
    for (const auto& pending : entries_)
        if (room.isEmpty() || pending->entry.room == room)
            out.append(pending->entry);
    return out;
}

void Outbox::count(const OutboxEntry& entry, int delta) {
    // One key at a time: a reference into the hash does not outlive an insertion.
    for (const QString& key : {entry.room, QString()}) {
        Counts& counts = counts_[key];
        (entry.failed ? counts.failed : counts.waiting) += delta;
        if (!key.isEmpty() && counts.waiting == 0 && counts.failed == 0)
            counts_.remove(key);
    }
}

int Outbox::waitingCount(const QString& room) const {
    return counts_.value(room).waiting;
}

int Outbox::failedCount(const QString& room) const {
    return counts_.value(room).failed;
}

} // namespace brindlewick
