#pragma once
// The sidebar's rows, rebuilt from the fetched lists whenever the lists, the chosen list or the
// filter change.

#include "directory.h"

#include <QList>
#include <QString>

namespace brindlewick {

struct SideRow {
    enum class Kind { Friend, Room };

    Kind kind = Kind::Friend;
    QString title;      // what the table shows, its names isolated (bidi_isolate.h)
    QString room;       // room rows only
    QString phone;      // friend's phone, or a room's peer ("" for group rooms)
    QString name;       // display name
    QString status;     // friend rows only
    QString profilePic; // file id, "" when none
    qint64 unread = 0;  // room rows only
};

} // namespace brindlewick

Q_DECLARE_TYPEINFO(brindlewick::SideRow, Q_RELOCATABLE_TYPE);

namespace brindlewick {

// Display names: the first non-empty of alias, nick, phone / title, peer, room.
QString displayName(const FriendRecord& f);
QString displayName(const RoomRecord& r);

SideRow friendRow(const FriendRecord& f);
SideRow roomRow(const RoomRecord& r);

// sideMode 0 lists friends, any other value rooms. The filter is trimmed; an empty filter keeps
// everything, otherwise a record stays when its display name or its phone (friends) / room id
// (rooms) contains the filter, ignoring case. Order is the lists' order.
QList<SideRow> rebuildSideRows(const QList<FriendRecord>& friends, const QList<RoomRecord>& rooms,
                               int sideMode, const QString& filterText);

} // namespace brindlewick
