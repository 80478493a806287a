#include "directory.h"
#include "json_scan.h"
#include "url_value.h"

#include <QHash>
#include <QStringView>

#include <optional>

namespace brindlewick {
namespace {

// Where each member's key stands in one object's text, by key (the first of a name wins).
// Strings are skipped whole: a value that reads like a key, or holds a brace, stays a value.
class Members {
public:
    explicit Members(QStringView part) : part_(part) {
        const qsizetype n = part.size();
        qsizetype i = 0;
        while (i < n) {
            if (part[i] != u'"') {
                ++i;
                continue;
            }
            const qsizetype open = i;
            i = stringEnd(part, i);
            qsizetype next = i;
            while (next < n && part[next].isSpace())
                ++next;
            if (next < n && part[next] == u':') {
                const QString key = part.mid(open + 1, i - open - 2).toString();
                if (!keys_.contains(key))
                    keys_.insert(key, open);
            }
        }
    }

    std::optional<QString> string(QStringView key) const {
        const auto at = keys_.constFind(key.toString());
        if (at == keys_.constEnd())
            return std::nullopt;
        return json::stringValue(key, part_.mid(*at));
    }
    qint64 integer(QStringView key) const {
        const auto at = keys_.constFind(key.toString());
        return at == keys_.constEnd() ? 0 : json::intValue(key, part_.mid(*at));
    }
    // The first of `keys` whose string value is non-empty, else the empty text.
    QString firstNonEmpty(std::initializer_list<QStringView> keys) const {
        for (QStringView key : keys) {
            std::optional<QString> v = string(key);
            if (v && !v->isEmpty())
                return *v;
        }
        return QString(QLatin1String(""));
    }

    // Index just past the string that opens at `open` (its closing quote, or the end).
    static qsizetype stringEnd(QStringView text, qsizetype open) {
        qsizetype i = open + 1;
        while (i < text.size()) {
            if (text[i] == u'\\')
                i += 2;
            else if (text[i++] == u'"')
                return i;
        }
        return text.size();
    }

private:
    QStringView part_;
    QHash<QString, qsizetype> keys_;
};

// Calls `each` with the members of the text between one "{" and the next (or the end), in
// order, braces inside strings not counting. Objects are never nested in the lists, so a part
// holds exactly one record's members.
template <typename F> void forEachPart(const QString& json, F each) {
    const QStringView all(json);
    const auto nextOpen = [&all](qsizetype from) -> qsizetype {
        for (qsizetype i = from; i < all.size();) {
            if (all[i] == u'{')
                return i;
            i = all[i] == u'"' ? Members::stringEnd(all, i) : i + 1;
        }
        return -1;
    };
    qsizetype open = nextOpen(0);
    while (open >= 0) {
        const qsizetype next = nextOpen(open + 1);
        each(Members(next < 0 ? all.mid(open + 1) : all.mid(open + 1, next - open - 1)));
        open = next;
    }
}

QString q(const QString& value) {
    return u'"' + json::escape(value) + u'"';
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
    forEachPart(json, [&](const Members& part) {
        const QString id = part.firstNonEmpty(keys);
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
        [](const QString& phone, const Members& part) {
            FriendRecord f;
            f.phone = phone;
            f.nick = part.firstNonEmpty({u"Nickname", u"nick"});
            f.alias = part.firstNonEmpty({u"Alias"});
            f.status = part.firstNonEmpty({u"StatusMessage"});
            f.profilePic = part.firstNonEmpty({u"ProfilePic", u"profile_pic"});
            return f;
        });
}

QList<RoomRecord> parseRoomObjects(const QString& json, qsizetype maxRecords, qsizetype* beyond) {
    return parseRecords<RoomRecord>(
        json, {u"room_name"}, maxRecords, beyond, [](const QString& room, const Members& part) {
            RoomRecord r;
            r.room = room;
            r.title = part.firstNonEmpty({u"title", u"peer_alias", u"peer_nick"});
            r.peer = part.firstNonEmpty({u"peer_phone"});
            r.profilePic = part.firstNonEmpty({u"peer_profile"});
            r.unread = part.integer(u"unread_count");
            r.last.text = part.firstNonEmpty({u"last_message"});
            r.last.fileName = part.firstNonEmpty({u"last_file_name"});
            r.last.time = part.firstNonEmpty({u"last_time"});
            r.lastId = part.integer(u"last_id");
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
