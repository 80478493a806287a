// Requests named by a client id, resent to the real server process as a client does after a
// lost echo: stored once, answered with the original echo, on each storage back end.

#include "backends.h"
#include "server_harness.h"

#include <gtest/gtest.h>

#include <memory>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const std::string kDm = "dm:111:222";
const std::string kFirst = "5f0c9a7e2b2d4c61a1e0f3b27c9d8e41";
const std::string kEdit = "aa0c9a7e2b2d4c61a1e0f3b27c9d8e41";

class ClientIdTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        dir = makeTempDir();
        std::string why;
        storageArgs = backendArgs(GetParam(), why);
        if (!why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<ServerProcess>(dir, storageArgs);
    }
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    std::unique_ptr<ChatConnection> signedIn(const std::string& phone) {
        auto c = std::make_unique<ChatConnection>(server->chatPort);
        EXPECT_TRUE(c->signIn(phone, phone == "111" ? "앨리스" : "밥")) << phone;
        return c;
    }
    // Texts of the room's messages as stored, oldest first.
    std::vector<std::string> stored(ChatConnection& c) {
        c.send(wire::HistoryRequest{kDm, "", "100"});
        const auto page = c.nextMessage<wire::HistoryPage>();
        std::vector<std::string> texts;
        if (page)
            for (const wire::HistoryEntry& e : page->entries)
                texts.push_back(e.text);
        return texts;
    }

    std::string dir;
    std::string storageArgs;
    std::unique_ptr<ServerProcess> server;
};

TEST_P(ClientIdTest, AResendIsStoredOnceAndAnsweredWithTheOriginalEvenAfterAKill) {
    auto bob = signedIn("222");
    auto alice = signedIn("111");
    alice->send(wire::ChatRequest{kDm, "하나", "", kFirst});
    const auto echo = alice->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->clientId, kFirst);
    const auto seen = bob->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->msgId, echo->msgId);

    // The echo was lost with the connection; the client resends on a new one. Then the same
    // again after the server was killed: what was answered is on disk.
    for (const bool kill : {false, true}) {
        SCOPED_TRACE(kill ? "after a kill" : "on a new connection");
        if (kill) {
            alice.reset();
            bob.reset();
            server->kill();
            server = std::make_unique<ServerProcess>(dir, storageArgs);
            bob = signedIn("222");
        }
        alice = signedIn("111");
        alice->send(wire::ChatRequest{kDm, "하나", "", kFirst});
        const auto again = alice->nextMessage<wire::ChatMessage>();
        ASSERT_TRUE(again);
        EXPECT_EQ(again->msgId, echo->msgId);
        EXPECT_EQ(again->time, echo->time);
        EXPECT_EQ(again->text, "하나");
        EXPECT_EQ(again->clientId, kFirst);
        // Nobody else got anything: the next message Bob sees is the one after.
        alice->send(wire::ChatRequest{kDm, kill ? "셋" : "둘", ""});
        const auto next = bob->nextMessage<wire::ChatMessage>();
        ASSERT_TRUE(next);
        EXPECT_EQ(next->text, kill ? "셋" : "둘");
        EXPECT_EQ(std::stoll(next->msgId), std::stoll(echo->msgId) + (kill ? 2 : 1));
    }

    // An edit resent is done once too; the sender's answer carries the id.
    alice->send(wire::Edit{kDm, echo->msgId, "하나!", kEdit});
    const auto edited = bob->nextMessage<wire::Edit>();
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->text, "하나!");
    const auto own = alice->nextMessage<wire::Edit>();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->clientId, kEdit);
    alice->send(wire::Edit{kDm, echo->msgId, "하나!", kEdit});
    const auto repeated = alice->nextMessage<wire::Edit>();
    ASSERT_TRUE(repeated);
    EXPECT_EQ(repeated->clientId, kEdit);
    EXPECT_EQ(repeated->msgId, echo->msgId);
    alice->send(wire::Delete{kDm, echo->msgId});
    const auto after = bob->next();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->type, MessageType::ChatDelete) << "no second edit for the others";

    EXPECT_EQ(stored(*bob), (std::vector<std::string>{"", "둘", "셋"}));
}

INSTANTIATE_TEST_SUITE_P(Storage, ClientIdTest, kBackends, backendName);

} // namespace
