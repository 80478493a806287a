// Upload and download of a large file (transfer::upload, transfer::download), as a throughput
// ratio to the curl command-line tool moving the same bytes to the same local server in the same
// run, plus the peak resident memory of the process that does our transfer.
//
//   api_transfer_bench [--mib 256] [--rounds 3]
//
// Each transfer runs in its own process (curl, or this program with --client) so the memory
// figure belongs to the transfer alone.

#include "file_transfer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace transfer = brindlewick::transfer;
using brindlewick::ServerConfig;

namespace {

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One transfer; prints "<seconds> <peak KiB>".
int runClient(const QString& mode, quint16 port, const QString& path) {
    ServerConfig config;
    config.host = "127.0.0.1";
    config.httpPort = port;
    QString error;
    QElapsedTimer timer;
    timer.start();
    bool ok = false;
    if (mode == "upload")
        ok = !transfer::upload(config, path, nullptr, &error).isEmpty();
    else
        ok = transfer::download(config, "bench", path, &error);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!ok) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(mode), qPrintable(error));
        return 1;
    }
    std::printf("%.6f %ld\n", seconds, peakRssKiB());
    return 0;
}

struct Run {
    double seconds = 0;
    long peakKiB = 0;
};

Run runProcess(const QString& program, const QStringList& args, bool reportsItself) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    Run run{timer.nsecsElapsed() / 1e9, 0};
    if (reportsItself) {
        const QList<QByteArray> parts = p.readAllStandardOutput().simplified().split(' ');
        if (parts.size() == 2)
            run.peakKiB = parts[1].toLong();
    }
    return run;
}

void makeFile(const QString& path, qint64 mib) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    QByteArray block(1 << 20, '\0');
    for (qint64 i = 0; i < mib; ++i) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                              block.size() / 4);
        f.write(block);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == "--client")
        return runClient(args[2], quint16(args[3].toUInt()), args[4]);

    qint64 mib = 256;
    int rounds = 3;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--mib")
            mib = args[i + 1].toLongLong();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
    }

    QTemporaryDir dir;
    const QString source = dir.filePath("source.bin");
    const QString dest = dir.filePath("dest.bin");
    makeFile(source, mib);

    QProcess server;
    server.start(BENCH_SERVER_PATH, {source});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench server did not start\n");
        return 1;
    }
    const QString port = QString::fromLatin1(server.readLine().trimmed());
    const QString base = "http://127.0.0.1:" + port;

    Run curlUp{1e9, 0}, oursUp{1e9, 0}, curlDown{1e9, 0}, oursDown{1e9, 0};
    long oursUpPeak = 0, oursDownPeak = 0;
    auto best = [](Run& keep, const Run& r) {
        if (r.seconds < keep.seconds)
            keep.seconds = r.seconds;
    };
    for (int r = 0; r < rounds; ++r) {
        best(curlUp, runProcess("curl",
                                {"-sS", "-o", "/dev/null", "-H", "Expect:", "-T", source,
                                 base + "/v1/files/bench/chunks/0"},
                                false));
        Run up = runProcess(app.applicationFilePath(), {"--client", "upload", port, source}, true);
        best(oursUp, up);
        oursUpPeak = std::max(oursUpPeak, up.peakKiB);

        best(curlDown, runProcess("curl", {"-sS", "-o", dest, base + "/v1/files/bench"}, false));
        if (QFileInfo(dest).size() != mib << 20)
            std::fprintf(stderr, "curl download has the wrong size\n");
        QFile::remove(dest);
        Run down =
            runProcess(app.applicationFilePath(), {"--client", "download", port, dest}, true);
        if (QFileInfo(dest).size() != mib << 20)
            std::fprintf(stderr, "download has the wrong size\n");
        QFile::remove(dest);
        best(oursDown, down);
        oursDownPeak = std::max(oursDownPeak, down.peakKiB);
    }
    server.kill();
    server.waitForFinished();

    auto rate = [mib](const Run& r) { return double(mib) / r.seconds; };
    std::printf("file: %lld MiB, best of %d rounds, server: local Beast file store\n",
                static_cast<long long>(mib), rounds);
    std::printf("upload:   curl %7.1f MiB/s  ours %7.1f MiB/s  ratio %.2f (aim >= 0.8)\n",
                rate(curlUp), rate(oursUp), curlUp.seconds / oursUp.seconds);
    std::printf("download: curl %7.1f MiB/s  ours %7.1f MiB/s  ratio %.2f (aim >= 0.8)\n",
                rate(curlDown), rate(oursDown), curlDown.seconds / oursDown.seconds);
    std::printf("peak memory: download process %.1f MiB (aim < 64), upload process %.1f MiB\n",
                oursDownPeak / 1024.0, oursUpPeak / 1024.0);
    return 0;
}
