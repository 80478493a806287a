// The HTTP port against hostile or unlucky clients, on the real process: who may call it,
// slow downloads, crashes around file completion, and abandoned uploads.

#include "server_harness.h"

#include <http_guard.h>
#include <sqlite_connection.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

using namespace brindlewick::test;
using nlohmann::json;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// A request exactly as written, on a socket of its own.
class RawClient {
public:
    // `receiveBuffer`: a small one makes the server's writes wait on this reader.
    explicit RawClient(std::uint16_t port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            ADD_FAILURE() << "connect failed";
    }
    ~RawClient() { ::close(fd_); }

    void send(const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // Up to `most` bytes within the time; empty at the end of the stream or on timeout.
    std::string read(std::size_t most, int timeoutMs = 10000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        std::string data(most, '\0');
        const ssize_t n = ::recv(fd_, data.data(), most, 0);
        data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return data;
    }

private:
    int fd_ = -1;
};

struct RawAnswer {
    int status = 0;
    std::string head;
    std::string body;
    std::size_t contentLength = 0;
};

// Reads one answer; the body stops at its length or where the server closed.
RawAnswer readAnswer(RawClient& client, const std::function<void(std::size_t)>& pace = nullptr) {
    RawAnswer answer;
    std::string data;
    std::size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        const std::string more = client.read(65536);
        if (more.empty())
            return answer;
        data += more;
    }
    answer.head = data.substr(0, end);
    answer.body = data.substr(end + 4);
    std::sscanf(answer.head.c_str(), "HTTP/1.1 %d", &answer.status);
    const std::size_t length = answer.head.find("Content-Length: ");
    if (length != std::string::npos)
        answer.contentLength = std::stoull(answer.head.substr(length + 16));
    while (answer.body.size() < answer.contentLength) {
        if (pace)
            pace(answer.body.size());
        const std::string more = client.read(64 * 1024);
        if (more.empty())
            break;
        answer.body += more;
    }
    return answer;
}

std::string request(const std::string& method, const std::string& path,
                    const std::vector<std::string>& headers, const std::string& body = {}) {
    std::string text = method + " " + path + " HTTP/1.1\r\n";
    for (const std::string& header : headers)
        text += header + "\r\n";
    if (method != "GET")
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "Connection: close\r\n\r\n" + body;
}

std::string pattern(std::size_t size, int seed) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        content[i] = static_cast<char>((i * 131 + seed) % 251 + 1);
    return content;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

class HttpHardeningTest : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    void start(const std::string& args = {}) {
        server.reset();
        Launch launch;
        launch.logFile = dir + "/server.log";
        server = std::make_unique<ServerProcess>(dir, args, launch);
    }
    std::string log() const { return readFile(dir + "/server.log"); }
    std::string files() const { return dir + "/files/"; }
    HttpAnswer post(const std::string& path, const json& body) {
        return http(server->httpPort, "POST", path, body.dump());
    }
    std::string create(std::int64_t size) {
        const HttpAnswer a = post("/v1/files", {{"name", "a.bin"}, {"size", size}});
        EXPECT_EQ(a.status, 200) << a.body;
        return json::parse(a.body, nullptr, false).value("id", "");
    }
    long chunk(const std::string& id, int index, const std::string& bytes) {
        return http(server->httpPort, "PUT", "/v1/files/" + id + "/chunks/" + std::to_string(index),
                    bytes)
            .status;
    }
    long complete(const std::string& id) {
        return http(server->httpPort, "POST", "/v1/files/" + id + "/complete", "{}").status;
    }
    // Sends `content` in MiB chunks; completes it when asked.
    std::string upload(const std::string& content, bool finish = true) {
        const std::string id = create(static_cast<std::int64_t>(content.size()));
        for (std::size_t at = 0, n = 0; at < content.size(); at += kMiB, ++n)
            EXPECT_EQ(chunk(id, static_cast<int>(n), content.substr(at, kMiB)), 200);
        if (finish) {
            EXPECT_EQ(complete(id), 200);
        }
        return id;
    }
    HttpAnswer download(const std::string& id) {
        return http(server->httpPort, "GET", "/v1/files/" + id);
    }

    std::string dir;
    std::unique_ptr<ServerProcess> server;
};

// Who may call the API: nothing a web page can send, by its headers alone.
TEST_F(HttpHardeningTest, RequestsAWebPageCouldSendAreRefused) {
    start("--http-host chat.example.org --http-host Files.Example.Org");
    const std::string port = std::to_string(server->httpPort);
    const std::string friends = "/v1/friends?phone=111";
    const std::string json = "Content-Type: application/json";
    const std::string addFriend = R"({"my_phone":"111","friend_phone":"222"})";
    struct Case {
        std::string what, method, path;
        std::vector<std::string> headers;
        std::string body;
        int status;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"listening address", "GET", friends, {"Host: 127.0.0.1:" + port}, "", 200, nullptr},
        {"localhost", "GET", friends, {"Host: localhost:" + port}, "", 200, nullptr},
        {"IPv6 loopback", "GET", friends, {"Host: [::1]:" + port}, "", 200, nullptr},
        {"a given name", "GET", friends, {"Host: chat.example.org"}, "", 200, nullptr},
        {"a given name, any case and port",
         "GET",
         friends,
         {"Host: FILES.example.org:443"},
         "",
         200,
         nullptr},
        {"rebound name",
         "GET",
         friends,
         {"Host: evil.example"},
         "",
         403,
         brindlewick::server::GuardText::kUnknownHost},
        {"rebound name with our port",
         "GET",
         friends,
         {"Host: evil.example:" + port},
         "",
         403,
         brindlewick::server::GuardText::kUnknownHost},
        {"a name that only starts like ours",
         "GET",
         friends,
         {"Host: chat.example.org.evil.example"},
         "",
         403,
         nullptr},
        {"our address on another port", "GET", friends, {"Host: 127.0.0.1:1"}, "", 403, nullptr},
        {"no port means 80", "GET", friends, {"Host: 127.0.0.1"}, "", 403, nullptr},
        {"no Host at all", "GET", friends, {}, "", 403, nullptr},
        {"bad port", "GET", friends, {"Host: 127.0.0.1:" + port + "x"}, "", 403, nullptr},
        {"foreign Origin",
         "GET",
         friends,
         {"Host: 127.0.0.1:" + port, "Origin: http://evil.example"},
         "",
         403,
         brindlewick::server::GuardText::kForeignPage},
        {"even our own Origin",
         "GET",
         friends,
         {"Host: 127.0.0.1:" + port, "Origin: http://127.0.0.1:" + port},
         "",
         403,
         nullptr},
        {"opaque Origin",
         "POST",
         "/v1/friends/add",
         {"Host: 127.0.0.1:" + port, "Origin: null", json},
         addFriend,
         403,
         nullptr},
        {"text/plain POST",
         "POST",
         "/v1/friends/add",
         {"Host: 127.0.0.1:" + port, "Content-Type: text/plain"},
         addFriend,
         415,
         brindlewick::server::GuardText::kNotJson},
        {"form POST",
         "POST",
         "/v1/files",
         {"Host: 127.0.0.1:" + port, "Content-Type: application/x-www-form-urlencoded"},
         R"({"name":"a","size":1})",
         415,
         nullptr},
        {"POST without a type",
         "POST",
         "/v1/rooms",
         {"Host: 127.0.0.1:" + port},
         R"({"phone":"111"})",
         415,
         nullptr},
        {"JSON that only looks alike",
         "POST",
         "/v1/friends/add",
         {"Host: 127.0.0.1:" + port, "Content-Type: application/jsonx"},
         addFriend,
         415,
         nullptr},
        // Accepted, then refused by the API itself: neither user exists.
        {"JSON with a charset",
         "POST",
         "/v1/friends/add",
         {"Host: 127.0.0.1:" + port, "Content-Type: Application/JSON; charset=utf-8"},
         addFriend,
         404,
         nullptr},
        {"chunk bytes stay bytes",
         "PUT",
         "/v1/files/0123456789abcdef0123456789abcdef/chunks/0",
         {"Host: 127.0.0.1:" + port, "Content-Type: application/octet-stream"},
         "x",
         404,
         nullptr},
    };
    for (const Case& c : cases) {
        RawClient client(server->httpPort);
        client.send(request(c.method, c.path, c.headers, c.body));
        const RawAnswer answer = readAnswer(client);
        EXPECT_EQ(answer.status, c.status) << c.what;
        if (c.text) {
            EXPECT_EQ(answer.body, c.text) << c.what;
        }
    }
    // Nothing refused reached the database.
    EXPECT_EQ(http(server->httpPort, "GET", "/v1/rooms?phone=111").body, "[]");
}

TEST(HttpGuard, HostsByListeningAddress) {
    using brindlewick::server::HttpGuard;
    struct Case {
        std::string listen, host;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {"0.0.0.0", "192.0.2.7:9001", true}, // any of the machine's addresses
        {"0.0.0.0", "localhost:9001", true},
        {"0.0.0.0", "[2001:db8::1]:9001", true},
        {"0.0.0.0", "evil.example:9001", false},
        {"0.0.0.0", "192.0.2.7:9002", false},
        {"192.0.2.7", "192.0.2.7:9001", true},
        {"192.0.2.7", "127.0.0.1:9001", false},
        {"192.0.2.7", "localhost:9001", false},
        {"::1", "[::1]:9001", true},
        {"::1", "[0:0::1]:9001", true},
        {"::1", "localhost:9001", true},
        {"::", "[2001:db8::1]:9001", true},
        {"127.0.0.1", "127.0.0.1:09001", true},
        {"127.0.0.1", "[::1:9001", false},
        {"127.0.0.1", ":9001", false},
        {"127.0.0.1", "127.0.0.1:", false},
        {"127.0.0.1", "127.0.0.1:99999999", false},
        {"127.0.0.1", "", false},
    };
    for (const Case& c : cases) {
        HttpGuard guard(c.listen, {});
        guard.setPort(9001);
        EXPECT_EQ(guard.hostAllowed(c.host), c.allowed) << c.listen << " " << c.host;
    }
    // Names as an operator may write them: with a port, in brackets, or a bare address.
    HttpGuard named("192.0.2.7", {"Chat.Example.org:443", "[2001:db8::5]", "2001:db8::6"});
    named.setPort(9001);
    for (const char* host :
         {"chat.example.org", "chat.example.org:8443", "[2001:db8::5]:1", "[2001:db8::6]"})
        EXPECT_TRUE(named.hostAllowed(host)) << host;
    for (const char* host : {"example.org", "[2001:db8::7]:9001", "chat.example.org:x"})
        EXPECT_FALSE(named.hostAllowed(host)) << host;
}

// A download that takes far longer than the idle time completes while it moves, and one
// that stops moving is cut and logged.
TEST_F(HttpHardeningTest, SlowDownloadCompletesAndStalledOneIsCutAndLogged) {
    start("--max-upload-bytes 20000000 --download-idle-timeout 1");
    // More than the kernel buffers on both sides, so the server's writes wait on the reader.
    const std::string content = pattern(10 * kMiB, 3);
    const std::string id = upload(content);
    const std::string get =
        request("GET", "/v1/files/" + id, {"Host: 127.0.0.1:" + std::to_string(server->httpPort)});

    const auto began = std::chrono::steady_clock::now();
    RawClient slow(server->httpPort, 64 * 1024);
    slow.send(get);
    // About 2.5 MiB/s: four seconds, four times the idle time.
    const RawAnswer whole = readAnswer(
        slow, [](std::size_t) { std::this_thread::sleep_for(std::chrono::milliseconds(25)); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body.size(), content.size());
    EXPECT_TRUE(whole.body == content);
    EXPECT_GT(seconds, 2.0); // it really outlasted the idle time

    RawClient stalled(server->httpPort, 64 * 1024);
    stalled.send(get);
    const RawAnswer cut = readAnswer(stalled, [](std::size_t received) {
        if (received >= kMiB && received < kMiB + 64 * 1024)
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    });
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.contentLength, content.size());
    EXPECT_LT(cut.body.size(), content.size());
    const std::string text = log();
    EXPECT_NE(text.find("download of " + id + " cut after"), std::string::npos) << text;
    EXPECT_NE(text.find("of " + std::to_string(content.size()) + " bytes"), std::string::npos);
}

// What a crash can leave on disk around a completion, arranged before a start: the database
// decides what is served, and nothing is served with bytes other than those committed.
TEST_F(HttpHardeningTest, LeftoversOfACrashAreRecoveredAtStart) {
    const std::string content = pattern(2 * kMiB + 10, 5);
    struct Case {
        std::string what;
        bool finished; // completed before the crash
        std::function<void(const std::string& part, const std::string& final)> arrange;
        long status;        // of the download after the start
        bool servesContent; // with exactly the uploaded bytes
        bool partRemains;
        long completion; // of a completion retried after the start; 0: not tried
    };
    const std::vector<Case> cases = {
        {"renamed, completion not committed", false,
         [](const std::string& part, const std::string& final) {
             std::rename(part.c_str(), final.c_str());
         },
         200, true, false, 200},
        {"renamed, then a sparse part of the recorded size", false,
         [](const std::string& part, const std::string& final) {
             std::rename(part.c_str(), final.c_str());
             std::ofstream(part).close();
             ::truncate(part.c_str(), 2 * kMiB + 10);
         },
         404, false, false, 404},
        // What an older server could leave: zeros where a vanished part file was recreated.
        {"renamed, with other bytes than the chunks recorded", false,
         [](const std::string& part, const std::string& final) {
             std::rename(part.c_str(), final.c_str());
             std::fstream(final, std::ios::in | std::ios::out | std::ios::binary)
                 << std::string(kMiB, '\0');
         },
         404, false, false, 404},
        {"renamed, but shorter than recorded", false,
         [](const std::string& part, const std::string& final) {
             std::rename(part.c_str(), final.c_str());
             ::truncate(final.c_str(), kMiB);
         },
         404, false, false, 404},
        {"part with bytes past the record", false,
         [](const std::string& part, const std::string&) {
             std::ofstream(part, std::ios::app) << "never committed";
         },
         404, false, true, 200},
        {"part with other bytes than the chunks recorded", false,
         [](const std::string& part, const std::string&) {
             std::fstream(part, std::ios::in | std::ios::out | std::ios::binary) << "zz";
         },
         404, false, true, 500},
        {"part shorter than the record", false,
         [](const std::string& part, const std::string&) { ::truncate(part.c_str(), 100); }, 404,
         false, false, 404},
        {"finished, then cut short on disk", true,
         [](const std::string&, const std::string& final) { ::truncate(final.c_str(), 10); }, 404,
         false, false, 0},
        // Same size, other bytes: the answer stops short of its end, so no client keeps it.
        {"finished, then zeros over its first MiB", true,
         [](const std::string&, const std::string& final) {
             std::fstream(final, std::ios::in | std::ios::out | std::ios::binary)
                 << std::string(kMiB, '\0');
         },
         0, false, false, 0},
        {"finished, with a stray part beside it", true,
         [](const std::string& part, const std::string&) { std::ofstream(part) << "stray"; }, 200,
         true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        const std::string id = upload(content, c.finished);
        server->kill();
        c.arrange(files() + id + ".part", files() + id);
        // Files no record explains: an upload whose creation was never committed.
        const std::string stray = "00112233445566778899aabbccddeeff";
        std::ofstream(files() + stray + ".part") << "orphan";
        std::ofstream(files() + stray) << "orphan";
        std::ofstream(files() + "notes.txt") << "not ours";
        start();
        const HttpAnswer got = download(id);
        EXPECT_EQ(got.status, c.status);
        EXPECT_FALSE(got.body.size() == content.size() && got.body != content)
            << "a whole file with other bytes";
        if (c.servesContent) {
            EXPECT_TRUE(got.body == content);
        }
        EXPECT_EQ(exists(files() + id + ".part"), c.partRemains);
        EXPECT_FALSE(exists(files() + stray + ".part"));
        EXPECT_FALSE(exists(files() + stray));
        EXPECT_TRUE(exists(files() + "notes.txt"));
        // A client that never saw its completion answered tries again: it finishes with
        // exactly the uploaded bytes, or not at all.
        if (c.completion != 0) {
            EXPECT_EQ(complete(id), c.completion);
            const HttpAnswer again = download(id);
            EXPECT_EQ(again.status, c.completion == 200 ? 200 : 404);
            if (c.completion == 200) {
                EXPECT_TRUE(again.body == content);
            }
        }
    }
}

// A file small enough to check before answering is refused outright when its bytes changed.
TEST_F(HttpHardeningTest, SmallFileWithOtherBytesIsNotServed) {
    start();
    const std::string id = upload("hello");
    server->stop();
    std::ofstream(files() + id) << "HELLO";
    start();
    const HttpAnswer got = download(id);
    EXPECT_EQ(got.status, 404);
    EXPECT_NE(log().find(id + " does not match its record"), std::string::npos);
}

// A database made before checksums were kept: its finished files stay served.
TEST_F(HttpHardeningTest, OlderDatabaseIsUpgradedAndItsFilesStayServed) {
    const std::string id = "0123456789abcdef0123456789abcdef";
    ::mkdir((dir + "/files").c_str(), 0700);
    {
        brindlewick::server::SqliteConnection db(dir + "/brindlewick.db");
        db.exec("CREATE TABLE files(id TEXT PRIMARY KEY, name TEXT NOT NULL DEFAULT '', "
                "declared_size INTEGER NOT NULL, received INTEGER NOT NULL DEFAULT 0, "
                "chunks INTEGER NOT NULL DEFAULT 0, complete INTEGER NOT NULL DEFAULT 0, "
                "created INTEGER NOT NULL)");
        db.exec("INSERT INTO files VALUES('" + id + "', 'old.txt', 5, 5, 1, 1, 1)");
        db.exec("INSERT INTO files VALUES('fedcba9876543210fedcba9876543210', 'b', 9, 0, 0, 0, " +
                std::to_string(std::time(nullptr) * 1000) + ")");
    }
    std::ofstream(files() + id) << "hello";
    start();
    const HttpAnswer got = download(id);
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "hello");
    // An upload begun before the upgrade goes on.
    EXPECT_EQ(chunk("fedcba9876543210fedcba9876543210", 0, "123456789"), 200);
    EXPECT_EQ(complete("fedcba9876543210fedcba9876543210"), 200);
    EXPECT_EQ(download("fedcba9876543210fedcba9876543210").body, "123456789");
}

TEST_F(HttpHardeningTest, AbandonedUploadsExpireWhileActiveOnesGoOn) {
    start("--upload-expiry 2");
    const std::string abandoned = create(10);
    EXPECT_EQ(chunk(abandoned, 0, "12345"), 200);
    ASSERT_TRUE(exists(files() + abandoned + ".part"));
    // A chunk every 300 ms keeps the other one alive past the expiry until the sweep, which
    // runs every second, has taken the abandoned one, however long that takes here.
    const int chunks = 100;
    const std::string active = create(chunks);
    int sent = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sent < chunks && (sent < 4 || log().find("unfinished upload") == std::string::npos) &&
           std::chrono::steady_clock::now() < until) {
        EXPECT_EQ(chunk(active, sent++, "x"), 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_NE(log().find("unfinished upload"), std::string::npos);
    while (sent < chunks)
        EXPECT_EQ(chunk(active, sent++, "x"), 200);
    EXPECT_EQ(chunk(abandoned, 1, "67890"), 404);
    EXPECT_FALSE(exists(files() + abandoned + ".part"));
    EXPECT_EQ(complete(abandoned), 404);
    EXPECT_EQ(complete(active), 200);
    EXPECT_EQ(download(active).body, std::string(chunks, 'x'));
}

TEST_F(HttpHardeningTest, UnfinishedUploadsAreCappedPerClient) {
    start("--max-pending-uploads 3");
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(create(5));
    const HttpAnswer refused = post("/v1/files", {{"name", "d"}, {"size", 5}});
    EXPECT_EQ(refused.status, 429);
    EXPECT_FALSE(refused.body.empty());
    // A finished one no longer counts.
    EXPECT_EQ(chunk(ids[0], 0, "abcde"), 200);
    EXPECT_EQ(complete(ids[0]), 200);
    EXPECT_EQ(post("/v1/files", {{"name", "e"}, {"size", 5}}).status, 200);
    EXPECT_EQ(post("/v1/files", {{"name", "f"}, {"size", 5}}).status, 429);
}

TEST_F(HttpHardeningTest, OnlyReceivedBytesCountAgainstFreeSpace) {
    start("--max-upload-bytes 4611686018427387903 --max-pending-uploads 200");
    struct statvfs info {};
    ASSERT_EQ(::statvfs(dir.c_str(), &info), 0);
    const auto free = static_cast<std::int64_t>(info.f_bavail * info.f_frsize);
    EXPECT_EQ(post("/v1/files", {{"name", "big"}, {"size", free * 3}}).status, 507);
    // Many promises of more than half the disk that never send a byte hold no space: a small
    // file after them still fits.
    for (int i = 0; i < 166; ++i)
        ASSERT_EQ(post("/v1/files", {{"name", "big"}, {"size", free / 10 * 6}}).status, 200) << i;
    EXPECT_EQ(post("/v1/files", {{"name", "small"}, {"size", 1000}}).status, 200);
}

} // namespace
