// A large file sent through the file button to the real server, measured three ways:
//  - the longest stretch the main thread spends away from its event loop during the upload,
//    seen as the largest gap between ticks of a 1 ms timer;
//  - the peak resident memory of the client process;
//  - the upload's throughput as a ratio to curl sending the same bytes with the same requests
//    (create, one PUT per 1 MiB chunk over one connection, complete) in the same run.
//
//   files_upload_bench [--mib 256] [--rounds 3]
//
// Each round starts a fresh server with an empty data folder. The client runs in its own
// process (this program with --client) so the memory figure belongs to it alone.

#include "client_under_test.h"
#include "file_actions.h"
#include "main_window.h"
#include "platform.h"
#include "room_session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

constexpr qint64 kChunk = 1048576;

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Answers the open panel with the file to send; everything else is silent.
class BenchPlatform : public Platform {
public:
    explicit BenchPlatform(QString path) : path_(std::move(path)) {}
    void beep() override {}
    void requestAttention() override {}
    bool isApplicationActive() const override { return true; }
    void postDesktopNotification(const QString&, const QString&, const QString&) override {}
    int runAlert(QWidget*, const QString& message, const QString& info,
                 const QStringList&) override {
        std::fprintf(stderr, "alert: %s %s\n", qPrintable(message), qPrintable(info));
        return kFirstButton;
    }
    AddFriendInput runAddFriendDialog(QWidget*) override { return {}; }
    QString runOpenPanel(QWidget*, const QString&) override { return path_; }
    QString runSavePanel(QWidget*, const QString&, const QString&) override { return {}; }
    void openUrl(const QUrl&) override {}
    void openFile(const QString&) override {}

private:
    QString path_;
};

// One upload through the controller; prints "<seconds> <longest gap ms> <peak KiB> <KiB before>".
int runClient(int argc, char** argv, quint16 chatPort, quint16 httpPort, const QString& path) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ServerConfig config;
    config.host = "127.0.0.1";
    config.chatPort = chatPort;
    config.httpPort = httpPort;
    BenchPlatform platform(path);
    ClientUnderTest controller("01099990000", "bench", "", config, platform);
    controller.showMain();
    controller.openRoom("memo:bench", "bench");
    // Let the window settle and the connection sign in before measuring.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        app.processEvents(QEventLoop::AllEvents, 50);
    const long before = peakRssKiB();

    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 longestGapNs = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    bool started = false;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0)
            longestGapNs = std::max(longestGapNs, now - lastTick);
        lastTick = now;
        if (started && !controller.uploading())
            app.quit();
    });
    QElapsedTimer upload;
    QTimer::singleShot(5, [&] {
        upload.start();
        controller.session().files->attachFile();
        started = true;
    });
    clock.start();
    heartbeat.start();
    app.exec();
    const double seconds = upload.nsecsElapsed() / 1e9;
    if (!controller.statusText().startsWith(QStringLiteral("업로드 완료: "))) {
        std::fprintf(stderr, "upload failed: %s\n", qPrintable(controller.statusText()));
        return 1;
    }
    std::printf("%.6f %.3f %ld %ld\n", seconds, longestGapNs / 1e6, peakRssKiB(), before);
    return 0;
}

struct Server {
    QProcess process;
    QTemporaryDir data;
    quint16 chatPort = 0;
    quint16 httpPort = 0;

    bool start() {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(BRINDLEWICK_SERVER_BINARY,
                      {"--chat-port", "0", "--http-port", "0", "--data-dir", data.path()});
        if (!process.waitForReadyRead(10000))
            return false;
        const QList<QByteArray> words = process.readLine().simplified().split(' ');
        if (words.size() != 4)
            return false;
        chatPort = quint16(words[1].toUInt());
        httpPort = quint16(words[3].toUInt());
        return chatPort && httpPort;
    }
    ~Server() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

double runCurl(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!out)
        p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    p.start("curl", args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "curl failed\n");
        std::exit(1);
    }
    if (out)
        *out = p.readAllStandardOutput();
    return timer.nsecsElapsed() / 1e9;
}

// The same three steps as the client, through curl: create, every chunk over one connection,
// complete.
double curlUpload(const Server& server, qint64 size, const QStringList& chunkFiles) {
    const QString base = QStringLiteral("http://127.0.0.1:%1/v1/files").arg(server.httpPort);
    const QString create =
        QStringLiteral(
            "{\"name\":\"big.bin\",\"size\":%1,\"content_type\":\"application/octet-stream\","
            "\"sha256\":\"\"}")
            .arg(size);
    QByteArray answer;
    double seconds = runCurl(
        {"-sS", "-f", "-H", "Content-Type: application/json", "--data-binary", create, base},
        &answer);
    const int at = answer.indexOf("\"id\":\"");
    const QString id = QString::fromLatin1(answer.mid(at + 6, 32));
    QStringList args = {"-sS",     "-f", "-H",
                        "Expect:", "-H", "Content-Type: application/octet-stream"};
    for (int i = 0; i < chunkFiles.size(); ++i)
        args << "-T" << chunkFiles[i] << QStringLiteral("%1/%2/chunks/%3").arg(base, id).arg(i);
    args << "--next"
         << "-sS"
         << "-f"
         << "-H"
         << "Content-Type: application/json"
         << "--data-binary"
         << "{}" << QStringLiteral("%1/%2/complete").arg(base, id);
    seconds += runCurl(args);
    return seconds;
}

struct Client {
    double seconds = 0;
    double gapMs = 0;
    long peakKiB = 0;
    long beforeKiB = 0;
};

Client ourUpload(const QString& self, const Server& server, const QString& path) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(self,
            {"--client", QString::number(server.chatPort), QString::number(server.httpPort), path});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "client failed\n");
        std::exit(1);
    }
    const QList<QByteArray> parts = p.readAllStandardOutput().simplified().split(' ');
    if (parts.size() != 4) {
        std::fprintf(stderr, "client printed nothing usable\n");
        std::exit(1);
    }
    return {parts[0].toDouble(), parts[1].toDouble(), parts[2].toLong(), parts[3].toLong()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && QByteArray(argv[1]) == "--client")
        return runClient(argc, argv, quint16(QByteArray(argv[2]).toUInt()),
                         quint16(QByteArray(argv[3]).toUInt()), QString::fromLocal8Bit(argv[4]));

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    qint64 mib = 256;
    int rounds = 3;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--mib")
            mib = args[i + 1].toLongLong();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
    }

    QTemporaryDir dir;
    const QString source = dir.filePath("big.bin");
    QStringList chunkFiles;
    {
        QFile whole(source);
        if (!whole.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
            return 1;
        }
        QByteArray block(kChunk, '\0');
        for (qint64 i = 0; i < mib; ++i) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                                  block.size() / 4);
            whole.write(block);
            chunkFiles << dir.filePath(QStringLiteral("chunk-%1").arg(i));
            QFile chunk(chunkFiles.last());
            if (!chunk.open(QIODevice::WriteOnly) || chunk.write(block) != block.size()) {
                std::fprintf(stderr, "cannot write chunks\n");
                return 1;
            }
        }
    }

    double curlBest = 1e9;
    Client best{1e9, 0, 0, 0};
    double worstGap = 0;
    long worstPeak = 0;
    long before = 0;
    for (int r = 0; r < rounds; ++r) {
        double curlRound = 0;
        {
            Server server;
            if (!server.start()) {
                std::fprintf(stderr, "server did not start\n");
                return 1;
            }
            curlRound = curlUpload(server, mib * kChunk, chunkFiles);
            curlBest = std::min(curlBest, curlRound);
        }
        Server server;
        if (!server.start()) {
            std::fprintf(stderr, "server did not start\n");
            return 1;
        }
        const Client c = ourUpload(app.applicationFilePath(), server, source);
        best.seconds = std::min(best.seconds, c.seconds);
        worstGap = std::max(worstGap, c.gapMs);
        worstPeak = std::max(worstPeak, c.peakKiB);
        before = std::max(before, c.beforeKiB);
        std::printf("round %d: curl %.2f s, ours %.2f s, longest main-thread stall %.1f ms, peak "
                    "%.1f MiB\n",
                    r + 1, curlRound, c.seconds, c.gapMs, c.peakKiB / 1024.0);
    }

    auto rate = [mib](double seconds) { return double(mib) / seconds; };
    std::printf("file: %lld MiB through the file button to brindlewick-server, best of %d rounds\n",
                static_cast<long long>(mib), rounds);
    std::printf("throughput: curl %.1f MiB/s, ours %.1f MiB/s, ratio %.2f\n", rate(curlBest),
                rate(best.seconds), curlBest / best.seconds);
    std::printf("longest main-thread stall during the upload: %.1f ms (aim < 50), worst round\n",
                worstGap);
    std::printf("client peak memory: %.1f MiB (aim < 100); %.1f MiB before the upload\n",
                worstPeak / 1024.0, before / 1024.0);
    return 0;
}
