// Two server processes on one shared database with NATS between them, and HAProxy in front:
// every service is started here on free ports and stopped with the test.

#include "cluster_services.h"
#include "postgres_cluster.h"
#include "server_harness.h"

#include <messages.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string kDm = "dm:111:222";

class ClusterTest : public ::testing::Test {
protected:
    // One PostgreSQL cluster for the binary, a fresh database per test.
    static void SetUpTestSuite() { postgres = PostgresCluster::start(postgresError); }
    static void TearDownTestSuite() { postgres.reset(); }
    void SetUp() override {
        ASSERT_TRUE(postgres) << "PostgreSQL: " << postgresError;
        dir = makeTempDir();
        std::string error;
        const std::string uri = postgres->createDatabase(error);
        ASSERT_EQ(error, "");
        database = " --postgres " + uri;
        nats = std::make_unique<NatsServer>();
        for (int i = 0; i < 2; ++i)
            instances.push_back(startInstance(i));
    }
    void TearDown() override {
        proxy.reset();
        instances.clear();
        nats.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    std::unique_ptr<ServerProcess> startInstance(int i, const std::string& extraArgs = {}) {
        Launch launch;
        launch.logFile = dir + "/instance" + std::to_string(i) + ".log";
        // One database for both (without PostgreSQL: one SQLite file in a shared folder);
        // the HTTP host names any port, as HAProxy's clients use its port.
        const std::string data = postgres ? dir + "/instance" + std::to_string(i) : dir;
        return std::make_unique<ServerProcess>(data,
                                               "--nats " + nats->url() + database +
                                                   " --http-host 127.0.0.1 --max-upload-bytes "
                                                   "5000000 --max-connections-per-address 1000"
                                                   " --trusted-proxy 127.0.0.1" +
                                                   extraArgs,
                                               launch);
    }
    void startProxy() {
        proxy = std::make_unique<Haproxy>(
            dir, std::vector<Backend>{{instances[0]->chatPort, instances[0]->httpPort},
                                      {instances[1]->chatPort, instances[1]->httpPort}});
    }
    std::unique_ptr<ChatConnection> on(int instance, const std::string& phone) {
        auto c = std::make_unique<ChatConnection>(instances[instance]->chatPort);
        EXPECT_TRUE(c->signIn(phone, phone == "111" ? "앨리스" : "밥")) << phone;
        return c;
    }
    std::uint16_t api(int instance) const { return instances[instance]->httpPort; }
    HttpAnswer post(int instance, const std::string& path, const json& body) {
        return http(api(instance), "POST", path, body.dump());
    }
    std::int64_t unread(int instance, const std::string& phone, const std::string& room) {
        const HttpAnswer a = http(api(instance), "GET", "/v1/rooms?phone=" + phone);
        for (const json& r : json::parse(a.body, nullptr, false))
            if (r.value("room_name", "") == room)
                return r["unread_count"].get<std::int64_t>();
        return -1;
    }

    static inline std::string postgresError;
    static inline std::unique_ptr<PostgresCluster> postgres;
    std::string dir;
    std::string database; // the --postgres option
    std::unique_ptr<NatsServer> nats;
    std::vector<std::unique_ptr<ServerProcess>> instances;
    std::unique_ptr<Haproxy> proxy;
};

// The ids of the next `count` messages of the room, in arrival order.
std::vector<std::int64_t> messageIds(ChatConnection& c, std::size_t count, int timeoutMs = 30000) {
    std::vector<std::int64_t> ids;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ids.size() < count && std::chrono::steady_clock::now() < deadline) {
        const auto m = c.nextMessage<wire::ChatMessage>(200);
        if (m)
            ids.push_back(std::stoll(m->msgId));
    }
    return ids;
}

// The id of the room's newest stored message as `c` is told by a history page; 0 when none
// or no answer.
std::int64_t newestStored(ChatConnection& c) {
    c.send(wire::HistoryRequest{kDm, "", "1"});
    const auto page = c.nextMessage<wire::HistoryPage>();
    return page && !page->entries.empty() ? std::stoll(page->entries.back().msgId) : 0;
}

// Waits until the room's newest stored message has id `id` at least.
bool storedUpTo(ChatConnection& c, std::int64_t id) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (newestStored(c) < id) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::vector<std::int64_t> oneTo(std::int64_t n) {
    std::vector<std::int64_t> ids;
    for (std::int64_t i = 1; i <= n; ++i)
        ids.push_back(i);
    return ids;
}

TEST_F(ClusterTest, UsersOnDifferentInstancesChatShareFilesAndSeeTheSameLists) {
    auto alice = on(0, "111");
    auto bob = on(1, "222");
    alice->send(wire::ChatRequest{kDm, "안녕", ""});
    auto got = bob->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->text, "안녕");
    EXPECT_EQ(got->msgId, "1");
    EXPECT_EQ(got->sender, "앨리스");
    ASSERT_TRUE(alice->nextMessage<wire::ChatMessage>()); // every member's connections get it
    bob->send(wire::ChatRequest{kDm, "반가워", "1"});
    got = alice->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->msgId, "2");
    EXPECT_EQ(got->replyTo, "1");
    bob->send(wire::Edit{kDm, "2", "반가워요"});
    const auto edited = alice->nextMessage<wire::Edit>();
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->text, "반가워요");
    alice->send(wire::Delete{kDm, "1"});
    const auto deleted = bob->nextMessage<wire::Delete>();
    ASSERT_TRUE(deleted);
    EXPECT_EQ(deleted->msgId, "1");

    // An upload whose requests alternate between the instances, served by either.
    std::string content(2'500'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 131) >> 7);
    const HttpAnswer created =
        post(0, "/v1/files", {{"name", "사진.bin"}, {"size", content.size()}});
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string id = json::parse(created.body, nullptr, false).value("id", "");
    for (std::size_t i = 0, n = 0; i < content.size(); i += 1048576, ++n)
        ASSERT_EQ(http(api(int((n + 1) % 2)), "PUT",
                       "/v1/files/" + id + "/chunks/" + std::to_string(n),
                       content.substr(i, 1048576))
                      .status,
                  200)
            << n;
    ASSERT_EQ(http(api(1), "POST", "/v1/files/" + id + "/complete", "{}").status, 200);
    alice->send(wire::FileRequest{kDm, id, "사진.bin", std::to_string(content.size())});
    const auto file = bob->nextMessage<wire::FileMessage>();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->msgId, "3");
    EXPECT_EQ(file->size, std::to_string(content.size()));
    for (int instance : {0, 1}) {
        const HttpAnswer download = http(api(instance), "GET", "/v1/files/" + id);
        EXPECT_EQ(download.status, 200);
        EXPECT_TRUE(download.body == content) << "download from instance " << instance;
    }

    // Counts, marks and friends live in the shared store: both instances answer alike.
    EXPECT_EQ(unread(0, "222", kDm), 1); // the file; the deleted chat does not count
    EXPECT_EQ(unread(1, "222", kDm), 1);
    bob->send(wire::ReadWatermark{kDm, "3"});
    bob->send(wire::HistoryRequest{kDm, "", "1"}); // answered after the mark is stored
    ASSERT_TRUE(bob->nextOf(MessageType::HistoryPage));
    EXPECT_EQ(unread(0, "222", kDm), 0);
    ASSERT_EQ(post(1, "/v1/friends/add",
                   {{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", "친구"}})
                  .status,
              200);
    const HttpAnswer friends0 = http(api(0), "GET", "/v1/friends?phone=111");
    const HttpAnswer friends1 = http(api(1), "GET", "/v1/friends?phone=111");
    EXPECT_EQ(friends0.body, friends1.body);
    EXPECT_NE(friends0.body.find("친구"), std::string::npos);

    // A group made on one instance reaches a member signed in on the other at once.
    const HttpAnswer group = post(1, "/v1/rooms",
                                  {{"phone", "222"},
                                   {"title", "모임"},
                                   {"type", "group"},
                                   {"members", json::array({"111"})}});
    ASSERT_EQ(group.status, 200) << group.body;
    const std::string room = json::parse(group.body, nullptr, false).value("room_name", "");
    bob->send(wire::ChatRequest{room, "모두 안녕", ""});
    got = alice->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->room, room);
    EXPECT_EQ(http(api(0), "GET", "/v1/rooms?phone=111").body,
              http(api(1), "GET", "/v1/rooms?phone=111").body);

    // Members who leave through the other instance get nothing more from this one.
    auto bobThere = on(0, "222");
    bobThere->send(wire::ChatRequest{room, "하나", ""});
    ASSERT_TRUE(alice->nextMessage<wire::ChatMessage>());
    ASSERT_EQ(post(1, "/v1/rooms/leave", {{"phone", "111"}, {"room", room}}).status, 200);
    ASSERT_TRUE(bobThere->nextOf(MessageType::RoomNotice)); // that she left
    bobThere->send(wire::ChatRequest{room, "둘", ""});
    const auto last = bobThere->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->text, "둘");
    // A message in a room she is still in, sent after: the next she gets.
    bobThere->send(wire::ChatRequest{kDm, "그다음", ""});
    const auto next = alice->nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->text, "그다음");
}

TEST_F(ClusterTest, ConcurrentSendersOnBothInstancesGiveEveryConnectionTheSameGapFreeOrder) {
    std::vector<std::unique_ptr<ChatConnection>> readers;
    for (int instance : {0, 1})
        for (const char* phone : {"111", "222"})
            readers.push_back(on(instance, phone));
    constexpr int kEach = 150;
    // readers[0] is 111 on the first instance, readers[3] 222 on the second.
    // Paced, so the two instances' commits interleave instead of landing as two batches.
    auto sender = [&](ChatConnection& c, const char* label) {
        for (int i = 0; i < kEach; ++i) {
            c.send(wire::ChatRequest{kDm, label + std::to_string(i), ""});
            std::this_thread::sleep_for(std::chrono::microseconds(500 + 300 * (i % 5)));
        }
    };
    std::thread first(sender, std::ref(*readers[0]), "a");
    std::thread second(sender, std::ref(*readers[3]), "b");
    first.join();
    second.join();
    for (std::size_t r = 0; r < readers.size(); ++r)
        EXPECT_EQ(messageIds(*readers[r], 2 * kEach), oneTo(2 * kEach)) << "reader " << r;
}

TEST_F(ClusterTest, ReadersCatchUpAfterNatsWasDown) {
    std::vector<std::unique_ptr<ChatConnection>> readers;
    for (int instance : {0, 1})
        for (const char* phone : {"111", "222"})
            readers.push_back(on(instance, phone));
    auto send = [&](int reader, int count) {
        for (int i = 0; i < count; ++i)
            readers[reader]->send(wire::ChatRequest{kDm, "m", ""});
    };
    send(0, 3);
    send(3, 3);
    // Wait for the first six everywhere, so the outage starts from a known point.
    for (auto& r : readers)
        ASSERT_EQ(messageIds(*r, 6), oneTo(6));
    // Asks the database how far the room is stored, on a connection of its own.
    ChatConnection check(instances[1]->chatPort);
    ASSERT_TRUE(check.signIn("111"));
    nats->stop();
    send(0, 4);
    send(3, 4);
    ASSERT_TRUE(storedUpTo(check, 14));
    send(3, 2); // the last ones only the second instance has seen
    ASSERT_TRUE(storedUpTo(check, 16));
    nats->start();
    for (std::size_t r = 0; r < readers.size(); ++r) {
        std::vector<std::int64_t> expected = oneTo(16);
        expected.erase(expected.begin(), expected.begin() + 6);
        EXPECT_EQ(messageIds(*readers[r], 10), expected) << "reader " << r;
    }
    // And live again afterwards.
    send(0, 1);
    for (auto& r : readers)
        EXPECT_EQ(messageIds(*r, 1), std::vector<std::int64_t>{17});
}

// A client as the real one behaves: it opens the room with a history page; on a lost
// connection it waits its reconnect time, signs in again through the proxy and pages back
// through the room's history to what it had.
class Client {
public:
    Client(std::uint16_t port, std::string phone, bool sends)
        : port_(port), phone_(std::move(phone)), sends_(sends) {}
    void run(const std::atomic<bool>& sending, const std::atomic<bool>& stop) {
        bool again = false;
        while (!stop) {
            std::unique_ptr<ChatConnection> c;
            try {
                c = std::make_unique<ChatConnection>(port_);
            } catch (const std::exception&) {
            }
            if (!c || !c->signIn(phone_)) {
                std::this_thread::sleep_for(kReconnect);
                continue;
            }
            // The room opens with its newest page, after a reconnect as at the start.
            if (again)
                ++reconnects;
            c->send(wire::HistoryRequest{kDm, "", "100"});
            const std::int64_t had = seen.empty() ? 0 : *seen.rbegin();
            sessions.emplace_back();
            auto nextSend = std::chrono::steady_clock::now();
            while (!stop && !c->eof()) {
                if (sends_ && sending && std::chrono::steady_clock::now() >= nextSend) {
                    c->send(wire::ChatRequest{kDm, "m", ""});
                    nextSend += 25ms;
                }
                const auto frame = c->next(10);
                if (!frame)
                    continue;
                if (frame->type == MessageType::Chat) {
                    if (const auto m = wire::ChatMessage::decode(frame->fields)) {
                        sessions.back().push_back(std::stoll(m->msgId));
                        see(std::stoll(m->msgId));
                    }
                } else if (frame->type == MessageType::HistoryPage) {
                    const auto page = wire::HistoryPage::decode(frame->fields);
                    if (!page || page->entries.empty())
                        continue;
                    for (const auto& e : page->entries)
                        see(std::stoll(e.msgId));
                    const std::string oldest = page->entries.front().msgId;
                    if (page->hasOlder && std::stoll(oldest) > had + 1)
                        c->send(wire::HistoryRequest{kDm, oldest, "100"});
                }
            }
            again = true;
            if (!stop)
                std::this_thread::sleep_for(kReconnect);
        }
    }
    static constexpr auto kReconnect = 3s;
    std::set<std::int64_t> seen;
    std::vector<std::vector<std::int64_t>> sessions; // live ids per connection
    std::atomic<int> reconnects{0};
    // For the test to watch while it runs: how many ids were seen and the newest.
    std::atomic<std::size_t> seenCount{0};
    std::atomic<std::int64_t> newest{0};

private:
    void see(std::int64_t id) {
        seen.insert(id);
        seenCount = seen.size();
        if (id > newest)
            newest = id;
    }

    std::uint16_t port_;
    std::string phone_;
    bool sends_;
};

TEST_F(ClusterTest, SigkillOfOneInstanceUnderTrafficLosesNothingCommitted) {
    startProxy();
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 6; ++i)
        clients.push_back(
            std::make_unique<Client>(proxy->chatPort(), i % 2 ? "222" : "111", i < 2));
    std::atomic<bool> sending{true}, stop{false};
    std::vector<std::thread> threads;
    struct Stop {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~Stop() {
            stop = true;
            for (auto& t : threads)
                t.join();
        }
    } joined{stop, threads};
    for (auto& c : clients)
        threads.emplace_back([&, client = c.get()] { client->run(sending, stop); });
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    const auto waitFor = [&](const std::function<bool()>& done) {
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        return done();
    };
    const auto everyClient = [&](const std::function<bool(const Client&)>& holds) {
        for (const auto& c : clients)
            if (!holds(*c))
                return false;
        return true;
    };
    // Traffic under way: every client has seen some messages.
    ASSERT_TRUE(
        waitFor([&] { return everyClient([](const Client& c) { return c.newest >= 40; }); }));
    std::int64_t atKill = 0;
    for (const auto& c : clients)
        atKill = std::max<std::int64_t>(atKill, c->newest);
    instances[0]->kill();
    // The reconnect time and a few more messages: every client, wherever it was, sees messages
    // sent after the kill.
    ASSERT_TRUE(waitFor(
        [&] { return everyClient([&](const Client& c) { return c.newest >= atKill + 20; }); }));
    sending = false;
    // The survivor notices the silence and reads what the dead one committed unpublished: every
    // client ends with all the stored ids, 1 to the newest.
    ChatConnection check(instances[1]->chatPort);
    ASSERT_TRUE(check.signIn("111"));
    EXPECT_TRUE(waitFor([&] {
        const std::int64_t stored = newestStored(check);
        return everyClient([&](const Client& c) {
            return c.newest == stored && c.seenCount == std::size_t(stored);
        });
    }));
    stop = true;
    for (auto& t : threads)
        t.join();
    threads.clear();

    // Everything committed, from the survivor's database.
    std::set<std::int64_t> committed;
    std::string before;
    do {
        check.send(wire::HistoryRequest{kDm, before, "100"});
        const auto frame = check.nextOf(MessageType::HistoryPage);
        ASSERT_TRUE(frame);
        const auto page = wire::HistoryPage::decode(frame->fields);
        ASSERT_TRUE(page && !page->entries.empty());
        for (const auto& e : page->entries)
            committed.insert(std::stoll(e.msgId));
        before = page->hasOlder ? page->entries.front().msgId : "";
    } while (!before.empty());
    ASSERT_GT(committed.size(), 50u);
    EXPECT_EQ(*committed.rbegin(), std::int64_t(committed.size())) << "ids have a gap";
    int reconnected = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const Client& c = *clients[i];
        reconnected += c.reconnects;
        EXPECT_EQ(c.seen, committed) << "client " << i;
        for (const auto& live : c.sessions)
            for (std::size_t k = 1; k < live.size(); ++k)
                ASSERT_EQ(live[k], live[k - 1] + 1) << "client " << i;
    }
    EXPECT_GE(reconnected, 2); // about half were on the killed instance
}

TEST_F(ClusterTest, ThroughHaproxyEachClientCountsByItsOwnAddress) {
    instances.clear();
    for (int i = 0; i < 2; ++i)
        instances.push_back(startInstance(i, " --max-connections-per-address 3"));
    startProxy();
    // Sixteen users from eight addresses: were they all HAProxy's 127.0.0.1, three per instance
    // would be the most that get in.
    std::vector<std::unique_ptr<ChatConnection>> users;
    for (int i = 0; i < 16; ++i) {
        const std::string from = "127.0.0." + std::to_string(20 + i / 2);
        users.push_back(std::make_unique<ChatConnection>(proxy->chatPort(), from.c_str()));
        ASSERT_TRUE(users.back()->signIn(std::to_string(5550000 + i))) << i;
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(http(proxy->httpPort(), "GET", "/v1/rooms?phone=5550000").status, 200) << i;
    std::string logs;
    for (int i = 0; i < 2; ++i) {
        std::ifstream in(dir + "/instance" + std::to_string(i) + ".log");
        logs.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(logs.find("chat: connection from 127.0.0.27:"), std::string::npos) << logs;
    EXPECT_EQ(logs.find("turned away"), std::string::npos) << logs;
}

TEST_F(ClusterTest, AFrozenInstanceLeavesHaproxyWithinSeconds) {
    startProxy();
    // Both instances in rotation first: four sign-ins through HAProxy land on both.
    for (int i = 0; i < 4; ++i) {
        ChatConnection c(proxy->chatPort());
        ASSERT_TRUE(c.signIn("111")) << i;
    }
    ::kill(instances[0]->pid(), SIGSTOP);
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{instances[0]->pid()};
    const auto frozen = std::chrono::steady_clock::now();
    // Until HAProxy has seen the health check fail, some sign-ins hang on the frozen one.
    int inARow = 0;
    while (inARow < 6 && std::chrono::steady_clock::now() - frozen < 60s) {
        ChatConnection c(proxy->chatPort());
        const bool chat = c.signIn("222");
        const bool api =
            chat && http(proxy->httpPort(), "GET", "/v1/rooms?phone=222").status == 200;
        inARow = chat && api ? inARow + 1 : 0;
    }
    const auto took = std::chrono::steady_clock::now() - frozen;
    EXPECT_EQ(inARow, 6);
    std::printf("frozen instance out of rotation after %.1f s\n",
                std::chrono::duration<double>(took).count());
}

// Claims with --claim-phones on both instances.
// Client ids as the client makes them, one per numbered message.
std::vector<std::string> clientIds(int count) {
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i)
        ids.push_back(wire::newClientId());
    return ids;
}

// The texts of the room's stored messages, oldest first, read page by page.
std::vector<std::string> storedTexts(ChatConnection& c) {
    std::vector<std::string> texts;
    std::string before;
    do {
        c.send(wire::HistoryRequest{kDm, before, "100"});
        const auto page = c.nextMessage<wire::HistoryPage>(20000);
        if (!page)
            return {"(no page)"};
        texts.insert(texts.begin(), page->entries.size(), "");
        for (std::size_t i = 0; i < page->entries.size(); ++i)
            texts[i] = page->entries[i].text;
        before = page->hasOlder && !page->entries.empty() ? page->entries.front().msgId : "";
    } while (!before.empty());
    return texts;
}

TEST_F(ClusterTest, OneResendReachingBothInstancesAtOnceIsStoredOnce) {
    constexpr int kCount = 40;
    auto bob = on(1, "222");
    std::vector<std::unique_ptr<ChatConnection>> alice;
    alice.push_back(on(0, "111"));
    alice.push_back(on(1, "111"));
    const std::vector<std::string> ids = clientIds(kCount);
    // Each request leaves on both connections before either instance answered it.
    for (int i = 0; i < kCount; ++i)
        for (auto& c : alice)
            c->send(wire::ChatRequest{kDm, "m" + std::to_string(i), "", ids[i]});
    for (auto& c : alice)
        c->send(wire::ChatRequest{kDm, "끝", ""});

    // The others see each message once, in the order sent, without gaps.
    std::vector<std::string> texts;
    std::map<std::string, std::string> idOf; // client id -> message id
    while (texts.size() < kCount) {
        const auto m = bob->nextMessage<wire::ChatMessage>(20000);
        ASSERT_TRUE(m) << "after " << texts.size();
        if (m->text == "끝")
            continue;
        texts.push_back(m->text);
        EXPECT_EQ(m->msgId, std::to_string(texts.size())) << m->text;
        idOf[m->clientId] = m->msgId;
    }
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(texts[i], "m" + std::to_string(i));
    // Both of the sender's connections learn the one message id of each request: both from
    // the winner's delivery, the loser also from the answer to its repeat, three echoes in all.
    std::map<std::string, int> echoes;
    for (std::size_t k = 0; k < alice.size(); ++k) {
        SCOPED_TRACE("connection " + std::to_string(k));
        std::map<std::string, std::set<std::string>> answered;
        int ends = 0;
        while (ends < 2) {
            const auto m = alice[k]->nextMessage<wire::ChatMessage>(20000);
            ASSERT_TRUE(m);
            if (m->text == "끝")
                ++ends;
            else {
                answered[m->clientId].insert(m->msgId);
                ++echoes[m->clientId];
            }
        }
        ASSERT_EQ(answered.size(), std::size_t(kCount));
        for (const auto& [clientId, msgIds] : answered)
            EXPECT_EQ(msgIds, std::set<std::string>{idOf[clientId]});
    }
    for (const auto& [clientId, count] : echoes)
        EXPECT_EQ(count, 3) << clientId;
    std::vector<std::string> expected;
    for (int i = 0; i < kCount; ++i)
        expected.push_back("m" + std::to_string(i));
    expected.insert(expected.end(), {"끝", "끝"});
    EXPECT_EQ(storedTexts(*bob), expected);
}

// The client's side of a failover: the instance it sent through is killed in the middle of a
// burst; it sends again, through the other instance, everything whose echo it has not seen.
TEST_F(ClusterTest, SigkillMidBurstThenResendingTheUnansweredStoresEachMessageOnceInOrder) {
    constexpr int kCount = 200;
    auto bob = on(1, "222");
    auto alice = on(0, "111");
    const std::vector<std::string> ids = clientIds(kCount);
    std::map<std::string, int> number;
    for (int i = 0; i < kCount; ++i)
        number[ids[i]] = i;
    // The number a message's echo names by its client id; every echo carries one.
    const auto numbered = [&](const wire::ChatMessage& m) {
        const auto it = number.find(m.clientId);
        EXPECT_NE(it, number.end()) << m.text << " #" << m.msgId << " without its client id";
        return it == number.end() ? -1 : it->second;
    };
    const auto request = [&](int i) {
        return wire::ChatRequest{kDm, "n" + std::to_string(i), "", ids[i]};
    };
    // The reader on the other instance, as messages come: each once, in order, gap-free.
    std::vector<std::string> texts;
    const auto readerSees = [&](std::size_t count) {
        while (texts.size() < count) {
            const auto m = bob->nextMessage<wire::ChatMessage>(20000);
            if (!m)
                return false;
            texts.push_back(m->text);
            EXPECT_EQ(m->msgId, std::to_string(texts.size()));
        }
        return true;
    };
    std::set<int> settled;
    for (int i = 0; i < kCount / 2; ++i)
        alice->send(request(i));
    while (settled.size() < 10) {
        const auto m = alice->nextMessage<wire::ChatMessage>(20000);
        ASSERT_TRUE(m);
        settled.insert(numbered(*m));
    }
    // At least 30 are stored when the instance dies; the echoes not read by then are lost with
    // the connection, so at least 20 stored messages are sent again.
    ASSERT_TRUE(readerSees(30));
    instances[0]->kill();
    alice.reset();

    auto again = on(1, "111");
    std::set<int> waiting;
    for (int i = 0; i < kCount; ++i)
        if (!settled.count(i)) {
            again->send(request(i));
            waiting.insert(i);
        }
    while (!waiting.empty()) {
        const auto m = again->nextMessage<wire::ChatMessage>(20000);
        ASSERT_TRUE(m) << waiting.size() << " without an echo";
        const int n = numbered(*m);
        // Stored once, in order: message n has id n + 1, whether stored now or before the kill.
        EXPECT_EQ(m->msgId, std::to_string(n + 1)) << m->text;
        waiting.erase(n);
    }

    std::vector<std::string> expected;
    for (int i = 0; i < kCount; ++i)
        expected.push_back("n" + std::to_string(i));
    ASSERT_TRUE(readerSees(kCount)) << "after " << texts.size();
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(storedTexts(*bob), expected);
}

class ClusterClaimTest : public ClusterTest {
protected:
    void SetUp() override {
        ClusterTest::SetUp();
        if (HasFatalFailure())
            return;
        instances.clear();
        for (int i = 0; i < 2; ++i)
            instances.push_back(startInstance(i, " --claim-phones"));
    }
    // Sends the Auth; the answer is read by `answer`.
    static void askSignIn(ChatConnection& c, const std::string& phone,
                          const std::string& secret = {}) {
        c.send(wire::Auth{phone, "닉" + phone, "", "", secret});
    }
    // The secret of an AuthOk ("" for one without), or nothing when refused or silent.
    static std::optional<std::string> answer(ChatConnection& c) {
        const auto frame = c.next(20000);
        if (!frame || frame->type != MessageType::AuthOk)
            return std::nullopt;
        const auto ok = wire::AuthOk::decode(frame->fields);
        return ok ? std::optional<std::string>(ok->secret) : std::nullopt;
    }
};

TEST_F(ClusterClaimTest, FirstSignInsOfOnePhoneRacingOnTwoInstancesGiveExactlyOneSecret) {
    constexpr int kPhones = 40;
    std::vector<std::unique_ptr<ChatConnection>> first, second;
    for (int i = 0; i < kPhones; ++i) {
        first.push_back(std::make_unique<ChatConnection>(instances[0]->chatPort));
        second.push_back(std::make_unique<ChatConnection>(instances[1]->chatPort));
    }
    // Both Auths of a phone leave together, before either is answered.
    for (int i = 0; i < kPhones; ++i) {
        const std::string phone = "0107000" + std::to_string(100 + i);
        askSignIn(*first[i], phone);
        askSignIn(*second[i], phone);
    }
    int doubleClaims = 0;
    for (int i = 0; i < kPhones; ++i) {
        SCOPED_TRACE(i);
        const auto a = answer(*first[i]);
        const auto b = answer(*second[i]);
        const int secrets = (a && !a->empty()) + (b && !b->empty());
        doubleClaims += secrets > 1;
        EXPECT_EQ(secrets, 1);
        // The loser was refused, not let in without a secret.
        EXPECT_FALSE(a && a->empty());
        EXPECT_FALSE(b && b->empty());
        // The secret handed out is the one both instances accept.
        const std::string secret = a && !a->empty() ? *a : b ? *b : std::string();
        for (int instance = 0; instance < 2 && !secret.empty(); ++instance) {
            ChatConnection again(instances[instance]->chatPort);
            askSignIn(again, "0107000" + std::to_string(100 + i), secret);
            const auto ok = answer(again);
            EXPECT_TRUE(ok && ok->empty()) << "instance " << instance;
        }
    }
    EXPECT_EQ(doubleClaims, 0);
}

TEST_F(ClusterClaimTest, ReleasePhoneClosesItsConnectionsOnEveryInstance) {
    ChatConnection holder(instances[0]->chatPort);
    askSignIn(holder, "0107111");
    const auto secret = answer(holder);
    ASSERT_TRUE(secret && secret->size() == 64u);
    ChatConnection holderElsewhere(instances[1]->chatPort);
    askSignIn(holderElsewhere, "0107111", *secret);
    ASSERT_TRUE(answer(holderElsewhere));
    ChatConnection bystander(instances[1]->chatPort);
    askSignIn(bystander, "0107222");
    ASSERT_TRUE(answer(bystander));

    const CommandExit released =
        runServerCommand({"--postgres", database.substr(database.find("postgresql://")),
                          "--release-phone", "0107111"});
    ASSERT_EQ(released.status, 0) << released.err;
    // Generous: each instance reads the releases about once a second.
    EXPECT_TRUE(holder.closedByServer(20000));
    EXPECT_TRUE(holderElsewhere.closedByServer(20000));
    bystander.send(wire::ChatRequest{"dm:0107222:0107222", "여전히", ""});
    const auto still = bystander.nextMessage<wire::ChatMessage>();
    ASSERT_TRUE(still);
    EXPECT_EQ(still->text, "여전히");
}

} // namespace
