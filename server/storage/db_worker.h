#pragma once
// The thread that owns the database. Jobs run in the order they were posted; every job
// queued while a commit is in flight goes into the next transaction (group commit), so
// one disk flush covers many messages. Completions return to the io_context in order,
// after the commit, so nothing is announced before it is on disk. Reads may go to a ReadPool
// of connections of their own instead (`read`), so they never hold the writes up.

#include "storage.h"

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brindlewick::server {

// Runs on the io_context; `committed` is false when the transaction failed.
using Completion = std::function<void(bool committed)>;
// Runs on the worker inside the transaction; a thrown DatabaseError rolls back this job only.
using Job = std::function<Completion(Storage&)>;

class ReadPool;

class DbWorker {
public:
    // `readers`: connections for read(), each on a thread of its own; none: reads are posted
    // like any other job (an in-memory database has nobody to share it with).
    DbWorker(boost::asio::io_context& io, std::unique_ptr<Storage> storage,
             std::vector<std::unique_ptr<Storage>> readers = {});
    ~DbWorker();

    // `onFailure` runs instead of the job's completion when the job throws. `room`: the room
    // whose next message id the job takes, if any (see Storage::lockRooms).
    void post(Job job, Completion onFailure = {}, std::string room = {});
    // A job that only reads, for `who` (a phone or an address): it runs after the jobs posted
    // before it are committed, beside the writes, taking turns with other requesters (ReadPool).
    void read(const std::string& who, Job job, Completion onFailure = {});
    // Finishes every queued job, then stops the threads.
    void stop();

    // Jobs posted so far, and returns once that many are finished (committed or failed).
    std::uint64_t postedCount() const { return posted_.load(); }
    void waitFinished(std::uint64_t count);

    // A batch this large means load: the next one waits up to kGatherWindow from this one's
    // start, unless kFullBatch jobs are waiting already.
    static constexpr std::size_t kBusyBatch = 16;
    static constexpr std::size_t kFullBatch = 2048;
    static constexpr std::chrono::milliseconds kGatherWindow{8};

private:
    void run();
    struct Entry {
        Job job;
        Completion onFailure;
        std::string room;
    };
    void runBatch(std::vector<Entry>& jobs);
    // Begins a transaction for jobs[from..] and locks their rooms; false when it cannot.
    bool beginFor(const std::vector<Entry>& jobs, std::size_t from);
    // Commits (when `open`), releases jobs[from, to), then hands their completions to the io
    // thread.
    void finish(std::vector<Entry>& jobs, std::size_t from, std::size_t to,
                std::vector<Completion>& completions, bool open);

    boost::asio::io_context& io_;
    std::unique_ptr<Storage> storage_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> queue_;
    bool stopping_ = false;
    std::atomic<std::uint64_t> posted_{0};
    std::mutex finishedMutex_;
    std::condition_variable finishedWake_;
    std::uint64_t finished_ = 0;
    std::thread thread_;
    std::unique_ptr<ReadPool> reads_; // after thread_: its jobs wait for the writer's
};

} // namespace brindlewick::server
