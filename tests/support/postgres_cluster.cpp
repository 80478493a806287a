#include "postgres_cluster.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <vector>

namespace brindlewick::test {

namespace fs = std::filesystem;

namespace {

// A port free right now; the server may still lose it to a race, then start() tries again.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// Runs `command` through the shell, as `user` when given; true when it exits with 0.
bool run(const std::string& command, const std::string& user) {
    const std::string full =
        user.empty() ? command : "runuser -u " + user + " -- sh -c '" + command + "'";
    return std::system(full.c_str()) == 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string PostgresCluster::binaries() {
    if (const char* bin = std::getenv("BRINDLEWICK_PG_BIN"))
        return bin;
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
        if (fs::exists(entry.path() / "bin" / "initdb") && fs::exists(entry.path() / "bin/pg_ctl"))
            found.push_back(entry.path() / "bin");
    if (found.empty())
        return {};
    // The newest major version: "15" sorts before "16", and no version below 10 is packaged.
    std::sort(found.begin(), found.end());
    return found.back().string();
}

std::unique_ptr<PostgresCluster> PostgresCluster::start(std::string& error, Options options) {
    std::unique_ptr<PostgresCluster> cluster(new PostgresCluster);
    cluster->bin_ = binaries();
    if (cluster->bin_.empty()) {
        error = "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)";
        return nullptr;
    }
    std::string folder = (fs::temp_directory_path() / "brindlewick-pg-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        error = "cannot create a temporary folder";
        return nullptr;
    }
    cluster->folder_ = folder;
    if (::geteuid() == 0) {
        // The server refuses root; the package's own user, else nobody.
        const passwd* user = ::getpwnam("postgres");
        if (!user)
            user = ::getpwnam("nobody");
        if (!user || ::chown(folder.c_str(), user->pw_uid, user->pw_gid) != 0) {
            error = "no unprivileged user to run PostgreSQL as";
            return nullptr;
        }
        cluster->runAs_ = user->pw_name;
    }
    const std::string data = folder + "/data";
    if (!run(cluster->bin_ + "/initdb -D " + data +
                 " -A trust -U brindlewick -E UTF8 --no-locale --no-sync >" + folder +
                 "/initdb.log 2>&1",
             cluster->runAs_)) {
        error = "initdb failed: " + readFile(folder + "/initdb.log");
        return nullptr;
    }
    std::string settings = "-c listen_addresses=127.0.0.1 -c unix_socket_directories=" + folder +
                           " -c max_connections=200";
    if (!options.durable)
        settings += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    for (int attempt = 0; attempt < 5; ++attempt) {
        cluster->port_ = freePort();
        if (run(cluster->bin_ + "/pg_ctl -D " + data + " -w -t 60 -l " + folder +
                    "/server.log -o \"-p " + std::to_string(cluster->port_) + " " + settings +
                    "\" start >/dev/null 2>&1",
                cluster->runAs_)) {
            cluster->running_ = true;
            return cluster;
        }
    }
    error = "PostgreSQL did not start: " + cluster->log();
    return nullptr;
}

PostgresCluster::~PostgresCluster() {
    stop();
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

void PostgresCluster::stop() {
    if (!running_)
        return;
    running_ = false;
    run(bin_ + "/pg_ctl -D " + folder_ + "/data -m fast -w stop >/dev/null 2>&1", runAs_);
}

std::string PostgresCluster::uri(const std::string& database) const {
    return "postgresql://brindlewick@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresCluster::log() const {
    return readFile(folder_ + "/server.log");
}

std::string PostgresCluster::createDatabase(std::string& error) {
    const std::string name = "test" + std::to_string(++databases_);
    PGconn* conn = PQconnectdb(uri().c_str());
    PGresult* result = nullptr;
    if (PQstatus(conn) == CONNECTION_OK)
        result = PQexec(conn, ("CREATE DATABASE " + name).c_str());
    const bool ok = result && PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok)
        error = std::string("CREATE DATABASE failed: ") + PQerrorMessage(conn);
    PQclear(result);
    PQfinish(conn);
    return ok ? uri(name) : std::string();
}

PostgresCluster* sharedPostgresCluster(std::string& why) {
    static std::string reason;
    static const std::unique_ptr<PostgresCluster> cluster = [] {
        auto started = PostgresCluster::start(reason);
        return started;
    }();
    why = reason;
    return cluster.get();
}

} // namespace brindlewick::test
