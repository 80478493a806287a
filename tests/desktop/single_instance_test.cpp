// One client per user: a second start brings the running one forward and ends; a crash's lock
// and socket never keep the next start from running.

#include "app_delegate.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_controller.h"
#include "single_instance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMainWindow>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class OneInstance : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configDir.isValid());
        ASSERT_TRUE(runtimeDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
        settings().setValue("phone", "01011112222");
        http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, "[]", std::nullopt});
    }
    void TearDown() override {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static QSettings settings() {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Brindlewick",
                         "Brindlewick");
    }
    // The client as installed, with this test's settings, runtime folder and servers.
    void startClient(QProcess& client) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", configDir.path());
        environment.insert("XDG_RUNTIME_DIR", runtimeDir.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        client.setProcessEnvironment(environment);
        client.start(BRINDLEWICK_CLIENT_PATH,
                     {"--chat-port", QString::number(chat.port()), "--http-port",
                      QString::number(http.config().httpPort)});
    }
    QString key() const { return settings().fileName(); }

    QTemporaryDir configDir;
    QTemporaryDir runtimeDir;
    FakeChatServer chat;
    FakeHttpServer http;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(OneInstance, SecondStartRaisesTheFirstAndEnds) {
    ServerConfig config = http.config();
    config.chatPort = chat.port();
    delegate = std::make_unique<AppDelegate>(config, std::make_unique<FakePlatform>());
    SingleInstance first(key(), runtimeDir.path());
    ASSERT_TRUE(first.claim());
    QObject::connect(&first, &SingleInstance::raiseRequested, delegate.get(),
                     &AppDelegate::bringToFront);
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(chat.waitForConnection());
    QMainWindow* window = delegate->mainController()->window();
    window->hide(); // as in the tray

    QProcess second;
    startClient(second);
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(window->isVisible());
    // Never signed in twice.
    spin(200);
    EXPECT_EQ(chat.connectionCount(), 1);
}

TEST_F(OneInstance, ACrashedFirstLeavesNothingInTheWay) {
    QProcess crashed;
    startClient(crashed);
    ASSERT_TRUE(chat.waitForConnection(1, 15000)) << "the client never signed in";
    SingleInstance next(key(), runtimeDir.path());
    ASSERT_TRUE(QFileInfo::exists(next.socketPath()));
    crashed.kill();
    crashed.waitForFinished();
    // The socket and the lock stay behind.
    ASSERT_TRUE(QFileInfo::exists(next.socketPath()));
    ASSERT_TRUE(QFileInfo::exists(next.lockPath()));
    EXPECT_TRUE(next.claim());

    // And this one answers the start after it.
    int raised = 0;
    QObject::connect(&next, &SingleInstance::raiseRequested, [&] { ++raised; });
    QProcess second;
    startClient(second);
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(raised, 1);
}

// Anything but the one request is ignored, and a client talking nonsense does not stop others.
TEST_F(OneInstance, OnlyTheRequestRaises) {
    SingleInstance first(key(), runtimeDir.path());
    ASSERT_TRUE(first.claim());
    int raised = 0;
    QObject::connect(&first, &SingleInstance::raiseRequested, [&] { ++raised; });
    QLocalSocket noisy;
    noisy.connectToServer(first.socketPath());
    ASSERT_TRUE(noisy.waitForConnected(1000));
    noisy.write(QByteArray(1000, 'x'));
    QLocalSocket wrong;
    wrong.connectToServer(first.socketPath());
    ASSERT_TRUE(wrong.waitForConnected(1000));
    wrong.write("quit\n");
    spin(200);
    EXPECT_EQ(raised, 0);
    QProcess second;
    startClient(second);
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(raised, 1);
}

} // namespace
