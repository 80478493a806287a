// Reads beside the writes: a requester who floods reads waits behind their own, a read sees
// the writes posted before it, and no write waits for a read.

#include "db_worker.h"
#include "sqlite_storage.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace brindlewick::server;

namespace {

class ReadPoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brindlewick-reads-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        // The writer first: it makes the schema the reader opens.
        auto writer = std::make_unique<SqliteStorage>(dir + "/brindlewick.db");
        std::vector<std::unique_ptr<Storage>> readers;
        // One reader, so the order in which requesters take turns is the order jobs run.
        readers.push_back(std::make_unique<SqliteStorage>(dir + "/brindlewick.db", true));
        worker = std::make_unique<DbWorker>(io, std::move(writer), std::move(readers));
    }
    void TearDown() override {
        worker.reset();
        std::system(("rm -rf " + dir).c_str());
    }
    // Runs completions until `done` holds (at most ten seconds).
    void runUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            io.restart();
            io.run_one_for(std::chrono::milliseconds(10));
        }
    }
    // A job that holds its thread until `gate` is opened.
    static Job holding(std::shared_future<void> gate) {
        return [gate](Storage&) -> Completion {
            gate.wait();
            return {};
        };
    }

    boost::asio::io_context io;
    std::string dir;
    std::unique_ptr<DbWorker> worker;
};

TEST_F(ReadPoolTest, ARequesterWhoFloodsReadsWaitsBehindTheirOwnOnly) {
    std::promise<void> open;
    worker->read("flooder", holding(open.get_future().share()));
    std::mutex mutex;
    std::vector<std::string> ran;
    auto job = [&](std::string who) -> Job {
        return [&, who](Storage& storage) -> Completion {
            storage.user("0100000"); // a real query on the reader's connection
            std::lock_guard<std::mutex> lock(mutex);
            ran.push_back(who);
            return {};
        };
    };
    for (int i = 0; i < 50; ++i)
        worker->read("flooder", job("flooder"));
    worker->read("other", job("other"));
    open.set_value();
    runUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return ran.size() == 51;
    });
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(ran.size(), 51u);
    // The flooder's held job was its turn; the other requester's comes next, not after fifty.
    EXPECT_EQ(ran.front(), "other");
}

TEST_F(ReadPoolTest, AReadSeesTheWritesPostedBeforeItAndNoWriteWaitsForAReader) {
    // The writer is held with a write queued behind: the read posted after it must wait.
    std::promise<void> openWriter;
    worker->post(holding(openWriter.get_future().share()));
    worker->post([](Storage& storage) -> Completion {
        storage.upsertUser({"0101111", "쓴 사람", "", ""}, true);
        return {};
    });
    std::optional<bool> seen;
    worker->read("reader", [&seen](Storage& storage) -> Completion {
        const bool found = storage.user("0101111").has_value();
        return [&seen, found](bool) { seen = found; };
    });
    openWriter.set_value();
    runUntil([&] { return seen.has_value(); });
    ASSERT_TRUE(seen);
    EXPECT_TRUE(*seen);

    // The reader is held: writes still commit and complete.
    std::promise<void> openReader;
    worker->read("reader", holding(openReader.get_future().share()));
    std::optional<bool> committed;
    worker->post(
        [](Storage& storage) -> Completion {
            storage.upsertUser({"0102222", "또", "", ""}, true);
            return {};
        },
        {});
    worker->post(
        [&committed](Storage&) -> Completion { return [&committed](bool ok) { committed = ok; }; });
    runUntil([&] { return committed.has_value(); });
    openReader.set_value();
    ASSERT_TRUE(committed);
    EXPECT_TRUE(*committed);
}

} // namespace
