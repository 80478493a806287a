// The real server process under hostile input: every case must end at most the connection
// that sent it, within a bounded amount of memory.

#include "server_harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

// Room for the program, its threads and a few frames of 16 MiB, far from the gigabytes the
// inputs below once took; a regression runs out of address space and fails instead of
// swapping. The sanitizers reserve terabytes of shadow memory and run without it.
std::uint64_t addressSpaceLimit() {
    return underSanitizer() ? 0 : 384ull * 1024 * 1024;
}

const std::size_t kMiB = 1024 * 1024;

std::string hangul(std::size_t chars) {
    std::string text;
    for (std::size_t i = 0; i < chars; ++i)
        text += "\xED\x95\x9C"; // 한
    return text;
}

class HardeningTest : public ::testing::Test {
protected:
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    void start(const std::string& args = {}, std::uint64_t addressSpace = 0) {
        dir = makeTempDir();
        Launch launch;
        launch.addressSpaceBytes = addressSpace;
        launch.logFile = dir + "/server.log";
        server = std::make_unique<ServerProcess>(dir + "/data", args, launch);
    }
    std::string log() const { return readFile(dir + "/server.log"); }
    // How often `text` is in the log.
    std::size_t logCount(const std::string& text) const {
        const std::string all = log();
        std::size_t count = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }
    // Waits until the log holds `text` more than `before` times; a line follows its event by a
    // moment.
    bool logGrows(const std::string& text, std::size_t before = 0) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (logCount(text) <= before) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::unique_ptr<ChatConnection> signedIn(const std::string& phone) {
        auto c = std::make_unique<ChatConnection>(server->chatPort);
        EXPECT_TRUE(c->signIn(phone, "n" + phone)) << phone;
        return c;
    }
    HttpAnswer post(const std::string& path, const json& body) {
        return http(server->httpPort, "POST", path, body.dump());
    }
    // The process is up and still serves a connection that behaves.
    void expectServing(const std::string& context) {
        ASSERT_TRUE(server->alive()) << context;
        auto probe = signedIn("999");
        probe->send(wire::ChatRequest{"dm:999:999", "still here", ""});
        EXPECT_TRUE(probe->nextOf(MessageType::Chat, 20000)) << context;
    }

    std::string dir;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(HardeningTest, HostileFramesEndOnlyTheirConnectionWithinBoundedMemory) {
    start({}, addressSpaceLimit());
    const std::string separators(ChatProtocol::kMaxPayloadLength, '\x1F');
    const std::string bigText(ChatProtocol::kMaxPayloadLength - 100, 'x');
    struct Case {
        const char* name;
        std::function<void(HardeningTest&)> run;
    };
    const std::vector<Case> cases = {
        {"16 MiB of separators before sign-in",
         [&](HardeningTest&) {
             ChatConnection c(server->chatPort);
             c.sendLarge(MessageType::Chat, separators);
             EXPECT_TRUE(c.closedByServer(20000));
         }},
        {"16 MiB of separators after sign-in",
         [&](HardeningTest&) {
             auto c = signedIn("111");
             c->sendLarge(MessageType::Chat, separators);
             EXPECT_TRUE(c->closedByServer(20000));
         }},
        {"a 9 MiB nickname is cut off at its header",
         [&](HardeningTest&) {
             ChatConnection c(server->chatPort);
             c.send(MessageType::Auth, {"111", std::string(9 * kMiB, 'n'), "", ""});
             EXPECT_TRUE(c.closedByServer());
         }},
        {"a nickname over its limit",
         [&](HardeningTest&) {
             ChatConnection c(server->chatPort);
             c.send(MessageType::Auth, {"111", hangul(101), "", ""});
             const auto refusal = c.nextMessage<wire::ServerError>(20000);
             ASSERT_TRUE(refusal);
             EXPECT_EQ(refusal->refusedType, "1");
             EXPECT_EQ(refusal->text, "닉네임이 너무 깁니다 (최대 100자)");
             EXPECT_TRUE(c.closedByServer());
         }},
        {"a 16 MiB text after sign-in is refused and the connection goes on",
         [&](HardeningTest&) {
             auto c = signedIn("111");
             FieldList fields = {"dm:111:111", bigText};
             c->send(MessageType::Chat, fields);
             const auto refusal = c->nextMessage<wire::ServerError>(20000);
             ASSERT_TRUE(refusal);
             EXPECT_EQ(refusal->text, "메시지가 너무 깁니다");
             c->send(wire::ChatRequest{"dm:111:111", "짧게", ""});
             EXPECT_TRUE(c->nextOf(MessageType::Chat));
         }},
        {"ten signed-in connections with one 16 MiB frame each, all kept open",
         [&](HardeningTest&) {
             std::vector<std::unique_ptr<ChatConnection>> held;
             for (int i = 0; i < 10; ++i) {
                 held.push_back(signedIn(std::to_string(200 + i)));
                 held.back()->sendLarge(MessageType::Chat, bigText);
                 // The refusal shows the frame was read and handled.
                 const auto refusal = held.back()->nextMessage<wire::ServerError>(20000);
                 ASSERT_TRUE(refusal) << i;
                 EXPECT_FALSE(refusal->text.empty());
             }
             for (auto& c : held)
                 EXPECT_FALSE(c->closedByServer(10));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.run(*this);
        expectServing(c.name);
    }
}

TEST_F(HardeningTest, RunningOutOfMemoryEndsOnlyTheConnectionsThatAskedForIt) {
    if (addressSpaceLimit() == 0)
        GTEST_SKIP() << "no address space limit under a sanitizer";
    // Room for the program (with the database thread's malloc arena, which the sign-ins
    // below bring into being) and a few large frames, not for twelve at once.
    start({}, 256ull * 1024 * 1024);
    const std::string bigText(ChatProtocol::kMaxPayloadLength - 100, 'x');
    std::vector<std::unique_ptr<ChatConnection>> senders;
    for (int i = 0; i < 12; ++i)
        senders.push_back(signedIn(std::to_string(300 + i)));
    std::vector<std::thread> threads;
    for (auto& c : senders)
        threads.emplace_back([&c, &bigText] { c->sendLarge(MessageType::Chat, bigText); });
    for (auto& t : threads)
        t.join();
    // Each is either answered or closed; how many of each depends on how the reads interleave.
    for (std::size_t i = 0; i < senders.size(); ++i)
        EXPECT_TRUE(senders[i]->nextOf(MessageType::ServerError) || senders[i]->eof())
            << "sender " << i << " neither answered nor closed; the server's log:\n"
            << log();
    expectServing("after twelve large frames at once");
    EXPECT_NE(log().find("closed: out of memory"), std::string::npos);
    // What the closed ones held is given back: one large frame alone is handled again.
    auto after = signedIn("399");
    after->sendLarge(MessageType::Chat, bigText);
    EXPECT_TRUE(after->nextOf(MessageType::ServerError)) << "the server's log:\n" << log();
}

TEST_F(HardeningTest, NamesAndTextsUsersChooseAreLimited) {
    start({}, addressSpaceLimit());
    auto owner = signedIn("111");
    signedIn("222");
    struct SignIn {
        std::string phone, nick, status;
        const char* refusal; // nullptr: accepted
    };
    const std::vector<SignIn> signIns = {
        {std::string(32, '1'), hangul(100), hangul(200), nullptr},
        {std::string(33, '1'), "n", "", "전화번호가 너무 깁니다 (최대 32자)"},
        {"333", hangul(101), "", "닉네임이 너무 깁니다 (최대 100자)"},
        {"333", std::string(101, 'n'), "", "닉네임이 너무 깁니다 (최대 100자)"},
        {"333", "n", hangul(201), "상태메시지가 너무 깁니다 (최대 200자)"},
    };
    for (const SignIn& s : signIns) {
        ChatConnection c(server->chatPort);
        c.send(MessageType::Auth, {s.phone, s.nick, "", s.status});
        const auto answer = c.next();
        ASSERT_TRUE(answer) << s.phone.size() << " " << s.nick.size();
        if (!s.refusal) {
            EXPECT_EQ(answer->type, MessageType::AuthOk);
            continue;
        }
        const auto refusal = wire::ServerError::decode(answer->fields);
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->text, s.refusal);
    }

    struct Request {
        std::string path;
        json body;
        long status;
        const char* refusal;
    };
    const std::vector<Request> requests = {
        {"/v1/friends/add",
         {{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", hangul(100)}},
         200,
         nullptr},
        {"/v1/friends/add",
         {{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", hangul(101)}},
         400,
         "별명이 너무 깁니다 (최대 100자)"},
        {"/v1/rooms", {{"phone", "111"}, {"title", hangul(100)}}, 200, nullptr},
        {"/v1/rooms",
         {{"phone", "111"}, {"title", hangul(101)}},
         400,
         "방 제목이 너무 깁니다 (최대 100자)"},
        {"/v1/rooms/leave",
         {{"phone", std::string(33, '1')}, {"room", "memo:x"}},
         400,
         "전화번호가 너무 깁니다 (최대 32자)"},
    };
    for (const Request& r : requests) {
        const HttpAnswer a = post(r.path, r.body);
        EXPECT_EQ(a.status, r.status) << r.path;
        if (r.refusal) {
            EXPECT_EQ(a.body, r.refusal) << r.path;
        }
    }

    // A hundred aliases of 1 MiB never reach the database, so the friend list stays small.
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(
            post("/v1/friends/add",
                 {{"my_phone", "111"}, {"friend_phone", "222"}, {"alias", std::string(kMiB, 'a')}})
                .status,
            400);
    const HttpAnswer friends = http(server->httpPort, "GET", "/v1/friends?phone=111");
    EXPECT_EQ(friends.status, 200);
    EXPECT_LT(friends.body.size(), 1000u);
    expectServing("after the aliases");
}

TEST_F(HardeningTest, OneReadOfManyChatsIntoAGroupIsHandledInOrderAndWithinLimits) {
    // Senders are not slowed here: the point is the in-flight limit.
    start("--max-room-members 50 --max-messages-per-second 1000000", addressSpaceLimit());
    // Users exist once they signed in; one connection signs in as each in turn.
    {
        ChatConnection c(server->chatPort);
        for (int i = 100; i < 150; ++i)
            ASSERT_TRUE(c.signIn(std::to_string(i), "n")) << i;
    }
    json members = json::array();
    for (int i = 101; i < 150; ++i)
        members.push_back(std::to_string(i));
    const HttpAnswer created = post(
        "/v1/rooms", {{"phone", "100"}, {"title", "g"}, {"type", "group"}, {"members", members}});
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string room = json::parse(created.body)["room_name"];
    members.push_back("150");
    signedIn("150");
    const HttpAnswer tooMany = post(
        "/v1/rooms", {{"phone", "100"}, {"title", "g"}, {"type", "group"}, {"members", members}});
    EXPECT_EQ(tooMany.status, 400);
    EXPECT_EQ(tooMany.body, "방 인원이 너무 많습니다 (최대 50명)");

    auto sender = signedIn("100");
    auto member = signedIn("149");
    // Far more complete frames in one write than a connection may have in flight.
    std::string burst;
    int count = 0;
    while (burst.size() < 64 * 1024) {
        burst += wire::encodeFrame(wire::ChatRequest{room, std::to_string(count), ""});
        ++count;
    }
    ASSERT_GT(count, 1000);
    sender->sendRaw(burst);
    for (ChatConnection* c : {sender.get(), member.get()})
        for (int i = 0; i < count; ++i) {
            const auto m = c->nextMessage<wire::ChatMessage>(10000);
            ASSERT_TRUE(m) << i;
            ASSERT_EQ(m->text, std::to_string(i));
        }

    // The shared member list follows a member who leaves.
    ASSERT_EQ(post("/v1/rooms/leave", {{"phone", "149"}, {"room", room}}).status, 200);
    sender->send(wire::ChatRequest{room, "after", ""});
    EXPECT_TRUE(sender->nextOf(MessageType::Chat));
    const auto next = member->next(500);
    EXPECT_TRUE(!next || next->type != MessageType::Chat);
}

TEST_F(HardeningTest, SignInIsDueSoonAfterConnectingWhatEverElseArrives) {
    start("--auth-timeout 1 --idle-timeout 30");
    ChatConnection silent(server->chatPort);
    ChatConnection pinging(server->chatPort);
    ChatConnection refusedOnly(server->chatPort);
    auto member = signedIn("111");
    // The two busy ones keep sending until closed, so only the sign-in deadline can end them,
    // never the idle timeout, however slowly this runs.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until && !(pinging.eof() && refusedOnly.eof())) {
        if (!pinging.eof()) {
            pinging.send(MessageType::Ping, {});
            pinging.closedByServer(100);
        }
        if (!refusedOnly.eof()) {
            refusedOnly.send(wire::JoinRoom{"dm:111:222"});
            refusedOnly.closedByServer(100);
        }
    }
    EXPECT_TRUE(pinging.eof());
    EXPECT_TRUE(refusedOnly.eof());
    EXPECT_TRUE(silent.closedByServer());
    // Signed in, silence is judged by the idle timeout only.
    member->send(wire::ChatRequest{"dm:111:111", "x", ""});
    EXPECT_TRUE(member->nextOf(MessageType::Chat));
}

TEST_F(HardeningTest, ConnectionsAreCappedPerAddressAndInAll) {
    start("--max-connections-per-address 3 --max-connections 5");
    std::vector<std::unique_ptr<ChatConnection>> open;
    for (int i = 0; i < 3; ++i)
        open.push_back(std::make_unique<ChatConnection>(server->chatPort, "127.0.0.1"));
    ChatConnection fourth(server->chatPort, "127.0.0.1");
    EXPECT_TRUE(fourth.closedByServer());
    for (int i = 0; i < 2; ++i)
        open.push_back(std::make_unique<ChatConnection>(server->chatPort, "127.0.0.2"));
    ChatConnection sixth(server->chatPort, "127.0.0.3");
    EXPECT_TRUE(sixth.closedByServer());
    for (auto& c : open)
        EXPECT_FALSE(c->closedByServer(10));

    // A closed connection frees its place.
    open.erase(open.begin());
    bool admitted = false;
    for (int attempt = 0; attempt < 50 && !admitted; ++attempt) {
        ChatConnection again(server->chatPort, "127.0.0.1");
        admitted = again.signIn("111");
        if (!admitted)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(admitted);
    EXPECT_NE(log().find("turned away 127.0.0.3: already 5 connections in all"), std::string::npos)
        << log();
}

TEST_F(HardeningTest, LogLinesCannotBeForgedAndRefusalsAreCounted) {
    start();
    {
        ChatConnection c(server->chatPort);
        for (int i = 0; i < 1000; ++i)
            c.send(wire::ChatRequest{"dm:1:2", "x", ""});
        for (int i = 0; i < 1000; ++i)
            ASSERT_TRUE(c.nextOf(MessageType::ServerError)) << i;
        c.send(MessageType::Auth,
               {"123\n2026-01-01 00:00:00 brindlewick-server: forged", "n", "", "\r\x1b[2J"});
        ASSERT_TRUE(c.nextOf(MessageType::AuthOk));
    }
    // The count of refusals not logged is written when the server sees the connection end.
    EXPECT_TRUE(logGrows("more not logged"));
    server->stop();
    const std::string text = log();
    std::istringstream lines(text);
    int refusedLines = 0;
    bool summary = false;
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d brindlewick-server: .*)");
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
        if (line.find("before login") != std::string::npos)
            ++refusedLines;
        if (line.find("refused 995 more not logged") != std::string::npos)
            summary = true;
    }
    EXPECT_EQ(refusedLines, 5);
    EXPECT_TRUE(summary) << text;
}

// A raw HTTP/1.1 exchange on a connection opened before the descriptors ran out.
class RawHttp {
public:
    explicit RawHttp(std::uint16_t port) : port_(port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("connect failed");
    }
    ~RawHttp() { ::close(fd_); }
    // The status of the answer; the body is read and dropped.
    int request(const std::string& method, const std::string& path, const std::string& body) {
        // JSON for requests, bytes for chunks, as the client sends them.
        const std::string type = method == "POST" ? "application/json" : "application/octet-stream";
        const std::string text =
            method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
            "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body;
        ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
        std::string answer;
        for (;;) {
            const std::size_t end = answer.find("\r\n\r\n");
            if (end != std::string::npos) {
                const std::size_t length = answer.find("Content-Length: ");
                const std::size_t size = length < end ? std::stoul(answer.substr(length + 16)) : 0;
                if (answer.size() >= end + 4 + size) {
                    const int status = std::stoi(answer.substr(9, 3));
                    return status;
                }
            }
            pollfd p{fd_, POLLIN, 0};
            char chunk[4096];
            if (::poll(&p, 1, 5000) <= 0)
                return -1;
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return -1;
            answer.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    std::uint16_t port_;
    int fd_ = -1;
};

TEST_F(HardeningTest, FilesThatCannotBeOpenedForLackOfDescriptorsAnswer503) {
    // The sanitizers' runtime needs descriptors of its own to check memory (it probes through a
    // pipe), so with none left it reports sound objects as broken.
    if (underSanitizer())
        GTEST_SKIP() << "the sanitizers need free descriptors themselves";
    start("--max-connections-per-address 1000");
    const HttpAnswer created = post("/v1/files", {{"name", "a"}, {"size", 6}});
    const std::string id = json::parse(created.body)["id"];
    const std::string file = "/v1/files/" + id;
    ASSERT_EQ(http(server->httpPort, "PUT", file + "/chunks/0", "abc").status, 200);
    RawHttp early(server->httpPort);
    // Lower the running server's limit, then fill what is left with chat connections.
    const std::string pid = std::to_string(server->pid());
    ASSERT_EQ(std::system(("prlimit --pid " + pid + " --nofile=64:64").c_str()), 0);
    // Fills what is left and waits until the server has found none free.
    std::vector<std::unique_ptr<ChatConnection>> filler;
    const auto exhaust = [&] {
        const std::size_t before = logCount("accept failed");
        for (int i = 0; i < 80; ++i)
            filler.push_back(std::make_unique<ChatConnection>(server->chatPort));
        return logGrows("accept failed", before);
    };
    // The server closes the fillers once it reads their end; until then it may still answer 503.
    const auto onceFreed = [&](const std::string& method, const std::string& path,
                               const std::string& body) {
        filler.clear();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int status = early.request(method, path, body);
        while (status == 503 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            status = early.request(method, path, body);
        }
        return status;
    };
    ASSERT_TRUE(exhaust());

    EXPECT_EQ(early.request("PUT", file + "/chunks/1", "def"), 503);
    EXPECT_EQ(onceFreed("PUT", file + "/chunks/1", "def"), 200);
    EXPECT_EQ(early.request("POST", file + "/complete", "{}"), 200);

    ASSERT_TRUE(exhaust());
    EXPECT_EQ(early.request("GET", file, ""), 503);
    EXPECT_EQ(onceFreed("GET", file, ""), 200);
}

} // namespace
