#pragma once
// The sidebar's rows, rebuilt from the fetched lists whenever the lists, the chosen list or the
// filter change.

#include "directory.h"

#include <QDate>
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
    // Room rows: the last message on one line ("사진", "파일: name" for files), its local date
    // and "HH:mm"; empty when the room has none.
    QString preview;
    QDate lastDate;
    QString lastHhmm;
};

} // namespace brindlewick

Q_DECLARE_TYPEINFO(brindlewick::SideRow, Q_RELOCATABLE_TYPE);

namespace brindlewick {

// Display names: the first non-empty of alias, nick, phone / title, peer, room ("나의 메모" for
// a memo room's id).
QString displayName(const FriendRecord& f);
QString displayName(const RoomRecord& r);

SideRow friendRow(const FriendRecord& f);
SideRow roomRow(const RoomRecord& r);

// A last message as the chats list shows it: one line without control characters, at most
// kPreviewChars long; "사진" for a picture file, "파일: name" for any other file.
inline constexpr int kPreviewChars = 120;
QString messagePreview(const LastMessage& last);
// The time beside the last message: "HH:mm" on `today`, "M월 d일" on other days, "" for none.
QString previewTime(const SideRow& row, const QDate& today);
// What a screen reader says for a row: the name, then for rooms the last message, its time and
// the unread count.
QString accessibleRowText(const SideRow& row, const QDate& today);

// sideMode 0 lists friends, any other value rooms. The filter is trimmed; an empty filter keeps
// everything, otherwise a record stays when its display name or its phone (friends) / room id
// (rooms) contains the filter, ignoring case. Order is the lists' order.
QList<SideRow> rebuildSideRows(const QList<FriendRecord>& friends, const QList<RoomRecord>& rooms,
                               int sideMode, const QString& filterText);

} // namespace brindlewick
