#include "directory_service.h"

#include "http_request.h"
#include "json_scan.h"
#include "off_thread.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace brindlewick {

namespace {

const QString kJsonContentType = QStringLiteral("application/json");

// Counts from the server may be anything up to the largest qint64; a sum must not overflow.
qint64 addCounts(qint64 a, qint64 b) {
    a = std::max<qint64>(a, 0);
    b = std::max<qint64>(b, 0);
    return a > std::numeric_limits<qint64>::max() - b ? std::numeric_limits<qint64>::max() : a + b;
}

// Two failure texts that differ only in their numbers (a port, milliseconds) tell one cause.
bool sameCause(const QString& a, const QString& b) {
    static const QRegularExpression digits(QStringLiteral("[0-9]+"));
    return QString(a).replace(digits, QStringLiteral("#")) ==
           QString(b).replace(digits, QStringLiteral("#"));
}

} // namespace

Directory::ListAnswer Directory::fetchList(const ServerConfig& config, const QString& path,
                                           const api::Limits& limits) {
    ListAnswer answer;
    QString error;
    const std::optional<QByteArray> body =
        api::request(config, QStringLiteral("GET"), path, std::nullopt, QString(), &error, limits);
    if (!body) {
        answer.error = error;
        return answer;
    }
    answer.text = api::decodeUtf8(*body);
    if (!answer.text)
        answer.error = QStringLiteral("응답이 UTF-8 텍스트가 아닙니다");
    return answer;
}

Directory::Lists Directory::fetchLists(const ServerConfig& config, const QString& phone,
                                       const api::Limits& limits) {
    // Both requests go out before either list changes.
    const ListAnswer friends = fetchList(config, friendsListPath(phone), limits);
    const ListAnswer rooms = fetchList(config, roomsListPath(phone), limits);
    Lists lists;
    if (friends.text)
        lists.friends = parseFriendObjects(*friends.text, kMaxListRows, &lists.friendsDropped);
    else
        lists.friendsError = friends.error;
    if (rooms.text)
        lists.rooms = parseRoomObjects(*rooms.text, kMaxListRows, &lists.roomsDropped);
    else
        lists.roomsError = rooms.error;
    return lists;
}

Directory::Directory(const ServerConfig& config, Self self, QObject* parent)
    : QObject(parent), config_(config), self_(std::move(self)) {
    pool_.setMaxThreadCount(1);
    clock_.start();
}

Directory::~Directory() {
    cancelled_->store(true);
    pool_.clear();
    pool_.waitForDone();
}

void Directory::setLists(QList<FriendRecord> friends, QList<RoomRecord> rooms) {
    friends_ = std::move(friends);
    rooms_ = std::move(rooms);
    friendsDropped_ = roomsDropped_ = 0;
    indexLists();
    emit listsChanged(ListsCause::Asked);
}

void Directory::refresh() {
    asked_ = true;
    startRefresh();
}

void Directory::startRefresh() {
    if (refreshing_)
        return;
    refreshing_ = true;
    awaitedRooms_ = std::exchange(lateRooms_, {});
    const ServerConfig config = config_;
    const QString phone = self_.phone;
    const auto cancelled = cancelled_;
    runOffThread(
        pool_, this,
        [config, phone, cancelled] {
            api::Limits limits;
            limits.totalSeconds = api::Limits::kTotalSeconds;
            limits.cancelled = cancelled.get();
            limits.maxBodyBytes = kMaxListBytes;
            return fetchLists(config, phone, limits);
        },
        [](Directory& directory, Lists lists) { directory.takeLists(std::move(lists)); });
}

void Directory::takeLists(Lists lists) {
    refreshing_ = false;
    const bool asked = std::exchange(asked_, false);
    const bool friendsRead = lists.friends.has_value();
    const bool roomsRead = lists.rooms.has_value();
    // A list that could not be read keeps what the sidebar shows; the other one still updates.
    if (friendsRead) {
        friends_ = std::move(*lists.friends);
        friendsDropped_ = lists.friendsDropped;
    }
    if (roomsRead) {
        rooms_ = std::move(*lists.rooms);
        roomsDropped_ = lists.roomsDropped;
    }
    if (friendsRead || roomsRead)
        indexLists();
    // A room first heard of while this refresh ran may be missing from its answer: one more.
    // One the answer should have held and does not is not asked for again.
    if (roomsRead) {
        for (const QString& room : std::as_const(awaitedRooms_))
            if (!this->room(room))
                unlistedRooms_.insert(room, clock_.elapsed());
        for (auto it = unlistedRooms_.begin(); it != unlistedRooms_.end();)
            it = room(it.key()) ? unlistedRooms_.erase(it) : std::next(it);
    }
    awaitedRooms_.clear();
    for (auto it = lateRooms_.begin(); it != lateRooms_.end();)
        it = room(*it) ? lateRooms_.erase(it) : std::next(it);
    const bool again = !lateRooms_.isEmpty() && roomsRead;
    if (friendsRead || roomsRead)
        emit listsChanged(asked ? ListsCause::Asked : ListsCause::NewRoom);
    QStringList errors;
    if (!friendsRead)
        errors << lists.friendsError;
    // One cause (no server) is said once, though its texts may differ in a port or a time.
    if (!roomsRead && (errors.isEmpty() || !sameCause(errors.first(), lists.roomsError)))
        errors << lists.roomsError;
    if (!errors.isEmpty())
        emit refreshFailed(errors.join(QStringLiteral(" / ")));
    // New memo rooms open once the lists know them, as their header needs; until then they wait.
    if (roomsRead) {
        for (const auto& [room, title] : std::exchange(createdRooms_, {}))
            emit memoRoomCreated(room, title);
    }
    if (again)
        startRefresh(); // nothing when a listener started one meanwhile
}

void Directory::indexLists() {
    QStringList ids;
    ids.reserve(rooms_.size());
    qint64 total = 0;
    for (RoomRecord& r : rooms_) {
        // The server may not have had the read mark yet; the open room is read all the same.
        if (r.room == reading_)
            r.unread = 0;
        ids.append(r.room);
        total = addCounts(total, r.unread);
    }
    roomOrder_.reset(ids);
    // The first friend, then the first room, with a matching name wins, as a search would.
    pictureIds_.clear();
    const auto add = [this](const QString& key, const QString& picture) {
        if (!key.isEmpty() && !pictureIds_.contains(key))
            pictureIds_.insert(key, picture);
    };
    for (const FriendRecord& f : friends_) {
        add(f.phone, f.profilePic);
        add(f.nick, f.profilePic);
        add(f.alias, f.profilePic);
    }
    for (const RoomRecord& r : rooms_) {
        add(r.peer, r.profilePic);
        add(r.title, r.profilePic);
    }
    setUnreadTotal(total);
}

void Directory::setUnreadTotal(qint64 total) {
    if (total == unreadTotal_)
        return;
    unreadTotal_ = total;
    emit unreadTotalChanged(total);
}

const RoomRecord* Directory::room(const QString& room) const {
    const int at = roomOrder_.position(room);
    return at < 0 ? nullptr : &rooms_.at(at);
}

void Directory::noteMessage(const QString& room, const QString& msgId, bool unread,
                            const LastMessage& last) {
    if (room.isEmpty())
        return;
    if (!msgId.isEmpty())
        lastMessageIds_.insert(room, msgId);
    const int from = roomOrder_.position(room);
    if (from < 0) {
        // The running refresh was asked for after this room's first message: it brings it.
        if (awaitedRooms_.contains(room))
            return;
        if (const auto unlisted = unlistedRooms_.constFind(room);
            unlisted != unlistedRooms_.constEnd() &&
            clock_.elapsed() - *unlisted < kUnlistedRetryMs)
            return;
        lateRooms_.insert(room);
        startRefresh();
        return;
    }
    if (from > 0) {
        rooms_.insert(0, rooms_.takeAt(from)); // block moves: the records are relocatable
        roomOrder_.moveToFront(room);
    }
    RoomRecord& record = rooms_.first();
    // A list answered over HTTP can overtake messages still on their way over the chat
    // connection: one the list already counted is not counted again.
    bool ok = false;
    const qint64 id = msgId.toLongLong(&ok);
    if (ok && record.lastId > 0) {
        if (id <= record.lastId) {
            if (from > 0)
                emit roomUpdated(room, true);
            return;
        }
        record.lastId = id;
    }
    if (unread) {
        record.unread = addCounts(record.unread, 1);
        setUnreadTotal(addCounts(unreadTotal_, 1));
    }
    if (!last.isEmpty())
        record.last = last;
    if (from > 0 || unread || !last.isEmpty())
        emit roomUpdated(room, from > 0);
}

void Directory::noteEdit(const QString& room, const QString& msgId, const QString& text) {
    const int at = roomOrder_.position(room);
    if (at < 0 || msgId.isEmpty() || lastMessageIds_.value(room) != msgId)
        return;
    RoomRecord& record = rooms_[at];
    if (!record.last.fileName.isEmpty() || record.last.text == text)
        return;
    record.last.text = text;
    emit roomUpdated(room, false);
}

qint64 Directory::markRead(const QString& room) {
    reading_ = room;
    const int at = roomOrder_.position(room);
    if (at < 0)
        return 0;
    RoomRecord& record = rooms_[at];
    const qint64 had = record.unread;
    if (had <= 0)
        return 0;
    record.unread = 0;
    emit roomUpdated(room, false);
    // Rare (a click), and the total may have stopped at the largest count: summed anew.
    qint64 total = 0;
    for (const RoomRecord& r : rooms_)
        total = addCounts(total, r.unread);
    setUnreadTotal(total);
    return had;
}

void Directory::post(const char* path, QByteArray body, Action action,
                     std::function<void(Directory&, const Outcome&)> onSuccess) {
    const ServerConfig config = config_;
    const QString pathText = QString::fromLatin1(path);
    const auto cancelled = cancelled_;
    runOffThread(
        pool_, this,
        [config, pathText, body = std::move(body), cancelled] {
            Outcome outcome;
            const std::optional<QByteArray> answer = api::request(
                config, QStringLiteral("POST"), pathText, body, kJsonContentType, &outcome.error,
                api::Limits{api::Limits::kTotalSeconds, cancelled.get()});
            outcome.ok = answer.has_value();
            if (answer)
                outcome.answer = *answer;
            return outcome;
        },
        [action, onSuccess = std::move(onSuccess)](Directory& directory, Outcome outcome) {
            if (!outcome.ok) {
                emit directory.failed(action,
                                      outcome.error.isNull() ? QStringLiteral("") : outcome.error);
                return;
            }
            onSuccess(directory, outcome);
        });
}

void Directory::addFriend(const QString& phone, const QString& alias) {
    post(kAddFriendPath, addFriendBody(self_.phone, phone, alias), Action::AddFriend,
         [phone](Directory& directory, const Outcome&) {
             emit directory.friendAdded(phone);
             directory.refresh();
         });
}

void Directory::createMemoRoom(const QString& title) {
    post(kCreateRoomPath, createMemoRoomBody(self_.phone, title), Action::CreateMemoRoom,
         [title](Directory& directory, const Outcome& outcome) {
             // An answer that is not UTF-8 names no room.
             const QString text = api::decodeUtf8(outcome.answer).value_or(QString());
             const QString room = json::stringValue(u"room_name", text).value_or(QString());
             if (!room.isEmpty())
                 directory.createdRooms_.append({room, title});
             // The requests run in order, so the next lists answered come after the room.
             directory.refresh();
         });
}

void Directory::leave(const QString& room) {
    post(kLeaveRoomPath, leaveRoomBody(self_.phone, room), Action::Leave,
         [room](Directory& directory, const Outcome&) {
             emit directory.roomLeft(room);
             directory.refresh();
         });
}

QString Directory::pictureFor(const QString& phoneOrName) const {
    if (phoneOrName.isEmpty())
        return QString();
    if (phoneOrName == self_.nick || phoneOrName == self_.phone)
        return self_.profilePic;
    return pictureIds_.value(phoneOrName);
}

QString Directory::roomName(const QString& room, const QString& title) const {
    if (!title.isEmpty() && title != room)
        return title;
    if (const RoomRecord* record = this->room(room); record && !record->title.isEmpty())
        return record->title;
    QString peer = peerOf(room);
    if (const RoomRecord* record = this->room(room); peer.isEmpty() && record)
        peer = record->peer;
    if (!peer.isEmpty()) {
        // A friend's alias or nickname, as the friends list shows them.
        for (const FriendRecord& f : friends_)
            if (f.phone == peer)
                return !f.alias.isEmpty() ? f.alias : !f.nick.isEmpty() ? f.nick : peer;
        return peer;
    }
    if (room.startsWith(QLatin1String("memo:")))
        return QStringLiteral("나의 메모");
    return QStringLiteral("대화방");
}

QString Directory::peerOf(const QString& room) const {
    if (!room.startsWith(QLatin1String("dm:")))
        return QString();
    const QStringList parts = room.split(QLatin1Char(':'));
    if (parts.size() < 3)
        return QString();
    return parts.at(1) == self_.phone ? parts.at(2) : parts.at(1);
}

QString Directory::headerPicture(const QString& room) const {
    if (room.isEmpty())
        return QString();
    // A direct room shows its other member; own rooms, groups and memo rooms their record.
    if (const QString peer = peerOf(room); !peer.isEmpty())
        if (const QString picture = pictureFor(peer); !picture.isEmpty())
            return picture;
    const RoomRecord* record = this->room(room);
    return record ? record->profilePic : QString();
}

} // namespace brindlewick
