#pragma once
// The friend and room lists as the HTTP API answers them, and the bodies of the requests that
// change them. Sending is the caller's (MainController's) business.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace brindlewick {

struct FriendRecord {
    QString phone; // never empty
    QString nick;
    QString alias;
    QString status;
    QString profilePic; // file id
};

// A room's newest message as the chats list shows it: its text, or the name of a file sent (then
// the text is empty); its time as the server wrote it (ISO 8601). All empty: none.
struct LastMessage {
    QString text;
    QString fileName;
    QString time;
    bool isEmpty() const { return text.isEmpty() && fileName.isEmpty() && time.isEmpty(); }
};

struct RoomRecord {
    QString room; // RoomId; never empty
    QString title;
    QString peer;       // other member's phone, for a direct room
    QString profilePic; // file id
    qint64 unread = 0;
    LastMessage last;
    // The newest message id the room had when the list was taken (0: not told): the count and
    // the last message include every message up to it.
    qint64 lastId = 0;
};

} // namespace brindlewick

// Moving a room to the front of a list is a block move of the records before it.
Q_DECLARE_TYPEINFO(brindlewick::FriendRecord, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(brindlewick::RoomRecord, Q_RELOCATABLE_TYPE);

namespace brindlewick {

// One record per "{"-delimited part that carries the identifying key, in answer order, the first
// `maxRecords` of them (-1: all). `beyond`, when given, gets how many more records the answer
// held, which are only counted.
QList<FriendRecord> parseFriendObjects(const QString& json, qsizetype maxRecords = -1,
                                       qsizetype* beyond = nullptr);
QList<RoomRecord> parseRoomObjects(const QString& json, qsizetype maxRecords = -1,
                                   qsizetype* beyond = nullptr);

// GET paths of the two lists for the own phone (possibly empty).
QString friendsListPath(const QString& myPhone);
QString roomsListPath(const QString& myPhone);

// POST bodies (UTF-8 JSON, content type "application/json").
inline constexpr char kAddFriendPath[] = "/v1/friends/add";
inline constexpr char kCreateRoomPath[] = "/v1/rooms";
inline constexpr char kLeaveRoomPath[] = "/v1/rooms/leave";
QByteArray addFriendBody(const QString& myPhone, const QString& friendPhone, const QString& alias);
QByteArray createMemoRoomBody(const QString& myPhone, const QString& title);
QByteArray leaveRoomBody(const QString& myPhone, const QString& room);

} // namespace brindlewick
