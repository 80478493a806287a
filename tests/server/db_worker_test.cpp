// The database worker's group commits: jobs that arrive together share one transaction, and a
// job that fails takes back its own changes only.

#include "db_worker.h"
#include "sqlite_storage.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace brindlewick::server;

namespace {

TEST(DbWorker, AFailingJobInABatchRollsBackAloneAndLaterBatchesStillCommit) {
    boost::asio::io_context io;
    DbWorker worker(io, std::make_unique<SqliteStorage>(":memory:"));
    // Holds the worker so that the jobs below queue up and run as one batch.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    worker.post([released](Storage&) -> Completion {
        released.wait();
        return {};
    });

    // Per job: whether it fails after writing, and what its completion saw.
    const std::vector<bool> fails = {false, true, false, true, true, false};
    std::vector<std::optional<bool>> outcome(fails.size());
    for (std::size_t i = 0; i < fails.size(); ++i)
        worker.post(
            [i, fail = fails[i], &outcome](Storage& s) -> Completion {
                s.upsertUser({"10" + std::to_string(i), "n", "", ""}, true);
                if (fail)
                    throw std::runtime_error("fails after writing");
                return [i, &outcome](bool committed) { outcome[i] = committed; };
            },
            [i, &outcome](bool) { outcome[i] = false; });
    release.set_value();

    std::vector<bool> present(fails.size());
    std::optional<bool> checked;
    auto waitFor = [&io](const std::optional<bool>& flag) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!flag && std::chrono::steady_clock::now() < deadline) {
            io.restart();
            io.run_one_for(std::chrono::milliseconds(10));
        }
    };
    // Two batches later: the statements that frame a batch must still work after failures.
    for (int round = 0; round < 2; ++round) {
        checked.reset();
        worker.post([&](Storage& s) -> Completion {
            for (std::size_t i = 0; i < fails.size(); ++i)
                present[i] = s.user("10" + std::to_string(i)).has_value();
            s.upsertUser({"20" + std::to_string(round), "n", "", ""}, true);
            return [&checked](bool committed) { checked = committed; };
        });
        waitFor(checked);
        ASSERT_TRUE(checked.has_value());
        EXPECT_TRUE(*checked);
    }
    for (std::size_t i = 0; i < fails.size(); ++i) {
        ASSERT_TRUE(outcome[i].has_value()) << i;
        EXPECT_EQ(*outcome[i], !fails[i]) << i;
        EXPECT_EQ(present[i], !fails[i]) << i;
    }
}

TEST(DbWorker, JobsCompleteInOrderThroughGatheredBatchesAndOnStop) {
    boost::asio::io_context io;
    DbWorker worker(io, std::make_unique<SqliteStorage>(":memory:"));
    std::vector<int> done;
    auto post = [&](int n) {
        worker.post([n, &done](Storage& s) -> Completion {
            s.upsertUser({"30" + std::to_string(n % 50), "n", "", ""}, true);
            return [n, &done](bool committed) {
                if (committed)
                    done.push_back(n);
            };
        });
    };
    auto runUntil = [&io, &done](std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (done.size() < count && std::chrono::steady_clock::now() < deadline) {
            io.restart();
            io.run_one_for(std::chrono::milliseconds(10));
        }
    };
    // Busy batches, one larger than a full one, then a lone job after them.
    int next = 0;
    for (int burst : {40, 40, int(DbWorker::kFullBatch) + 100, 1}) {
        for (int i = 0; i < burst; ++i)
            post(next++);
        runUntil(std::size_t(next));
    }
    // Stopping while the worker may be gathering still runs everything queued.
    for (int i = 0; i < 100; ++i)
        post(next++);
    worker.stop();
    runUntil(std::size_t(next));
    ASSERT_EQ(done.size(), std::size_t(next));
    for (int i = 0; i < next; ++i)
        ASSERT_EQ(done[i], i);
}

} // namespace
