#pragma once
// The friend and room lists of the signed-in user and the actions that change them. Requests
// run one after the other on a thread of their own and report back on the main thread in the
// order they were asked for; the window keeps painting meanwhile.

#include "directory.h"
#include "front_order.h"
#include "http_request.h"
#include "server_config.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <optional>

namespace brindlewick {

class Directory : public QObject {
    Q_OBJECT
public:
    enum class Action { AddFriend, CreateMemoRoom, Leave };
    Q_ENUM(Action)
    // Why new lists came: someone asked (the user, the sign-in, an action), or a message named a
    // room they did not know.
    enum class ListsCause { Asked, NewRoom };
    Q_ENUM(ListsCause)
    // How long messages for a room the server did not list ask for the lists no more.
    static constexpr qint64 kUnlistedRetryMs = 60'000;
    // The most friends, and the most rooms, taken from an answer; the rest are dropped (counted
    // in friendsDropped, roomsDropped), so a list of millions costs the window no more.
    static constexpr qsizetype kMaxListRows = 10'000;
    // A list's answer larger than this is refused (api::kTooLargeText) before it is all
    // read: far more than kMaxListRows rows take.
    static constexpr qint64 kMaxListBytes = 8 * 1024 * 1024;

    struct Self {
        QString phone;
        QString nick;
        QString profilePic;
    };

    Directory(const ServerConfig& config, Self self, QObject* parent = nullptr);
    // Stops requests in flight; their results are dropped.
    ~Directory() override;

    const QList<FriendRecord>& friends() const { return friends_; }
    // Most recent first: the server's order, then each arriving message puts its room on top.
    const QList<RoomRecord>& rooms() const { return rooms_; }
    // The record of `room`, or null when the lists do not know it; good until the lists change.
    const RoomRecord* room(const QString& room) const;
    // Unread messages over all rooms; it stops at the largest qint64.
    qint64 unreadTotal() const { return unreadTotal_; }
    bool refreshing() const { return refreshing_; }
    // Records the last answer held beyond kMaxListRows.
    qsizetype friendsDropped() const { return friendsDropped_; }
    qsizetype roomsDropped() const { return roomsDropped_; }

    // Lists known without asking the server (a screenshot, a cache); announced like a refresh.
    void setLists(QList<FriendRecord> friends, QList<RoomRecord> rooms);
    // Both lists anew. A refresh already running is not started twice.
    void refresh();
    void addFriend(const QString& phone, const QString& alias);
    void createMemoRoom(const QString& title);
    void leave(const QString& room);

    // A message arrived in `room` (`msgId` as the server numbered it, possibly empty): the room
    // goes to the top, shows `last` when it is not empty and, when `unread`, counts one more. A
    // room the lists do not know yet asks for the lists once, however many messages for new rooms
    // arrive before they come.
    void noteMessage(const QString& room, const QString& msgId, bool unread,
                     const LastMessage& last = {});
    // Message `msgId` of `room` now reads `text`: when it is the room's last message, its row
    // shows the new text.
    void noteEdit(const QString& room, const QString& msgId, const QString& text);
    // The user opened `room` (empty: closed it): its count is 0 here at once, and stays 0 in
    // lists that come while it is open, as it is being read. Only read marks tell the server.
    // Returns the count it had.
    qint64 markRead(const QString& room);
    // The newest message id that arrived for `room` while signed in; "" for none.
    QString lastMessageId(const QString& room) const { return lastMessageIds_.value(room); }

    // The picture id of a person or room named by phone, nickname, alias or title; "" for none.
    QString pictureFor(const QString& phoneOrName) const;
    // The picture shown in the header of `room`: the other person's in a direct room, the
    // room's own otherwise.
    QString headerPicture(const QString& room) const;
    // What the window calls `room`, never its id: `title` when it is a name, else the lists'
    // name for the room, the other person's name (or phone) in a direct room, "나의 메모" for a
    // memo room, "대화방" for anything else.
    QString roomName(const QString& room, const QString& title = QString()) const;

signals:
    // After a refresh that read at least one of the lists.
    void listsChanged(brindlewick::Directory::ListsCause cause);
    // One room's record changed without a refresh: its count or last message, and its place
    // when `movedToTop` (it is then the first room).
    void roomUpdated(const QString& room, bool movedToTop);
    // After the total of unread messages changed.
    void unreadTotalChanged(qint64 total);
    // A refresh could not read one list or both; each such list keeps its previous rows.
    void refreshFailed(const QString& error);
    void failed(brindlewick::Directory::Action action, const QString& error);
    void friendAdded(const QString& phone);
    // After the lists that include it arrived.
    void memoRoomCreated(const QString& room, const QString& title);
    void roomLeft(const QString& room);

private:
    // One list's answer: its text, or why there is none.
    struct ListAnswer {
        std::optional<QString> text;
        QString error;
    };
    static ListAnswer fetchList(const ServerConfig& config, const QString& path,
                                const api::Limits& limits);
    // Both lists as read on the worker: decoded there, so the main thread only takes them.
    struct Lists {
        std::optional<QList<FriendRecord>> friends;
        std::optional<QList<RoomRecord>> rooms;
        qsizetype friendsDropped = 0;
        qsizetype roomsDropped = 0;
        QString friendsError;
        QString roomsError;
    };
    static Lists fetchLists(const ServerConfig& config, const QString& phone,
                            const api::Limits& limits);
    void takeLists(Lists lists);
    void startRefresh();
    // The lookups below follow the lists; called whenever a list is replaced.
    void indexLists();
    void setUnreadTotal(qint64 total);
    // The other person's phone in a direct room ("dm:<phone>:<phone>"); "" for other rooms.
    QString peerOf(const QString& room) const;

    struct Outcome {
        bool ok = false;
        QByteArray answer;
        QString error;
    };
    void post(const char* path, QByteArray body, Action action,
              std::function<void(Directory&, const Outcome&)> onSuccess);

    ServerConfig config_;
    Self self_;
    QList<FriendRecord> friends_;
    QList<RoomRecord> rooms_;
    FrontOrder roomOrder_;               // room id -> its first place in rooms_
    QHash<QString, QString> pictureIds_; // phone, nickname, alias or title -> picture id
    QHash<QString, QString> lastMessageIds_;
    QString reading_; // the room open in the window: never unread
    qint64 unreadTotal_ = 0;
    qsizetype friendsDropped_ = 0;
    qsizetype roomsDropped_ = 0;
    bool refreshing_ = false;
    bool asked_ = false; // someone asked for the running refresh
    // Rooms heard of before the running refresh was asked for: its answer should hold them.
    QSet<QString> awaitedRooms_;
    // Rooms heard of while it runs: it may have been answered without them.
    QSet<QString> lateRooms_;
    // Rooms an answer asked after their first message did not hold, with when: the server does
    // not list them, so their messages ask again only after a while (one may add the user later).
    QHash<QString, qint64> unlistedRooms_;
    QElapsedTimer clock_;
    QList<QPair<QString, QString>> createdRooms_; // room and title, opened with the next lists
    QThreadPool pool_; // one thread: requests keep the order they were asked in
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace brindlewick
