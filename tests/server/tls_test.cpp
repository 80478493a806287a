// The real server with --tls-cert/--tls-key: both ports over TLS with a certificate made for
// the test, and everything that does not speak TLS dropped without harm.

#include "server_harness.h"
#include "test_certificates.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

class TlsServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(testCertificates().error, "");
        ca = testCertificates().caFile;
    }
    void TearDown() override {
        server.reset();
        if (!dir.empty())
            std::system(("rm -rf " + dir).c_str());
    }
    void start(const std::string& args = {}) {
        dir = makeTempDir();
        Launch launch;
        launch.logFile = dir + "/server.log";
        server =
            std::make_unique<ServerProcess>(dir + "/data", tlsServerArgs() + " " + args, launch);
    }
    std::string log() const {
        std::ifstream in(dir + "/server.log");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::unique_ptr<ChatConnection> tlsConnection(const char* from = nullptr) {
        return std::make_unique<ChatConnection>(server->chatPort, from, ca);
    }
    std::unique_ptr<ChatConnection> signedIn(const std::string& phone) {
        auto c = tlsConnection();
        EXPECT_TRUE(c->signIn(phone, "n" + phone)) << phone;
        return c;
    }
    HttpAnswer request(const std::string& method, const std::string& path,
                       const std::string& body = {}) {
        return https(ca, server->httpPort, method, path, body);
    }
    // The process is up and still serves a TLS connection that behaves.
    void expectServing(const std::string& context) {
        ASSERT_TRUE(server->alive()) << context;
        auto probe = signedIn("999");
        probe->send(wire::ChatRequest{"dm:999:999", "still here", ""});
        EXPECT_TRUE(probe->nextOf(MessageType::Chat)) << context;
    }

    std::string ca;
    std::string dir;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(TlsServerTest, ChatAndHttpApiWorkOverTls) {
    start("--max-upload-bytes 3000000");
    auto alice = signedIn("111");
    auto bob = signedIn("222");

    ASSERT_EQ(request("POST", "/v1/friends/add",
                      R"({"my_phone":"111","friend_phone":"222","alias":"밥"})")
                  .status,
              200);
    const HttpAnswer friends = request("GET", "/v1/friends?phone=111");
    ASSERT_EQ(friends.status, 200);
    const json list = json::parse(friends.body, nullptr, false);
    ASSERT_TRUE(list.is_array()) << friends.body;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].value("PhoneNumber", ""), "222");
    EXPECT_EQ(list[0].value("Alias", ""), "밥");

    // More frames than one gathered write takes, each in order, through the TLS records.
    const std::string room = "dm:111:222";
    const int count = 600;
    for (int i = 0; i < count; ++i)
        alice->send(wire::ChatRequest{room, "메시지 " + std::to_string(i), ""});
    for (int i = 0; i < count; ++i) {
        const auto m = bob->nextMessage<wire::ChatMessage>();
        ASSERT_TRUE(m) << i;
        EXPECT_EQ(m->text, "메시지 " + std::to_string(i));
    }
    const HttpAnswer rooms = request("GET", "/v1/rooms?phone=222");
    ASSERT_EQ(rooms.status, 200);
    EXPECT_NE(rooms.body.find(room), std::string::npos) << rooms.body;

    // An upload in chunks and its download, larger than one TLS record and one chunk.
    std::string content(2500000, '\0');
    std::mt19937 random(7);
    for (char& c : content)
        c = static_cast<char>(random());
    const HttpAnswer created =
        request("POST", "/v1/files", json{{"name", "a.bin"}, {"size", content.size()}}.dump());
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string id = json::parse(created.body, nullptr, false).value("id", "");
    ASSERT_FALSE(id.empty());
    for (std::size_t at = 0, n = 0; at < content.size(); at += 1048576, ++n)
        ASSERT_EQ(request("PUT", "/v1/files/" + id + "/chunks/" + std::to_string(n),
                          content.substr(at, 1048576))
                      .status,
                  200);
    ASSERT_EQ(request("POST", "/v1/files/" + id + "/complete", "{}").status, 200);
    const HttpAnswer download = request("GET", "/v1/files/" + id);
    EXPECT_EQ(download.status, 200);
    EXPECT_TRUE(download.body == content) << download.body.size();

    // The plain port scheme reaches nothing.
    EXPECT_EQ(http(server->httpPort, "GET", "/v1/friends?phone=111").status, 0);
}

TEST_F(TlsServerTest, WhatDoesNotSpeakTlsIsDroppedAndTheServerGoesOn) {
    start("--auth-timeout 1");
    struct Case {
        const char* name;
        std::string bytes; // sent right after connecting; empty sends nothing
    };
    std::string garbage(64 * 1024, '\0');
    std::mt19937 random(3);
    for (char& c : garbage)
        c = static_cast<char>(random());
    const Case cases[] = {
        {"a plain client signing in",
         ChatProtocol::encodeType(MessageType::Auth, {"111", "n", "", ""})},
        {"random bytes", garbage},
        {"a plain HTTP request", "GET /v1/friends?phone=111 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"},
        // Connects and never starts the handshake: the sign-in deadline ends it.
        {"silence", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChatConnection plain(server->chatPort);
        if (!c.bytes.empty())
            plain.sendRaw(c.bytes);
        EXPECT_TRUE(plain.closedByServer());
        EXPECT_FALSE(plain.next(10)); // no frame came back
    }
    EXPECT_EQ(http(server->httpPort, "POST", "/v1/friends/add", "{}").status, 0);
    expectServing("after plain clients");
    EXPECT_NE(log().find("TLS handshake failed"), std::string::npos) << log();
    EXPECT_NE(log().find("not signed in after 1 s"), std::string::npos) << log();
}

TEST_F(TlsServerTest, HostileInputLimitsHoldOverTls) {
    start("--max-connections-per-address 3");
    auto frameHeader = [](std::uint8_t type, std::uint32_t length) {
        return std::string{
            static_cast<char>(ChatProtocol::kMagic0),  static_cast<char>(ChatProtocol::kMagic1),
            static_cast<char>(ChatProtocol::kVersion), static_cast<char>(type),
            static_cast<char>(length >> 24),           static_cast<char>((length >> 16) & 0xFF),
            static_cast<char>((length >> 8) & 0xFF),   static_cast<char>(length & 0xFF)};
    };
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"bad magic bytes", "XXXXXXXXXXXXXXXX"},
        {"a frame over 16 MiB", frameHeader(MessageType::Chat, 16 * 1024 * 1024 + 1)},
        {"a frame with too many fields",
         ChatProtocol::encodeType(MessageType::Chat, FieldList(40, "x"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto connection = signedIn("111");
        connection->sendRaw(c.bytes);
        EXPECT_TRUE(connection->closedByServer());
        expectServing(c.name);
    }

    // The per-address cap counts TLS connections, handshaken or not.
    std::vector<std::unique_ptr<ChatConnection>> open;
    for (int i = 0; i < 3; ++i)
        open.push_back(tlsConnection("127.0.0.5"));
    bool refused = false;
    try {
        auto fourth = tlsConnection("127.0.0.5");
        refused = fourth->closedByServer();
    } catch (const std::runtime_error&) {
        refused = true; // closed before or during the handshake
    }
    EXPECT_TRUE(refused);
    for (auto& c : open)
        EXPECT_FALSE(c->closedByServer(10));
}

} // namespace
