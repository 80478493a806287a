// The longest stall of the main thread while the lists refresh from a server that takes 2 s to
// answer each request. Baseline: the longest gap of the same 5 ms timer while the window is
// idle, measured in the same run. The window must keep painting and receiving meanwhile.
//   QT_QPA_PLATFORM=offscreen refresh_stall_bench [DELAY_MS]

#include "../chat/bench_support.h"
#include "client_under_test.h"
#include "directory_service.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// Answers every request with an empty list after `delayMs`; one request per connection.
class SlowListServer {
public:
    explicit SlowListServer(int delayMs) : delayMs_(delayMs) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~SlowListServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    std::uint16_t port() const { return port_; }

private:
    void run() {
        while (!stop_) {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0)
                return;
            char buffer[4096];
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, std::size_t(n));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
            const std::string reply =
                "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n[]";
            ssize_t written = ::write(client, reply.data(), reply.size());
            (void)written;
            ::close(client);
        }
    }

    int delayMs_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Longest gap between ticks of a 5 ms timer while `done` is false.
template <typename Done> double longestGapMs(Done done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    while (!done())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return longest / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int delayMs = argc > 1 ? std::atoi(argv[1]) : 2000;

    SlowListServer server(delayMs);
    brindlewick::ServerConfig config;
    config.httpPort = server.port();
    config.chatPort = 1; // nothing listens: the chat connection fails and retries
    bench::QuietPlatform platform;
    brindlewick::test::ClientUnderTest controller(
        QStringLiteral("01000000000"), QStringLiteral("나"), QStringLiteral(""), config, platform);
    bool listed = false;
    QObject::connect(controller.session().directory.get(), &brindlewick::Directory::listsChanged,
                     [&] { listed = true; });
    // The first refresh comes with the window's first paint, which is measured elsewhere.
    controller.showMain();
    longestGapMs([&] { return listed; });

    QElapsedTimer idleClock;
    idleClock.start();
    const double idleGap = longestGapMs([&] { return idleClock.elapsed() > 1000; });

    listed = false;
    QElapsedTimer refreshClock;
    refreshClock.start();
    controller.session().directory->refresh();
    const double refreshGap = longestGapMs([&] { return listed; });
    const double refreshMs = refreshClock.nsecsElapsed() / 1e6;

    std::printf("list server answering after %d ms per request; refresh took %.0f ms\n", delayMs,
                refreshMs);
    std::printf("longest main-thread stall during the refresh: %.1f ms (aim < 50 ms)\n",
                refreshGap);
    std::printf("baseline, the same timer while idle: %.1f ms; ratio %.2f\n", idleGap,
                refreshGap / std::max(idleGap, 0.001));
    return refreshGap < 50 ? 0 : 1;
}
