// The directory's requests run off the main thread: results arrive in the order asked, a
// running refresh is not started twice, and a server that never answers freezes nothing.

#include "directory_service.h"
#include "event_loop.h"
#include "fake_http_server.h"
#include "silent_port.h"

#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

Directory::Self me() {
    return {QStringLiteral("01011112222"), QStringLiteral("민지"), QString()};
}

} // namespace

TEST(DirectoryRequests, ResultsArriveInTheOrderAsked) {
    FakeHttpServer http;
    http.setReply("POST", "/v1/friends/add", {200, "{}", std::nullopt});
    http.setReply("POST", "/v1/rooms", {200, R"({"room_name":"memo-9"})", std::nullopt});
    http.setReply("POST", "/v1/rooms/leave", {500, "gone", std::nullopt});
    http.setReply("GET", "/v1/friends", {200, R"([{"phone":"010A"}])", std::nullopt});
    http.setReply("GET", "/v1/rooms", {200, R"([{"room_name":"memo-9"}])", std::nullopt});
    Directory directory(http.config(), me());
    QStringList order;
    QObject::connect(&directory, &Directory::friendAdded,
                     [&](const QString& phone) { order << "added " + phone; });
    QObject::connect(&directory, &Directory::memoRoomCreated,
                     [&](const QString& room) { order << "created " + room; });
    QObject::connect(&directory, &Directory::failed,
                     [&](Directory::Action action, const QString& error) {
                         order << QStringLiteral("failed %1 %2").arg(int(action)).arg(error);
                     });
    QObject::connect(&directory, &Directory::listsChanged, [&] { order << "lists"; });

    directory.addFriend("010A", "");
    directory.createMemoRoom("나의 메모");
    directory.leave("r-1");
    ASSERT_TRUE(waitUntil([&] { return order.size() >= 4; }));
    spin(200);
    // One refresh follows the first success and runs behind the requests already waiting; the
    // memo room is announced with the lists that know it.
    EXPECT_EQ(
        order,
        (QStringList{"added 010A",
                     QStringLiteral("failed %1 HTTP 500 gone").arg(int(Directory::Action::Leave)),
                     "lists", "created memo-9"}));
    EXPECT_EQ(directory.friends().size(), 1);
    EXPECT_EQ(directory.rooms().size(), 1);
}

TEST(DirectoryRequests, ARunningRefreshIsNotStartedTwice) {
    FakeHttpServer http;
    http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
    http.setReply("GET", "/v1/rooms", {200, "[]", std::nullopt});
    Directory directory(http.config(), me());
    QSignalSpy lists(&directory, &Directory::listsChanged);
    directory.refresh();
    directory.refresh();
    EXPECT_TRUE(directory.refreshing());
    ASSERT_TRUE(waitUntil([&] { return lists.count() == 1; }));
    spin(200);
    EXPECT_EQ(lists.count(), 1);
    int friendRequests = 0;
    for (const RecordedRequest& r : http.requests())
        friendRequests += r.path == "/v1/friends";
    EXPECT_EQ(friendRequests, 1);
    // Once it ended, the next one runs.
    directory.refresh();
    ASSERT_TRUE(waitUntil([&] { return lists.count() == 2; }));
}

TEST(DirectoryRequests, ASilentServerBlocksNothingAndGoingAwayStopsTheRequest) {
    SilentPort silent;
    ServerConfig config;
    config.httpPort = silent.port();
    auto directory = std::make_unique<Directory>(config, me());
    directory->refresh();
    // The main thread keeps running timers while the request hangs.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    ASSERT_TRUE(waitUntil([&] { return ticks >= 5; }));
    EXPECT_TRUE(directory->refreshing());
    // Destroying it cancels the request instead of waiting out its time limit.
    directory.reset();
    SUCCEED();
}
