// The client process against an HTTP server whose answers never end: under a limit on its address
// space it stays alive and says so in its status line.

#include "chat_protocol.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "http_request.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Far above what the client needs (a few hundred MiB of address space, mostly thread stacks and
// malloc arenas), far below what an answer read without end reaches within the test's time.
constexpr qint64 kAddressSpaceBytes = 3LL * 1024 * 1024 * 1024;

// VmHWM of a process, from /proc; -1 when it cannot be read.
long peakResidentKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

TEST(HostileAnswers, ListsThatNeverEndLeaveTheClientAliveWithAStatus) {
    if (kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under an address-space "
                        "limit";
    const QString prlimit = QStandardPaths::findExecutable("prlimit");
    if (prlimit.isEmpty())
        GTEST_SKIP() << "needs prlimit (util-linux)";
    QTemporaryDir configDir;
    QTemporaryDir runtimeDir;
    ASSERT_TRUE(configDir.isValid() && runtimeDir.isValid());
    {
        QSettings settings(QDir(configDir.path()).filePath("Brindlewick/Brindlewick.conf"),
                           QSettings::IniFormat);
        settings.setValue("phone", "01011112222");
    }
    FakeChatServer chat;
    FakeHttpServer http;
    // A list without end, and an error whose text has none.
    http.setReply("GET", "/v1/friends", {200, {}, std::nullopt, true});
    http.setReply("GET", "/v1/rooms", {500, {}, std::nullopt, true});

    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configDir.path());
    environment.insert("XDG_RUNTIME_DIR", runtimeDir.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(prlimit,
                 {"--as=" + QString::number(kAddressSpaceBytes), "--",
                  BRINDLEWICK_STATUS_PROBE_PATH, "--server", "127.0.0.1", "--chat-port",
                  QString::number(chat.port()), "--http-port", QString::number(http.port())});
    ASSERT_TRUE(client.waitForStarted());
    const QByteArray expected =
        "status 목록을 불러오지 못했습니다: " + api::kTooLargeText.toUtf8() + "\n";
    QByteArray out;
    const bool shown = waitUntil(
        [&] {
            out += client.readAllStandardOutput();
            return out.contains(expected) || client.state() == QProcess::NotRunning;
        },
        120000);
    EXPECT_TRUE(shown && out.contains(expected)) << out.toStdString();
    ASSERT_EQ(client.state(), QProcess::Running) << "exit code " << client.exitCode();
    // What it held at its peak: the lists' cap, not what the server sent.
    const long peakKiB = peakResidentKiB(client.processId());
    EXPECT_GT(peakKiB, 0);
    EXPECT_LT(peakKiB, 1024 * 1024);
    // Still answering: a message for another room shows in the status line.
    ASSERT_TRUE(chat.waitForConnection());
    ASSERT_TRUE(chat.waitForFrames(1)); // Auth
    chat.sendFrame(MessageType::Chat, {"r-3", "준호", "안녕", "2024-05-06T07:08:09Z", "7"});
    EXPECT_TRUE(waitUntil(
        [&] {
            out += client.readAllStandardOutput();
            return out.contains("status 새 메시지 · 준호: 안녕\n") ||
                   client.state() == QProcess::NotRunning;
        },
        60000))
        << out.toStdString();
    EXPECT_EQ(client.state(), QProcess::Running);
    client.kill();
    client.waitForFinished();
}

} // namespace
