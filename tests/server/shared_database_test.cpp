// Two server processes on one PostgreSQL database: whatever one stores, the other serves,
// and message ids stay gap-free whichever process takes a message.

#include "backends.h"
#include "postgres_cluster.h"
#include "server_harness.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

const std::string kDm = "dm:111:222";

class SharedDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string skip;
        const std::string args = backendArgs(Backend::Postgres, skip);
        if (!skip.empty())
            GTEST_SKIP() << skip;
        uri = args.substr(args.find("postgresql://"));
        for (auto& dir : dirs) {
            dir = makeTempDir();
            // Both send far faster than a person: the point is the database, not the rates.
            servers.push_back(
                std::make_unique<ServerProcess>(dir, args + " --max-messages-per-second 1000000"));
        }
    }
    void TearDown() override {
        servers.clear();
        for (const auto& dir : dirs)
            if (!dir.empty())
                std::system(("rm -rf " + dir).c_str());
    }
    std::uint16_t httpPort(std::size_t i) const { return servers[i % 2]->httpPort; }
    HttpAnswer post(std::size_t i, const std::string& path, const json& body) {
        return http(httpPort(i), "POST", path, body.dump());
    }
    std::unique_ptr<ChatConnection> signedIn(std::size_t i, const std::string& phone) {
        auto c = std::make_unique<ChatConnection>(servers[i]->chatPort);
        EXPECT_TRUE(c->signIn(phone, "n" + phone)) << phone;
        return c;
    }
    // Closes every connection the servers hold to the database, as a restarted or failed-over
    // database would.
    void cutDatabaseConnections() {
        PGconn* conn = PQconnectdb(uri.c_str());
        ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
        PGresult* r =
            PQexec(conn, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                         "WHERE datname = current_database() AND pid <> pg_backend_pid()");
        EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << PQerrorMessage(conn);
        PQclear(r);
        PQfinish(conn);
    }

    std::string uri;
    std::string dirs[2];
    std::vector<std::unique_ptr<ServerProcess>> servers;
};

TEST_F(SharedDatabaseTest, MessageIdsStayGapFreeWhenBothProcessesSendIntoOneRoom) {
    auto alice = signedIn(0, "111");
    auto bob = signedIn(1, "222");
    constexpr int kEach = 60;
    for (int i = 0; i < kEach; ++i) {
        alice->send(wire::ChatRequest{kDm, "a" + std::to_string(i), ""});
        bob->send(wire::ChatRequest{kDm, "b" + std::to_string(i), ""});
    }
    // Each process delivers what it took to its own connections, the sender included.
    std::set<long long> ids;
    for (ChatConnection* c : {alice.get(), bob.get()}) {
        long long last = 0;
        for (int i = 0; i < kEach; ++i) {
            const auto m = c->nextMessage<wire::ChatMessage>();
            ASSERT_TRUE(m);
            const long long id = std::stoll(m->msgId);
            EXPECT_GT(id, last) << "ids must increase as a process delivers them";
            last = id;
            ids.insert(id);
        }
    }
    ASSERT_EQ(ids.size(), std::size_t(2 * kEach)) << "no id taken twice";
    EXPECT_EQ(*ids.begin(), 1);
    EXPECT_EQ(*ids.rbegin(), 2 * kEach) << "no gap";
}

// Each process's batches take many rooms at once; named in opposite orders they used to wait for
// each other in a circle, and PostgreSQL broke it by failing a message a second later.
TEST_F(SharedDatabaseTest, ProcessesSendingIntoManyRoomsInOppositeOrdersNeverDeadlock) {
    constexpr int kRooms = 20, kRounds = 6;
    auto alice = signedIn(0, "111");
    auto bob = signedIn(1, "222");
    std::vector<std::string> rooms;
    for (int r = 0; r < kRooms; ++r) {
        const HttpAnswer made =
            post(r, "/v1/rooms",
                 {{"phone", "111"}, {"title", "방"}, {"type", "group"}, {"members", {"222"}}});
        ASSERT_EQ(made.status, 200) << made.body;
        rooms.push_back(json::parse(made.body).value("room_name", ""));
    }
    for (int round = 0; round < kRounds; ++round)
        for (int r = 0; r < kRooms; ++r) {
            alice->send(wire::ChatRequest{rooms[r], "a", ""});
            bob->send(wire::ChatRequest{rooms[kRooms - 1 - r], "b", ""});
        }
    // Both see every message of every room, in order and without a gap: each process delivers
    // what it took to its own connections, so each sees only its own here.
    for (ChatConnection* c : {alice.get(), bob.get()}) {
        std::map<std::string, long long> last;
        for (int n = 0; n < kRounds * kRooms; ++n) {
            const auto frame = c->next();
            ASSERT_TRUE(frame) << "message " << n;
            ASSERT_EQ(frame->type, MessageType::Chat)
                << (frame->type == MessageType::ServerError ? frame->fields.back() : "");
            const auto m = wire::ChatMessage::decode(frame->fields);
            ASSERT_TRUE(m);
            EXPECT_GT(std::stoll(m->msgId), last[m->room]);
            last[m->room] = std::stoll(m->msgId);
        }
    }
    servers.clear();
    // A process's statistics reach the database's view when it disconnects.
    PGconn* conn = PQconnectdb(uri.c_str());
    ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
    auto number = [conn](const char* sql) {
        PGresult* r = PQexec(conn, sql);
        const long long value =
            PQresultStatus(r) == PGRES_TUPLES_OK ? std::atoll(PQgetvalue(r, 0, 0)) : -1;
        PQclear(r);
        return value;
    };
    for (int i = 0; i < 100 && number("SELECT COUNT(*) FROM pg_stat_activity WHERE datname = "
                                      "current_database() AND pid <> pg_backend_pid()") != 0;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(number("SELECT MAX(last_msg_id) FROM rooms"), 2 * kRounds);
    EXPECT_EQ(number("SELECT COUNT(*) FROM messages"), 2 * kRounds * kRooms);
    EXPECT_EQ(number("SELECT deadlocks FROM pg_stat_database WHERE datname = current_database()"),
              0);
    PQfinish(conn);
}

TEST_F(SharedDatabaseTest, EitherProcessServesWhatTheOtherStored) {
    signedIn(0, "111");
    signedIn(1, "222");
    ASSERT_EQ(
        post(0, "/v1/friends/add", {{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", "밥"}})
            .status,
        200);
    const json friends = json::parse(http(httpPort(1), "GET", "/v1/friends?phone=111").body);
    ASSERT_EQ(friends.size(), 1u);
    EXPECT_EQ(friends[0]["PhoneNumber"], "222");

    const HttpAnswer made =
        post(1, "/v1/rooms",
             {{"phone", "111"}, {"title", "모임"}, {"type", "group"}, {"members", {"222"}}});
    ASSERT_EQ(made.status, 200) << made.body;
    const std::string group = json::parse(made.body).value("room_name", "");
    auto alice = signedIn(0, "111");
    alice->send(wire::ChatRequest{group, "안녕", ""});
    ASSERT_TRUE(alice->nextMessage<wire::ChatMessage>());
    // The unread count another process reports counts what this one stored.
    bool listed = false;
    for (const json& room : json::parse(http(httpPort(1), "GET", "/v1/rooms?phone=222").body))
        if (room["room_name"] == group) {
            listed = true;
            EXPECT_EQ(room["unread_count"], 1);
        }
    EXPECT_TRUE(listed);
    // Read on one process, counted as read on the other.
    auto bob = signedIn(1, "222");
    bob->send(wire::ReadWatermark{group, "1"});
    bob->send(MessageType::Ping, {});
    EXPECT_TRUE(bob->quiet());
    for (const json& room : json::parse(http(httpPort(0), "GET", "/v1/rooms?phone=222").body)) {
        if (room["room_name"] == group) {
            EXPECT_EQ(room["unread_count"], 0);
        }
    }
}

TEST_F(SharedDatabaseTest, UploadWhoseChunksAlternateBetweenProcesses) {
    constexpr std::size_t kChunk = 1048576;
    std::string content(3 * kChunk + 12345, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 131 % 251);
    const HttpAnswer created = post(0, "/v1/files", {{"name", "a.bin"}, {"size", content.size()}});
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string file = "/v1/files/" + json::parse(created.body).value("id", "");
    std::size_t n = 0;
    for (std::size_t i = 0; i < content.size(); i += kChunk, ++n) {
        const HttpAnswer put = http(httpPort(n + 1), "PUT", file + "/chunks/" + std::to_string(n),
                                    content.substr(i, kChunk));
        ASSERT_EQ(put.status, 200) << "chunk " << n << ": " << put.body;
    }
    // The same index again, on the other process, is refused as out of order.
    EXPECT_EQ(http(httpPort(n), "PUT", file + "/chunks/" + std::to_string(n - 1), "x").status, 409);
    EXPECT_EQ(http(httpPort(n), "GET", file).status, 404) << "not served before completion";
    ASSERT_EQ(http(httpPort(n), "POST", file + "/complete", "{}").status, 200);
    for (std::size_t i = 0; i < 2; ++i) {
        const HttpAnswer got = http(httpPort(i), "GET", file);
        EXPECT_EQ(got.status, 200);
        EXPECT_TRUE(got.body == content)
            << "process " << i << " served " << got.body.size() << " bytes";
    }
    // An empty file has no chunk at all.
    const HttpAnswer empty = post(1, "/v1/files", {{"name", "e"}, {"size", 0}});
    const std::string e = "/v1/files/" + json::parse(empty.body).value("id", "");
    ASSERT_EQ(http(httpPort(0), "POST", e + "/complete", "{}").status, 200);
    const HttpAnswer got = http(httpPort(1), "GET", e);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "");
}

TEST_F(SharedDatabaseTest, ChangedContentIsNotServed) {
    const std::string content(2000, 'q');
    const HttpAnswer created = post(0, "/v1/files", {{"name", "a"}, {"size", content.size()}});
    const std::string id = json::parse(created.body).value("id", "");
    ASSERT_EQ(http(httpPort(0), "PUT", "/v1/files/" + id + "/chunks/0", content).status, 200);
    ASSERT_EQ(http(httpPort(1), "POST", "/v1/files/" + id + "/complete", "{}").status, 200);
    PGconn* conn = PQconnectdb(uri.c_str());
    PQclear(PQexec(conn, "UPDATE file_chunks SET bytes = overlay(bytes placing 'Q' from 5)"));
    PQfinish(conn);
    const HttpAnswer got = http(httpPort(0), "GET", "/v1/files/" + id);
    EXPECT_FALSE(got.status == 200 && got.body.size() == content.size())
        << "a file that differs from its checksum must not arrive whole";
}

TEST_F(SharedDatabaseTest, LostDatabaseConnectionFailsOneRequestAndIsReopened) {
    signedIn(0, "111");
    signedIn(1, "222");
    cutDatabaseConnections();
    // The first request after the cut may fail with a server error, never hang or crash.
    const HttpAnswer first = http(httpPort(0), "GET", "/v1/friends?phone=111");
    EXPECT_TRUE(first.status == 200 || first.status == 500) << first.status;
    EXPECT_EQ(http(httpPort(0), "GET", "/v1/friends?phone=111").status, 200);
    EXPECT_TRUE(servers[0]->alive());
    auto alice = signedIn(0, "111");
    alice->send(wire::ChatRequest{"dm:111:222", "after", ""});
    EXPECT_TRUE(alice->nextMessage<wire::ChatMessage>());
}

} // namespace
