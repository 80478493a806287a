#include "directory_service.h"

#include "file_transfer.h"
#include "off_thread.h"

#include <QStringList>

namespace brindlewick {

namespace {

const QString kJsonContentType = QStringLiteral("application/json");

} // namespace

Directory::ListAnswer Directory::fetchList(const ServerConfig& config, const QString& path,
                                           const RequestLimits& limits) {
    ListAnswer answer;
    QString error;
    const std::optional<QByteArray> body = FileTransfer::httpRequest(
        config, QStringLiteral("GET"), path, std::nullopt, QString(), &error, limits);
    if (!body) {
        answer.error = error;
        return answer;
    }
    answer.text = decodeUtf8(*body);
    if (!answer.text)
        answer.error = QStringLiteral("응답이 UTF-8 텍스트가 아닙니다");
    return answer;
}

Directory::Directory(const ServerConfig& config, Self self, QObject* parent)
    : QObject(parent), config_(config), self_(std::move(self)) {
    pool_.setMaxThreadCount(1);
}

Directory::~Directory() {
    cancelled_->store(true);
    pool_.clear();
    pool_.waitForDone();
}

void Directory::setLists(QList<FriendRecord> friends, QList<RoomRecord> rooms) {
    friends_ = std::move(friends);
    rooms_ = std::move(rooms);
    emit listsChanged();
}

void Directory::refresh() {
    if (refreshing_)
        return;
    refreshing_ = true;
    struct Lists {
        ListAnswer friends;
        ListAnswer rooms;
    };
    const ServerConfig config = config_;
    const QString phone = self_.phone;
    const auto cancelled = cancelled_;
    runOffThread(
        pool_, this,
        [config, phone, cancelled] {
            const RequestLimits limits{RequestLimits::kTotalSeconds, cancelled.get()};
            // Both requests go out before either list changes.
            return Lists{fetchList(config, friendsListPath(phone), limits),
                         fetchList(config, roomsListPath(phone), limits)};
        },
        [](Directory& directory, Lists lists) { directory.takeLists(lists.friends, lists.rooms); });
}

void Directory::takeLists(const ListAnswer& friends, const ListAnswer& rooms) {
    refreshing_ = false;
    // A list that could not be read keeps what the sidebar shows; the other one still updates.
    if (friends.text)
        friends_ = parseFriendObjects(*friends.text);
    if (rooms.text)
        rooms_ = parseRoomObjects(*rooms.text);
    if (friends.text || rooms.text)
        emit listsChanged();
    QStringList errors;
    for (const ListAnswer* answer : {&friends, &rooms})
        if (!answer->text && !errors.contains(answer->error))
            errors << answer->error;
    if (!errors.isEmpty())
        emit refreshFailed(errors.join(QStringLiteral(" / ")));
    // New memo rooms open once the lists know them, as their header needs; until then they wait.
    if (rooms.text) {
        for (const auto& [room, title] : std::exchange(createdRooms_, {}))
            emit memoRoomCreated(room, title);
    }
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
            const std::optional<QByteArray> answer = FileTransfer::httpRequest(
                config, QStringLiteral("POST"), pathText, body, kJsonContentType, &outcome.error,
                RequestLimits{RequestLimits::kTotalSeconds, cancelled.get()});
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
             const QString text = decodeUtf8(outcome.answer).value_or(QString());
             const QString room =
                 FileTransfer::jsonStringValue(u"room_name", text).value_or(QString());
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
    for (const FriendRecord& f : friends_) {
        if (f.phone == phoneOrName || f.nick == phoneOrName || f.alias == phoneOrName)
            return f.profilePic;
    }
    for (const RoomRecord& r : rooms_) {
        if (r.peer == phoneOrName || r.title == phoneOrName)
            return r.profilePic;
    }
    return QString();
}

QString Directory::headerPicture(const QString& room) const {
    if (room.isEmpty())
        return QString();
    // A direct room shows its other member; own rooms, groups and memo rooms their record.
    if (room.startsWith(QLatin1String("dm:"))) {
        const QStringList parts = room.split(QLatin1Char(':'));
        if (parts.size() >= 3) {
            const QString peer = parts.at(1) == self_.phone ? parts.at(2) : parts.at(1);
            if (const QString picture = pictureFor(peer); !picture.isEmpty())
                return picture;
        }
    }
    for (const RoomRecord& record : rooms_) {
        if (record.room == room)
            return record.profilePic;
    }
    return QString();
}

} // namespace brindlewick
