// Load for brindlewick-server: 1,000 signed-in connections in 100 rooms of 10, messages at a
// rising rate. Per offered rate it prints deliveries per second, p50/p99 delivery latency,
// deliveries lost, the server's CPU time per 1,000 deliveries (utime+stime from /proc) and this
// load generator's own CPU share, then the knee: the highest rate with p99 under 50 ms and
// nothing lost. Afterwards every sent message must be in the server's database. The baseline is
// a frame echoed over loopback by this process, measured in the same run; with --baseline BINARY
// another build of the server runs the same load, and each step is also shown as a ratio
// against it.
//
//   server_load [--users 1000] [--room-size 10] [--seconds-per-step 6]
//               [--rates 1000,2000,5000,...,30000] [--baseline /path/to/older/brindlewick-server]
//               [--rounds 1] [--give-up-after 2]
//
// With --rounds N the two servers take turns N times and each step's median over the rounds
// counts, so that load from elsewhere on the machine hits both alike. A server that fails
// --give-up-after steps in a row (p99 over 50 ms or deliveries lost) skips its higher rates:
// its backlog would only spill into them.

#include "load_figures.h"

#include <messages.h>

#include <boost/asio.hpp>
#include <curl/curl.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace brindlewick;
namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

using brindlewick::bench::percentileMs;
using brindlewick::bench::processCpuSeconds;

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

struct Stage {
    int rate = 0;
    std::int64_t sent = 0;
    std::int64_t delivered = 0;
    std::vector<std::int64_t> latencyNs;
};

struct Connection {
    tcp::socket socket;
    std::string phone;
    std::string room;
    std::string inbox;
    std::array<char, 65536> chunk{};
    std::string pending; // frames queued while a write is under way go out in the next one
    std::string writing;
    bool signedIn = false;
    explicit Connection(asio::io_context& io) : socket(io) {}
};

std::vector<Stage> stages;
std::int64_t totalDelivered = 0;
int signedInCount = 0;

void writeMore(Connection& c) {
    if (!c.writing.empty() || c.pending.empty())
        return;
    c.writing.swap(c.pending);
    asio::async_write(c.socket, asio::buffer(c.writing),
                      [&c](boost::system::error_code ec, std::size_t) {
                          c.writing.clear();
                          if (!ec)
                              writeMore(c);
                      });
}

template <typename Message> void send(Connection& c, const Message& message) {
    ChatProtocol::encodeTypeInto(c.pending, Message::kType, message.encode());
    writeMore(c);
}

void readMore(Connection& c) {
    c.socket.async_read_some(
        asio::buffer(c.chunk), [&c](boost::system::error_code ec, std::size_t n) {
            if (ec) {
                std::fprintf(stderr, "connection %s closed: %s\n", c.phone.c_str(),
                             ec.message().c_str());
                return;
            }
            c.inbox.append(c.chunk.data(), n);
            const std::int64_t now = nowNs();
            ChatProtocol::consumeBuffer(c.inbox, [&](std::uint8_t type, const FieldList& f) {
                if (type == MessageType::AuthOk && !c.signedIn) {
                    c.signedIn = true;
                    ++signedInCount;
                } else if (type == MessageType::Chat && f.size() > 2) {
                    // Text (the third field): "<stage> <send time in ns>"
                    int stage = 0;
                    long long sentAt = 0;
                    if (std::sscanf(f[2].c_str(), "%d %lld", &stage, &sentAt) == 2 && stage >= 0 &&
                        stage < int(stages.size())) {
                        stages[stage].delivered++;
                        stages[stage].latencyNs.push_back(now - sentAt);
                        ++totalDelivered;
                    }
                } else if (const auto e = type == MessageType::ServerError
                                              ? wire::ServerError::decode(f)
                                              : std::nullopt) {
                    std::fprintf(stderr, "server error: %s\n", e->text.c_str());
                }
            });
            readMore(c);
        });
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::string httpPost(std::uint16_t port, const std::string& path, const std::string& body) {
    std::string answer;
    CURL* curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

long serverPeakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Baseline: one frame to an echo on this process's own loop and back, p50/p99 over 2,000 trips.
void baselineEcho(double& p50, double& p99) {
    asio::io_context io;
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    tcp::socket server(io), client(io);
    client.connect(acceptor.local_endpoint());
    acceptor.accept(server);
    client.set_option(tcp::no_delay(true));
    server.set_option(tcp::no_delay(true));
    std::thread echo([&] {
        std::array<char, 4096> buf;
        boost::system::error_code ec;
        for (;;) {
            const std::size_t n = server.read_some(asio::buffer(buf), ec);
            if (ec)
                return;
            asio::write(server, asio::buffer(buf.data(), n), ec);
        }
    });
    std::vector<std::int64_t> trips;
    const std::string frame = wire::encodeFrame(wire::ChatRequest{"room", "0 123456789", ""});
    std::string back(frame.size(), '\0');
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t t0 = nowNs();
        asio::write(client, asio::buffer(frame));
        asio::read(client, asio::buffer(back));
        trips.push_back(nowNs() - t0);
    }
    client.close();
    echo.join();
    p50 = percentileMs(trips, 0.5);
    p99 = percentileMs(trips, 0.99);
}

double ownCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

constexpr double kKneeP99Ms = 50;

struct StepFigures {
    bool ran = false;
    double deliveriesPerSecond = 0;
    double p50 = 0;
    double p99 = 0;
    std::int64_t lost = 0;
    double serverCpuUsPerDelivery = 0; // = ms per 1,000 deliveries
    double loadCpuShare = 0;           // this process's CPU time over the step's wall time
    bool sustained() const { return ran && lost == 0 && p99 < kKneeP99Ms; }
};

struct Run {
    std::vector<StepFigures> steps;
    bool ok = false;
};

// Highest offered rate sustained, 0 when none was.
int knee(const Run& run, const std::vector<int>& rates) {
    int best = 0;
    for (std::size_t s = 0; s < run.steps.size() && s < rates.size(); ++s)
        if (run.steps[s].sustained())
            best = std::max(best, rates[s]);
    return best;
}

void printHeader() {
    std::printf("  offered | deliveries/s |  p50 ms |  p99 ms |    lost | server CPU ms/1000 del | "
                "load gen CPU\n");
}

void printStep(int rate, const StepFigures& f) {
    if (!f.ran) {
        std::printf("  %7d | skipped after earlier failures\n", rate);
        return;
    }
    std::printf("  %7d | %12.0f | %7.2f | %7.2f | %7lld | %22.2f | %11.0f%%%s\n", rate,
                f.deliveriesPerSecond, f.p50, f.p99, (long long)f.lost, f.serverCpuUsPerDelivery,
                f.loadCpuShare * 100, f.sustained() ? "" : "  over");
}

// The whole load against one server binary; prints its figures as it goes.
Run runLoad(const char* binary, int users, int roomSize, int secondsPerStep,
            const std::vector<int>& rates, int giveUpAfter) {
    Run run;
    stages.clear();
    totalDelivered = 0;
    signedInCount = 0;
    char dirTemplate[] = "/tmp/brindlewick-load-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    int out[2];
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        // The server's per-connection lines would drown the figures.
        freopen((dir + "/server.log").c_str(), "w", stderr);
        // All connections come from one address; a build that does not know the setting
        // ignores the variable.
        setenv("BRINDLEWICK_MAX_CONNECTIONS_PER_ADDRESS", std::to_string(users + 16).c_str(), 1);
        execl(binary, binary, "--chat-port", "0", "--http-port", "0", "--data-dir",
              (dir + "/data").c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    // An early return must not leave the server running.
    struct Stopper {
        pid_t pid;
        ~Stopper() {
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
        }
    } stopper{pid};
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n')
        line += ch;
    unsigned chatPort = 0, httpPort = 0;
    if (std::sscanf(line.c_str(), "chat-port %u http-port %u", &chatPort, &httpPort) != 2) {
        std::fprintf(stderr, "server did not start\n");
        return run;
    }

    asio::io_context io(1);
    std::vector<std::unique_ptr<Connection>> conns;
    const int rooms = users / roomSize;
    for (int i = 0; i < users; ++i) {
        auto c = std::make_unique<Connection>(io);
        c->socket.connect(
            {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(chatPort)});
        c->socket.set_option(tcp::no_delay(true));
        char phone[16];
        std::snprintf(phone, sizeof phone, "u%05d", i);
        c->phone = phone;
        send(*c, wire::Auth{c->phone, "사용자" + std::to_string(i), "", ""});
        readMore(*c);
        conns.push_back(std::move(c));
    }
    const auto signInDeadline = Clock::now() + std::chrono::seconds(30);
    while (signedInCount < users && Clock::now() < signInDeadline)
        io.run_for(std::chrono::milliseconds(50));
    if (signedInCount < users) {
        std::fprintf(stderr, "only %d of %d signed in\n", signedInCount, users);
        return run;
    }
    for (int r = 0; r < rooms; ++r) {
        std::string members = "[";
        for (int k = 1; k < roomSize; ++k)
            members += (k > 1 ? ",\"" : "\"") + conns[r * roomSize + k]->phone + "\"";
        members += "]";
        const std::string answer =
            httpPost(httpPort, "/v1/rooms",
                     R"({"phone":")" + conns[r * roomSize]->phone +
                         R"(","title":"load","type":"group","members":)" + members + "}");
        const std::size_t at = answer.find("\"room_name\":\"");
        if (at == std::string::npos) {
            std::fprintf(stderr, "room creation failed: %s\n", answer.c_str());
            return run;
        }
        const std::size_t begin = at + 13;
        const std::string room = answer.substr(begin, answer.find('"', begin) - begin);
        for (int k = 0; k < roomSize; ++k)
            conns[r * roomSize + k]->room = room;
    }

    std::printf("server %s\n", binary);
    printHeader();
    stages.resize(rates.size());
    std::mt19937 random(7);
    std::int64_t totalSent = 0;
    const int tickMs = 5;
    int failedInARow = 0;
    for (std::size_t s = 0; s < rates.size(); ++s) {
        stages[s].rate = rates[s];
        if (failedInARow >= giveUpAfter) {
            run.steps.push_back({});
            printStep(rates[s], run.steps.back());
            continue;
        }
        const double serverCpu0 = processCpuSeconds(pid), ownCpu0 = ownCpuSeconds();
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(secondsPerStep);
        double owed = 0;
        auto next = start;
        while (Clock::now() < end) {
            owed += rates[s] * tickMs / 1000.0;
            for (; owed >= 1; owed -= 1) {
                Connection& c = *conns[random() % conns.size()];
                send(c, wire::ChatRequest{c.room, std::to_string(s) + " " + std::to_string(nowNs()),
                                          ""});
                ++stages[s].sent;
                ++totalSent;
            }
            next += std::chrono::milliseconds(tickMs);
            io.run_until(next);
        }
        // Let this step's deliveries land before the next one starts.
        const auto drain = Clock::now() + std::chrono::seconds(10);
        while (stages[s].delivered < stages[s].sent * roomSize && Clock::now() < drain)
            io.run_for(std::chrono::milliseconds(5));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        Stage& st = stages[s];
        StepFigures f;
        f.ran = true;
        f.deliveriesPerSecond = st.delivered / seconds;
        f.p50 = percentileMs(st.latencyNs, 0.5);
        f.p99 = st.latencyNs.empty() ? std::numeric_limits<double>::infinity()
                                     : percentileMs(st.latencyNs, 0.99);
        f.lost = st.sent * roomSize - st.delivered;
        f.serverCpuUsPerDelivery =
            st.delivered > 0 ? (processCpuSeconds(pid) - serverCpu0) * 1e6 / st.delivered : 0;
        f.loadCpuShare = (ownCpuSeconds() - ownCpu0) / seconds;
        printStep(rates[s], f);
        std::fflush(stdout);
        failedInARow = f.sustained() ? 0 : failedInARow + 1;
        run.steps.push_back(f);
    }
    // Late deliveries of a step that was cut short still count for the check below.
    const auto settle = Clock::now() + std::chrono::seconds(10);
    while (totalDelivered < totalSent * roomSize && Clock::now() < settle)
        io.run_for(std::chrono::milliseconds(20));
    const long peakKiB = serverPeakKiB(pid);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    stopper.pid = -1;

    sqlite3* db = nullptr;
    std::int64_t stored = -1;
    if (sqlite3_open_v2((dir + "/data/brindlewick.db").c_str(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM messages", -1, &stmt, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            stored = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    const int k = knee(run, rates);
    std::printf("knee (p99 < %.0f ms, nothing lost): %d msg/s = %d deliveries/s\n", kKneeP99Ms, k,
                k * roomSize);
    std::printf("server peak memory (VmHWM): %.1f MiB\n", peakKiB / 1024.0);
    std::printf("messages sent %lld, stored %lld, deliveries %lld of %lld: %s\n",
                (long long)totalSent, (long long)stored, (long long)totalDelivered,
                (long long)(totalSent * roomSize),
                stored == totalSent && totalDelivered == totalSent * roomSize ? "all persisted"
                                                                              : "MISSING");
    std::fflush(stdout);
    std::system(("rm -rf " + dir).c_str());
    run.ok = stored == totalSent;
    return run;
}

// Per step the median over the rounds that ran it, figure by figure.
Run median(const std::vector<Run>& runs) {
    Run m;
    if (runs.empty())
        return m;
    m.ok = true;
    for (const Run& r : runs)
        m.ok = m.ok && r.ok && r.steps.size() == runs[0].steps.size();
    if (!m.ok)
        return m;
    auto mid = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    for (std::size_t s = 0; s < runs[0].steps.size(); ++s) {
        std::vector<double> rate, p50, p99, lost, cpu, load;
        for (const Run& r : runs) {
            const StepFigures& f = r.steps[s];
            if (!f.ran)
                continue;
            rate.push_back(f.deliveriesPerSecond);
            p50.push_back(f.p50);
            p99.push_back(f.p99);
            lost.push_back(double(f.lost));
            cpu.push_back(f.serverCpuUsPerDelivery);
            load.push_back(f.loadCpuShare);
        }
        StepFigures f;
        // A step most rounds skipped counts as skipped.
        if (rate.size() * 2 > runs.size()) {
            f.ran = true;
            f.deliveriesPerSecond = mid(rate);
            f.p50 = mid(p50);
            f.p99 = mid(p99);
            f.lost = std::int64_t(mid(lost));
            f.serverCpuUsPerDelivery = mid(cpu);
            f.loadCpuShare = mid(load);
        }
        m.steps.push_back(f);
    }
    return m;
}

void printKnees(const char* what, const std::vector<Run>& runs, const std::vector<int>& rates,
                int roomSize) {
    std::printf("%s knee per round:", what);
    for (const Run& r : runs)
        std::printf(" %d", knee(r, rates) * roomSize);
    std::printf(" deliveries/s\n");
}

} // namespace

int main(int argc, char** argv) {
    int users = 1000, roomSize = 10, secondsPerStep = 6, giveUpAfter = 2;
    std::vector<int> rates = {1000, 2000, 5000, 7000, 10000, 15000, 20000, 25000, 30000};
    std::string baseline;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--users")
            users = std::stoi(value);
        else if (name == "--room-size")
            roomSize = std::stoi(value);
        else if (name == "--seconds-per-step")
            secondsPerStep = std::stoi(value);
        else if (name == "--baseline")
            baseline = value;
        else if (name == "--rounds")
            rounds = std::max(1, std::stoi(value));
        else if (name == "--give-up-after")
            giveUpAfter = std::max(1, std::stoi(value));
        else if (name == "--rates") {
            rates.clear();
            std::stringstream list(value);
            for (std::string r; std::getline(list, r, ',');)
                rates.push_back(std::stoi(r));
        }
    }
    double echo50 = 0, echo99 = 0;
    baselineEcho(echo50, echo99);
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("server_load: %d connections, %d rooms of %d, %d s per step, load average %.2f "
                "%.2f %.2f on %ld CPUs\n",
                users, users / roomSize, roomSize, secondsPerStep, load[0], load[1], load[2],
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("baseline loopback echo of one frame: p50 %.3f ms, p99 %.3f ms\n", echo50, echo99);
    std::printf("offered and deliveries in messages/s and deliveries/s (a message is delivered to "
                "its %d room members)\n",
                roomSize);

    std::vector<Run> beforeRuns, nowRuns;
    for (int round = 0; round < rounds; ++round) {
        if (!baseline.empty())
            beforeRuns.push_back(
                runLoad(baseline.c_str(), users, roomSize, secondsPerStep, rates, giveUpAfter));
        nowRuns.push_back(runLoad(BRINDLEWICK_SERVER_BINARY, users, roomSize, secondsPerStep, rates,
                                  giveUpAfter));
    }
    const Run before = median(beforeRuns), now = median(nowRuns);
    if (rounds > 1 && now.ok) {
        std::printf("this build, median of %d rounds:\n", rounds);
        printHeader();
        for (std::size_t s = 0; s < now.steps.size(); ++s)
            printStep(rates[s], now.steps[s]);
    }
    if (!baseline.empty() && before.ok && before.steps.size() == now.steps.size()) {
        std::printf("%s, median of %d rounds:\n", baseline.c_str(), rounds);
        printHeader();
        for (std::size_t s = 0; s < before.steps.size(); ++s)
            printStep(rates[s], before.steps[s]);
        std::printf("this build against %s (median of %d rounds each; - where either skipped):\n",
                    baseline.c_str(), rounds);
        std::printf("  offered | deliveries/s | p99     | server CPU per delivery\n");
        auto ratio = [](double now, double before) { return before > 0 ? now / before : 0.0; };
        for (std::size_t s = 0; s < now.steps.size(); ++s) {
            const StepFigures &a = before.steps[s], &b = now.steps[s];
            if (!a.ran || !b.ran) {
                std::printf("  %7d | -\n", rates[s]);
                continue;
            }
            std::printf("  %7d | x%11.3f | x%6.3f | x%.3f\n", rates[s],
                        ratio(b.deliveriesPerSecond, a.deliveriesPerSecond), ratio(b.p99, a.p99),
                        ratio(b.serverCpuUsPerDelivery, a.serverCpuUsPerDelivery));
        }
        printKnees("baseline", beforeRuns, rates, roomSize);
        std::printf("baseline knee of the medians: %d deliveries/s\n",
                    knee(before, rates) * roomSize);
    }
    if (rounds > 1 || !baseline.empty()) {
        printKnees("this build", nowRuns, rates, roomSize);
        std::printf("this build knee of the medians: %d deliveries/s\n",
                    knee(now, rates) * roomSize);
    }
    return now.ok && (baseline.empty() || before.ok) ? 0 : 1;
}
