#include "fake_http_server.h"
#include "file_transfer.h"
#include "http_request.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace brindlewick {
namespace {

using test::FakeHttpServer;
using test::HttpReply;

class HttpRequestTest : public ::testing::Test {
protected:
    std::optional<QByteArray> get(const QString& path, QString* error) {
        return api::request(server.config(), "GET", path, std::nullopt, QString(), error);
    }
    FakeHttpServer server;
};

TEST_F(HttpRequestTest, StatusAndBodyTable) {
    const struct {
        int status;
        QByteArray body;
        std::optional<QByteArray> result;
        QString error;
    } cases[] = {
        {200, "hello", QByteArray("hello"), {}},
        {201, "{\"id\":\"1\"}", QByteArray("{\"id\":\"1\"}"), {}},
        {204, {}, QByteArray(""), {}},
        {200, {}, QByteArray(""), {}},
        {299, "x", QByteArray("x"), {}},
        {404, {}, std::nullopt, "HTTP 404 "},
        {302, "moved", std::nullopt, "HTTP 302 moved"},
        {500, "서버 오류", std::nullopt, QString::fromUtf8("HTTP 500 서버 오류")},
        {500, "bad \xff\xfe utf-8", std::nullopt, "HTTP 500 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        server.setReply("GET", "/v1/x", HttpReply{c.status, c.body, std::nullopt});
        QString error = "untouched";
        const std::optional<QByteArray> got = get("/v1/x", &error);
        ASSERT_EQ(got.has_value(), c.result.has_value());
        if (got) {
            EXPECT_EQ(*got, *c.result);
        }
        // The slot is written only on failure.
        EXPECT_EQ(error, c.result ? QString("untouched") : c.error);
        // Without a slot the result is the same.
        EXPECT_EQ(get("/v1/x", nullptr).has_value(), c.result.has_value());
    }
}

TEST_F(HttpRequestTest, HeadersOfBodyAndBodylessRequests) {
    server.setReply("POST", "/v1/rooms", HttpReply{200, "{}", std::nullopt});
    server.setReply("PUT", "/v1/files/f/chunks/0", HttpReply{200, {}, std::nullopt});
    server.setReply("GET", "/v1/friends", HttpReply{200, "[]", std::nullopt});

    const QByteArray json = QString::fromUtf8(R"({"title":"메모"})").toUtf8();
    ASSERT_TRUE(
        api::request(server.config(), "POST", "/v1/rooms", json, "application/json", nullptr));
    ASSERT_TRUE(api::request(server.config(), "PUT", "/v1/files/f/chunks/0", QByteArray(""),
                             QString(), nullptr));
    ASSERT_TRUE(get("/v1/friends?phone=010", nullptr));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);

    const auto& post = requests[0];
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.body, json);
    EXPECT_EQ(post.headerValues("Content-Length"),
              QList<QByteArray>{QByteArray::number(json.size())});
    EXPECT_EQ(post.headerValues("Content-Type"), QList<QByteArray>{"application/json"});
    EXPECT_TRUE(post.headerValues("Expect").isEmpty());

    const auto& put = requests[1];
    EXPECT_EQ(put.method, "PUT");
    EXPECT_EQ(put.headerValues("Content-Length"), QList<QByteArray>{"0"});
    EXPECT_TRUE(put.headerValues("Content-Type").isEmpty());

    const auto& getRequest = requests[2];
    EXPECT_EQ(getRequest.method, "GET");
    EXPECT_EQ(getRequest.path, "/v1/friends");
    EXPECT_EQ(getRequest.query, "phone=010");
    EXPECT_TRUE(getRequest.headerValues("Content-Length").isEmpty());
    EXPECT_TRUE(getRequest.headerValues("Content-Type").isEmpty());
    EXPECT_TRUE(getRequest.body.isEmpty());
}

TEST_F(HttpRequestTest, ChunkSizedBodyArrivesWhole) {
    server.setReply("PUT", "/big", HttpReply{200, {}, std::nullopt});
    QByteArray body(transfer::kChunkSize, '\0');
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char(i * 7);
    ASSERT_TRUE(
        api::request(server.config(), "PUT", "/big", body, "application/octet-stream", nullptr));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, body);
}

TEST(HttpRequestTransport, RefusedConnectionAndBadAddressGiveATransportText) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    ServerConfig config;
    config.host = "127.0.0.1";
    config.httpPort = closedPort;
    QString error;
    EXPECT_FALSE(api::request(config, "GET", "/v1/x", std::nullopt, QString(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(error.startsWith("HTTP "));

    FakeHttpServer server;
    error.clear();
    EXPECT_FALSE(
        api::request(server.config(), "GET", "/v1/a b\r\nX: y", std::nullopt, QString(), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(HttpRequestTest, ManyThreadsAtOnce) {
    server.setReply("GET", "/v1/x", HttpReply{200, "ok", std::nullopt});
    std::atomic<int> okCount{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i)
                if (get("/v1/x", nullptr) == QByteArray("ok"))
                    ++okCount;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(okCount, 80);
}

TEST_F(HttpRequestTest, GetTextDecodesUtf8OrGivesNothing) {
    server.setReply("GET", "/text", HttpReply{200, "친구", std::nullopt});
    server.setReply("GET", "/empty", HttpReply{204, {}, std::nullopt});
    server.setReply("GET", "/binary", HttpReply{200, "\xc3\x28", std::nullopt});
    server.setReply("GET", "/gone", HttpReply{410, "gone", std::nullopt});
    EXPECT_EQ(api::getText(server.config(), "/text"), QString::fromUtf8("친구"));
    EXPECT_EQ(api::getText(server.config(), "/empty"), QString(""));
    EXPECT_EQ(api::getText(server.config(), "/binary"), std::nullopt);
    EXPECT_EQ(api::getText(server.config(), "/gone"), std::nullopt);
}

} // namespace
} // namespace brindlewick

namespace brindlewick {
namespace {

std::optional<QByteArray> getCapped(const ServerConfig& config, qint64 cap, QString* error) {
    api::Limits limits;
    limits.maxBodyBytes = cap;
    return api::request(config, "GET", "/v1/x", std::nullopt, QString(), error, limits);
}

TEST_F(HttpRequestTest, ABodyAnnouncedAboveTheCapIsRefused) {
    server.setReply("GET", "/v1/x", HttpReply{200, QByteArray(1000, 'p'), std::nullopt});
    const struct {
        qint64 cap;
        bool ok;
    } cases[] = {{0, true}, {1000, true}, {999, false}, {1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cap);
        QString error;
        const std::optional<QByteArray> got = getCapped(server.config(), c.cap, &error);
        EXPECT_EQ(got.has_value(), c.ok);
        EXPECT_EQ(error, c.ok ? QString() : api::kTooLargeText);
    }
}

TEST(HttpRequestBodyCap, ABodyWithoutALengthIsCutOffWhenItGrowsPastTheCap) {
    // A server that announces no length and streams until the connection closes.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    ServerConfig config;
    config.host = "127.0.0.1";
    config.httpPort = listener.serverPort();
    std::atomic<bool> done{false};
    std::thread client([&] {
        QString error;
        const std::optional<QByteArray> got = getCapped(config, 64 * 1024, &error);
        EXPECT_FALSE(got.has_value());
        EXPECT_EQ(error, api::kTooLargeText);
        done = true;
    });
    ASSERT_TRUE(listener.waitForNewConnection(10000));
    QTcpSocket* socket = listener.nextPendingConnection();
    socket->waitForReadyRead(10000);
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const QByteArray piece(16 * 1024, 'z');
    // Far more than the cap, unless the client hangs up first.
    for (int i = 0; i < 64 && !done && socket->state() == QAbstractSocket::ConnectedState; ++i) {
        socket->write(piece);
        socket->waitForBytesWritten(1000);
    }
    client.join();
    EXPECT_TRUE(done);
}

} // namespace
} // namespace brindlewick

namespace brindlewick {
namespace {

// Every answer has a cap by its kind, however much the server would send: kept lists and JSON
// api::Limits::kAnswerBytes unless the caller says otherwise, an error's text kErrorTextBytes.
TEST(HttpAnswerCaps, NoAnswerIsReadPastItsCap) {
    const QByteArray errorText(api::Limits::kErrorTextBytes, 'e');
    const struct {
        const char* name;
        HttpReply reply;
        qint64 maxBodyBytes;
        QString error; // empty: the answer arrives
    } cases[] = {
        {"list without end", {200, {}, std::nullopt, true}, 0, api::kTooLargeText},
        {"error without end", {500, {}, std::nullopt, true}, 0, api::kTooLargeText},
        {"error without end, small cap",
         {503, "busy ", std::nullopt, true},
         64 * 1024,
         api::kTooLargeText},
        {"answer without end, own cap",
         {200, {}, std::nullopt, true},
         64 * 1024,
         api::kTooLargeText},
        {"error text at its cap",
         {500, errorText, std::nullopt},
         0,
         "HTTP 500 " + QString::fromLatin1(errorText)},
        {"error text past its cap", {500, errorText + 'e', std::nullopt}, 0, api::kTooLargeText},
        {"answer at the default cap",
         {200, QByteArray(api::Limits::kAnswerBytes, 'a'), std::nullopt},
         0,
         {}},
        {"answer past the default cap",
         {200, QByteArray(api::Limits::kAnswerBytes + 1, 'a'), std::nullopt},
         0,
         api::kTooLargeText},
    };
    FakeHttpServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.setReply("GET", "/v1/x", c.reply);
        api::Limits limits{api::Limits::kTotalSeconds};
        limits.maxBodyBytes = c.maxBodyBytes;
        QString error;
        const std::optional<QByteArray> got =
            api::request(server.config(), "GET", "/v1/x", std::nullopt, QString(), &error, limits);
        EXPECT_EQ(got.has_value(), c.error.isEmpty());
        EXPECT_EQ(error, c.error);
    }
}

// A download streams to its file without a cap, but an error's text still has one.
TEST(HttpAnswerCaps, ADownloadsErrorTextStopsAtItsCap) {
    FakeHttpServer server;
    server.setReply("GET", "/v1/files/f1", {404, {}, std::nullopt, true});
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("saved.bin");
    QString error;
    EXPECT_FALSE(transfer::download(server.config(), "f1", target, &error));
    EXPECT_EQ(error, api::kTooLargeText);
    EXPECT_FALSE(QFile::exists(target));
}

} // namespace
} // namespace brindlewick
