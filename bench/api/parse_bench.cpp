// parseFriendObjects on answers of 1,000 and 10,000 friends; the time per object of the larger
// answer as a ratio to the smaller one (aim: within 1.5, i.e. linear).

#include "directory.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace {

QString friendsAnswer(int count) {
    QString json = "{\"friends\":[";
    for (int i = 0; i < count; ++i) {
        if (i)
            json += ',';
        json +=
            QStringLiteral("{\"PhoneNumber\":\"010%1\",\"Nickname\":\"\\uD64D\\uAE38\\uB3D9 %1\","
                           "\"Alias\":\"\",\"StatusMessage\":\"오늘도 좋은 하루 \\\"%1\\\"\","
                           "\"ProfilePic\":\"pic-%1\"}")
                .arg(i, 8, 10, QChar('0'));
    }
    return json + "]}";
}

void BM_ParseFriendObjects(benchmark::State& state) {
    const QString json = friendsAnswer(int(state.range(0)));
    for (auto _ : state) {
        QList<brindlewick::FriendRecord> list = brindlewick::parseFriendObjects(json);
        benchmark::DoNotOptimize(list);
        if (list.size() != state.range(0))
            state.SkipWithError("wrong record count");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseFriendObjects)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Remembers the time per object of each run so main can print the ratio.
class Reporter : public benchmark::ConsoleReporter {
public:
    std::map<long, double> nsPerObject;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const long n =
                std::stol(run.benchmark_name().substr(run.benchmark_name().find('/') + 1));
            nsPerObject[n] = run.GetAdjustedRealTime() * 1000.0 / double(n); // time unit: us
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.nsPerObject.count(1000) && reporter.nsPerObject.count(10000)) {
        std::printf("per object: 1,000 friends %.0f ns, 10,000 friends %.0f ns, ratio %.2f "
                    "(aim <= 1.5)\n",
                    reporter.nsPerObject[1000], reporter.nsPerObject[10000],
                    reporter.nsPerObject[10000] / reporter.nsPerObject[1000]);
    }
    benchmark::Shutdown();
    return 0;
}
