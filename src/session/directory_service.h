#pragma once
// The friend and room lists of the signed-in user and the actions that change them. Requests
// run one after the other on a thread of their own and report back on the main thread in the
// order they were asked for; the window keeps painting meanwhile.

#include "directory.h"
#include "file_transfer.h"
#include "server_config.h"

#include <QList>
#include <QObject>
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

    struct Self {
        QString phone;
        QString nick;
        QString profilePic;
    };

    Directory(const ServerConfig& config, Self self, QObject* parent = nullptr);
    // Stops requests in flight; their results are dropped.
    ~Directory() override;

    const QList<FriendRecord>& friends() const { return friends_; }
    const QList<RoomRecord>& rooms() const { return rooms_; }
    bool refreshing() const { return refreshing_; }

    // Lists known without asking the server (a screenshot, a cache); announced like a refresh.
    void setLists(QList<FriendRecord> friends, QList<RoomRecord> rooms);
    // Both lists anew. A refresh already running is not started twice.
    void refresh();
    void addFriend(const QString& phone, const QString& alias);
    void createMemoRoom(const QString& title);
    void leave(const QString& room);

    // The picture id of a person or room named by phone, nickname, alias or title; "" for none.
    QString pictureFor(const QString& phoneOrName) const;
    // The picture shown in the header of `room`: the other person's in a direct room, the
    // room's own otherwise.
    QString headerPicture(const QString& room) const;

signals:
    // After a refresh that read at least one of the lists.
    void listsChanged();
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
                                const RequestLimits& limits);
    void takeLists(const ListAnswer& friends, const ListAnswer& rooms);

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
    bool refreshing_ = false;
    QList<QPair<QString, QString>> createdRooms_; // room and title, opened with the next lists
    QThreadPool pool_; // one thread: requests keep the order they were asked in
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace brindlewick
