#include "fake_http_server.h"
#include "file_transfer.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace brindlewick {
namespace {

using test::FakeHttpServer;
using test::HttpReply;
using test::RecordedRequest;

constexpr qint64 kMiB = transfer::kChunkSize;

QByteArray pattern(qint64 size) {
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 131) >> 3);
    return bytes;
}

class FileTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.setReply("POST", "/v1/files", ok(R"({"ok":true,"id":"f1"})"));
        server.setReply("POST", "/v1/files/f1/complete", ok("{}"));
        for (int i = 0; i < 4; ++i)
            server.setReply("PUT", QString("/v1/files/f1/chunks/%1").arg(i), ok({}));
    }

    static HttpReply ok(const QByteArray& body) { return HttpReply{200, body, std::nullopt}; }

    QString writeFile(const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return f.fileName();
    }

    QString upload(const QString& path, QString* error, QList<int>* progress = nullptr) {
        transfer::Progress cb;
        if (progress)
            cb = [progress](int p) { progress->append(p); };
        return transfer::upload(server.config(), path, cb, error);
    }

    QByteArray fileContent(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QStringList filesInDir() { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;
    FakeHttpServer server;
};

TEST_F(FileTransferTest, UploadChunkSequenceAndProgress) {
    const struct {
        qint64 size;
        QList<qint64> chunks;
        QList<int> progress;
    } cases[] = {
        {0, {}, {100}},
        {1, {1}, {100, 100}},
        {kMiB, {kMiB}, {100, 100}},
        {kMiB + 1, {kMiB, 1}, {99, 100, 100}},
        {kMiB * 5 / 2, {kMiB, kMiB, kMiB / 2}, {40, 80, 100, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        server.clearRequests();
        const QByteArray content = pattern(c.size);
        const QString path = writeFile("data.bin", content);
        QString error = "stale";
        QList<int> progress;
        EXPECT_EQ(upload(path, &error, &progress), "f1");
        EXPECT_TRUE(error.isNull());
        EXPECT_EQ(progress, c.progress);

        const std::vector<RecordedRequest> requests = server.requests();
        ASSERT_EQ(requests.size(), std::size_t(c.chunks.size() + 2));
        EXPECT_EQ(requests.front().body,
                  QByteArray(R"({"name":"data.bin","size":)") + QByteArray::number(c.size) +
                      R"(,"content_type":"application/octet-stream","sha256":""})");
        EXPECT_EQ(requests.front().headerValues("Content-Type"),
                  QList<QByteArray>{"application/json"});
        QByteArray reassembled;
        for (int i = 0; i < c.chunks.size(); ++i) {
            const RecordedRequest& chunk = requests[std::size_t(i) + 1];
            EXPECT_EQ(chunk.method, "PUT");
            EXPECT_EQ(chunk.path, QString("/v1/files/f1/chunks/%1").arg(i));
            EXPECT_EQ(chunk.body.size(), c.chunks[i]);
            EXPECT_EQ(chunk.headerValues("Content-Type"),
                      QList<QByteArray>{"application/octet-stream"});
            reassembled += chunk.body;
        }
        EXPECT_EQ(reassembled, content);
        EXPECT_EQ(requests.back().method, "POST");
        EXPECT_EQ(requests.back().path, "/v1/files/f1/complete");
        EXPECT_EQ(requests.back().body, "{}");
    }
}

TEST_F(FileTransferTest, UploadWithoutCallbackSendsTheSame) {
    const QString path = writeFile("x", pattern(kMiB + 1));
    EXPECT_EQ(upload(path, nullptr), "f1");
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(FileTransferTest, UploadNameIsEscapedInTheCreateBody) {
    const QString path = writeFile(QString::fromUtf8("메모 \"1\" \\ %1%2\x01.txt"), "abc");
    ASSERT_EQ(upload(path, nullptr), "f1");
    EXPECT_EQ(server.requests().front().body,
              QString::fromUtf8(R"({"name":"메모 \"1\" \\ %1%2\u0001.txt","size":3,)"
                                R"("content_type":"application/octet-stream","sha256":""})")
                  .toUtf8());
}

TEST_F(FileTransferTest, FileIdIsEncodedInPaths) {
    const struct {
        QByteArray answer;
        QString fileId;
        QString base;
    } cases[] = {
        {R"({"id":"a/../b"})", "a/../b", "/v1/files/a%2F..%2Fb"},
        {R"({"id":".."})", "..", "/v1/files/%2E%2E"},
        {R"({"id":"x?y#z"})", "x?y#z", "/v1/files/x%3Fy%23z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileId.toStdString());
        server.clearRequests();
        server.setReply("POST", "/v1/files", ok(c.answer));
        server.setReply("PUT", c.base + "/chunks/0", ok({}));
        server.setReply("POST", c.base + "/complete", ok({}));
        server.setReply("GET", c.base, ok("content"));
        EXPECT_EQ(upload(writeFile("one", "1"), nullptr), c.fileId);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_EQ(requests[1].path, c.base + "/chunks/0");
        EXPECT_EQ(requests[2].path, c.base + "/complete");

        const QString to = dir.filePath("got");
        EXPECT_TRUE(transfer::download(server.config(), c.fileId, to, nullptr));
        EXPECT_EQ(fileContent(to), "content");
    }
}

TEST_F(FileTransferTest, UploadFailureTexts) {
    const QString small = writeFile("small", pattern(kMiB + 1));
    const struct {
        const char* name;
        QString path;
        std::function<void(FakeHttpServer&)> script;
        QString error;
        std::size_t requests;
    } cases[] = {
        {"no path", QString(), nullptr, QString::fromUtf8("경로 없음"), 0},
        {"create refused", small,
         [](FakeHttpServer& s) {
             s.setReply("POST", "/v1/files", HttpReply{503, "busy", std::nullopt});
         },
         "HTTP 503 busy", 1},
        {"numeric id", small,
         [](FakeHttpServer& s) { s.setReply("POST", "/v1/files", ok(R"({"id":7})")); },
         QString::fromUtf8("file id 없음"), 1},
        {"empty id", small,
         [](FakeHttpServer& s) { s.setReply("POST", "/v1/files", ok(R"({"id":""})")); },
         QString::fromUtf8("file id 없음"), 1},
        {"answer not UTF-8", small,
         [](FakeHttpServer& s) { s.setReply("POST", "/v1/files", ok("{\"id\":\"\xff\"}")); },
         QString::fromUtf8("file id 없음"), 1},
        {"file cannot be opened", dir.filePath("missing"), nullptr,
         QString::fromUtf8("파일 열기 실패"), 1},
        {"second chunk refused", small,
         [](FakeHttpServer& s) {
             s.setReply("PUT", "/v1/files/f1/chunks/1",
                        HttpReply{507, "디스크 부족", std::nullopt});
         },
         QString::fromUtf8("HTTP 507 디스크 부족"), 3},
        {"complete refused", small,
         [](FakeHttpServer& s) {
             s.setReply("POST", "/v1/files/f1/complete", HttpReply{409, {}, std::nullopt});
         },
         "HTTP 409 ", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        server.clearRequests();
        if (c.script)
            c.script(server);
        QString error;
        QList<int> progress;
        EXPECT_TRUE(upload(c.path, &error, &progress).isEmpty());
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(server.requests().size(), c.requests);
        EXPECT_LT(progress.count(100), 2); // the closing 100 only comes after completion
    }
}

TEST_F(FileTransferTest, UploadToAClosedPortGivesTheTransportText) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    ServerConfig config = server.config();
    config.httpPort = closedPort;
    QString error;
    EXPECT_TRUE(transfer::upload(config, writeFile("a", "1"), nullptr, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(transfer::download(config, "f1", dir.filePath("b"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("b")));
}

TEST_F(FileTransferTest, DownloadWritesTheWholeBody) {
    const QByteArray content = pattern(3 * kMiB + 17);
    server.setReply("GET", "/v1/files/abc", ok(content));
    const QString to = writeFile("dest", "old");
    QString error = "stale";
    EXPECT_TRUE(transfer::download(server.config(), "abc", to, &error));
    EXPECT_TRUE(error.isNull());
    EXPECT_EQ(fileContent(to), content);
    EXPECT_EQ(filesInDir(), QStringList{"dest"});

    server.setReply("GET", "/v1/files/empty", ok({}));
    EXPECT_TRUE(transfer::download(server.config(), "empty", to, &error));
    EXPECT_EQ(fileContent(to), "");
}

TEST_F(FileTransferTest, DownloadFailuresLeaveTheDestinationAlone) {
    server.setReply("GET", "/v1/files/missing", HttpReply{404, {}, std::nullopt});
    server.setReply("GET", "/v1/files/broken", HttpReply{500, "저장소 오류", std::nullopt});
    server.setReply("GET", "/v1/files/cut", HttpReply{200, pattern(2 * kMiB), kMiB});
    const struct {
        const char* name;
        QString fileId;
        QString to;
        QString error; // empty: any transport text
        std::size_t requests;
    } cases[] = {
        {"no id", "", "dest", QString::fromUtf8("인자 없음"), 0},
        {"no path", "abc", "", QString::fromUtf8("인자 없음"), 0},
        {"not found", "missing", "dest", "HTTP 404 ", 1},
        {"server error", "broken", "dest", QString::fromUtf8("HTTP 500 저장소 오류"), 1},
        {"connection drops halfway", "cut", "dest", QString(), 1},
        {"folder missing", "cut", "no/such/dir/dest", QString::fromUtf8("저장 실패"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.clearRequests();
        const QString dest = writeFile("dest", "precious");
        const QString to = c.to.isEmpty() ? QString() : dir.filePath(c.to);
        QString error;
        EXPECT_FALSE(transfer::download(server.config(), c.fileId, to, &error));
        if (c.error.isEmpty()) {
            EXPECT_FALSE(error.isEmpty());
            EXPECT_FALSE(error.startsWith("HTTP"));
        } else {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_EQ(server.requests().size(), c.requests);
        EXPECT_EQ(fileContent(dest), "precious");
        EXPECT_EQ(filesInDir(), QStringList{"dest"}); // no temporary file left behind
    }
}

} // namespace
} // namespace brindlewick
