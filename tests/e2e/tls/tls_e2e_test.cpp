// The Qt client against the real server over TLS: chat on QSslSocket, the lists and files over
// https, and the clear refusals when the server cannot be trusted or speaks the other way.

#include "client_under_test.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "http_request.h"
#include "main_window.h"
#include "room_session.h"
#include "server_harness.h"
#include "sidebar_controller.h"
#include "test_certificates.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kTlsFailed = QStringLiteral("보안 연결에 실패했습니다: ");

struct Window {
    Window(const QString& phone, const QString& nick, const ServerConfig& config)
        : controller(phone, nick, QStringLiteral(""), config, platform) {
        controller.showMain();
    }
    QString status() const { return controller.statusText(); }
    bool refreshLists() {
        Directory& directory = *controller.session().directory;
        if (!waitUntil([&] { return !directory.refreshing(); }))
            return false;
        QSignalSpy arrived(&directory, &Directory::listsChanged);
        directory.refresh();
        return waitUntil([&] { return arrived.count() > 0; });
    }

    FakePlatform platform;
    ClientUnderTest controller;
};

class TlsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(testCertificates().error, "");
        dir = makeTempDir();
        server = std::make_unique<ServerProcess>(dir, tlsServerArgs());
        config.chatPort = server->chatPort;
        config.httpPort = server->httpPort;
        config.tls = true;
        config.caFile = testCertificates().caFile;
    }
    void TearDown() override {
        server.reset();
        std::system(("rm -rf " + dir).c_str());
    }

    std::string dir;
    std::unique_ptr<ServerProcess> server;
    ServerConfig config;
};

TEST_F(TlsEndToEnd, TwoWindowsTalkOverTlsAndReadTheirListsOverHttps) {
    Window a(QStringLiteral("01000000001"), QStringLiteral("에이"), config);
    Window b(QStringLiteral("01000000002"), QStringLiteral("비"), config);
    // Signed in over TLS; the status line says so only until the lists come, so it is not what
    // is waited for.
    ASSERT_TRUE(a.controller.waitSignedIn()) << a.status().toStdString();
    ASSERT_TRUE(b.controller.waitSignedIn()) << b.status().toStdString();

    // The client's own https request, through the private CA.
    QString error;
    const auto added = api::request(
        config, QStringLiteral("POST"), QStringLiteral("/v1/friends/add"),
        QByteArray(R"({"my_phone":"01000000001","friend_phone":"01000000002","alias":""})"),
        QStringLiteral("application/json"), &error);
    ASSERT_TRUE(added) << error.toStdString();
    ASSERT_TRUE(a.refreshLists());
    ASSERT_EQ(a.controller.session().directory->friends().size(), 1);
    EXPECT_EQ(a.controller.session().directory->friends()[0].phone, "01000000002");

    a.controller.showSidebar(SidebarController::Mode::Friends);
    a.controller.session().sidebar->activateRow(0);
    ASSERT_EQ(a.controller.openRoomId(), "dm:01000000001:01000000002");
    QPlainTextEdit* composer = a.controller.composer();
    composer->setPlainText(QStringLiteral("안녕하세요"));
    QTest::keyClick(composer, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return b.status() == "새 메시지 · 에이: 안녕하세요"; }))
        << b.status().toStdString();
}

TEST_F(TlsEndToEnd, UntrustedServerAndPlainClientAreRefusedWithAClearText) {
    // Without the private CA the system's store knows nothing of the test's certificate.
    ServerConfig untrusted = config;
    untrusted.caFile.clear();
    Window refused(QStringLiteral("01000000003"), QStringLiteral("씨"), untrusted);
    ASSERT_TRUE(waitUntil([&] { return refused.status().contains(kTlsFailed); }))
        << refused.status().toStdString();
    EXPECT_TRUE(refused.status().startsWith(QStringLiteral("끊김: ")));
    QString error;
    EXPECT_FALSE(api::request(untrusted, QStringLiteral("GET"),
                              QStringLiteral("/v1/friends?phone=01000000003"), std::nullopt,
                              QString(), &error));
    EXPECT_TRUE(error.startsWith(kTlsFailed)) << error.toStdString();

    // A CA file that holds no certificate is said so, not taken as "trust everything".
    ServerConfig unreadable = config;
    unreadable.caFile = dir + "/no-such-ca.pem";
    Window noCa(QStringLiteral("01000000005"), QStringLiteral("이"), unreadable);
    ASSERT_TRUE(waitUntil([&] { return noCa.status().contains(kTlsFailed); }))
        << noCa.status().toStdString();

    // A plain client at the TLS port gets no further than a lost connection.
    ServerConfig plain = config;
    plain.tls = false;
    Window plainWindow(QStringLiteral("01000000004"), QStringLiteral("디"), plain);
    ASSERT_TRUE(waitUntil([&] { return plainWindow.status().startsWith("끊김: "); }))
        << plainWindow.status().toStdString();
    spin(300);
    EXPECT_NE(plainWindow.status(), "로그인 완료");
    EXPECT_TRUE(server->alive());
}

TEST_F(TlsEndToEnd, TlsClientAtAPlainServerIsRefused) {
    const std::string plainDir = makeTempDir();
    {
        ServerProcess plainServer(plainDir);
        ServerConfig tlsToPlain = config;
        tlsToPlain.chatPort = plainServer.chatPort;
        tlsToPlain.httpPort = plainServer.httpPort;
        Window w(QStringLiteral("01000000006"), QStringLiteral("오"), tlsToPlain);
        ASSERT_TRUE(waitUntil([&] { return w.status().startsWith("끊김: "); }))
            << w.status().toStdString();
        QString error;
        EXPECT_FALSE(api::request(tlsToPlain, QStringLiteral("GET"),
                                  QStringLiteral("/v1/friends?phone=01000000006"), std::nullopt,
                                  QString(), &error));
        EXPECT_TRUE(error.startsWith(kTlsFailed)) << error.toStdString();
        EXPECT_TRUE(plainServer.alive());
    }
    std::system(("rm -rf " + plainDir).c_str());
}

} // namespace
