// What keeping client ids costs the server per message: the database worker's CPU time (and,
// on PostgreSQL, the database backend's) for messages stored through the room rules in batches
// of 100 (a transaction each, a savepoint per message, as the worker commits them), without a
// client id, with a new one each, and for repeats of ids already kept (answered, not stored).
// The messages come from --senders users in turn, each in a room of their own.
// SQLite in WAL with full syncs as the server opens it; PostgreSQL on a throw-away cluster that
// flushes like a production server. Rounds alternate the kinds so load from elsewhere on the
// machine hits each alike; the medians over the rounds are printed.
//
//   server_client_id_bench [--messages 20000] [--rounds 5] [--senders 100]
//                          [--setups sqlite,postgres]

#include "load_figures.h"
#include "pg_connection.h"
#include "postgres_cluster.h"
#include "postgres_storage.h"
#include "room_logic.h"
#include "sqlite_storage.h"

#include <messages.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;

namespace {

constexpr int kBatch = 100;
int senders = 100;

std::string sender(int k) {
    return "0107" + std::to_string(1000000 + k % senders);
}
std::string roomOf(int k) {
    return "memo:" + sender(k);
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

enum class Kind { None, New, Repeat };
const char* const kKindNames[] = {"without a client id", "with a new client id",
                                  "repeating a kept client id"};

struct Round {
    double workerUs = 0;  // per message
    double backendUs = 0; // per message, PostgreSQL only
};

// `messages` requests of `kind` through the room rules; `ids` are the client ids to use (new
// ones are recorded there for a later repeat round).
Round run(Storage& storage, Kind kind, int messages, std::vector<std::string>& ids, pid_t backend) {
    std::vector<std::string> use;
    if (kind == Kind::New)
        use.resize(messages);
    else if (kind == Kind::Repeat)
        use.assign(ids.end() - messages, ids.end());
    double making = 0; // a client's work, not the server's
    const double worker0 = threadCpuSeconds();
    const double backend0 = backend > 0 ? bench::processCpuSeconds(backend) : 0;
    for (int i = 0; i < messages; i += kBatch) {
        storage.begin();
        for (int k = i; k < std::min(messages, i + kBatch); ++k) {
            if (kind == Kind::New) {
                // Made as the message is sent, as a client does: ids come in time order.
                const double made0 = threadCpuSeconds();
                use[k] = wire::newClientId();
                making += threadCpuSeconds() - made0;
            }
            storage.savepoint();
            const RoomResult r =
                RoomLogic::handleFrame(storage, sender(k), MessageType::Chat,
                                       wire::ChatRequest{roomOf(k), "메시지 " + std::to_string(k),
                                                         "", use.empty() ? std::string() : use[k]}
                                           .encode());
            if (!r.error.empty() || (kind == Kind::Repeat) != bool(r.reply)) {
                std::fprintf(stderr, "unexpected answer: %s\n", r.error.c_str());
                std::exit(1);
            }
            storage.releaseSavepoint();
        }
        storage.commit();
    }
    Round round;
    round.workerUs = (threadCpuSeconds() - worker0 - making) * 1e6 / messages;
    if (backend > 0)
        round.backendUs = (bench::processCpuSeconds(backend) - backend0) * 1e6 / messages;
    if (kind == Kind::New)
        ids.insert(ids.end(), use.begin(), use.end());
    return round;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void measure(const char* name, Storage& storage, pid_t backend, int messages, int rounds) {
    storage.begin();
    for (int k = 0; k < senders; ++k) {
        storage.upsertUser({sender(k), "벤치", "", ""}, false);
        storage.createRoom(roomOf(k), "memo", "벤치", sender(k));
        storage.addMember(roomOf(k), sender(k));
    }
    storage.commit();
    std::vector<std::string> ids;
    // Unmeasured: statements prepared, caches and tables warm.
    run(storage, Kind::None, 2000, ids, backend);
    run(storage, Kind::New, 2000, ids, backend);
    std::vector<double> worker[3], db[3];
    for (int r = 0; r < rounds; ++r)
        for (Kind kind : {Kind::None, Kind::New, Kind::Repeat}) {
            const Round round = run(storage, kind, messages, ids, backend);
            worker[int(kind)].push_back(round.workerUs);
            db[int(kind)].push_back(round.backendUs);
        }
    std::printf("%s, %d messages per round from %d senders, median of %d rounds (CPU µs per "
                "message):\n",
                name, messages, senders, rounds);
    for (Kind kind : {Kind::None, Kind::New, Kind::Repeat}) {
        const int k = int(kind);
        if (backend > 0)
            std::printf("  %-28s worker %7.2f, database backend %7.2f, both %7.2f\n", kKindNames[k],
                        median(worker[k]), median(db[k]), median(worker[k]) + median(db[k]));
        else
            std::printf("  %-28s worker %7.2f\n", kKindNames[k], median(worker[k]));
    }
    const double none = median(worker[0]) + median(db[0]);
    std::printf("  a new client id costs %+.2f µs per message (%+.1f%%)\n",
                median(worker[1]) + median(db[1]) - none,
                none > 0 ? (median(worker[1]) + median(db[1]) - none) * 100 / none : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    int messages = 20000, rounds = 5;
    std::string setups = "sqlite,postgres";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--messages")
            messages = std::max(kBatch, std::stoi(value));
        else if (name == "--rounds")
            rounds = std::max(1, std::stoi(value));
        else if (name == "--senders")
            senders = std::max(1, std::stoi(value));
        else if (name == "--setups")
            setups = value;
    }
    setups = "," + setups + ",";
    if (setups.find(",sqlite,") != std::string::npos) {
        char folder[] = "/tmp/brindlewick-client-id-XXXXXX";
        const std::string dir = mkdtemp(folder);
        {
            SqliteStorage storage(dir + "/brindlewick.db");
            measure("SQLite", storage, 0, messages, rounds);
        }
        std::system(("rm -rf " + dir).c_str());
    }
    if (setups.find(",postgres,") != std::string::npos) {
        std::string error;
        auto cluster = test::PostgresCluster::start(error, {true});
        if (!cluster) {
            std::fprintf(stderr, "PostgreSQL: %s\n", error.c_str());
            return 1;
        }
        const std::string uri = cluster->createDatabase(error);
        if (uri.empty()) {
            std::fprintf(stderr, "PostgreSQL: %s\n", error.c_str());
            return 1;
        }
        PostgresStorage storage(uri);
        // The backend serving the storage's connection: the only other one on this database.
        PgConnection probe(uri);
        const auto found = probe.query("SELECT pid FROM pg_stat_activity WHERE datname = "
                                       "current_database() AND pid <> pg_backend_pid()");
        const pid_t backend = found.rows() == 1 ? pid_t(found.integer(0, 0)) : 0;
        if (backend <= 0) {
            std::fprintf(stderr, "PostgreSQL: the storage's backend was not found\n");
            return 1;
        }
        measure("PostgreSQL", storage, backend, messages, rounds);
    }
    return 0;
}
