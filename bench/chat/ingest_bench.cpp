// A server that sends 50,000 Chat frames for the open room as fast as the socket takes them; the
// window shows them. Prints messages per second shown, the longest stretch the main thread spent
// away from the event loop, and, as a baseline from the same run, the same texts appended to a
// bare QTextDocument.
//
//   ingest_bench [frames]

#include "bench_support.h"
#include "chat_protocol.h"
#include "client_under_test.h"
#include "main_window.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <functional>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

const QStringList kTexts = {
    QStringLiteral("안녕하세요"),
    QStringLiteral("오늘 회의는 세 시에 시작합니다. 자료는 공유 폴더에 올려 두었어요."),
    QStringLiteral("네 알겠습니다 👍"),
    QStringLiteral("점심 뭐 먹을까요? 근처에 새로 생긴 국숫집이 괜찮다던데"),
    QStringLiteral("ㅋㅋㅋ"),
};
const QStringList kSenders = {QStringLiteral("민수"), QStringLiteral("지영"),
                              QStringLiteral("하나"), QStringLiteral("서준")};

QString textAt(int i) {
    return kTexts[i % kTexts.size()] + QStringLiteral(" #%1").arg(i);
}

// Listens on a free port; after `go`, writes `bytes` as fast as the socket takes them and reads
// (and drops) whatever the client sends.
class FloodServer {
public:
    explicit FloodServer(std::string bytes) : bytes_(std::move(bytes)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        writer_ = std::thread([this] { run(); });
    }
    ~FloodServer() {
        go();
        writer_.join();
        if (reader_.joinable())
            reader_.join();
        ::close(listen_);
    }
    void go() {
        if (!started_.exchange(true))
            goPromise_.set_value();
    }
    quint16 port = 0;

private:
    void run() {
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0)
            return;
        reader_ = std::thread([fd] {
            char buf[65536];
            while (::read(fd, buf, sizeof buf) > 0) {
            }
        });
        goPromise_.get_future().wait();
        size_t off = 0;
        while (off < bytes_.size()) {
            const ssize_t n = ::send(fd, bytes_.data() + off, bytes_.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            off += size_t(n);
        }
        reader_.join();
        ::close(fd);
    }

    std::string bytes_;
    int listen_ = -1;
    std::thread writer_, reader_;
    std::promise<void> goPromise_;
    std::atomic<bool> started_{false};
};

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1000, atoi(argv[1])) : 50000;
    const QString room = QStringLiteral("r-bench");

    std::string flood = ChatProtocol::encodeType(2, {});
    for (int i = 0; i < count; ++i)
        flood += ChatProtocol::encodeType(
            5, {room.toStdString(), kSenders[i % kSenders.size()].toStdString(),
                textAt(i).toStdString(), "2024-05-06T07:08:09", std::to_string(i + 1), "x",
                i % 10 == 0 && i > 0 ? std::to_string(i) : ""});
    FloodServer server(flood);

    bench::QuietPlatform platform;
    ServerConfig config;
    config.chatPort = server.port;
    config.httpPort = closedPort(); // the lists fail fast and stay empty
    ClientUnderTest controller(QStringLiteral("01000000000"), QStringLiteral("벤치"),
                               QStringLiteral(""), config, platform);
    controller.showMain();
    controller.openRoom(room, QStringLiteral("벤치"));
    app.processEvents();
    const long rssBefore = bench::statusKiB("VmRSS:");

    // A call that posts itself again runs once per turn of the event loop (posted calls are not
    // starved by a busy socket, unlike zero timers): the gaps between its runs are the stretches
    // the main thread spent elsewhere.
    QElapsedTimer clock;
    qint64 lastBeat = 0, longestGap = 0;
    int beats = 0;
    bool beating = true;
    std::function<void()> beat = [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastBeat);
        lastBeat = now;
        ++beats;
        if (beating)
            QMetaObject::invokeMethod(&app, beat, Qt::QueuedConnection);
    };
    clock.start();
    QMetaObject::invokeMethod(&app, beat, Qt::QueuedConnection);
    server.go();
    QElapsedTimer deadline;
    deadline.start();
    // The transcript keeps its cap of entries; the newest one tells when all were shown.
    const QString lastId = QString::number(count);
    // An id lookup, cheap in every version of the transcript (its list of items is not).
    const auto shownLast = [&] { return controller.transcript().indexOfMsgId(lastId) >= 0; };
    while (!shownLast() && deadline.elapsed() < 300000)
        app.processEvents(QEventLoop::AllEvents, 50);
    controller.transcript().flush();
    const double seconds = clock.nsecsElapsed() / 1e9;
    beating = false;
    // The stretch still running when the last message was shown counts as well.
    longestGap = std::max(longestGap, clock.nsecsElapsed() - lastBeat);
    const long rssAfter = bench::statusKiB("VmRSS:");
    const qsizetype kept = controller.transcript().chatItems().size();
    const int shown = shownLast() ? count : 0;

    // Baseline: the same texts into a bare document, one insertText per message.
    QElapsedTimer bareClock;
    bareClock.start();
    {
        QTextDocument doc;
        QTextCursor cursor(&doc);
        for (int i = 0; i < count; ++i)
            cursor.insertText(kSenders[i % kSenders.size()] + QStringLiteral("  07:08\n") +
                              textAt(i) + QStringLiteral("\n"));
    }
    const double bareSeconds = bareClock.nsecsElapsed() / 1e9;

    std::printf("ingest: %d of %d messages shown in %.2f s: %.0f messages/s; %lld entries kept "
                "(cap %d)\n",
                shown, count, seconds, shown / seconds, static_cast<long long>(kept),
                controller.transcript().entryCap());
    std::printf("longest stretch away from the event loop: %.1f ms (aim < 100), %d turns\n",
                longestGap / 1e6, beats);
    std::printf("baseline, bare QTextDocument with the same texts: %.2f s (%.0f messages/s); "
                "window / baseline: %.1fx\n",
                bareSeconds, count / bareSeconds, seconds / bareSeconds);
    std::printf("memory: VmRSS %.1f MiB after (aim < 85), %.1f MiB before the messages\n",
                rssAfter / 1024.0, rssBefore / 1024.0);
    return shown == count ? 0 : 1;
}
