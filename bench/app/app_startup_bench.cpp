// Start-up time and memory of the client with a stored sign-in and a local server, against
// an empty QMainWindow program started the same way in the same run.
//   app_startup_bench [ROUNDS] [BASELINE_PROBE]
// (QT_QPA_PLATFORM=offscreen unless a display is wanted). BASELINE_PROBE is app_startup_probe
// of an earlier build: it runs in the same rounds, and the client's cost over it is printed.

#include "fake_chat_server.h"
#include "fake_http_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Run {
    double shownMs = -1;
    long rssKiB = -1;
};

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Starts `program`, returns the time until it printed "shown" and the RSS it reported.
Run runProbe(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment) {
    Run run;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QEventLoop loop;
    QElapsedTimer clock;
    QByteArray output;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        output += process.readAllStandardOutput();
        if (run.shownMs < 0 && output.contains("shown\n"))
            run.shownMs = clock.nsecsElapsed() / 1e6;
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    clock.start();
    process.start(program, arguments);
    loop.exec();
    output += process.readAllStandardOutput();
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith("rss "))
            run.rssKiB = line.mid(4).toLong();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    if (run.shownMs < 0 || run.rssKiB < 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    const QString dir = QCoreApplication::applicationDirPath();
    const QString baselineProbe = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    // A local server: the reference server when it was built, else the test fakes.
    QTemporaryDir workDir;
    quint16 chatPort = 0;
    quint16 httpPort = 0;
    QProcess server;
    std::unique_ptr<brindlewick::test::FakeChatServer> fakeChat;
    std::unique_ptr<brindlewick::test::FakeHttpServer> fakeHttp;
    const QString serverPath = QStringLiteral(BRINDLEWICK_SERVER_PATH);
    const char* serverKind = "test fakes";
    if (!serverPath.isEmpty() && QFileInfo(serverPath).isExecutable()) {
        chatPort = freePort();
        httpPort = freePort();
        server.start(serverPath,
                     {"--chat-port", QString::number(chatPort), "--http-port",
                      QString::number(httpPort), "--data-dir", workDir.filePath("server-data")});
        server.waitForStarted();
        QThread::msleep(500);
        serverKind = "brindlewick-server";
    } else {
        fakeChat = std::make_unique<brindlewick::test::FakeChatServer>();
        fakeHttp = std::make_unique<brindlewick::test::FakeHttpServer>();
        fakeHttp->setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
        fakeHttp->setReply("GET", "/v1/rooms", {200, "[]", std::nullopt});
        chatPort = fakeChat->port();
        httpPort = fakeHttp->port();
    }

    // The stored sign-in, in a configuration folder of its own.
    const QString configHome = workDir.filePath("config");
    {
        QSettings stored(configHome + "/Brindlewick/Brindlewick.conf", QSettings::IniFormat);
        stored.setValue("phone", "01000000001");
        stored.setValue("nick", "벤치");
        stored.setValue("statusMsg", "");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    if (!environment.contains("QT_QPA_PLATFORM"))
        environment.insert("QT_QPA_PLATFORM", "offscreen");

    const QStringList clientArgs = {"--chat-port", QString::number(chatPort), "--http-port",
                                    QString::number(httpPort)};
    std::vector<double> emptyMs, labelMs, clientMs, emptyRss, labelRss, clientRss, baseMs, baseRss;
    // Alternate, so both see the same machine load and file cache.
    for (int i = 0; i < rounds + 1; ++i) {
        const Run empty = runProbe(dir + "/empty_window_probe", {}, environment);
        const Run label = runProbe(dir + "/empty_window_probe", {"--label"}, environment);
        // The earlier build goes first in every other round: neither gains from its place.
        const auto runBase = [&] {
            return baselineProbe.isEmpty() ? Run{0, 0}
                                           : runProbe(baselineProbe, clientArgs, environment);
        };
        const Run baseFirst = i % 2 ? runBase() : Run{0, 0};
        const Run client = runProbe(dir + "/app_startup_probe", clientArgs, environment);
        const Run base = i % 2 ? baseFirst : runBase();
        if (empty.shownMs < 0 || label.shownMs < 0 || client.shownMs < 0 || base.shownMs < 0)
            return 1;
        if (i == 0)
            continue; // warms the file cache
        emptyMs.push_back(empty.shownMs);
        labelMs.push_back(label.shownMs);
        labelRss.push_back(label.rssKiB / 1024.0);
        clientMs.push_back(client.shownMs);
        emptyRss.push_back(empty.rssKiB / 1024.0);
        clientRss.push_back(client.rssKiB / 1024.0);
        baseMs.push_back(base.shownMs);
        baseRss.push_back(base.rssKiB / 1024.0);
    }
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        server.waitForFinished(5000);
    }

    const double e = median(emptyMs), l = median(labelMs), c = median(clientMs);
    const double er = median(emptyRss), lr = median(labelRss), cr = median(clientRss);
    std::printf("server: %s, %d rounds, medians\n", serverKind, rounds);
    std::printf("start-up to shown window: empty QMainWindow %.1f ms, brindlewick %.1f ms, "
                "ratio %.2fx (aim <= 2x)\n",
                e, c, c / e);
    std::printf("  second baseline, the same window with one Korean label: %.1f ms, ratio %.2fx\n",
                l, c / l);
    std::printf("resident memory: empty QMainWindow %.1f MiB, brindlewick signed in %.1f MiB, "
                "ratio %.2fx (aim < 60 MiB)\n",
                er, cr, cr / er);
    std::printf("  second baseline, the same window with one Korean label: %.1f MiB\n", lr);
    if (!baselineProbe.isEmpty()) {
        const double b = median(baseMs), br = median(baseRss);
        std::printf("against the earlier build (%s): %.1f ms -> %.1f ms (%+.1f ms), "
                    "%.1f MiB -> %.1f MiB (%+.1f MiB)\n",
                    qPrintable(baselineProbe), b, c, c - b, br, cr, cr - br);
    }
    return 0;
}
