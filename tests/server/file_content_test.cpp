// Both places a file's bytes may live, through the store and read back as a download reads
// them: what is intact arrives whole, what was cut short after it was located never does.

#include "backends.h"
#include "database_content.h"
#include "db_worker.h"
#include "disk_content.h"
#include "file_store.h"
#include "postgres_storage.h"
#include "sqlite_storage.h"
#include "verified_file.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

using namespace brindlewick;
using namespace brindlewick::server;

namespace {

constexpr std::size_t kChunk = 100 * 1000;

class FileContentTest : public ::testing::TestWithParam<test::Backend> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brindlewick-content-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        std::unique_ptr<Storage> storage;
        std::unique_ptr<FileContent> content;
        if (GetParam() == test::Backend::Sqlite) {
            storage = std::make_unique<SqliteStorage>(dir + "/brindlewick.db");
            content = std::make_unique<DiskContent>(dir + "/files");
        } else {
            std::string skip;
            const std::string args = test::backendArgs(GetParam(), skip);
            if (args.empty())
                GTEST_SKIP() << skip;
            storage = std::make_unique<PostgresStorage>(args.substr(args.rfind(' ') + 1));
            content = std::make_unique<DatabaseContent>();
        }
        store = std::make_unique<FileStore>(std::move(content), UploadLimits{});
        std::string error;
        ASSERT_TRUE(store->prepare(error)) << error;
        worker = std::make_unique<DbWorker>(io, std::move(storage));
    }
    void TearDown() override {
        worker.reset();
        std::system(("rm -rf " + dir).c_str());
    }

    // Runs completions until `done` holds (at most a minute: other work runs beside).
    void runUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            io.restart();
            io.run_one_for(std::chrono::milliseconds(10));
        }
    }
    // `job` on the worker, in a transaction of its own; false when it failed.
    bool run(std::function<void(Storage&)> job) {
        std::optional<bool> committed;
        worker->post(
            [job, &committed](Storage& storage) -> Completion {
                job(storage);
                return [&committed](bool ok) { committed = ok; };
            },
            [&committed](bool) { committed = false; });
        runUntil([&] { return committed.has_value(); });
        return committed.value_or(false);
    }
    // Uploaded in chunks and completed; the located file.
    FileAnswer uploaded(const std::string& content) {
        FileAnswer located;
        EXPECT_TRUE(run([&](Storage& storage) {
            const std::string id =
                store->create(storage, "a.bin", std::int64_t(content.size()), "test").id;
            for (std::size_t at = 0, n = 0; at < content.size(); at += kChunk, ++n)
                EXPECT_EQ(store->putChunk(storage, id, n, content.substr(at, kChunk)).status, 200u);
            EXPECT_EQ(store->complete(storage, id).status, 200u);
            located = store->locate(storage, id);
        }));
        EXPECT_EQ(located.status, 200u);
        return located;
    }
    // What a download would send, piece by piece; `whole` when every check passed.
    std::string read(const FileAnswer& located, bool& whole) {
        VerifiedFile file(store->content().reader(located, *worker, "test"), located.id,
                          std::uint64_t(located.size), located.sha256);
        std::string sent;
        whole = false;
        if (!file.open())
            return sent;
        bool failed = false;
        while (!failed && !file.done()) {
            bool arrived = false;
            file.next([&](std::optional<std::string> piece) {
                arrived = true;
                if (piece)
                    sent += *piece;
                else
                    failed = true;
            });
            runUntil([&] { return arrived; });
            if (!arrived)
                break;
        }
        whole = !failed && file.done();
        return sent;
    }

    boost::asio::io_context io;
    std::string dir;
    std::unique_ptr<FileStore> store;
    std::unique_ptr<DbWorker> worker;
};

} // namespace

TEST_P(FileContentTest, WhatWasCutShortAfterItWasLocatedNeverArrivesWhole) {
    std::string content(3 * kChunk + 1234, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 131 % 251);
    const bool onDisk = GetParam() == test::Backend::Sqlite;
    struct Case {
        const char* what;
        std::optional<std::size_t> keep; // bytes left of the last chunk; none: untouched
    };
    const Case cases[] = {
        {"intact", std::nullopt},
        {"the last chunk cut short", 1000},
        {"the last chunk emptied", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FileAnswer located = uploaded(content);
        if (c.keep) {
            const std::size_t length = 3 * kChunk + *c.keep;
            if (onDisk) {
                ASSERT_EQ(::truncate((dir + "/files/" + located.id).c_str(), off_t(length)), 0);
            } else {
                ASSERT_TRUE(run([&](Storage& storage) {
                    storage.putFileChunk(located.id, 3, content.substr(3 * kChunk, *c.keep));
                }));
            }
        }
        bool whole = false;
        const std::string sent = read(located, whole);
        if (!c.keep) {
            EXPECT_TRUE(whole);
            EXPECT_TRUE(sent == content);
        } else {
            EXPECT_FALSE(whole);
            EXPECT_LT(sent.size(), content.size());
            EXPECT_EQ(sent, content.substr(0, sent.size()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Storage, FileContentTest, test::kBackends, test::backendName);
