// The real server process against clients that take more than their share: behind a proxy,
// with idle or half-sent connections, floods of messages, requests and guesses.

#include "server_harness.h"
#include "test_certificates.h"

#include <sender_limits.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A PROXY protocol v2 header naming an IPv4 client (or LOCAL without one).
std::string proxyHeader(const std::string& client, std::uint16_t port = 40000, bool local = false) {
    std::string h("\x0D\x0A\x0D\x0A\x00\x0D\x0A\x51\x55\x49\x54\x0A", 12);
    if (local)
        return h + std::string("\x20\x00\x00\x00", 4);
    h += std::string("\x21\x11\x00\x0C", 4);
    in_addr source{};
    ::inet_pton(AF_INET, client.c_str(), &source);
    h.append(reinterpret_cast<const char*>(&source), 4);
    h += std::string("\x7F\x00\x00\x01", 4);
    h += static_cast<char>(port >> 8);
    h += static_cast<char>(port & 0xFF);
    h += std::string("\x23\x28", 2);
    return h;
}

// A plain socket from a chosen loopback address, for requests written by hand.
class Socket {
public:
    explicit Socket(std::uint16_t port, const char* from = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            ADD_FAILURE() << "connect failed";
    }
    ~Socket() { ::close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void send(const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // What arrives until `done` says enough, the peer closes or the time runs out.
    std::string readUntil(const std::function<bool(const std::string&)>& done,
                          int timeoutMs = 10000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done(data_) && !closed_) {
            const auto left = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                       .count());
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char chunk[65536];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                closed_ = true;
            else
                data_.append(chunk, static_cast<std::size_t>(n));
        }
        return data_;
    }
    // One HTTP answer's status line and head, once complete.
    std::string answerHead(int timeoutMs = 10000) {
        readUntil([](const std::string& d) { return d.find("\r\n\r\n") != std::string::npos; },
                  timeoutMs);
        return data_.substr(0, data_.find("\r\n\r\n"));
    }
    bool closedByServer(int timeoutMs = 10000) {
        readUntil([](const std::string&) { return false; }, timeoutMs);
        return closed_;
    }
    void clear() { data_.clear(); }

private:
    int fd_ = -1;
    std::string data_;
    bool closed_ = false;
};

std::string get(const std::string& path, const std::string& host, bool close = false) {
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" +
           (close ? "Connection: close\r\n" : "") + "\r\n";
}

class FairnessTest : public ::testing::Test {
protected:
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    void start(const std::string& args = {}, std::uint64_t addressSpace = 0) {
        dir = makeTempDir();
        Launch launch;
        launch.logFile = dir + "/server.log";
        launch.addressSpaceBytes = addressSpace;
        server = std::make_unique<ServerProcess>(dir + "/data", args, launch);
        ASSERT_TRUE(server->running());
    }
    std::string log() const { return readFile(dir + "/server.log"); }
    // The log once it holds `text`: a line may follow the event it tells of by a moment.
    std::string logWith(const std::string& text) const {
        std::string now = log();
        for (const auto deadline = Clock::now() + std::chrono::seconds(10);
             now.find(text) == std::string::npos && Clock::now() < deadline; now = log())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return now;
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(server->httpPort); }
    HttpAnswer post(const std::string& path, const json& body, const std::string& bearer = {}) {
        return http(server->httpPort, "POST", path, body.dump(), bearer);
    }

    std::string dir;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(FairnessTest, BehindATrustedProxyEveryCapCountsTheClientsOwnAddress) {
    start("--trusted-proxy 127.0.0.2 --max-connections-per-address 2");
    // Two clients of the proxy, two connections each: one client's cap does not touch the other.
    std::vector<std::unique_ptr<ChatConnection>> open;
    for (const char* client : {"10.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.2"}) {
        open.push_back(std::make_unique<ChatConnection>(server->chatPort, "127.0.0.2"));
        open.back()->sendRaw(proxyHeader(client));
        ASSERT_TRUE(
            open.back()->signIn(std::string("0101") + client[7] + std::to_string(open.size())))
            << client;
    }
    ChatConnection third(server->chatPort, "127.0.0.2");
    third.sendRaw(proxyHeader("10.0.0.1"));
    EXPECT_TRUE(third.closedByServer());
    // HTTP connections count beside chat ones, and the header works there as well.
    Socket capped(server->httpPort, "127.0.0.2");
    capped.send(proxyHeader("10.0.0.2") + get("/healthz", host()));
    EXPECT_TRUE(capped.closedByServer());
    Socket other(server->httpPort, "127.0.0.2");
    other.send(proxyHeader("10.0.0.3") + get("/healthz", host()));
    EXPECT_NE(other.answerHead().find("200 OK"), std::string::npos);
    // The proxy connecting for itself (a LOCAL header, or none) counts as the proxy.
    ChatConnection itself(server->chatPort, "127.0.0.2");
    itself.sendRaw(proxyHeader("", 0, true));
    EXPECT_TRUE(itself.signIn("01099990001"));
    ChatConnection bare(server->chatPort, "127.0.0.2");
    EXPECT_TRUE(bare.signIn("01099990002"));
    // Anyone else's header is not believed: it is just bad bytes.
    ChatConnection forged(server->chatPort, "127.0.0.3");
    forged.sendRaw(proxyHeader("10.0.0.9"));
    EXPECT_TRUE(forged.closedByServer());
    // A broken header from the proxy ends that connection only.
    ChatConnection broken(server->chatPort, "127.0.0.2");
    broken.sendRaw(proxyHeader("10.0.0.4").replace(12, 1, "\x11"));
    EXPECT_TRUE(broken.closedByServer());
    for (auto& c : open)
        EXPECT_FALSE(c->closedByServer(10));

    const std::string text = log();
    EXPECT_NE(text.find("chat: connection from 10.0.0.1:40000"), std::string::npos) << text;
    EXPECT_NE(text.find("chat: turned away 10.0.0.1: already 2 connections from it"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("http: turned away 10.0.0.2: already 2 connections from it"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("chat: bad PROXY header from 127.0.0.2:"), std::string::npos) << text;
}

TEST_F(FairnessTest, IdleHttpConnectionsCountInTheCapsAndLeaveChatSignInsPossible) {
    start("--max-connections-per-address 3 --max-connections 6 --auth-timeout 30");
    std::vector<std::unique_ptr<Socket>> idle;
    for (int i = 0; i < 3; ++i) {
        // One answered request each, so the server has surely taken them; then they idle.
        idle.push_back(std::make_unique<Socket>(server->httpPort, "127.0.0.5"));
        idle.back()->send(get("/healthz", host()));
        ASSERT_NE(idle.back()->answerHead().find("200 OK"), std::string::npos);
    }
    // The address is full for both ports now.
    ChatConnection fourth(server->chatPort, "127.0.0.5");
    EXPECT_TRUE(fourth.closedByServer());
    Socket fifth(server->httpPort, "127.0.0.5");
    EXPECT_TRUE(fifth.closedByServer());
    // Others still get in, up to the total.
    ChatConnection user(server->chatPort, "127.0.0.6");
    EXPECT_TRUE(user.signIn("01012340000"));
}

TEST_F(FairnessTest, HalfOpenHandshakesAndHeadersAreClosedAfterTheHeaderTimeout) {
    start("--auth-timeout 1");
    // Nothing, part of a request line, and a header that never ends: each is closed after the
    // header timeout (--auth-timeout) instead of the minute a body may take.
    Socket silent(server->httpPort);
    Socket partial(server->httpPort);
    partial.send("GET /v1/frie");
    Socket endless(server->httpPort);
    endless.send("GET /healthz HTTP/1.1\r\nHost: " + host() + "\r\nX-A: 1\r\n");
    const auto started = Clock::now();
    for (Socket* s : {&silent, &partial, &endless})
        EXPECT_TRUE(s->closedByServer(30000));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(30));
}

TEST_F(FairnessTest, HalfOpenTlsHandshakesAreClosedOnBothPorts) {
    ASSERT_TRUE(testCertificates().error.empty()) << testCertificates().error;
    start(tlsServerArgs() + " --auth-timeout 1");
    // The start of a ClientHello record, and nothing more.
    const std::string partialHello("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
    std::vector<std::unique_ptr<Socket>> stalled;
    for (std::uint16_t port : {server->httpPort, server->chatPort})
        for (int i = 0; i < 20; ++i) {
            stalled.push_back(std::make_unique<Socket>(port));
            if (i % 2)
                stalled.back()->send(partialHello);
        }
    for (auto& s : stalled)
        EXPECT_TRUE(s->closedByServer(30000));
}

TEST_F(FairnessTest, BodiesBeingReceivedAtOnceAreBoundedAndGivenBack) {
    // Far below the 400 MiB the bodies below would take if each were kept.
    const std::uint64_t limit = underSanitizer() ? 0 : 320ull * 1024 * 1024;
    start("--max-connections-per-address 1000", limit);
    const std::string half(512 * 1024, 'x');
    std::vector<std::unique_ptr<Socket>> senders;
    for (int i = 0; i < 400; ++i) {
        senders.push_back(std::make_unique<Socket>(server->httpPort));
        senders.back()->send("PUT /v1/files/00000000000000000000000000000000/chunks/0 HTTP/1.1\r\n"
                             "Host: " +
                             host() + "\r\nContent-Length: 1048576\r\n\r\n" + half);
    }
    // 64 MiB of bodies at once: 64 wait for the rest of theirs, the others are told at once.
    const int expectedBusy = 400 - 64;
    int busy = 0;
    std::vector<bool> answered(senders.size());
    for (const auto deadline = Clock::now() + std::chrono::seconds(60);
         busy < expectedBusy && Clock::now() < deadline;)
        for (std::size_t i = 0; i < senders.size(); ++i)
            if (!answered[i] && !senders[i]->answerHead(0).empty()) {
                answered[i] = true;
                busy += senders[i]->answerHead(0).find("503") != std::string::npos;
            }
    EXPECT_EQ(busy, expectedBusy);
    ASSERT_TRUE(server->alive());
    const long peakKiB = server->statusKiB("VmHWM");
    senders.clear();
    // Still serving, and what the bodies took is mostly back.
    ChatConnection user(server->chatPort);
    EXPECT_TRUE(user.signIn("01012340000"));
    EXPECT_LT(peakKiB, 200 * 1024);
}

TEST_F(FairnessTest, FramesBeforeSignInAreSmall) {
    start({});
    ChatConnection stranger(server->chatPort);
    // A header announcing 16 MiB and the first of it: closed before the sign-in deadline.
    std::string frame = "\xC7\xA7\x01\x05";
    frame += std::string("\x01\x00\x00\x00", 4);
    stranger.sendRaw(frame + std::string(64 * 1024, 'x'));
    EXPECT_TRUE(stranger.closedByServer());
    const std::string text = logWith("frame of 16777216 bytes before sign-in");
    EXPECT_NE(text.find("frame of 16777216 bytes before sign-in"), std::string::npos) << text;
    // Signed in, a large frame is judged by what it asks for, not by its size.
    ChatConnection user(server->chatPort);
    ASSERT_TRUE(user.signIn("01012340000"));
    user.send(wire::ChatRequest{"dm:01012340000:01012340000", std::string(100 * 1024, 'x'), ""});
    EXPECT_TRUE(user.nextOf(MessageType::ServerError));
    EXPECT_FALSE(user.closedByServer(10));
}

TEST_F(FairnessTest, AFastSenderIsSlowedAndToldSoWhileItsReadersKeepUp) {
    // 1 MiB/s and a 2 MiB burst: the flood below takes a few seconds instead of a few ms.
    start("--max-message-bytes-per-second 1048576");
    ChatConnection reader(server->chatPort);
    ASSERT_TRUE(reader.signIn("01022220000"));
    ChatConnection flooder(server->chatPort);
    ASSERT_TRUE(flooder.signIn("01011110000"));
    const std::string room = "dm:01011110000:01022220000";
    const int count = 100;
    std::string flood;
    for (int i = 0; i < count; ++i)
        flood += wire::encodeFrame(
            wire::ChatRequest{room, std::to_string(i) + std::string(60 * 1024, 'x'), ""});
    const auto started = Clock::now();
    flooder.sendRaw(flood);
    const auto notice = flooder.nextMessage<wire::Notice>(30000);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->text, server::SendText::kTooFast);
    EXPECT_EQ(notice->room, room);
    // Nothing is lost and the reader is never cut off as a slow one.
    for (int i = 0; i < count; ++i) {
        const auto m = reader.nextMessage<wire::ChatMessage>(30000);
        ASSERT_TRUE(m) << i;
        ASSERT_EQ(m->text.substr(0, m->text.find('x')), std::to_string(i));
    }
    // 6 MB at 1 MiB/s after a 2 MiB burst: no less than about 4 s.
    EXPECT_GE(Clock::now() - started, std::chrono::seconds(3));
    EXPECT_FALSE(reader.closedByServer(10));
    EXPECT_EQ(log().find("not reading its deliveries"), std::string::npos) << log();
}

TEST_F(FairnessTest, HistoryRequestsOfOneConnectionAreRateLimited) {
    start({});
    ChatConnection user(server->chatPort);
    ASSERT_TRUE(user.signIn("01012340000"));
    const std::string room = "dm:01012340000:01012340000";
    user.send(wire::ChatRequest{room, "hello", ""});
    ASSERT_TRUE(user.nextOf(MessageType::Chat));
    std::string loop;
    const int count = 40;
    for (int i = 0; i < count; ++i)
        loop += wire::encodeFrame(wire::HistoryRequest{room, "", "50"});
    const auto started = Clock::now();
    user.sendRaw(loop);
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(user.nextOf(MessageType::HistoryPage, 30000)) << i;
    // 20 at once, then 10 a second: every page is answered, the last no sooner than 2 s.
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(1500));
}

TEST_F(FairnessTest, HealthAnswersForTheWholeServerAndOnlyWhileItRuns) {
    start({});
    // Any Host: a load balancer's check names none of ours.
    Socket check(server->httpPort);
    check.send(get("/healthz", "instance-1.internal", true));
    check.readUntil([](const std::string&) { return false; });
    const std::string answer = check.readUntil([](const std::string&) { return true; });
    EXPECT_NE(answer.find("200 OK"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\r\n\r\nok"), std::string::npos) << answer;
    EXPECT_EQ(http(server->httpPort, "POST", "/healthz", "{}").status, 405);
    // Other paths keep the Host rule.
    Socket foreign(server->httpPort);
    foreign.send(get("/v1/friends?phone=1", "instance-1.internal", true));
    EXPECT_EQ(foreign.answerHead().find("200 OK"), std::string::npos);
    // A stopped process answers nothing.
    ::kill(server->pid(), SIGSTOP);
    Socket frozen(server->httpPort);
    frozen.send(get("/healthz", host()));
    EXPECT_TRUE(frozen.answerHead(1000).empty());
    ::kill(server->pid(), SIGCONT);
    EXPECT_NE(frozen.answerHead().find("200 OK"), std::string::npos);
}

TEST_F(FairnessTest, RefusalsOfOneClientCannotFloodTheLog) {
    start("--claim-phones");
    Socket flood(server->httpPort);
    std::string requests;
    const int count = 2000;
    for (int i = 0; i < count; ++i)
        requests += get("/nowhere", host());
    flood.send(requests);
    flood.readUntil([](const std::string& d) { return countOf(d, "HTTP/1.1 404") >= count; },
                    60000);
    // The next window's first line, or the connection's end, writes the count held back.
    flood.send(get("/nowhere", host(), true));
    EXPECT_TRUE(flood.closedByServer());
    ChatConnection probe(server->chatPort);
    ASSERT_TRUE(probe.signIn("01012340000"));
    const std::string text = logWith(" more not logged");
    EXPECT_LE(countOf(text, "GET /nowhere refused 404"), 5u) << text;
    EXPECT_NE(text.find("http: 127.0.0.1 " + std::to_string(count + 1 - 5) + " more not logged"),
              std::string::npos)
        << text;

    // Past a few wrong device secrets, each is answered a second late: guessing is slow.
    auto guess = [&](int i) {
        EXPECT_EQ(http(server->httpPort, "GET", "/v1/friends?phone=01012340000", {},
                       "guess" + std::to_string(i))
                      .status,
                  403);
    };
    for (int i = 0; i < 10; ++i)
        guess(i);
    const auto started = Clock::now();
    for (int i = 10; i < 13; ++i)
        guess(i);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(2500));
}

TEST_F(FairnessTest, PendingUploadsCountPerDeviceWithClaims) {
    start("--claim-phones --max-pending-uploads 2");
    std::vector<std::string> secrets;
    for (const char* phone : {"01011110000", "01022220000"}) {
        ChatConnection c(server->chatPort);
        c.send(wire::Auth{phone, "n", "", ""});
        const auto ok = c.nextMessage<wire::AuthOk>();
        ASSERT_TRUE(ok && !ok->secret.empty());
        secrets.push_back(ok->secret);
    }
    const json file = {{"name", "a"}, {"size", 5}};
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(post("/v1/files", file, secrets[0]).status, 200);
    EXPECT_EQ(post("/v1/files", file, secrets[0]).status, 429);
    // Another device on the same address (one NAT, one proxy) is not held back.
    EXPECT_EQ(post("/v1/files", file, secrets[1]).status, 200);
}

TEST_F(FairnessTest, NamesThatWouldReorderOrHideTextAreRefused) {
    start({});
    const std::string rlo = "\u202E";
    ChatConnection liar(server->chatPort);
    liar.send(wire::Auth{"01012340000", "admin" + rlo, "", ""});
    const auto refused = liar.nextMessage<wire::ServerError>();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->text, "닉네임에 쓸 수 없는 문자가 있습니다");
    ChatConnection user(server->chatPort);
    ASSERT_TRUE(user.signIn("01012340000", "\uBBFC\uC9C0"));
    ChatConnection friendOf(server->chatPort);
    ASSERT_TRUE(friendOf.signIn("01099990000"));
    struct Case {
        const char* path;
        json body;
        const char* refusal;
    };
    const std::vector<Case> cases = {
        {"/v1/friends/add",
         {{"my_phone", "01012340000"}, {"friend_phone", "01099990000"}, {"alias", "\uAD00\u200B"}},
         "별명에 쓸 수 없는 문자가 있습니다"},
        {"/v1/rooms",
         {{"phone", "01012340000"}, {"title", "memo" + rlo}, {"type", "memo"}},
         "방 제목에 쓸 수 없는 문자가 있습니다"},
        {"/v1/files",
         {{"name", "invoice" + rlo + "fdp.exe"}, {"size", 5}},
         "파일 이름에 쓸 수 없는 문자가 있습니다"},
    };
    for (const Case& c : cases) {
        const HttpAnswer a = post(c.path, c.body);
        EXPECT_EQ(a.status, 400) << c.path;
        EXPECT_EQ(a.body, c.refusal) << c.path;
    }
    // Over the chat connection, a file message's name follows the same rule.
    user.send(wire::FileRequest{"dm:01012340000:01012340000", "00000000000000000000000000000000",
                                "a" + rlo + "b", "5"});
    const auto error = user.nextMessage<wire::ServerError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text, "파일 이름에 쓸 수 없는 문자가 있습니다");
}

} // namespace
