// Load for brindlewick-server: 1,000 signed-in connections in 100 rooms of 10, messages at a
// rising rate. Prints deliveries per second, p50/p99 delivery latency, the server's peak
// memory and whether every sent message is in its database afterwards. The baseline is a
// frame echoed over loopback by this process, measured in the same run; with --baseline BINARY
// another build of the server runs the same load first, and each step is also shown as a
// ratio against it.
//
//   server_load [--users 1000] [--room-size 10] [--seconds-per-step 6] [--rates 1000,2000,...]
//               [--baseline /path/to/older/brindlewick-server] [--rounds 1]
//               [--backends sqlite,postgres]
//
// --backends runs this build once per storage back end in the same run (PostgreSQL on a
// throw-away cluster with fsync on, a fresh database per run), each followed by its highest
// delivery rate with p99 under 50 ms and the server's CPU time per 1,000 deliveries.
//
// With --rounds N the two servers take turns N times and each step's median over the rounds
// counts, so that load from elsewhere on the machine hits both alike.

#include <messages.h>

#include <boost/asio.hpp>
#include <curl/curl.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include "postgres_cluster.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace brindlewick;
namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

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
    std::deque<std::string> outbox;
    bool writing = false;
    bool signedIn = false;
    explicit Connection(asio::io_context& io) : socket(io) {}
};

std::vector<Stage> stages;
std::int64_t totalDelivered = 0;
int signedInCount = 0;

void writeMore(Connection& c) {
    if (c.writing || c.outbox.empty())
        return;
    c.writing = true;
    asio::async_write(c.socket, asio::buffer(c.outbox.front()),
                      [&c](boost::system::error_code ec, std::size_t) {
                          c.writing = false;
                          c.outbox.pop_front();
                          if (!ec)
                              writeMore(c);
                      });
}

template <typename Message> void send(Connection& c, const Message& message) {
    c.outbox.push_back(wire::encodeFrame(message));
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
                } else if (const auto m = type == MessageType::Chat ? wire::ChatMessage::decode(f)
                                                                    : std::nullopt) {
                    // Text: "<stage> <send time in ns>"
                    int stage = 0;
                    long long sentAt = 0;
                    if (std::sscanf(m->text.c_str(), "%d %lld", &stage, &sentAt) == 2 &&
                        stage >= 0 && stage < int(stages.size())) {
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

double percentile(std::vector<std::int64_t>& v, double p) {
    if (v.empty())
        return 0;
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()));
    std::nth_element(v.begin(), v.begin() + k, v.end());
    return v[k] / 1e6;
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
    p50 = percentile(trips, 0.5);
    p99 = percentile(trips, 0.99);
}

struct StepFigures {
    double deliveriesPerSecond = 0;
    double p99 = 0;
};

struct Run {
    std::vector<StepFigures> steps;
    bool ok = false;
};

// Non-empty: the server under load keeps its data in this PostgreSQL database.
std::string postgresUri;

// User plus system time of a process, in milliseconds.
double cpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / sysconf(_SC_CLK_TCK);
}

std::int64_t storedInPostgres() {
    PGconn* conn = PQconnectdb(postgresUri.c_str());
    PGresult* r = PQexec(conn, "SELECT COUNT(*) FROM messages");
    const std::int64_t n =
        PQresultStatus(r) == PGRES_TUPLES_OK ? std::atoll(PQgetvalue(r, 0, 0)) : -1;
    PQclear(r);
    PQfinish(conn);
    return n;
}

// The whole load against one server binary; prints its figures as it goes.
Run runLoad(const char* binary, int users, int roomSize, int secondsPerStep,
            const std::vector<int>& rates, double echo99) {
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
        if (!postgresUri.empty())
            execl(binary, binary, "--chat-port", "0", "--http-port", "0", "--data-dir",
                  (dir + "/data").c_str(), "--postgres", postgresUri.c_str(), nullptr);
        else
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
    stages.resize(rates.size());
    std::mt19937 random(7);
    std::int64_t totalSent = 0;
    const int tickMs = 5;
    for (std::size_t s = 0; s < rates.size(); ++s) {
        stages[s].rate = rates[s];
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
        const auto drain = Clock::now() + std::chrono::seconds(5);
        while (stages[s].delivered < stages[s].sent * roomSize && Clock::now() < drain)
            io.run_for(std::chrono::milliseconds(20));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        Stage& st = stages[s];
        const double p50 = percentile(st.latencyNs, 0.5), p99 = percentile(st.latencyNs, 0.99);
        std::printf("offered %5d msg/s: %7.0f deliveries/s over %.1f s, %lld of %lld delivered, "
                    "latency p50 %.2f ms p99 %.2f ms (p99 = %.0fx baseline echo p99)\n",
                    st.rate, st.delivered / seconds, seconds, (long long)st.delivered,
                    (long long)(st.sent * roomSize), p50, p99, echo99 > 0 ? p99 / echo99 : 0.0);
        std::fflush(stdout);
        run.steps.push_back({st.delivered / seconds, p99});
    }
    const long peakKiB = serverPeakKiB(pid);
    const double serverCpuMs = cpuMs(pid);
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
    if (!postgresUri.empty())
        stored = storedInPostgres();
    std::printf("server peak memory (VmHWM): %.1f MiB\n", peakKiB / 1024.0);
    double best = 0;
    for (const StepFigures& step : run.steps)
        if (step.p99 < 50)
            best = std::max(best, step.deliveriesPerSecond);
    std::printf("%s: %.0f deliveries/s at p99 < 50 ms; server CPU %.1f ms per 1,000 deliveries\n",
                postgresUri.empty() ? "SQLite" : "PostgreSQL", best,
                totalDelivered > 0 ? serverCpuMs * 1000.0 / totalDelivered : 0.0);
    std::printf("messages sent %lld, stored %lld, deliveries %lld of %lld: %s\n",
                (long long)totalSent, (long long)stored, (long long)totalDelivered,
                (long long)(totalSent * roomSize),
                stored == totalSent && totalDelivered == totalSent * roomSize ? "all persisted"
                                                                              : "MISSING");
    std::system(("rm -rf " + dir).c_str());
    run.ok = stored == totalSent;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    int users = 1000, roomSize = 10, secondsPerStep = 6;
    std::vector<int> rates = {1000, 2000, 3000, 5000, 7000};
    std::string baseline;
    int rounds = 1;
    std::string backends = "sqlite";
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
        else if (name == "--backends")
            backends = value;
        else if (name == "--rates") {
            rates.clear();
            std::stringstream list(value);
            for (std::string r; std::getline(list, r, ',');)
                rates.push_back(std::stoi(r));
        }
    }
    double echo50 = 0, echo99 = 0;
    baselineEcho(echo50, echo99);
    std::printf("server_load: %d connections, %d rooms of %d, %d s per step\n", users,
                users / roomSize, roomSize, secondsPerStep);
    std::printf("baseline loopback echo of one frame: p50 %.3f ms, p99 %.3f ms\n", echo50, echo99);

    std::vector<Run> beforeRuns, nowRuns;
    for (int round = 0; round < rounds; ++round) {
        if (!baseline.empty())
            beforeRuns.push_back(
                runLoad(baseline.c_str(), users, roomSize, secondsPerStep, rates, echo99));
        nowRuns.push_back(
            runLoad(BRINDLEWICK_SERVER_BINARY, users, roomSize, secondsPerStep, rates, echo99));
    }
    if (backends.find("postgres") != std::string::npos) {
        std::string error;
        auto cluster = brindlewick::test::PostgresCluster::start(error, {/*durable=*/true});
        if (!cluster) {
            std::fprintf(stderr, "server_load: %s\n", error.c_str());
            return 1;
        }
        std::printf("the same load on PostgreSQL:\n");
        postgresUri = cluster->createDatabase(error);
        const Run onPostgres =
            runLoad(BRINDLEWICK_SERVER_BINARY, users, roomSize, secondsPerStep, rates, echo99);
        postgresUri.clear();
        if (!onPostgres.ok)
            return 1;
    }
    // Per step the median of the rounds, for the delivery rate and the p99 alike.
    auto median = [](const std::vector<Run>& runs) {
        Run m;
        if (runs.empty())
            return m;
        m.ok = true;
        for (const Run& r : runs)
            m.ok = m.ok && r.ok && r.steps.size() == runs[0].steps.size();
        if (!m.ok)
            return m;
        for (std::size_t s = 0; s < runs[0].steps.size(); ++s) {
            std::vector<double> rate, p99;
            for (const Run& r : runs) {
                rate.push_back(r.steps[s].deliveriesPerSecond);
                p99.push_back(r.steps[s].p99);
            }
            std::sort(rate.begin(), rate.end());
            std::sort(p99.begin(), p99.end());
            m.steps.push_back({rate[rate.size() / 2], p99[p99.size() / 2]});
        }
        return m;
    };
    const Run before = median(beforeRuns), now = median(nowRuns);
    if (!baseline.empty() && before.steps.size() == now.steps.size()) {
        std::printf("this build against %s (median of %d rounds each):\n", baseline.c_str(),
                    rounds);
        for (std::size_t s = 0; s < now.steps.size(); ++s)
            std::printf("offered %5d msg/s: deliveries/s x%.3f, p99 x%.3f\n", rates[s],
                        before.steps[s].deliveriesPerSecond > 0
                            ? now.steps[s].deliveriesPerSecond / before.steps[s].deliveriesPerSecond
                            : 0.0,
                        before.steps[s].p99 > 0 ? now.steps[s].p99 / before.steps[s].p99 : 0.0);
    }
    return now.ok && (baseline.empty() || before.ok) ? 0 : 1;
}
