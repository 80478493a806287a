#include "side_rows.h"

#include "bidi_isolate.h"
#include "file_link.h"
#include "local_time.h"
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
    // A memo room without a title is still the user's memo room, not its id.
    static const QString memo = QStringLiteral("나의 메모");
    return firstNonEmpty(r.title, r.peer,
                         r.room.startsWith(QLatin1String("memo:")) ? memo : r.room);
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
    row.preview = messagePreview(r.last);
    if (!row.preview.isEmpty()) {
        const LocalTime time = localTime(r.last.time);
        row.lastDate = time.date;
        row.lastHhmm = time.hhmm;
    }
    return row;
}

QString messagePreview(const LastMessage& last) {
    QString text;
    if (!last.fileName.isEmpty())
        text = isPictureFileName(last.fileName) ? QStringLiteral("사진")
                                                : QStringLiteral("파일: ") + last.fileName;
    else
        text = last.text;
    // Line breaks and tabs become spaces; other control characters go.
    text.truncate(kPreviewChars * 2);
    QString line;
    line.reserve(text.size());
    for (const QChar c : std::as_const(text)) {
        if (c.isSpace())
            line.append(u' ');
        else if (c.category() != QChar::Other_Control)
            line.append(c);
    }
    line = line.simplified();
    if (line.size() > kPreviewChars) {
        // Never half of a surrogate pair.
        int cut = kPreviewChars;
        if (line.at(cut - 1).isHighSurrogate())
            --cut;
        line = line.left(cut) + u'…';
    }
    return balancedBidi(line);
}

QString previewTime(const SideRow& row, const QDate& today) {
    if (!row.lastDate.isValid() || row.lastDate == today)
        return row.lastHhmm;
    return QStringLiteral("%1월 %2일").arg(row.lastDate.month()).arg(row.lastDate.day());
}

QString accessibleRowText(const SideRow& row, const QDate& today) {
    QStringList parts{row.name};
    if (row.kind != SideRow::Kind::Room && !row.status.isEmpty())
        parts << row.status;
    if (row.kind == SideRow::Kind::Room && !row.preview.isEmpty()) {
        parts << row.preview;
        if (const QString time = previewTime(row, today); !time.isEmpty())
            parts << time;
    }
    if (row.unread > 0)
        parts << QStringLiteral("안 읽은 메시지 %1개").arg(row.unread);
    QString text = parts.join(QStringLiteral(", "));
    // Names come from the server as they are; a reader gets no control characters.
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return text;
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
