// A refresh that cannot read a list keeps that list as it was and says why; the other list
// still updates.

#include "directory_service.h"
#include "event_loop.h"
#include "fake_http_server.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QByteArray kFriends = R"([{"PhoneNumber":"01033334444","Nickname":"준호"}])";
const QByteArray kRooms = R"([{"room_name":"r-1","title":"팀"},{"room_name":"r-2"}])";
const QByteArray kNewFriends = R"([{"PhoneNumber":"01055556666"},{"PhoneNumber":"0107"}])";
const QByteArray kNewRooms = R"([{"room_name":"r-3","title":"새 방"}])";

Directory::Self me() {
    return {QStringLiteral("01011112222"), QStringLiteral("민지"), QString()};
}

QStringList phones(const Directory& directory) {
    QStringList out;
    for (const FriendRecord& f : directory.friends())
        out << f.phone;
    return out;
}

QStringList roomIds(const Directory& directory) {
    QStringList out;
    for (const RoomRecord& r : directory.rooms())
        out << r.room;
    return out;
}

class DirectoryRefresh : public ::testing::Test {
protected:
    void SetUp() override { startWithFirstLists(); }

    // A fresh directory that has read the first lists.
    void startWithFirstLists() {
        http.setReply("GET", "/v1/friends", {200, kFriends, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, kRooms, std::nullopt});
        directory = std::make_unique<Directory>(http.config(), me());
        QSignalSpy listed(directory.get(), &Directory::listsChanged);
        directory->refresh();
        ASSERT_TRUE(waitUntil([&] { return listed.count() == 1; }));
        ASSERT_EQ(phones(*directory), QStringList({"01033334444"}));
        ASSERT_EQ(roomIds(*directory), QStringList({"r-1", "r-2"}));
    }

    // Runs one refresh to its end; the failure text, or a null text when none was reported.
    QString refreshOnce(int* listsChanged) {
        QSignalSpy listed(directory.get(), &Directory::listsChanged);
        QSignalSpy failed(directory.get(), &Directory::refreshFailed);
        directory->refresh();
        EXPECT_TRUE(waitUntil([&] { return !directory->refreshing(); }));
        *listsChanged = listed.count();
        EXPECT_LE(failed.count(), 1);
        return failed.isEmpty() ? QString() : failed.first().first().toString();
    }

    FakeHttpServer http;
    std::unique_ptr<Directory> directory;
};

TEST_F(DirectoryRefresh, AListThatCannotBeReadKeepsItsRows) {
    const QStringList oldFriends = {"01033334444"};
    const QStringList oldRooms = {"r-1", "r-2"};
    const QStringList newFriends = {"01055556666", "0107"};
    const QStringList newRooms = {"r-3"};
    struct Case {
        const char* name;
        HttpReply friends, rooms;
        QStringList friendsAfter, roomsAfter;
        int listsChanged;
        QString error; // null: no failure; "*": some transport text
    };
    const Case cases[] = {
        {"both read", {200, kNewFriends, {}}, {200, kNewRooms, {}}, newFriends, newRooms, 1, {}},
        {"friends refused",
         {500, "boom", {}},
         {200, kNewRooms, {}},
         oldFriends,
         newRooms,
         1,
         "HTTP 500 boom"},
        {"rooms refused",
         {200, kNewFriends, {}},
         {404, "찾을 수 없습니다", {}},
         newFriends,
         oldRooms,
         1,
         "HTTP 404 찾을 수 없습니다"},
        {"both refused, both reasons",
         {500, "a", {}},
         {502, "b", {}},
         oldFriends,
         oldRooms,
         0,
         "HTTP 500 a / HTTP 502 b"},
        {"both refused alike, said once",
         {503, "", {}},
         {503, "", {}},
         oldFriends,
         oldRooms,
         0,
         "HTTP 503 "},
        {"a redirect is no list",
         {301, "", {}},
         {200, kNewRooms, {}},
         oldFriends,
         newRooms,
         1,
         "HTTP 301 "},
        {"friends not UTF-8",
         {200, "[{\"PhoneNumber\":\"\xff\"}]", {}},
         {200, kNewRooms, {}},
         oldFriends,
         newRooms,
         1,
         "응답이 UTF-8 텍스트가 아닙니다"},
        {"rooms cut off mid-body",
         {200, kNewFriends, {}},
         {200, kNewRooms, qsizetype(10)},
         newFriends,
         oldRooms,
         1,
         "*"},
        {"an empty answer is an empty list", {200, "", {}}, {200, "[]", {}}, {}, {}, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startWithFirstLists();
        http.setReply("GET", "/v1/friends", c.friends);
        http.setReply("GET", "/v1/rooms", c.rooms);
        int listsChanged = -1;
        const QString error = refreshOnce(&listsChanged);
        EXPECT_EQ(phones(*directory), c.friendsAfter);
        EXPECT_EQ(roomIds(*directory), c.roomsAfter);
        EXPECT_EQ(listsChanged, c.listsChanged);
        if (c.error == QLatin1String("*")) {
            EXPECT_FALSE(error.isEmpty());
            EXPECT_FALSE(error.startsWith(QLatin1String("HTTP"))) << error.toStdString();
        } else {
            EXPECT_EQ(error, c.error) << error.toStdString();
        }
    }
}

TEST_F(DirectoryRefresh, NoServerKeepsBothListsAndSaysWhyOnce) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    ServerConfig config;
    config.host = "127.0.0.1";
    config.httpPort = probe.serverPort();
    probe.close();
    Directory offline(config, me());
    offline.setLists(directory->friends(), directory->rooms());
    QSignalSpy listed(&offline, &Directory::listsChanged);
    QSignalSpy failed(&offline, &Directory::refreshFailed);
    offline.refresh();
    ASSERT_TRUE(waitUntil([&] { return !offline.refreshing(); }));
    EXPECT_EQ(listed.count(), 0);
    ASSERT_EQ(failed.count(), 1);
    const QString error = failed.first().first().toString();
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(error.contains(QLatin1String(" / "))) << error.toStdString();
    EXPECT_EQ(phones(offline), QStringList({"01033334444"}));
    EXPECT_EQ(roomIds(offline), QStringList({"r-1", "r-2"}));
}

TEST_F(DirectoryRefresh, ANewMemoRoomOpensWithTheFirstRoomsListThatCouldBeRead) {
    http.setReply("POST", "/v1/rooms", {200, R"({"room_name":"memo:1"})", std::nullopt});
    http.setReply("GET", "/v1/rooms", {500, "", std::nullopt});
    QSignalSpy created(directory.get(), &Directory::memoRoomCreated);
    QSignalSpy failed(directory.get(), &Directory::refreshFailed);
    directory->createMemoRoom(QStringLiteral("나의 메모"));
    ASSERT_TRUE(waitUntil([&] { return failed.count() == 1; }));
    spin(50);
    EXPECT_EQ(created.count(), 0);

    http.setReply("GET", "/v1/rooms", {200, R"([{"room_name":"memo:1"}])", std::nullopt});
    directory->refresh();
    ASSERT_TRUE(waitUntil([&] { return created.count() == 1; }));
    EXPECT_EQ(created.first().first().toString(), "memo:1");
    EXPECT_EQ(roomIds(*directory), QStringList({"memo:1"}));
}

} // namespace
