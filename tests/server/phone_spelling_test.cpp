// The real server keeps one spelling per phone number and answers JSON whose strings carry
// no raw braces.

#include "server_harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

class PhoneSpelling : public ::testing::Test {
protected:
    void SetUp() override {
        dir = makeTempDir();
        server = std::make_unique<ServerProcess>(dir);
        ASSERT_TRUE(server->running());
    }
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    // Signs in with the phone as typed; the server's answer names the phone it keeps.
    std::unique_ptr<ChatConnection> signIn(const std::string& phone, const std::string& nick,
                                           const std::string& status, std::string* kept) {
        auto c = std::make_unique<ChatConnection>(server->chatPort);
        c->send(wire::Auth{phone, nick, "", status});
        const auto ok = c->nextMessage<wire::AuthOk>();
        EXPECT_TRUE(ok) << phone;
        if (ok && kept)
            *kept = ok->phone;
        return c;
    }
    HttpAnswer post(const std::string& path, const json& body) {
        return http(server->httpPort, "POST", path, body.dump());
    }
    HttpAnswer get(const std::string& path) { return http(server->httpPort, "GET", path); }

    std::string dir;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(PhoneSpelling, OneSpellingForSignInFriendsAndRooms) {
    std::string alice, bob;
    auto a = signIn("010-1111-2222", "앨리스", "", &alice);
    auto b = signIn(" 010 3333 4444 ", "밥", "", &bob);
    EXPECT_EQ(alice, "01011112222");
    EXPECT_EQ(bob, "01033334444");

    // Added in one spelling, asked for in another: the same two people.
    ASSERT_EQ(
        post("/v1/friends/add",
             {{"my_phone", "010.1111.2222"}, {"friend_phone", "010-3333-4444"}, {"alias", ""}})
            .status,
        200);
    EXPECT_EQ(post("/v1/friends/add",
                   {{"my_phone", "01011112222"}, {"friend_phone", "010 1111 2222"}, {"alias", ""}})
                  .status,
              400); // still oneself
    for (const char* asked : {"01011112222", "010-1111-2222", "010%201111%202222"}) {
        const HttpAnswer list = get(std::string("/v1/friends?phone=") + asked);
        ASSERT_EQ(list.status, 200) << asked;
        const json friends = json::parse(list.body);
        ASSERT_EQ(friends.size(), 1u) << asked;
        EXPECT_EQ(friends[0]["PhoneNumber"], "01033334444");
    }

    // A direct room is named by the kept spellings; another spelling of the peer is refused.
    a->send(wire::JoinRoom{"dm:010-3333-4444:01011112222"});
    const auto refused = a->nextMessage<wire::ServerError>();
    ASSERT_TRUE(refused);
    a->send(wire::ChatRequest{"dm:01011112222:01033334444", "안녕", ""});
    ASSERT_TRUE(b->nextMessage<wire::ChatMessage>());
    const json rooms = json::parse(get("/v1/rooms?phone=010-3333-4444").body);
    ASSERT_EQ(rooms.size(), 1u);
    EXPECT_EQ(rooms[0]["room_name"], "dm:01011112222:01033334444");
    EXPECT_EQ(rooms[0]["peer_phone"], "01011112222");
    EXPECT_EQ(rooms[0]["peer_nick"], "앨리스");

    // Memo rooms and leaving take any spelling of the own phone.
    const HttpAnswer memo =
        post("/v1/rooms", {{"phone", "+82 10-1111-2222"}, {"title", "메모"}, {"type", "memo"}});
    EXPECT_EQ(memo.status, 404); // "+8210…" is someone else, who never signed in
    ASSERT_EQ(post("/v1/rooms/leave",
                   {{"phone", "010-3333-4444"}, {"room", "dm:01011112222:01033334444"}})
                  .status,
              200);
    EXPECT_TRUE(json::parse(get("/v1/rooms?phone=01033334444").body).empty());
}

TEST_F(PhoneSpelling, APhoneWithoutDigitsIsRefused) {
    signIn("01011112222", "앨리스", "", nullptr);
    struct Case {
        const char* method;
        const char* path;
        json body;
    };
    const Case cases[] = {
        {"GET", "/v1/friends?phone=---", nullptr},
        {"GET", "/v1/rooms?phone=%2B", nullptr},
        {"POST", "/v1/friends/add", {{"my_phone", "01011112222"}, {"friend_phone", "밥"}}},
        {"POST", "/v1/friends/add", {{"my_phone", "앨리스"}, {"friend_phone", "01011112222"}}},
        {"POST", "/v1/rooms", {{"phone", "( )"}, {"title", "메모"}}},
        {"POST", "/v1/rooms/leave", {{"phone", "-"}, {"room", "memo:x"}}},
        {"POST", "/v1/profile", {{"phone", "+"}, {"profile_pic", ""}}},
    };
    for (const Case& c : cases) {
        const HttpAnswer a = http(server->httpPort, c.method, c.path,
                                  c.body.is_null() ? std::string() : c.body.dump());
        EXPECT_EQ(a.status, 400) << c.path << ' ' << c.body.dump();
        EXPECT_EQ(a.body, "전화번호가 필요합니다") << c.path << ' ' << c.body.dump();
    }

    ChatConnection noDigits(server->chatPort);
    noDigits.send(wire::Auth{"전화-없음", "nick", "", ""});
    const auto error = noDigits.nextMessage<wire::ServerError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text, "전화번호가 필요합니다");
    EXPECT_TRUE(noDigits.closedByServer());
}

TEST_F(PhoneSpelling, BracesInNamesReachTheListsEscaped) {
    std::string alice;
    auto a = signIn("01011112222", "앨리스", "", &alice);
    auto b = signIn("01033334444", "밥 {x}", "hi {^_^}", nullptr);
    ASSERT_EQ(
        post("/v1/friends/add",
             {{"my_phone", "01011112222"}, {"friend_phone", "01033334444"}, {"alias", "}밥{"}})
            .status,
        200);
    a->send(wire::ChatRequest{"dm:01011112222:01033334444", "{", ""});
    ASSERT_TRUE(b->nextMessage<wire::ChatMessage>());

    const std::string friends = get("/v1/friends?phone=01011112222").body;
    const std::string rooms = get("/v1/rooms?phone=01011112222").body;
    for (const std::string& body : {friends, rooms}) {
        // One object, so one pair of braces: every other brace went out escaped.
        EXPECT_EQ(std::count(body.begin(), body.end(), '{'), 1) << body;
        EXPECT_EQ(std::count(body.begin(), body.end(), '}'), 1) << body;
    }
    EXPECT_NE(friends.find(R"("StatusMessage":"hi \u007b^_^\u007d")"), std::string::npos)
        << friends;
    const json f = json::parse(friends).at(0);
    EXPECT_EQ(f["Nickname"], "밥 {x}");
    EXPECT_EQ(f["Alias"], "}밥{");
    EXPECT_EQ(f["StatusMessage"], "hi {^_^}");
    const json r = json::parse(rooms).at(0);
    EXPECT_EQ(r["peer_alias"], "}밥{");
    EXPECT_EQ(r["peer_nick"], "밥 {x}");
}

} // namespace
