// The real server process, driven over its two ports, on each storage back end.

#include "backends.h"
#include "server_harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <set>
#include <thread>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

class ServerTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        dir = makeTempDir();
        std::string why;
        storageArgs = backendArgs(GetParam(), why);
        if (!why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<ServerProcess>(dir, args());
    }
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    virtual std::string extraArgs() const { return "--max-upload-bytes 3000000"; }
    std::string args() const { return extraArgs() + storageArgs; }
    void restart() {
        server->stop();
        server = std::make_unique<ServerProcess>(dir, args());
    }
    std::unique_ptr<ChatConnection> signedIn(const std::string& phone, const std::string& nick) {
        auto c = std::make_unique<ChatConnection>(server->chatPort);
        EXPECT_TRUE(c->signIn(phone, nick)) << phone;
        return c;
    }
    HttpAnswer post(const std::string& path, const json& body) {
        return http(server->httpPort, "POST", path, body.dump());
    }
    json rooms(const std::string& phone) {
        const HttpAnswer a = http(server->httpPort, "GET", "/v1/rooms?phone=" + phone);
        EXPECT_EQ(a.status, 200);
        return json::parse(a.body, nullptr, false);
    }
    std::int64_t unread(const std::string& phone, const std::string& room) {
        for (const json& r : rooms(phone))
            if (r["room_name"] == room)
                return r["unread_count"].get<std::int64_t>();
        return -1;
    }
    std::string memoRoom(const std::string& phone) {
        const HttpAnswer a =
            post("/v1/rooms", {{"phone", phone}, {"title", "메모"}, {"type", "memo"}});
        EXPECT_EQ(a.status, 200) << a.body;
        return json::parse(a.body, nullptr, false).value("room_name", "");
    }
    std::string uploaded(const std::string& content) {
        const HttpAnswer created = post("/v1/files", {{"name", "a.bin"}, {"size", content.size()}});
        const std::string id = json::parse(created.body, nullptr, false).value("id", "");
        for (std::size_t i = 0, n = 0; i < content.size(); i += 1048576, ++n)
            EXPECT_EQ(http(server->httpPort, "PUT",
                           "/v1/files/" + id + "/chunks/" + std::to_string(n),
                           content.substr(i, 1048576))
                          .status,
                      200);
        EXPECT_EQ(http(server->httpPort, "POST", "/v1/files/" + id + "/complete", "{}").status,
                  200);
        return id;
    }

    std::string dir;
    std::string storageArgs;
    std::unique_ptr<ServerProcess> server;
};

const std::string kDm = "dm:111:222";

TEST_P(ServerTest, DeliversToEveryConnectionOfEveryMemberWithTheCatalogueLayout) {
    auto alice1 = signedIn("111", "앨리스");
    auto alice2 = signedIn("111", "앨리스");
    auto bob = signedIn("222", "");
    alice1->send(wire::ChatRequest{kDm, "안녕", ""});
    std::string firstId;
    for (ChatConnection* c : {alice1.get(), alice2.get(), bob.get()}) {
        auto f = c->nextOf(MessageType::Chat);
        ASSERT_TRUE(f);
        ASSERT_EQ(f->fields.size(), 7u);
        const auto m = wire::ChatMessage::decode(f->fields);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->room, kDm);
        EXPECT_EQ(m->sender, "앨리스");
        EXPECT_EQ(m->text, "안녕");
        EXPECT_TRUE(
            std::regex_match(m->time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
            << m->time;
        EXPECT_FALSE(m->msgId.empty());
        EXPECT_EQ(m->senderPhone, "111");
        EXPECT_EQ(m->replyTo, "");
        firstId = m->msgId;
    }
    // A reply from the user without a nickname carries the phone as sender and the replied-to id.
    bob->send(wire::ChatRequest{kDm, "답장", firstId});
    for (ChatConnection* c : {alice1.get(), alice2.get(), bob.get()}) {
        auto m = c->nextMessage<wire::ChatMessage>();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->sender, "222");
        EXPECT_EQ(std::stoll(m->msgId), std::stoll(firstId) + 1);
        EXPECT_EQ(m->replyTo, firstId);
    }
    // Edit and delete reach everyone too.
    bob->send(wire::Edit{kDm, std::to_string(std::stoll(firstId) + 1), "고침"});
    bob->send(wire::Delete{kDm, firstId}); // not bob's: refused
    auto edit = alice2->nextMessage<wire::Edit>();
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->text, "고침");
    auto refusal = bob->nextOf(MessageType::ServerError);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->fields.size(), 2u);
    alice1->send(wire::Delete{kDm, firstId});
    auto del = bob->nextMessage<wire::Delete>();
    ASSERT_TRUE(del);
    EXPECT_EQ(del->msgId, firstId);
}

TEST_P(ServerTest, FramesBeforeSignInAreRefusedAndEmptyPhoneCloses) {
    ChatConnection c(server->chatPort);
    c.send(MessageType::Ping, {});
    c.send(wire::ChatRequest{kDm, "x", ""});
    auto f = c.nextMessage<wire::ServerError>();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->refusedType, std::to_string(MessageType::Chat));
    EXPECT_EQ(f->text, "로그인이 필요합니다");

    ChatConnection empty(server->chatPort);
    empty.send(wire::Auth{"", "nick", "", ""});
    auto e = empty.next();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->type, MessageType::ServerError);
    EXPECT_TRUE(empty.closedByServer());
}

TEST_P(ServerTest, NonMembersAreRefusedEverywhere) {
    auto alice = signedIn("111", "a");
    auto bob = signedIn("222", "b");
    auto eve = signedIn("333", "e");
    const std::string memo = memoRoom("111");
    ASSERT_FALSE(memo.empty());
    alice->send(wire::ChatRequest{kDm, "hi", ""});
    ASSERT_TRUE(bob->nextOf(MessageType::Chat));
    const std::string id = alice->nextMessage<wire::ChatMessage>()->msgId;

    const std::vector<std::string> refused = {
        wire::encodeFrame(wire::JoinRoom{kDm}),
        wire::encodeFrame(wire::ChatRequest{kDm, "끼어들기", ""}),
        wire::encodeFrame(wire::JoinRoom{memo}),
        wire::encodeFrame(wire::ChatRequest{memo, "x", ""}),
        wire::encodeFrame(wire::Delete{kDm, id}),
        wire::encodeFrame(wire::Edit{kDm, id, "x"}),
        wire::encodeFrame(wire::ReadWatermark{kDm, id}),
        wire::encodeFrame(wire::HistoryRequest{kDm, "", ""}),
        wire::encodeFrame(wire::HistoryRequest{memo, "", ""}),
        wire::encodeFrame(wire::JoinRoom{"dm:222:111"}), // not the canonical spelling
        wire::encodeFrame(wire::ChatRequest{"no-such-room", "x", ""}),
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        eve->sendRaw(refused[i]);
        auto f = eve->next();
        ASSERT_TRUE(f) << i;
        EXPECT_EQ(f->type, MessageType::ServerError) << i;
    }
    // Bob is a member of the direct room but not the sender, and not in Alice's memo room.
    bob->send(wire::Edit{kDm, id, "x"});
    EXPECT_EQ(bob->next()->type, MessageType::ServerError);
    bob->send(wire::ChatRequest{memo, "x", ""});
    EXPECT_EQ(bob->next()->type, MessageType::ServerError);
    EXPECT_TRUE(alice->quiet());
    // The refusals never reached the room.
    EXPECT_EQ(unread("222", kDm), 1);
    EXPECT_EQ(rooms("333").size(), 0u);
    // Leaving a room the user is not in is refused.
    EXPECT_EQ(post("/v1/rooms/leave", {{"phone", "333"}, {"room", memo}}).status, 403);
}

TEST_P(ServerTest, ReadMarksUnreadCountsAndLeaveNotice) {
    auto alice = signedIn("111", "앨리스");
    auto bob = signedIn("222", "밥");
    for (int i = 0; i < 3; ++i)
        alice->send(wire::ChatRequest{kDm, "m" + std::to_string(i), ""});
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(bob->nextMessage<wire::ChatMessage>()->msgId);
    EXPECT_EQ(unread("222", kDm), 3);
    EXPECT_EQ(unread("111", kDm), 0); // own messages are never unread
    bob->send(wire::ReadWatermark{kDm, ids[1]});
    bob->send(wire::ReadWatermark{kDm, ids[0]}); // marks never move back
    bob->send(MessageType::Ping, {});
    EXPECT_TRUE(bob->quiet());
    EXPECT_EQ(unread("222", kDm), 1);
    bob->send(wire::ReadWatermark{kDm, "999999"}); // past the end: everything read
    EXPECT_TRUE(bob->quiet());
    EXPECT_EQ(unread("222", kDm), 0);
    alice->send(wire::ChatRequest{kDm, "new", ""});
    ASSERT_TRUE(bob->nextOf(MessageType::Chat));
    EXPECT_EQ(unread("222", kDm), 1);

    // Directory answers carry the peer for direct rooms and the alias the user chose.
    ASSERT_EQ(
        post("/v1/friends/add", {{"my_phone", "222"}, {"friend_phone", "111"}, {"alias", "친구"}})
            .status,
        200);
    const json list = rooms("222");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["peer_phone"], "111");
    EXPECT_EQ(list[0]["peer_alias"], "친구");
    EXPECT_EQ(list[0]["peer_nick"], "앨리스");

    ASSERT_EQ(post("/v1/rooms/leave", {{"phone", "222"}, {"room", kDm}}).status, 200);
    auto notice = alice->nextMessage<wire::Notice>();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->room, kDm);
    EXPECT_EQ(notice->text, "밥님이 나갔습니다.");
    EXPECT_EQ(rooms("222").size(), 0u);
}

TEST_P(ServerTest, HistoryPageGoesToTheAskingConnectionOnlyAndSurvivesRestart) {
    auto alice1 = signedIn("111", "앨리스");
    auto alice2 = signedIn("111", "앨리스");
    auto bob = signedIn("222", "밥");
    auto eve = signedIn("333", "이브");
    for (int i = 1; i <= 5; ++i)
        alice1->send(wire::ChatRequest{kDm, "m" + std::to_string(i), i == 5 ? "4" : ""});
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(bob->nextOf(MessageType::Chat));
    alice1->send(wire::Edit{kDm, "2", "고침"});
    alice1->send(wire::Delete{kDm, "3"});
    bob->send(wire::ReadWatermark{kDm, "4"});

    auto expectPage = [&](ChatConnection& c, const std::string& readMark) {
        c.send(wire::HistoryRequest{kDm, "", "3"});
        const auto older = c.nextMessage<wire::HistoryPage>();
        ASSERT_TRUE(older);
        EXPECT_TRUE(older->hasOlder);
        EXPECT_EQ(older->readMark, readMark);
        ASSERT_EQ(older->entries.size(), 3u);
        EXPECT_EQ(older->entries[0].msgId, "3");
        EXPECT_TRUE(older->entries[0].deleted);
        EXPECT_EQ(older->entries[0].text, "");
        EXPECT_EQ(older->entries[2].replyTo, "4");
        c.send(wire::HistoryRequest{kDm, "3", ""});
        const auto first = c.nextMessage<wire::HistoryPage>();
        ASSERT_TRUE(first);
        EXPECT_FALSE(first->hasOlder);
        EXPECT_EQ(first->before, "3");
        ASSERT_EQ(first->entries.size(), 2u);
        EXPECT_EQ(first->entries[1].text, "고침");
        EXPECT_TRUE(first->entries[1].edited);
        EXPECT_EQ(first->entries[1].senderPhone, "111");
    };
    expectPage(*bob, "4");
    // Neither Bob's other room members nor his own other connections see his page.
    EXPECT_FALSE(alice1->nextOf(MessageType::HistoryPage, 300));
    EXPECT_FALSE(alice2->nextOf(MessageType::HistoryPage, 300));

    eve->send(wire::HistoryRequest{kDm, "", ""});
    const auto refusal = eve->nextMessage<wire::ServerError>();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->refusedType, "20");
    EXPECT_EQ(refusal->text, "방의 멤버가 아닙니다");
    bob->send(wire::HistoryRequest{kDm, "x", ""});
    const auto bad = bob->nextMessage<wire::ServerError>();
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->refusedType, "20");
    EXPECT_EQ(bad->text, "잘못된 요청입니다");

    alice1.reset();
    alice2.reset();
    bob.reset();
    eve.reset();
    restart();
    auto again = signedIn("222", "밥");
    expectPage(*again, "4");
}

TEST_P(ServerTest, FriendsDirectory) {
    signedIn("111", "앨리스");
    signedIn("222", "밥");
    struct Case {
        json body;
        long status;
    };
    const std::vector<Case> cases = {
        {{{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", "밥이"}}, 200},
        {{{"my_phone", "111"}, {"friend_phone", "999"}, {"alias", ""}}, 404}, // never signed in
        {{{"my_phone", "111"}, {"friend_phone", "111"}, {"alias", ""}}, 400}, // oneself
        {{{"my_phone", "111"}, {"friend_phone", "  "}, {"alias", ""}}, 400},
        {{{"my_phone", ""}, {"friend_phone", "222"}, {"alias", ""}}, 400},
        {{{"my_phone", "111"}, {"friend_phone", 222}, {"alias", ""}}, 400}, // not a string
    };
    for (const Case& c : cases) {
        const HttpAnswer a = post("/v1/friends/add", c.body);
        EXPECT_EQ(a.status, c.status) << c.body.dump();
        if (a.status >= 400) {
            EXPECT_FALSE(a.body.empty());
        }
    }
    const HttpAnswer list = http(server->httpPort, "GET", "/v1/friends?phone=111");
    const json friends = json::parse(list.body);
    ASSERT_EQ(friends.size(), 1u);
    EXPECT_EQ(friends[0], (json{{"PhoneNumber", "222"},
                                {"Nickname", "밥"},
                                {"Alias", "밥이"},
                                {"StatusMessage", "상태"},
                                {"ProfilePic", ""}}));
}

TEST_P(ServerTest, MemoRoomsAreFreshAndPrivate) {
    auto alice = signedIn("111", "a");
    const std::string a = memoRoom("111");
    const std::string b = memoRoom("111");
    EXPECT_NE(a, b);
    alice->send(wire::JoinRoom{a});
    alice->send(wire::ChatRequest{a, "메모", ""});
    auto f = alice->next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, MessageType::Chat);
    EXPECT_EQ(post("/v1/rooms", {{"phone", "999"}, {"title", "x"}}).status, 404);
    EXPECT_EQ(post("/v1/rooms", {{"phone", "111"}, {"type", "weird"}}).status, 400);
}

TEST_P(ServerTest, MessagesSurviveRestartAndSigkill) {
    {
        auto alice = signedIn("111", "a");
        auto bob = signedIn("222", "b");
        for (int i = 0; i < 5; ++i)
            alice->send(wire::ChatRequest{kDm, "before", ""});
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(bob->nextOf(MessageType::Chat));
    }
    restart();
    EXPECT_EQ(unread("222", kDm), 5);

    // Everything Bob saw before the kill is counted afterwards; ids keep growing.
    std::set<std::string> seen;
    {
        auto alice = signedIn("111", "a");
        auto bob = signedIn("222", "b");
        for (int i = 0; i < 200; ++i)
            alice->send(wire::ChatRequest{kDm, "burst", ""});
        for (int i = 0; i < 50; ++i) {
            auto m = bob->nextMessage<wire::ChatMessage>();
            ASSERT_TRUE(m);
            seen.insert(m->msgId);
        }
        server->kill();
    }
    server = std::make_unique<ServerProcess>(dir, args());
    EXPECT_GE(unread("222", kDm), 5 + static_cast<std::int64_t>(seen.size()));
    auto alice = signedIn("111", "a");
    alice->send(wire::ChatRequest{kDm, "after", ""});
    auto m = alice->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(m);
    EXPECT_GT(std::stoll(m->msgId), std::stoll(*seen.rbegin()));
}

TEST_P(ServerTest, FileStore) {
    std::string content(1048576 + 1000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 131 % 251);
    const std::string id = uploaded(content);
    ASSERT_EQ(id.size(), 32u);
    const HttpAnswer download = http(server->httpPort, "GET", "/v1/files/" + id);
    EXPECT_EQ(download.status, 200);
    EXPECT_TRUE(download.body == content);

    const std::string empty = uploaded("");
    EXPECT_EQ(http(server->httpPort, "GET", "/v1/files/" + empty).status, 200);

    const json created = json::parse(post("/v1/files", {{"name", "b"}, {"size", 10}}).body);
    const std::string f = "/v1/files/" + created["id"].get<std::string>();
    struct Step {
        std::string method, path, body;
        long status;
    };
    const std::vector<Step> steps = {
        {"GET", f, "", 404},                  // incomplete
        {"PUT", f + "/chunks/1", "abc", 409}, // out of order
        {"PUT", f + "/chunks/0", "abc", 200},
        {"PUT", f + "/chunks/0", "abc", 409},               // again
        {"PUT", f + "/chunks/1", std::string(8, 'x'), 413}, // past the declared size
        {"PUT", f + "/chunks/1", "defg", 200},
        {"PUT", f + "/chunks/-1", "x", 400},
        {"POST", f + "/complete", "{}", 200},
        {"GET", f, "", 200},
        {"PUT", f + "/chunks/2", "x", 409}, // completed
        {"GET", "/v1/files/0123456789abcdef0123456789abcdef", "", 404},
        {"GET", "/v1/files/..%2f..%2fbrindlewick.db", "", 400},
        {"GET", "/v1/files/../brindlewick.db", "", 400},
        {"GET", "/v1/files/" + std::string(31, 'a') + "A", "", 400},
        {"POST", "/v1/files", R"({"name":"big","size":3000001})", 413},
        {"POST", "/v1/files", R"({"name":"neg","size":-1})", 400},
        {"PUT", f + "/chunks/0", std::string(1048577 + 70000, 'x'), 413},
    };
    for (const Step& s : steps)
        EXPECT_EQ(http(server->httpPort, s.method, s.path, s.body).status, s.status)
            << s.method << " " << s.path;
    EXPECT_EQ(http(server->httpPort, "GET", f).body, "abcdefg");

    // A 2 MiB + 1 declaration needs three chunks; a whole MiB more than allowed is refused.
    const json big = json::parse(post("/v1/files", {{"name", "c"}, {"size", 2097153}}).body);
    const std::string g = "/v1/files/" + big["id"].get<std::string>();
    EXPECT_EQ(http(server->httpPort, "PUT", g + "/chunks/0", std::string(1048577, 'x')).status,
              413);

    // Profile pictures point at finished files only and show up in the friend list.
    signedIn("111", "a");
    signedIn("222", "b");
    EXPECT_EQ(post("/v1/profile", {{"phone", "222"}, {"profile_pic", id}}).status, 200);
    EXPECT_EQ(post("/v1/profile", {{"phone", "222"}, {"profile_pic", big["id"]}}).status, 404);
    post("/v1/friends/add", {{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", ""}});
    const json friends = json::parse(http(server->httpPort, "GET", "/v1/friends?phone=111").body);
    EXPECT_EQ(friends.at(0)["ProfilePic"], id);
}

TEST_P(ServerTest, FileMetaIsDeliveredOnlyForFinishedFiles) {
    auto alice = signedIn("111", "a");
    auto bob = signedIn("222", "b");
    const std::string id = uploaded("hello");
    alice->send(wire::FileRequest{kDm, "0123456789abcdef0123456789abcdef", "x", "5"});
    EXPECT_EQ(alice->next()->type, MessageType::ServerError);
    alice->send(wire::FileRequest{kDm, id, "hello.txt", "5"});
    auto f = bob->nextOf(MessageType::FileMeta);
    ASSERT_TRUE(f);
    // The catalogue's seven fields, then the sender's phone.
    ASSERT_EQ(f->fields.size(), 8u);
    const auto m = wire::FileMessage::decode(f->fields);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->room, kDm);
    EXPECT_EQ(m->sender, "a");
    EXPECT_EQ(m->fileId, id);
    EXPECT_EQ(m->name, "hello.txt");
    EXPECT_EQ(m->size, "5");
    EXPECT_FALSE(m->time.empty());
    EXPECT_FALSE(m->msgId.empty());
    EXPECT_EQ(m->senderPhone, "111");
}

TEST_P(ServerTest, MalformedInputClosesOnlyThatConnection) {
    auto bystander = signedIn("111", "a");
    const std::vector<std::string> garbage = {
        "GET / HTTP/1.1\r\n\r\n",
        std::string("\xC7\xA7\x01\x05\x01\x00\x00\x01", 8), // 16 MiB + 1 declared
        ChatProtocol::encodeType(MessageType::Ping, {}) + "\x01\x02\x03\x04\x05\x06\x07\x08",
        ChatProtocol::encodeType(MessageType::Ping, {}) + "x", // shorter than a header
    };
    for (const std::string& bytes : garbage) {
        ChatConnection c(server->chatPort);
        c.sendRaw(bytes);
        EXPECT_TRUE(c.closedByServer()) << bytes.size();
    }
    // Invalid UTF-8 is one empty field: a refused sign-in, not a crash.
    ChatConnection bad(server->chatPort);
    bad.sendRaw(std::string("\xC7\xA7\x01\x01\x00\x00\x00\x02\xFF\xFE", 10));
    EXPECT_EQ(bad.next()->type, MessageType::ServerError);

    const std::vector<std::pair<std::string, std::string>> badJson = {
        {"/v1/friends/add", "{"},
        {"/v1/rooms", "[1,2]"},
        {"/v1/rooms/leave", ""},
        {"/v1/files", "{\"size\":\"10\"}"},
        {"/v1/profile", "nul"}};
    for (const auto& [path, body] : badJson) {
        const HttpAnswer a = http(server->httpPort, "POST", path, body);
        EXPECT_EQ(a.status, 400) << path;
        EXPECT_FALSE(a.body.empty());
    }
    EXPECT_EQ(http(server->httpPort, "GET", "/v2/nothing").status, 404);
    EXPECT_EQ(http(server->httpPort, "GET", "/v1/friends").status, 400);

    // The server still serves the connection that behaved.
    bystander->send(wire::ChatRequest{"dm:111:111", "still here", ""});
    EXPECT_TRUE(bystander->nextOf(MessageType::Chat));
}

// Senders at full speed: a reader that stops must be dropped, however fast the others write.
class UnthrottledServerTest : public ServerTest {
    std::string extraArgs() const override {
        return "--max-messages-per-second 1000000 --max-message-bytes-per-second 1000000000";
    }
};

TEST_P(UnthrottledServerTest, ClientThatStopsReadingIsDisconnected) {
    auto reader = signedIn("111", "a");
    ChatConnection sink(server->chatPort);
    ASSERT_TRUE(sink.signIn("222", "b"));
    // `sink` never reads: 64 KiB messages pile up past 8 MiB on the server.
    const std::string text(60000, 'x');
    int got = 0;
    for (int i = 0; i < 400; ++i) {
        reader->send(wire::ChatRequest{kDm, text, ""});
        if (reader->nextOf(MessageType::Chat, 10000))
            ++got;
    }
    EXPECT_EQ(got, 400);
    EXPECT_TRUE(sink.closedByServer(10000));
}

class IdleServerTest : public ServerTest {
    std::string extraArgs() const override { return "--idle-timeout 1"; }
};

TEST_P(IdleServerTest, SilentConnectionIsClosedWhilePingsKeepOneOpen) {
    ChatConnection silent(server->chatPort);
    ChatConnection pinging(server->chatPort);
    // A ping every 200 ms for three idle times, and on until the silent one is gone.
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::seconds(20);
    while ((!silent.eof() || std::chrono::steady_clock::now() < start + std::chrono::seconds(3)) &&
           std::chrono::steady_clock::now() < until) {
        pinging.send(MessageType::Ping, {});
        // Paced by waiting for either connection's close: the pinging one must never see it.
        if (silent.closedByServer(200) && pinging.closedByServer(200))
            break;
    }
    EXPECT_TRUE(silent.eof());
    EXPECT_FALSE(pinging.eof());
    pinging.send(wire::Auth{"111", "a", "", ""});
    EXPECT_EQ(pinging.next()->type, MessageType::AuthOk);
}

INSTANTIATE_TEST_SUITE_P(Storage, ServerTest, kBackends, backendName);
INSTANTIATE_TEST_SUITE_P(Storage, IdleServerTest, kBackends, backendName);
INSTANTIATE_TEST_SUITE_P(Storage, UnthrottledServerTest, kBackends, backendName);

} // namespace
