// The load of server_load (1,000 signed-in connections in 100 rooms of 10, messages at rising
// rates) against three setups in one run: one instance on SQLite, one on PostgreSQL, and two
// instances on PostgreSQL with NATS between them behind HAProxy. Per setup and step:
// deliveries per second and p50/p99 delivery latency; the knee is the highest offered rate
// whose p99 stays under 50 ms. Per process: CPU time (user + system, from /proc) per 1,000
// deliveries. Then, on the cluster with half the connections on each instance directly, the
// latency of deliveries whose sender is on the reader's instance against the other one's.
//
//   cluster_load [--rates 1000,2000,...] [--seconds-per-step 5] [--users 1000] [--room-size 10]
//                [--setups sqlite,postgres,cluster,split] [--client-ids 1] [--server BINARY]
//
// With --client-ids 1 every message carries a new client id (the server then keeps it and checks
// it is new); --server runs another build of the server, such as one from before client ids.
//

#include "cluster_services.h"
#include "load_figures.h"
#include "postgres_cluster.h"
#include "server_harness.h"

#include <messages.h>

#include <boost/asio.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::test;
namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

using brindlewick::bench::percentileMs;
using brindlewick::bench::processCpuSeconds;

namespace {

bool withClientIds = false;
std::string serverBinary; // empty: this build's

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Every process whose command line starts with `program` (postgres forks one per connection).
std::vector<pid_t> processesNamed(const std::string& program) {
    std::vector<pid_t> pids;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == program)
            pids.push_back(pid);
    }
    if (proc)
        ::closedir(proc);
    return pids;
}

struct Conn {
    tcp::socket socket;
    int instance = 0; // which instance it was sent to directly; -1 through the proxy
    std::string phone, room, inbox;
    std::array<char, 65536> chunk{};
    std::deque<std::string> outbox;
    bool writing = false, signedIn = false;
    explicit Conn(asio::io_context& io) : socket(io) {}
};

struct Load {
    asio::io_context io{1};
    std::vector<std::unique_ptr<Conn>> conns;
    int signedIn = 0;
    int step = -1;
    std::int64_t delivered = 0;        // of the step under way, before its drain ended
    std::vector<std::int64_t> arrived; // per step, whenever it arrived
    std::vector<std::int64_t> latency, same, cross;

    void write(Conn& c) {
        if (c.writing || c.outbox.empty())
            return;
        c.writing = true;
        asio::async_write(c.socket, asio::buffer(c.outbox.front()),
                          [this, &c](boost::system::error_code ec, std::size_t) {
                              c.writing = false;
                              c.outbox.pop_front();
                              if (!ec)
                                  write(c);
                          });
    }
    template <typename M> void send(Conn& c, const M& m) {
        c.outbox.push_back(wire::encodeFrame(m));
        write(c);
    }
    void read(Conn& c) {
        c.socket.async_read_some(
            asio::buffer(c.chunk), [this, &c](boost::system::error_code ec, std::size_t n) {
                if (ec)
                    return;
                c.inbox.append(c.chunk.data(), n);
                const std::int64_t now = nowNs();
                ChatProtocol::consumeBuffer(c.inbox, [&](std::uint8_t type, const FieldList& f) {
                    if (type == MessageType::AuthOk && !c.signedIn) {
                        c.signedIn = true;
                        ++signedIn;
                        return;
                    }
                    const auto m =
                        type == MessageType::Chat ? wire::ChatMessage::decode(f) : std::nullopt;
                    int stepOf = -1, from = -2;
                    long long sentAt = 0;
                    // Text: "<step> <sender's instance> <send time in ns>"
                    if (!m ||
                        std::sscanf(m->text.c_str(), "%d %d %lld", &stepOf, &from, &sentAt) != 3 ||
                        stepOf < 0 || std::size_t(stepOf) >= arrived.size())
                        return;
                    ++arrived[std::size_t(stepOf)];
                    if (stepOf != step)
                        return;
                    ++delivered;
                    latency.push_back(now - sentAt);
                    if (c.instance >= 0)
                        (from == c.instance ? same : cross).push_back(now - sentAt);
                });
                read(c);
            });
    }
};

struct Setup {
    std::string name;
    std::vector<std::uint16_t> chatPorts; // connection i goes to chatPorts[i % size]
    std::uint16_t httpPort = 0;
    std::vector<pid_t> servers;
    std::vector<std::pair<std::string, std::string>> helpers; // (label, process name)
    bool direct = false; // the ports are the instances themselves
};

struct StepResult {
    int rate;
    double perSecond, p50, p99;
    bool whole; // every delivery arrived before the drain ended
};

// Connections, rooms, then the rates; CPU per process measured over the steps.
std::vector<StepResult> drive(const Setup& setup, int users, int roomSize, int seconds,
                              const std::vector<int>& rates, bool split) {
    Load load;
    for (int i = 0; i < users; ++i) {
        auto c = std::make_unique<Conn>(load.io);
        const std::size_t port = i % setup.chatPorts.size();
        c->socket.connect({asio::ip::make_address("127.0.0.1"), setup.chatPorts[port]});
        c->socket.set_option(tcp::no_delay(true));
        c->instance = setup.direct ? int(port) : -1;
        char phone[16];
        std::snprintf(phone, sizeof phone, "u%05d", i);
        c->phone = phone;
        load.send(*c, wire::Auth{c->phone, "사용자" + std::to_string(i), "", ""});
        load.read(*c);
        load.conns.push_back(std::move(c));
    }
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (load.signedIn < users && Clock::now() < deadline)
        load.io.run_for(std::chrono::milliseconds(50));
    if (load.signedIn < users) {
        std::printf("  only %d of %d signed in\n", load.signedIn, users);
        return {};
    }
    for (int r = 0; r < users / roomSize; ++r) {
        nlohmann::json members = nlohmann::json::array();
        for (int k = 1; k < roomSize; ++k)
            members.push_back(load.conns[r * roomSize + k]->phone);
        const HttpAnswer a = http(setup.httpPort, "POST", "/v1/rooms",
                                  nlohmann::json{{"phone", load.conns[r * roomSize]->phone},
                                                 {"title", "load"},
                                                 {"type", "group"},
                                                 {"members", members}}
                                      .dump());
        const std::string room =
            nlohmann::json::parse(a.body, nullptr, false).value("room_name", std::string());
        if (room.empty()) {
            std::printf("  room creation failed: %s\n", a.body.c_str());
            return {};
        }
        for (int k = 0; k < roomSize; ++k)
            load.conns[r * roomSize + k]->room = room;
    }

    std::mt19937 random(7);
    // Messages at `rate` for `seconds`, marked with `step`; how many were sent.
    auto offer = [&](int rate, int seconds, int step) {
        std::int64_t sent = 0;
        const auto start = Clock::now();
        double owed = 0;
        auto next = start;
        while (Clock::now() < start + std::chrono::seconds(seconds)) {
            owed += rate * 5 / 1000.0;
            for (; owed >= 1; owed -= 1, ++sent) {
                Conn& c = *load.conns[random() % load.conns.size()];
                load.send(c, wire::ChatRequest{c.room,
                                               std::to_string(step) + " " +
                                                   std::to_string(c.instance) + " " +
                                                   std::to_string(nowNs()),
                                               "", withClientIds ? wire::newClientId() : ""});
            }
            next += std::chrono::milliseconds(5);
            load.io.run_until(next);
        }
        return sent;
    };
    // Unmeasured: the first statements of every connection and process, caches filling.
    offer(rates.front(), 2, -1);
    load.io.run_for(std::chrono::seconds(1));

    std::vector<std::pair<std::string, std::vector<pid_t>>> measured;
    for (std::size_t i = 0; i < setup.servers.size(); ++i)
        measured.push_back({"brindlewick-server " + std::to_string(i + 1), {setup.servers[i]}});
    for (const auto& [label, program] : setup.helpers)
        measured.push_back({label, processesNamed(program)});
    std::vector<double> cpuBefore;
    for (const auto& entry : measured) {
        double sum = 0;
        for (pid_t pid : entry.second)
            sum += processCpuSeconds(pid);
        cpuBefore.push_back(sum);
    }

    std::vector<StepResult> results;
    std::int64_t deliveredAll = 0, expectedAll = 0;
    load.arrived.assign(rates.size(), 0);
    for (std::size_t s = 0; s < rates.size(); ++s) {
        load.step = int(s);
        load.delivered = 0;
        load.latency.clear();
        const auto start = Clock::now();
        const std::int64_t sent = offer(rates[s], seconds, int(s));
        const auto drain = Clock::now() + std::chrono::seconds(5);
        while (load.delivered < sent * roomSize && Clock::now() < drain)
            load.io.run_for(std::chrono::milliseconds(20));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        results.push_back({rates[s], load.delivered / elapsed, percentileMs(load.latency, 0.5),
                           percentileMs(load.latency, 0.99), load.delivered == sent * roomSize});
        deliveredAll += load.delivered;
        expectedAll += sent * roomSize;
        std::printf("  offered %5d msg/s: %7.0f deliveries/s, %lld of %lld delivered, p50 %6.2f "
                    "ms, p99 %7.2f ms\n",
                    rates[s], results.back().perSecond, (long long)load.delivered,
                    (long long)(sent * roomSize), results.back().p50, results.back().p99);
        std::fflush(stdout);
    }
    for (std::size_t i = 0; i < measured.size(); ++i) {
        double sum = 0;
        for (pid_t pid : measured[i].second)
            sum += processCpuSeconds(pid);
        std::printf("  CPU per 1,000 deliveries, %s: %.3f ms\n", measured[i].first.c_str(),
                    deliveredAll > 0 ? (sum - cpuBefore[i]) * 1e6 / double(deliveredAll) : 0.0);
    }
    // Late is not lost: every committed message must reach every member in the end.
    const auto lastStep = Clock::now();
    auto arrivedAll = [&load] {
        std::int64_t sum = 0;
        for (std::int64_t n : load.arrived)
            sum += n;
        return sum;
    };
    while (arrivedAll() < expectedAll && Clock::now() < lastStep + std::chrono::seconds(60))
        load.io.run_for(std::chrono::milliseconds(20));
    std::printf("  in the end: %lld of %lld deliveries arrived, the last %.1f s after the last "
                "step's drain\n",
                (long long)arrivedAll(), (long long)expectedAll,
                std::chrono::duration<double>(Clock::now() - lastStep).count());
    if (split)
        std::printf("  latency, sender on the reader's instance: p50 %.2f ms p99 %.2f ms (%zu); "
                    "on the other instance: p50 %.2f ms p99 %.2f ms (%zu)\n",
                    percentileMs(load.same, 0.5), percentileMs(load.same, 0.99), load.same.size(),
                    percentileMs(load.cross, 0.5), percentileMs(load.cross, 0.99),
                    load.cross.size());
    // As server_load reads it: the highest rate whose step had everything, at p99 under 50 ms.
    int knee = 0;
    for (const StepResult& r : results)
        if (r.whole && r.p99 < 50)
            knee = std::max(knee, r.rate);
    std::printf("  knee: %s\n",
                knee ? ("p99 under 50 ms, nothing lost, up to " + std::to_string(knee) +
                        " msg/s offered (" + std::to_string(knee * roomSize) + " deliveries/s)")
                           .c_str()
                     : "no rate with p99 under 50 ms and nothing lost");
    return results;
}

// The server's line per connection would drown the figures.
Launch quiet(const std::string& dir) {
    Launch launch;
    launch.logFile = dir + "/server.log";
    launch.binary = serverBinary;
    return launch;
}

} // namespace

int main(int argc, char** argv) {
    int users = 1000, roomSize = 10, seconds = 5;
    std::vector<int> rates = {250, 500, 1000, 1500, 2000, 3000};
    std::string setups = "sqlite,postgres,cluster,split";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--users")
            users = std::stoi(value);
        else if (name == "--room-size")
            roomSize = std::stoi(value);
        else if (name == "--setups")
            setups = "," + value + ",";
        else if (name == "--seconds-per-step")
            seconds = std::stoi(value);
        else if (name == "--client-ids")
            withClientIds = value == "1";
        else if (name == "--server")
            serverBinary = value;
        else if (name == "--rates") {
            rates.clear();
            std::stringstream list(value);
            for (std::string r; std::getline(list, r, ',');)
                rates.push_back(std::stoi(r));
        }
    }
    // HAProxy (on 127.0.0.1) names each client in a PROXY header.
    const std::string limits = " --max-connections-per-address " + std::to_string(users + 16) +
                               " --trusted-proxy 127.0.0.1";
    std::printf("cluster_load: %d connections, %d rooms of %d, %d s per step%s, server %s\n", users,
                users / roomSize, roomSize, seconds,
                withClientIds ? ", a client id with every message" : "",
                serverBinary.empty() ? "of this build" : serverBinary.c_str());
    setups = "," + setups + ",";
    auto wanted = [&setups](const char* name) {
        return setups.find("," + std::string(name) + ",") != std::string::npos;
    };
    std::string pgError;
    // Flushing like a production server, so the figures include PostgreSQL's commits.
    std::unique_ptr<PostgresCluster> pg = PostgresCluster::start(pgError, {true});
    if (!pg) {
        std::fprintf(stderr, "cluster_load: PostgreSQL: %s\n", pgError.c_str());
        return 1;
    }
    auto storage = [&](const std::string&) {
        std::string error;
        const std::string uri = pg->createDatabase(error);
        if (uri.empty()) {
            std::fprintf(stderr, "cluster_load: PostgreSQL: %s\n", error.c_str());
            std::exit(1);
        }
        return " --postgres " + uri;
    };
    if (wanted("sqlite")) {
        const std::string dir = makeTempDir();
        std::printf("one instance, SQLite\n");
        ServerProcess server(dir, limits, quiet(dir));
        Setup setup{"sqlite", {server.chatPort}, server.httpPort, {server.pid()}, {}, false};
        drive(setup, users, roomSize, seconds, rates, false);
        server.stop();
        std::system(("rm -rf " + dir).c_str());
    }
    const std::string base = makeTempDir();
    if (wanted("postgres")) {
        std::printf("one instance, PostgreSQL\n");
        const std::string dir = base + "/single";
        ::mkdir(dir.c_str(), 0700);
        ServerProcess server(dir, limits + storage(base), quiet(dir));
        Setup setup{"postgres", {server.chatPort}, server.httpPort, {server.pid()}, {}, false};
        setup.helpers.push_back({"postgres (all its processes)", "postgres"});
        drive(setup, users, roomSize, seconds, rates, false);
    }
    if (wanted("cluster") || wanted("split")) {
        NatsServer nats;
        std::vector<std::unique_ptr<ServerProcess>> instances;
        // Two instances on a fresh database, in folders `<base>/<prefix>0` and `...1`.
        auto startInstances = [&](const std::string& prefix) {
            instances.clear();
            const std::string db = storage(base);
            for (int i = 0; i < 2; ++i) {
                const std::string dir = base + "/" + prefix + std::to_string(i);
                ::mkdir(dir.c_str(), 0700);
                instances.push_back(std::make_unique<ServerProcess>(
                    dir, limits + db + " --nats " + nats.url() + " --http-host 127.0.0.1",
                    quiet(dir)));
            }
        };
        if (wanted("cluster")) {
            std::printf("two instances, PostgreSQL + NATS, behind HAProxy\n");
            startInstances("i");
            Haproxy proxy(base, {{instances[0]->chatPort, instances[0]->httpPort},
                                 {instances[1]->chatPort, instances[1]->httpPort}});
            Setup setup{"cluster",
                        {proxy.chatPort()},
                        proxy.httpPort(),
                        {instances[0]->pid(), instances[1]->pid()},
                        {{"nats-server", "nats-server"}, {"haproxy", "haproxy"}},
                        false};
            setup.helpers.push_back({"postgres (all its processes)", "postgres"});
            drive(setup, users, roomSize, seconds, rates, false);
            for (auto& instance : instances)
                instance->stop();
        }
        if (wanted("split")) {
            std::printf("two instances, half the connections on each directly: same-instance "
                        "against cross-instance delivery latency\n");
            startInstances("j");
            Setup split{"split",
                        {instances[0]->chatPort, instances[1]->chatPort},
                        instances[0]->httpPort,
                        {instances[0]->pid(), instances[1]->pid()},
                        {{"nats-server", "nats-server"}},
                        true};
            drive(split, users, roomSize, seconds, {rates.front()}, true);
        }
    }
    pg.reset();
    std::system(("rm -rf " + base).c_str());
    return 0;
}
