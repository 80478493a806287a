// The chats list follows arriving messages without asking the server: counts, order, the total,
// lookups that stay right after rooms move, and one refresh for rooms the lists do not know.

#include "directory_service.h"
#include "event_loop.h"
#include "fake_http_server.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <limits>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();

Directory::Self me() {
    return {QStringLiteral("01011112222"), QStringLiteral("민지"), QStringLiteral("pic-me")};
}

RoomRecord roomOf(const QString& id, qint64 unread, const QString& title = {},
                  const QString& peer = {}, const QString& pic = {}) {
    RoomRecord r;
    r.room = id;
    r.title = title;
    r.peer = peer;
    r.unread = unread;
    r.profilePic = pic;
    return r;
}

// "r-1:2 r-2:0" in list order.
QString describe(const QList<RoomRecord>& rooms) {
    QStringList out;
    for (const RoomRecord& r : rooms)
        out << QStringLiteral("%1:%2").arg(r.room).arg(r.unread);
    return out.join(QLatin1Char(' '));
}

int roomListRequests(const FakeHttpServer& http) {
    int n = 0;
    for (const RecordedRequest& r : http.requests())
        n += r.path == QLatin1String("/v1/rooms");
    return n;
}

} // namespace

TEST(DirectoryLive, MessagesAndOpeningChangeCountsAndOrder) {
    enum Kind { Other, Own, Open };
    struct Step {
        Kind kind;
        const char* room;
    };
    struct Case {
        const char* name;
        QList<RoomRecord> rooms;
        QList<Step> steps;
        const char* order; // rooms and counts after the steps
        qint64 total;
        int totalSignals; // how often the total was announced
    };
    const QList<RoomRecord> three = {roomOf("r-1", 2), roomOf("r-2", 0), roomOf("r-3", 5)};
    const Case cases[] = {
        {"the top room counts in place", three, {{Other, "r-1"}}, "r-1:3 r-2:0 r-3:5", 8, 1},
        {"a lower room comes to the top", three, {{Other, "r-3"}}, "r-3:6 r-1:2 r-2:0", 8, 1},
        {"the last room, twice",
         three,
         {{Other, "r-3"}, {Other, "r-3"}},
         "r-3:7 r-1:2 r-2:0",
         9,
         2},
        {"a middle room", three, {{Other, "r-2"}}, "r-2:1 r-1:2 r-3:5", 8, 1},
        {"an own message moves without counting", three, {{Own, "r-3"}}, "r-3:5 r-1:2 r-2:0", 7, 0},
        {"opening clears that room only", three, {{Open, "r-3"}}, "r-1:2 r-2:0 r-3:0", 2, 1},
        {"opening a read room changes nothing", three, {{Open, "r-2"}}, "r-1:2 r-2:0 r-3:5", 7, 0},
        {"messages after opening count again",
         three,
         {{Open, "r-1"}, {Other, "r-1"}, {Other, "r-2"}},
         "r-2:1 r-1:1 r-3:5",
         7,
         3},
        {"rooms the lists do not know and empty ids leave the list",
         three,
         {{Other, ""}, {Own, ""}, {Open, "r-9"}, {Open, ""}},
         "r-1:2 r-2:0 r-3:5",
         7,
         0},
        {"a negative count starts again from 0",
         {roomOf("r-1", -2), roomOf("r-2", 1)},
         {{Other, "r-1"}},
         "r-1:1 r-2:1",
         2,
         1},
        {"counts and the total stop at the largest number",
         {roomOf("r-1", kMax), roomOf("r-2", 4)},
         {{Other, "r-1"}, {Other, "r-2"}},
         "r-2:5 r-1:9223372036854775807",
         kMax,
         0},
        {"the total comes back down from the largest number",
         {roomOf("r-1", kMax), roomOf("r-2", 4)},
         {{Open, "r-1"}},
         "r-1:0 r-2:4",
         4,
         1},
        {"a room listed twice moves at its first place",
         {roomOf("r-1", 0), roomOf("r-2", 0), roomOf("r-1", 0), roomOf("r-3", 0)},
         {{Other, "r-3"}, {Other, "r-1"}, {Other, "r-1"}},
         "r-1:2 r-3:1 r-2:0 r-1:0",
         3,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Directory directory(ServerConfig{}, me());
        directory.setLists({}, c.rooms);
        QSignalSpy totals(&directory, &Directory::unreadTotalChanged);
        QSignalSpy lists(&directory, &Directory::listsChanged);
        int id = 100;
        for (const Step& step : c.steps) {
            const QString room = QString::fromLatin1(step.room);
            if (step.kind == Open)
                directory.markRead(room);
            else
                directory.noteMessage(room, QString::number(++id), step.kind == Other);
        }
        EXPECT_EQ(describe(directory.rooms()), QString::fromLatin1(c.order));
        EXPECT_EQ(directory.unreadTotal(), c.total);
        EXPECT_EQ(totals.count(), c.totalSignals);
        if (!totals.isEmpty()) {
            EXPECT_EQ(totals.last().at(0).toLongLong(), c.total);
        }
        // Known rooms are found where they now are, at their first place.
        for (qsizetype i = directory.rooms().size() - 1; i >= 0; --i) {
            const RoomRecord& record = directory.rooms().at(i);
            const RoomRecord* found = directory.room(record.room);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->room, record.room);
            qsizetype first = 0;
            while (directory.rooms().at(first).room != record.room)
                ++first;
            EXPECT_EQ(found, &directory.rooms().at(first)) << record.room.toStdString();
        }
        // Nothing here asked for the lists.
        EXPECT_EQ(lists.count(), 0);
        EXPECT_FALSE(directory.refreshing());
    }
}

TEST(DirectoryLive, RoomUpdatesNameTheRoomAndWhetherItMoved) {
    Directory directory(ServerConfig{}, me());
    directory.setLists({}, {roomOf("r-1", 0), roomOf("r-2", 0)});
    QSignalSpy updates(&directory, &Directory::roomUpdated);
    directory.noteMessage("r-1", "1", false); // already on top, nothing to count
    directory.noteMessage("r-2", "2", false);
    directory.noteMessage("r-2", "3", true);
    directory.markRead("r-2");
    directory.markRead("r-2");
    ASSERT_EQ(updates.count(), 3);
    EXPECT_EQ(updates.at(0), (QList<QVariant>{"r-2", true}));
    EXPECT_EQ(updates.at(1), (QList<QVariant>{"r-2", false}));
    EXPECT_EQ(updates.at(2), (QList<QVariant>{"r-2", false}));
    EXPECT_EQ(directory.lastMessageId("r-2"), "3");
    EXPECT_EQ(directory.lastMessageId("r-1"), "1");
    EXPECT_EQ(directory.lastMessageId("r-9"), "");
}

TEST(DirectoryLive, PicturesAreFoundByPhoneNameOrTitleInListOrder) {
    Directory directory(ServerConfig{}, me());
    FriendRecord first{"01033334444", "준호", "호", "", "pic-junho"};
    FriendRecord second{"01055556666", "준호", "", "", "pic-other-junho"};
    FriendRecord bare{"01077778888", "", "", "", ""};
    directory.setLists({first, second, bare},
                       {roomOf("r-1", 0, "팀", "", "pic-team"),
                        roomOf("dm:01011112222:01099990000", 0, "", "01099990000", "pic-peer"),
                        roomOf("r-2", 0, "호", "", "pic-room-ho")});
    const std::pair<const char*, const char*> cases[] = {
        {"01033334444", "pic-junho"},
        {"준호", "pic-junho"}, // the first friend of that name
        {"01055556666", "pic-other-junho"},
        {"호", "pic-junho"},         // an alias before a room's title
        {"01077778888", ""},         // a friend without a picture
        {"팀", "pic-team"},          // a room's title
        {"01099990000", "pic-peer"}, // a direct room's peer
        {"민지", "pic-me"},          // the user
        {"01011112222", "pic-me"},
        {"", ""},
        {"아무개", ""},
    };
    // Moving rooms changes none of it.
    directory.noteMessage("r-2", "1", true);
    for (const auto& [key, picture] : cases)
        EXPECT_EQ(directory.pictureFor(QString::fromUtf8(key)), QString::fromUtf8(picture)) << key;
    EXPECT_EQ(directory.headerPicture("dm:01011112222:01099990000"), "pic-peer");
    EXPECT_EQ(directory.headerPicture("r-1"), "pic-team");
    EXPECT_EQ(directory.headerPicture("r-9"), "");
}

TEST(DirectoryLive, RoomsTheListsDoNotKnowBringOneRefresh) {
    struct Case {
        const char* name;
        const char* roomsAnswer; // what every rooms request answers
        QStringList messages;    // rooms of messages arriving before the answer
        int requests;
        const char* order;
    };
    const Case cases[] = {
        {"several messages for one new room",
         R"([{"room_name":"r-new","unread_count":3},{"room_name":"r-1"}])",
         {"r-new", "r-new", "r-new"},
         1,
         "r-new:3 r-1:0"},
        {"two new rooms in one answer",
         R"([{"room_name":"r-a"},{"room_name":"r-b"},{"room_name":"r-1"}])",
         {"r-a", "r-b", "r-1"},
         1,
         "r-a:0 r-b:0 r-1:0"},
        // The second room's message came after the request went; one more, and no more.
        {"a room heard of meanwhile and missing from the answer",
         R"([{"room_name":"r-a"},{"room_name":"r-1"}])",
         {"r-a", "r-b"},
         2,
         "r-a:0 r-1:0"},
        {"a room the server does not list", R"([{"room_name":"r-1"}])", {"r-x", "r-x"}, 1, "r-1:0"},
        {"known rooms only", R"([{"room_name":"r-1"}])", {"r-1"}, 0, "r-1:1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHttpServer http;
        http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, c.roomsAnswer, std::nullopt});
        Directory directory(http.config(), me());
        directory.setLists({}, {roomOf("r-1", 0)});
        QSignalSpy lists(&directory, &Directory::listsChanged);
        for (const QString& room : c.messages)
            directory.noteMessage(room, "1", true);
        ASSERT_TRUE(waitUntil([&] { return lists.count() >= std::min(c.requests, 1); }));
        ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }));
        spin(100);
        EXPECT_EQ(roomListRequests(http), c.requests);
        EXPECT_EQ(lists.count(), c.requests);
        for (const QList<QVariant>& signal : lists)
            EXPECT_EQ(signal.at(0).value<Directory::ListsCause>(), Directory::ListsCause::NewRoom);
        EXPECT_EQ(describe(directory.rooms()), QString::fromLatin1(c.order));
    }
}

TEST(DirectoryLive, ARoomTheServerDoesNotListIsNotAskedForAgainSoon) {
    FakeHttpServer http;
    http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
    http.setReply("GET", "/v1/rooms", {500, "", std::nullopt});
    Directory directory(http.config(), me());
    // A list that could not be read says nothing about the room: its next message asks again.
    directory.noteMessage("r-x", "1", true);
    ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }));
    http.setReply("GET", "/v1/rooms", {200, R"([{"room_name":"r-1"}])", std::nullopt});
    directory.noteMessage("r-x", "2", true);
    ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }));
    EXPECT_EQ(roomListRequests(http), 2);
    // Answered after its message and without it: more messages ask nothing for a while.
    directory.noteMessage("r-x", "3", true);
    directory.noteMessage("r-x", "4", true);
    spin(100);
    EXPECT_EQ(roomListRequests(http), 2);
    // Lists fetched for any other reason still bring it once the server has it.
    http.setReply("GET", "/v1/rooms",
                  {200, R"([{"room_name":"r-x","unread_count":4}])", std::nullopt});
    directory.refresh();
    ASSERT_TRUE(waitUntil([&] { return directory.room("r-x") != nullptr; }));
    EXPECT_EQ(directory.unreadTotal(), 4);
    directory.noteMessage("r-x", "5", true);
    EXPECT_EQ(directory.room("r-x")->unread, 5);
}

TEST(DirectoryLive, AnAskedRefreshJoiningOneForANewRoomIsReportedAsAsked) {
    FakeHttpServer http;
    http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
    http.setReply("GET", "/v1/rooms", {200, R"([{"room_name":"r-x"}])", std::nullopt});
    Directory directory(http.config(), me());
    QSignalSpy lists(&directory, &Directory::listsChanged);
    directory.noteMessage("r-x", "1", true);
    directory.refresh(); // "↻" while the lists for the new room are on their way
    ASSERT_TRUE(waitUntil([&] { return lists.count() == 1; }));
    spin(100);
    ASSERT_EQ(lists.count(), 1);
    EXPECT_EQ(lists.at(0).at(0).value<Directory::ListsCause>(), Directory::ListsCause::Asked);
    EXPECT_EQ(roomListRequests(http), 1);
}

// A room opened before the lists came (the room remembered from the last run) is read like one
// opened from its row: the lists' count for it does not come back while it stays open.
TEST(DirectoryLive, TheOpenRoomStaysReadWhenListsCome) {
    Directory directory(ServerConfig{}, me());
    QSignalSpy totals(&directory, &Directory::unreadTotalChanged);
    EXPECT_EQ(directory.markRead("r-2"), 0); // nothing known yet
    directory.setLists({}, {roomOf("r-1", 2), roomOf("r-2", 4)});
    EXPECT_EQ(describe(directory.rooms()), "r-1:2 r-2:0");
    EXPECT_EQ(directory.unreadTotal(), 2);
    // Another room opened: the first one counts again in the next lists.
    directory.markRead("r-1");
    directory.setLists({}, {roomOf("r-1", 2), roomOf("r-2", 4)});
    EXPECT_EQ(describe(directory.rooms()), "r-1:0 r-2:4");
    // No room open: the lists count as the server does.
    directory.markRead(QString());
    directory.setLists({}, {roomOf("r-1", 2), roomOf("r-2", 4)});
    EXPECT_EQ(describe(directory.rooms()), "r-1:2 r-2:4");
    EXPECT_EQ(directory.unreadTotal(), 6);
}

TEST(DirectoryLive, MessagesBringTheirLastMessageToTheRecord) {
    Directory directory(ServerConfig{}, me());
    RoomRecord first = roomOf("r-1", 0);
    first.last = {"예전 말", "", "2026-12-01T09:00:00+09:00"};
    directory.setLists({}, {first, roomOf("r-2", 0)});
    QSignalSpy updates(&directory, &Directory::roomUpdated);
    const LastMessage text{"새 말", "", "2026-12-10T10:00:00+09:00"};
    const LastMessage file{"", "사진.png", "2026-12-10T10:01:00+09:00"};
    // Already on top and read: only the last message changes, and the row hears of it.
    directory.noteMessage("r-1", "5", false, text);
    ASSERT_EQ(updates.count(), 1);
    EXPECT_EQ(updates.at(0), (QList<QVariant>{"r-1", false}));
    EXPECT_EQ(directory.room("r-1")->last.text, "새 말");
    EXPECT_EQ(directory.room("r-1")->last.time, "2026-12-10T10:00:00+09:00");
    directory.noteMessage("r-2", "1", true, file);
    EXPECT_EQ(updates.count(), 2);
    EXPECT_EQ(directory.rooms().first().room, "r-2");
    EXPECT_EQ(directory.room("r-2")->last.fileName, "사진.png");
    EXPECT_TRUE(directory.room("r-2")->last.text.isEmpty());
    // A message that says nothing of itself keeps what the record had.
    directory.noteMessage("r-2", "2", false);
    EXPECT_EQ(directory.room("r-2")->last.fileName, "사진.png");
    EXPECT_EQ(updates.count(), 2);
}

// A list answered over HTTP may already hold messages whose frames are still on their way.
TEST(DirectoryLive, AMessageTheListAlreadyCountedIsNotCountedAgain) {
    Directory directory(ServerConfig{}, me());
    RoomRecord counted = roomOf("r-1", 3);
    counted.lastId = 7;
    counted.last = {"셋째", "", "2026-12-10T10:00:00+09:00"};
    directory.setLists({}, {roomOf("r-2", 0), counted});
    for (const char* late : {"6", "7"})
        directory.noteMessage("r-1", late, true, {"늦은 말", "", "2026-12-10T09:59:00+09:00"});
    EXPECT_EQ(describe(directory.rooms()), "r-1:3 r-2:0");
    EXPECT_EQ(directory.room("r-1")->last.text, "셋째");
    EXPECT_EQ(directory.unreadTotal(), 3);
    directory.noteMessage("r-1", "8", true, {"넷째", "", "2026-12-10T10:01:00+09:00"});
    directory.noteMessage("r-1", "8", true); // the same frame twice counts once
    EXPECT_EQ(describe(directory.rooms()), "r-1:4 r-2:0");
    EXPECT_EQ(directory.room("r-1")->last.text, "넷째");
    EXPECT_EQ(directory.unreadTotal(), 4);
}

// The header and status line name a room as people know it, never by its id.
TEST(DirectoryLive, RoomsAreNamedNeverByTheirIds) {
    Directory directory(ServerConfig{}, me());
    FriendRecord aliased{"01033334444", "준호", "호야", "", ""};
    FriendRecord nicked{"01055556666", "서연", "", "", ""};
    directory.setLists({aliased, nicked},
                       {roomOf("r-team", 0, "개발팀"), roomOf("r-peer", 0, "", "01055556666"),
                        roomOf("memo:4e03", 0, "장보기")});
    const struct {
        const char* room;
        const char* title;
        const char* name;
    } cases[] = {
        {"r-team", "열린 이름", "열린 이름"},              // the title it was opened with
        {"r-team", "r-team", "개발팀"},                    // a title that is the id is none
        {"r-team", "", "개발팀"},                          // the lists' name
        {"memo:4e03", "", "장보기"},                       // a memo room's own title
        {"memo:ffff", "", "나의 메모"},                    // one the lists do not know yet
        {"dm:01011112222:01033334444", "", "호야"},        // a friend's alias
        {"dm:01055556666:01011112222", "", "서연"},        // or nickname, either order
        {"dm:01011112222:01099990000", "", "01099990000"}, // a stranger's phone
        {"r-peer", "", "서연"},                            // a direct room listed by its peer
        {"group:77", "group:77", "대화방"},
        {"dm:broken", "", "대화방"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(directory.roomName(QString::fromUtf8(c.room), QString::fromUtf8(c.title)),
                  QString::fromUtf8(c.name))
            << c.room << " / " << c.title;
}

// An edit of a room's last message shows in its row; an edit of an older one changes nothing.
TEST(DirectoryLive, AnEditedLastMessageShowsItsNewText) {
    Directory directory(ServerConfig{}, me());
    directory.setLists({}, {roomOf("r-1", 0), roomOf("r-2", 0)});
    directory.noteMessage("r-1", "4", false, {"처음 말", "", "2026-12-10T10:00:00+09:00"});
    directory.noteMessage("r-1", "5", false, {"틀린 말", "", "2026-12-10T10:01:00+09:00"});
    directory.noteMessage("r-2", "9", false, {"", "사진.png", "2026-12-10T10:02:00+09:00"});
    QSignalSpy updates(&directory, &Directory::roomUpdated);
    const struct {
        const char* room;
        const char* msgId;
        const char* text;
        bool shown;
    } cases[] = {
        {"r-1", "4", "처음 말 고침", false},                                     // not the last one
        {"r-1", "5", "고친 말", true},           {"r-1", "5", "고친 말", false}, // nothing new
        {"r-2", "9", "파일은 글이 아님", false}, {"r-9", "5", "모르는 방", false},
        {"r-1", "", "번호 없음", false},
    };
    for (const auto& c : cases) {
        const int before = updates.count();
        directory.noteEdit(QString::fromUtf8(c.room), QString::fromUtf8(c.msgId),
                           QString::fromUtf8(c.text));
        EXPECT_EQ(updates.count() - before, c.shown ? 1 : 0) << c.room << "/" << c.msgId;
    }
    EXPECT_EQ(directory.room("r-1")->last.text, "고친 말");
    EXPECT_EQ(directory.room("r-1")->last.time, "2026-12-10T10:01:00+09:00");
    EXPECT_EQ(directory.room("r-2")->last.fileName, "사진.png");
    EXPECT_TRUE(directory.room("r-2")->last.text.isEmpty());
}
