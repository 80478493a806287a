#include "backends.h"

#include "postgres_cluster.h"
#include "postgres_storage.h"
#include "sqlite_storage.h"

namespace brindlewick::test {

namespace {

// The cluster, or nullptr with `skip` set (and a failure added unless it is not installed).
PostgresCluster* cluster(std::string& skip) {
    if (PostgresCluster::binaries().empty()) {
        skip = "PostgreSQL is not installed (scripts/setup installs it); skipped";
        return nullptr;
    }
    std::string why;
    PostgresCluster* shared = sharedPostgresCluster(why);
    if (!shared) {
        ADD_FAILURE() << why;
        skip = why;
    }
    return shared;
}

} // namespace

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

std::string backendArgs(Backend backend, std::string& skip) {
    if (backend == Backend::Sqlite)
        return {};
    PostgresCluster* shared = cluster(skip);
    if (!shared)
        return {};
    std::string why;
    const std::string uri = shared->createDatabase(why);
    if (uri.empty()) {
        ADD_FAILURE() << why;
        skip = why;
        return {};
    }
    return " --postgres " + uri;
}

ScratchStorage::ScratchStorage(Backend backend) {
    if (backend == Backend::Sqlite) {
        storage_ = std::make_unique<server::SqliteStorage>(":memory:");
        return;
    }
    PostgresCluster* shared = cluster(skip);
    if (!shared)
        return;
    // One database for the binary: every scratch storage lives in its own transaction.
    static const std::string uri = [shared] {
        std::string why;
        std::string made = shared->createDatabase(why);
        if (made.empty())
            ADD_FAILURE() << why;
        return made;
    }();
    if (uri.empty()) {
        skip = "no database";
        return;
    }
    storage_ = std::make_unique<server::PostgresStorage>(uri);
    storage_->begin();
    inTransaction_ = true;
}

ScratchStorage::~ScratchStorage() {
    if (inTransaction_) {
        try {
            storage_->rollback();
        } catch (const std::exception&) {
        }
    }
}

} // namespace brindlewick::test
