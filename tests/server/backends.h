#pragma once
// The storage back ends the server's suites run on, as gtest parameters: SQLite, and
// PostgreSQL on a throw-away cluster that the test binary starts once and stops at exit.

#include "storage.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace brindlewick::test {

enum class Backend { Sqlite, Postgres };
inline const auto kBackends = ::testing::Values(Backend::Sqlite, Backend::Postgres);
std::string backendName(const ::testing::TestParamInfo<Backend>& info);

// Server arguments for `backend`: " --postgres URI" of a fresh database, or none for SQLite in
// the data folder. `skip` says why the back end cannot be tested (PostgreSQL not installed); a
// cluster that is installed but fails is also a test failure.
std::string backendArgs(Backend backend, std::string& skip);

// In-process storage with empty tables: SQLite in memory, or a transaction on the binary's
// PostgreSQL database that the destructor rolls back, so each test starts from nothing.
class ScratchStorage {
public:
    explicit ScratchStorage(Backend backend);
    ~ScratchStorage();
    ScratchStorage(const ScratchStorage&) = delete;
    ScratchStorage& operator=(const ScratchStorage&) = delete;
    // Null when the back end is not available (`skip` says why).
    server::Storage* get() const { return storage_.get(); }
    std::string skip;

private:
    std::unique_ptr<server::Storage> storage_;
    bool inTransaction_ = false;
};

} // namespace brindlewick::test
