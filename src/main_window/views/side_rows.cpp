#include "side_rows.h"

#include "bidi_isolate.h"
#include "text_match.h"

namespace brindlewick {

namespace {

const QString& firstNonEmpty(const QString& a, const QString& b, const QString& c) {
    if (!a.isEmpty())
        return a;
    if (!b.isEmpty())
        return b;
    return c;
}

} // namespace

QString displayName(const FriendRecord& f) {
    return firstNonEmpty(f.alias, f.nick, f.phone);
}

QString displayName(const RoomRecord& r) {
    return firstNonEmpty(r.title, r.peer, r.room);
}

SideRow friendRow(const FriendRecord& f) {
    SideRow row;
    row.kind = SideRow::Kind::Friend;
    row.name = displayName(f);
    row.title = f.status.isEmpty()
                    ? isolated(row.name)
                    : QStringLiteral("%1  (%2)").arg(isolated(row.name), isolated(f.status));
    row.phone = f.phone;
    row.status = f.status;
    row.profilePic = f.profilePic;
    return row;
}

SideRow roomRow(const RoomRecord& r) {
    SideRow row;
    row.kind = SideRow::Kind::Room;
    row.name = displayName(r);
    // One-pass arg(): a name holding "%2" must not swallow the count.
    row.title = r.unread > 0
                    ? QStringLiteral("%1 [%2]").arg(isolated(row.name), QString::number(r.unread))
                    : isolated(row.name);
    row.room = r.room;
    row.phone = r.peer;
    row.profilePic = r.profilePic;
    row.unread = r.unread;
    return row;
}

QList<SideRow> rebuildSideRows(const QList<FriendRecord>& friends, const QList<RoomRecord>& rooms,
                               int sideMode, const QString& filterText) {
    const QString filter = filterText.trimmed();
    QList<SideRow> rows;
    if (sideMode == 0) {
        rows.reserve(friends.size());
        for (const FriendRecord& f : friends) {
            if (!filter.isEmpty() && !containsText(displayName(f), filter) &&
                !containsText(f.phone, filter))
                continue;
            rows.append(friendRow(f));
        }
    } else {
        rows.reserve(rooms.size());
        for (const RoomRecord& r : rooms) {
            if (!filter.isEmpty() && !containsText(displayName(r), filter) &&
                !containsText(r.room, filter))
                continue;
            rows.append(roomRow(r));
        }
    }
    return rows;
}

} // namespace brindlewick
