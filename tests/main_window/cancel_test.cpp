// Cancelling transfers: a transfer stuck on a server that stops answering ends at once when the
// user's transfers are cancelled or the window goes, and a cancelled save leaves nothing behind.

#include "chat_protocol.h"
#include "client_under_test.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_platform.h"
#include "file_actions.h"
#include "files_fixture.h"
#include "main_window.h"
#include "room_session.h"
#include "transcript_view.h"
#include "transfers.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace brindlewick::test {
namespace {

// Answers the upload's first request, then stalls: a chunk is never answered and a download
// stops after the first bytes of its body. Runs on the test's thread (the transfers run on
// their own), so the test's waits serve it.
class StallingServer : public QObject {
public:
    StallingServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                sockets_.append(socket);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    // "POST /v1/files", "PUT /v1/files/s1/chunks/0", ... as the requests arrived.
    QStringList requests;

private:
    void read(QTcpSocket* socket) {
        QByteArray& buffer = buffers_[socket];
        if (buffer.contains("\r\n\r\n"))
            return; // a body being sent; never answered
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = buffer.left(buffer.indexOf("\r\n")).split(' ');
        const QString request = QString::fromUtf8(line.value(0) + ' ' + line.value(1));
        requests << request;
        if (request == "POST /v1/files") {
            const QByteArray body = R"({"id":"s1"})";
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        } else if (request.startsWith("GET ")) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" +
                          QByteArray(100, 'n'));
        }
    }

    QTcpServer server_;
    QList<QPointer<QTcpSocket>> sockets_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

class CancelTransfers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ServerConfig config;
        config.host = "127.0.0.1";
        config.httpPort = stalling.port();
        config.chatPort = chat.port();
        controller = std::make_unique<ClientUnderTest>("01011112222", "민지", "", config, platform);
        controller->showMain();
        ASSERT_TRUE(chat.waitForConnection());
        // Files wait for the sign-in before their upload starts.
        ASSERT_TRUE(waitUntil([&] { return !chat.framesOfType(MessageType::Auth).empty(); }));
        chat.sendFrame(MessageType::AuthOk, {});
        ASSERT_TRUE(controller->waitSignedIn());
        controller->openRoom("room", "방");
        QFile old(destination());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }

    QString destination() const { return dir.filePath("받을 파일.bin"); }
    QStringList partFiles() const {
        return QDir(dir.path()).entryList({"*.part"}, QDir::Files | QDir::Hidden);
    }
    QByteArray destinationContents() const {
        QFile file(destination());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    // An upload stuck on its first chunk and a save stuck in its body.
    void startStalledTransfers() {
        const QString source = dir.filePath("보낼 파일.bin");
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(300 * 1024, 'u'));
        file.close();
        platform.openPanelAnswers = {source};
        platform.savePanelAnswers = {destination()};
        controller->attachFile();
        controller->session().files->saveFile("s2", "받을 파일.bin");
        ASSERT_TRUE(waitUntil(
            [&] {
                return stalling.requests.contains("PUT /v1/files/s1/chunks/0") &&
                       stalling.requests.contains("GET /v1/files/s2");
            },
            10000))
            << stalling.requests.join(", ").toStdString();
        // The first bytes of the download are written.
        spin(50);
        ASSERT_TRUE(controller->uploading());
        ASSERT_EQ(controller->session().transfers->running(), 2);
    }

    StallingServer stalling;
    FakeChatServer chat;
    FakePlatform platform;
    QTemporaryDir dir;
    std::unique_ptr<ClientUnderTest> controller;
};

TEST_F(CancelTransfers, CancellingAllEndsBothWithTheCancelledError) {
    startStalledTransfers();
    platform.clear();
    // Both end in either order, each leaving its own status.
    StatusRecorder recorder(controller->window()->findChild<QLabel*>("statusLabel"));
    controller->session().transfers->cancelAll();
    ASSERT_TRUE(waitUntil([&] { return controller->session().transfers->running() == 0; }));

    EXPECT_FALSE(controller->uploading());
    EXPECT_TRUE(recorder.texts.contains("업로드 실패: 취소됨"))
        << recorder.texts.join(" | ").toStdString();
    EXPECT_FALSE(controller->transcript().plainText().contains("업로드"));
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "다운로드 실패");
    EXPECT_EQ(platform.alerts[0].informativeText, "취소됨");
    EXPECT_TRUE(platform.openedFiles.isEmpty());
    EXPECT_TRUE(partFiles().isEmpty());
    EXPECT_EQ(destinationContents(), "old contents");
    EXPECT_TRUE(chat.framesOfType(MessageType::FileMeta).empty());
    EXPECT_FALSE(stalling.requests.contains("POST /v1/files/s1/complete"));
}

TEST_F(CancelTransfers, ClosingTheWindowEndsThemAndReportsNothing) {
    startStalledTransfers();
    platform.clear();
    controller.reset(); // returns once the workers are done
    spin(50);
    EXPECT_TRUE(platform.calls.isEmpty());
    EXPECT_TRUE(partFiles().isEmpty());
    EXPECT_EQ(destinationContents(), "old contents");
    EXPECT_TRUE(chat.framesOfType(MessageType::FileMeta).empty());
}

} // namespace
} // namespace brindlewick::test
