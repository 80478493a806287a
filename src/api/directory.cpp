#include "directory.h"
#include "file_transfer.h"
#include "url_value.h"

#include <QStringView>

namespace brindlewick {
namespace {

// The first of `keys` whose string value is non-empty, else the empty text.
QString firstNonEmpty(QStringView part, std::initializer_list<QStringView> keys) {
    for (QStringView key : keys) {
        std::optional<QString> v = FileTransfer::jsonStringValue(key, part);
        if (v && !v->isEmpty())
            return *v;
    }
    return QString(QLatin1String(""));
}

// Calls `each` with the text between one "{" and the next (or the end), in order. Objects
// are never nested in the lists, so a part holds exactly one record's members.
template <typename F> void forEachPart(const QString& json, F each) {
    const QStringView all(json);
    qsizetype open = all.indexOf(u'{');
    while (open >= 0) {
        const qsizetype next = all.indexOf(u'{', open + 1);
        each(next < 0 ? all.mid(open + 1) : all.mid(open + 1, next - open - 1));
        open = next;
    }
}

QString q(const QString& value) {
    return u'"' + FileTransfer::jsonEscape(value) + u'"';
}

} // namespace

namespace {

// Records from the parts that name one by any of `keys`, up to `maxRecords`; parts beyond are
// only checked for a name and counted in `beyond`.
template <typename Record, typename Fill>
QList<Record> parseRecords(const QString& json, std::initializer_list<QStringView> keys,
                           qsizetype maxRecords, qsizetype* beyond, Fill fill) {
    QList<Record> list;
    qsizetype more = 0;
    forEachPart(json, [&](QStringView part) {
        const QString id = firstNonEmpty(part, keys);
        if (id.isEmpty())
            return;
        if (maxRecords >= 0 && list.size() >= maxRecords) {
            ++more;
            return;
        }
        list.append(fill(id, part));
    });
    if (beyond)
        *beyond = more;
    return list;
}

} // namespace

QList<FriendRecord> parseFriendObjects(const QString& json, qsizetype maxRecords,
                                       qsizetype* beyond) {
    return parseRecords<FriendRecord>(
        json, {u"PhoneNumber", u"phone"}, maxRecords, beyond,
        [](const QString& phone, QStringView part) {
            FriendRecord f;
            f.phone = phone;
            f.nick = firstNonEmpty(part, {u"Nickname", u"nick"});
            f.alias = firstNonEmpty(part, {u"Alias"});
            f.status = firstNonEmpty(part, {u"StatusMessage"});
            f.profilePic = firstNonEmpty(part, {u"ProfilePic", u"profile_pic"});
            return f;
        });
}

QList<RoomRecord> parseRoomObjects(const QString& json, qsizetype maxRecords, qsizetype* beyond) {
    return parseRecords<RoomRecord>(
        json, {u"room_name"}, maxRecords, beyond, [](const QString& room, QStringView part) {
            RoomRecord r;
            r.room = room;
            r.title = firstNonEmpty(part, {u"title", u"peer_alias", u"peer_nick"});
            r.peer = firstNonEmpty(part, {u"peer_phone"});
            r.profilePic = firstNonEmpty(part, {u"peer_profile"});
            r.unread = FileTransfer::jsonIntValue(u"unread_count", part);
            return r;
        });
}

QString friendsListPath(const QString& myPhone) {
    return QStringLiteral("/v1/friends?phone=") + urlValue(myPhone);
}

QString roomsListPath(const QString& myPhone) {
    return QStringLiteral("/v1/rooms?phone=") + urlValue(myPhone);
}

QByteArray addFriendBody(const QString& myPhone, const QString& friendPhone, const QString& alias) {
    return (QStringLiteral("{\"my_phone\":") + q(myPhone) + QStringLiteral(",\"friend_phone\":") +
            q(friendPhone) + QStringLiteral(",\"alias\":") + q(alias) + u'}')
        .toUtf8();
}

QByteArray createMemoRoomBody(const QString& myPhone, const QString& title) {
    return (QStringLiteral("{\"phone\":") + q(myPhone) + QStringLiteral(",\"title\":") + q(title) +
            QStringLiteral(",\"type\":\"memo\"}"))
        .toUtf8();
}

QByteArray leaveRoomBody(const QString& myPhone, const QString& room) {
    return (QStringLiteral("{\"phone\":") + q(myPhone) + QStringLiteral(",\"room\":") + q(room) +
            u'}')
        .toUtf8();
}

} // namespace brindlewick
