// The room member lists that deliveries share: they must follow every committed change and
// forget any change that was rolled back.

#include "db_worker.h"
#include "sqlite_storage.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <optional>
#include <stdexcept>

using namespace brindlewick::server;

namespace {

using Members = std::vector<std::string>;

// Runs `job` on the worker and waits for its completion; true when it committed.
bool run(boost::asio::io_context& io, DbWorker& worker, std::function<void(Storage&)> job) {
    std::optional<bool> committed;
    worker.post(
        [job, &committed](Storage& storage) -> Completion {
            job(storage);
            return [&committed](bool ok) { committed = ok; };
        },
        [&committed](bool) { committed = false; });
    while (!committed) {
        io.restart();
        io.run_one_for(std::chrono::milliseconds(10));
    }
    return *committed;
}

TEST(MemberCache, FollowsCommittedChangesAndForgetsRolledBackOnes) {
    boost::asio::io_context io;
    DbWorker worker(io, std::make_unique<SqliteStorage>(":memory:"));
    Storage::MemberList first, again;
    ASSERT_TRUE(run(io, worker, [&](Storage& s) {
        s.createRoom("group:a", "group", "", "1");
        s.addMember("group:a", "1");
        s.addMember("group:a", "2");
        first = s.sharedMembers("group:a");
        again = s.sharedMembers("group:a");
    }));
    EXPECT_EQ(first.get(), again.get()); // one list for every delivery
    EXPECT_EQ(*first, (Members{"1", "2"}));

    // Added, read (and cached), then the job fails: the cache must not keep "3".
    EXPECT_FALSE(run(io, worker, [&](Storage& s) {
        s.addMember("group:a", "3");
        EXPECT_EQ(s.sharedMembers("group:a")->size(), 3u);
        throw std::runtime_error("fails after reading");
    }));
    Storage::MemberList after;
    ASSERT_TRUE(run(io, worker, [&](Storage& s) { after = s.sharedMembers("group:a"); }));
    EXPECT_EQ(*after, (Members{"1", "2"}));

    ASSERT_TRUE(run(io, worker, [&](Storage& s) {
        s.removeMember("group:a", "1");
        s.addMember("group:a", "2"); // already in: the list stays as it is
        after = s.sharedMembers("group:a");
    }));
    EXPECT_EQ(*after, (Members{"2"}));
    EXPECT_EQ(*first, (Members{"1", "2"})); // a delivery's list never changes under it
}

} // namespace
