// Phones claimed by their first device: the real server with --claim-phones, over both ports,
// and --release-phone against its database, on each storage back end.

#include "backends.h"
#include "server_harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <regex>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

const std::string kClaimed = "다른 기기에서 사용 중인 번호입니다";

class ClaimTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        dir = makeTempDir();
        std::string why;
        storageArgs = backendArgs(GetParam(), why);
        if (!why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<ServerProcess>(dir, "--claim-phones" + storageArgs);
    }
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }

    // Signs in on a new connection; the AuthOk, or nothing when none came.
    std::optional<wire::AuthOk> signIn(ChatConnection& c, const std::string& phone,
                                       const std::string& secret = {}) {
        c.send(wire::Auth{phone, "닉" + phone, "", "", secret});
        const auto frame = c.next();
        if (!frame || frame->type != MessageType::AuthOk)
            return std::nullopt;
        return wire::AuthOk::decode(frame->fields);
    }
    // The secret a first sign-in receives; the connection stays signed in.
    std::string claim(const std::string& phone) {
        connections.push_back(std::make_unique<ChatConnection>(server->chatPort));
        const auto ok = signIn(*connections.back(), phone);
        EXPECT_TRUE(ok) << phone;
        return ok ? ok->secret : std::string();
    }
    // A sign-in that must be refused with the claim's text, and the connection closed.
    void expectRefused(const std::string& phone, const std::string& secret) {
        ChatConnection c(server->chatPort);
        c.send(wire::Auth{phone, "남", "", "", secret});
        const auto error = c.nextMessage<wire::ServerError>();
        ASSERT_TRUE(error) << "no refusal for secret '" << secret << "'";
        EXPECT_EQ(error->refusedType, std::to_string(MessageType::Auth));
        EXPECT_EQ(error->text, kClaimed);
        EXPECT_TRUE(c.closedByServer());
    }
    HttpAnswer call(const std::string& method, const std::string& path, const std::string& body,
                    const std::string& bearer) {
        return http(server->httpPort, method, path, body, bearer);
    }

    // Where --release-phone finds the server's database.
    std::vector<std::string> database() const {
        if (storageArgs.empty())
            return {"--data-dir", dir};
        return {"--postgres", storageArgs.substr(storageArgs.find("postgresql://"))};
    }

    std::string dir;
    std::string storageArgs;
    std::unique_ptr<ServerProcess> server;
    std::vector<std::unique_ptr<ChatConnection>> connections;
};

TEST_P(ClaimTest, FirstSignInClaimsThePhoneAndOtherDevicesAreRefused) {
    const std::string secret = claim("010-1111");
    EXPECT_TRUE(std::regex_match(secret, std::regex("[0-9a-f]{64}"))) << secret;
    const std::string other = claim("010-2222");
    EXPECT_NE(other, secret);

    // The same device again, on a new connection and in another spelling of the phone: no
    // new secret.
    ChatConnection again(server->chatPort);
    const auto ok = signIn(again, "0101111", secret);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->phone, "0101111");
    EXPECT_EQ(ok->secret, "");

    struct Case {
        const char* name;
        std::string secret;
    };
    for (const Case& c :
         {Case{"none", ""}, Case{"wrong", std::string(64, 'a')}, Case{"another phone's", other},
          Case{"one character more", secret + "0"}, Case{"a prefix", secret.substr(0, 32)}}) {
        SCOPED_TRACE(c.name);
        expectRefused("010-1111", c.secret);
    }
    // The holder is still signed in and still receives.
    EXPECT_TRUE(again.quiet());
}

TEST_P(ClaimTest, NothingBehindARefusedSignInActsForThePhone) {
    const std::string secret = claim("0103333");
    const HttpAnswer created =
        call("POST", "/v1/rooms", json{{"phone", "0103333"}, {"title", "메모"}}.dump(), secret);
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string room = json::parse(created.body).value("room_name", "");
    ChatConnection& holder = *connections.back();
    holder.send(wire::JoinRoom{room});

    // Requests written right behind the Auth, in the same packet, must not slip in while the
    // sign-in is looked up.
    ChatConnection stranger(server->chatPort);
    stranger.sendRaw(wire::encodeFrame(wire::Auth{"0103333", "남", "", ""}) +
                     wire::encodeFrame(wire::JoinRoom{room}) +
                     wire::encodeFrame(wire::ChatRequest{room, "가짜", ""}));
    const auto error = stranger.nextMessage<wire::ServerError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text, kClaimed);
    EXPECT_TRUE(stranger.closedByServer());
    EXPECT_FALSE(holder.nextOf(MessageType::Chat, 500));

    holder.send(wire::ChatRequest{room, "진짜", ""});
    const auto own = holder.nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->text, "진짜");
    EXPECT_EQ(own->msgId, "1"); // the stranger's never got a number
}

TEST_P(ClaimTest, HttpActsForAPhoneOnlyWithItsSecret) {
    const std::string mine = claim("0104444");
    const std::string theirs = claim("0105555");
    const HttpAnswer memo =
        call("POST", "/v1/rooms", json{{"phone", "0104444"}, {"title", "m"}}.dump(), mine);
    ASSERT_EQ(memo.status, 200) << memo.body;
    const std::string room = json::parse(memo.body).value("room_name", "");

    struct Request {
        const char* name;
        std::string method, path, body;
    };
    const std::vector<Request> requests = {
        {"friends", "GET", "/v1/friends?phone=0104444", ""},
        {"rooms", "GET", "/v1/rooms?phone=010-4444", ""},
        {"add friend", "POST", "/v1/friends/add",
         json{{"my_phone", "0104444"}, {"friend_phone", "0105555"}, {"alias", "너"}}.dump()},
        {"memo room", "POST", "/v1/rooms", json{{"phone", "0104444"}, {"title", "t"}}.dump()},
        {"picture", "POST", "/v1/profile", json{{"phone", "0104444"}, {"profile_pic", ""}}.dump()},
        {"leave", "POST", "/v1/rooms/leave", json{{"phone", "0104444"}, {"room", room}}.dump()},
    };
    struct Bearer {
        const char* name;
        std::string token;
        long status;
    };
    const std::vector<Bearer> bearers = {
        {"none", "", 401},
        {"unknown", std::string(64, '0'), 403},
        {"another phone's", theirs, 403},
        {"the phone's", mine, 200},
    };
    for (const Request& r : requests)
        for (const Bearer& b : bearers) {
            SCOPED_TRACE(std::string(r.name) + " with " + b.name + " bearer");
            const HttpAnswer a = call(r.method, r.path, r.body, b.token);
            EXPECT_EQ(a.status, b.status) << a.body;
            if (b.status == 401) {
                EXPECT_EQ(a.body, "기기 인증이 필요합니다");
            } else if (b.status == 403) {
                EXPECT_EQ(a.body, "이 기기로는 할 수 없는 요청입니다");
            }
        }
    // Refused requests changed nothing: the friend was added once, by the right bearer.
    const json friends =
        json::parse(call("GET", "/v1/friends?phone=0104444", "", mine).body, nullptr, false);
    ASSERT_TRUE(friends.is_array());
    EXPECT_EQ(friends.size(), 1u);
}

TEST_P(ClaimTest, FilesNeedTheSecretOfSomeClaimedPhone) {
    const std::string uploader = claim("0106666");
    const std::string reader = claim("0107777");
    const std::string content = "bytes of a file";
    const std::string createBody = json{{"name", "a.txt"}, {"size", content.size()}}.dump();

    EXPECT_EQ(call("POST", "/v1/files", createBody, "").status, 401);
    EXPECT_EQ(call("POST", "/v1/files", createBody, std::string(64, 'f')).status, 403);
    const HttpAnswer created = call("POST", "/v1/files", createBody, uploader);
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string id = json::parse(created.body).value("id", "");
    const std::string file = "/v1/files/" + id;

    EXPECT_EQ(call("PUT", file + "/chunks/0", content, "").status, 401);
    EXPECT_EQ(call("PUT", file + "/chunks/0", content, uploader).status, 200);
    EXPECT_EQ(call("POST", file + "/complete", "{}", "").status, 401);
    EXPECT_EQ(call("POST", file + "/complete", "{}", uploader).status, 200);

    // A file sent into a room is read by its members, on their own devices.
    EXPECT_EQ(call("GET", file, "", "").status, 401);
    EXPECT_EQ(call("GET", file, "", "nonsense").status, 403);
    const HttpAnswer read = call("GET", file, "", reader);
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body, content);
}

TEST_P(ClaimTest, ReleasePhoneLetsTheNextDeviceClaimIt) {
    const std::string old = claim("0108888");
    connections.clear();

    auto release = [this](const std::string& phone) {
        std::vector<std::string> args = database();
        args.insert(args.end(), {"--release-phone", phone});
        return runServerCommand(args);
    };
    const CommandExit released = release("010-8888");
    EXPECT_EQ(released.status, 0) << released.err;
    EXPECT_NE(released.out.find("0108888"), std::string::npos) << released.out;

    // The first device to sign in now claims the phone afresh; the old secret is worthless.
    ChatConnection newcomer(server->chatPort);
    const auto ok = signIn(newcomer, "0108888", old);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->secret.size(), 64u);
    EXPECT_NE(ok->secret, old);
    expectRefused("0108888", old);
    EXPECT_EQ(call("GET", "/v1/rooms?phone=0108888", "", old).status, 403);
    EXPECT_EQ(call("GET", "/v1/rooms?phone=0108888", "", ok->secret).status, 200);

    EXPECT_EQ(release("0109999").status, 1) << "unclaimed phone";
    EXPECT_EQ(release("없음").status, 2) << "not a phone";
    if (storageArgs.empty()) {
        const std::string empty = makeTempDir();
        EXPECT_EQ(runServerCommand({"--data-dir", empty, "--release-phone", "0108888"}).status, 2)
            << "no database";
        // Nothing was created where no database was.
        EXPECT_NE(std::system(("test -e " + empty + "/brindlewick.db").c_str()), 0);
        std::system(("rm -rf " + empty).c_str());
    } else {
        EXPECT_EQ(runServerCommand({"--postgres", "postgresql://127.0.0.1:1/none?connect_timeout=2",
                                    "--release-phone", "0108888"})
                      .status,
                  2)
            << "no database";
    }
}

TEST_P(ClaimTest, ReleasePhoneClosesTheConnectionsSignedInWithIt) {
    const std::string secret = claim("0108811");
    ChatConnection& holder = *connections.back();
    ChatConnection second(server->chatPort);
    ASSERT_TRUE(signIn(second, "0108811", secret));
    claim("0108822");
    ChatConnection& bystander = *connections.back();

    std::vector<std::string> args = database();
    args.insert(args.end(), {"--release-phone", "0108811"});
    const CommandExit released = runServerCommand(args);
    ASSERT_EQ(released.status, 0) << released.err;
    // Generous: the server reads the releases about once a second.
    EXPECT_TRUE(holder.closedByServer(20000));
    EXPECT_TRUE(second.closedByServer(20000));
    // Another phone's connection goes on.
    bystander.send(wire::ChatRequest{"dm:0108822:0108822", "여전히", ""});
    const auto still = bystander.nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(still);
    EXPECT_EQ(still->text, "여전히");
}

// Without the setting a secret is neither handed out nor asked for.
TEST(PhoneClaimsOff, SignInAndHttpStayOpen) {
    const std::string dir = makeTempDir();
    {
        ServerProcess server(dir);
        ChatConnection first(server.chatPort);
        first.send(wire::Auth{"0101212", "a", "", "", "whatever"});
        const auto frame = first.next();
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->type, MessageType::AuthOk);
        EXPECT_EQ(frame->fields.size(), 1u);
        ChatConnection second(server.chatPort);
        EXPECT_TRUE(second.signIn("0101212"));
        EXPECT_EQ(http(server.httpPort, "GET", "/v1/rooms?phone=0101212").status, 200);
        EXPECT_EQ(http(server.httpPort, "GET", "/v1/rooms?phone=0101212", "", "junk").status, 200);
    }
    std::system(("rm -rf " + dir).c_str());
}

INSTANTIATE_TEST_SUITE_P(Storage, ClaimTest, kBackends, backendName);

} // namespace
