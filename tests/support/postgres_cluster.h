#pragma once
// A throw-away PostgreSQL cluster for tests and benchmarks: initdb into a temporary folder,
// the server on a free local port (unix socket in that folder too), stopped and removed by
// the destructor. Run as root (CI), the cluster belongs to an unprivileged user, since
// PostgreSQL refuses to run as root.

#include <memory>
#include <string>

namespace brindlewick::test {

class PostgresCluster {
public:
    struct Options {
        // false: no fsync, for quick tests; true: flushes like a production server does.
        bool durable = false;
    };

    // The folder holding initdb and pg_ctl, or "" when PostgreSQL is not installed.
    static std::string binaries();
    // Started and ready for connections, or nullptr with `error` set.
    static std::unique_ptr<PostgresCluster> start(std::string& error, Options options);
    static std::unique_ptr<PostgresCluster> start(std::string& error) {
        return start(error, Options{});
    }
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // A libpq URI for `database` on this cluster.
    std::string uri(const std::string& database = "postgres") const;
    // Creates an empty database with a new name and returns its URI, or "" with `error` set.
    std::string createDatabase(std::string& error);
    void stop();
    int port() const { return port_; }
    // The server's log, for a failing test's output.
    std::string log() const;

private:
    PostgresCluster() = default;

    std::string folder_;
    std::string bin_;
    std::string runAs_; // "" when not root
    int port_ = 0;
    int databases_ = 0;
    bool running_ = false;
};

// One cluster for the whole test binary, started on first use and stopped at exit; nullptr,
// with the reason in `why`, when PostgreSQL is not installed or cannot start.
PostgresCluster* sharedPostgresCluster(std::string& why);

} // namespace brindlewick::test
