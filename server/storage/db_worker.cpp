#include "db_worker.h"

#include "log.h"
#include "read_pool.h"

#include <boost/asio/post.hpp>

#include <algorithm>

namespace brindlewick::server {

namespace {

Completion failed(Completion onFailure) {
    return [onFailure = std::move(onFailure)](bool) {
        if (onFailure)
            onFailure(false);
    };
}

// Takes back a failed job's changes; the batch goes on.
void undo(Storage& db) {
    try {
        db.rollbackToSavepoint();
    } catch (const std::exception&) {
    }
    db.forgetCachedMembers();
}

} // namespace

DbWorker::DbWorker(boost::asio::io_context& io, std::unique_ptr<Storage> storage,
                   std::vector<std::unique_ptr<Storage>> readers)
    : io_(io), storage_(std::move(storage)), thread_([this] { run(); }) {
    if (!readers.empty())
        reads_ = std::make_unique<ReadPool>(io, *this, std::move(readers));
}

DbWorker::~DbWorker() {
    stop();
}

void DbWorker::post(Job job, Completion onFailure, std::string room) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({std::move(job), std::move(onFailure), std::move(room)});
        ++posted_;
        // The worker waits for the first job, or for a full batch while it gathers one.
        wake = queue_.size() == 1 || queue_.size() == kFullBatch;
    }
    if (wake)
        wake_.notify_one();
}

void DbWorker::read(const std::string& who, Job job, Completion onFailure) {
    if (reads_)
        reads_->post(who, std::move(job), std::move(onFailure));
    else
        post(std::move(job), std::move(onFailure));
}

void DbWorker::waitFinished(std::uint64_t count) {
    std::unique_lock<std::mutex> lock(finishedMutex_);
    finishedWake_.wait(lock, [&] { return finished_ >= count; });
}

void DbWorker::stop() {
    // Reads first: they may wait for writes, never the other way round.
    if (reads_)
        reads_->stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void DbWorker::run() {
    std::vector<Entry> jobs;
    auto lastStart = std::chrono::steady_clock::now();
    std::size_t lastSize = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return; // stopping with nothing left
            // Under load, batches start at most every kGatherWindow: a larger transaction
            // writes fewer pages and flushes per message, and each connection gets more of
            // its deliveries in one write. A quiet server commits at once.
            if (lastSize >= kBusyBatch)
                wake_.wait_until(lock, lastStart + kGatherWindow,
                                 [this] { return stopping_ || queue_.size() >= kFullBatch; });
            jobs.swap(queue_);
        }
        lastStart = std::chrono::steady_clock::now();
        lastSize = jobs.size();
        runBatch(jobs);
        jobs.clear();
    }
}

bool DbWorker::beginFor(const std::vector<Entry>& jobs, std::size_t from) {
    std::vector<std::string> rooms;
    // A lone job holds nothing while it waits for its room: no round trip for that.
    for (std::size_t i = from; i < jobs.size() && jobs.size() - from > 1; ++i)
        if (!jobs[i].room.empty())
            rooms.push_back(jobs[i].room);
    std::sort(rooms.begin(), rooms.end());
    rooms.erase(std::unique(rooms.begin(), rooms.end()), rooms.end());
    // Ordered locks leave no circle among batches; a job retried alone might still close one.
    for (int attempt = 1;; ++attempt) {
        try {
            storage_->begin();
            storage_->lockRooms(rooms);
            return true;
        } catch (const DatabaseError& e) {
            try {
                storage_->rollback();
            } catch (const DatabaseError&) {
            }
            // Nothing of the batch has run yet: a connection found lost here is reopened by
            // the next begin(), and the batch goes on.
            if (attempt < 3 && (attempt == 1 || dynamic_cast<const LockConflict*>(&e)))
                continue;
            logLine(std::string("database: cannot begin: ") + e.what());
            return false;
        }
    }
}

void DbWorker::finish(std::vector<Entry>& jobs, std::size_t from, std::size_t to,
                      std::vector<Completion>& completions, bool open) {
    bool committed = false;
    if (open) {
        try {
            storage_->commit();
            committed = true;
        } catch (const DatabaseError& e) {
            logLine(std::string("database: commit failed: ") + e.what());
            try {
                storage_->rollback();
            } catch (const DatabaseError&) {
            }
            storage_->forgetCachedMembers();
        }
    }
    // Before the post: what the jobs hold must be released here, not race the io thread.
    for (std::size_t i = from; i < to; ++i)
        jobs[i] = Entry{};
    auto done = std::make_shared<std::vector<Completion>>(std::move(completions));
    completions.clear();
    boost::asio::post(io_, [done, committed] {
        for (Completion& completion : *done)
            if (completion)
                completion(committed);
    });
    // After the post: a read waiting for these jobs answers after their completions.
    {
        std::lock_guard<std::mutex> lock(finishedMutex_);
        finished_ += to - from;
    }
    finishedWake_.notify_all();
}

void DbWorker::runBatch(std::vector<Entry>& jobs) {
    std::vector<Completion> completions;
    completions.reserve(jobs.size());
    Storage& db = *storage_;
    std::size_t first = 0; // the open transaction's first job
    bool open = beginFor(jobs, 0);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Entry& entry = jobs[i];
        if (open) {
            // A savepoint per job: one bad job must not take its neighbours down. Like the
            // statements around the batch, prepared once rather than parsed for every job.
            try {
                db.savepoint();
                completions.push_back(entry.job(db));
                db.releaseSavepoint();
                continue;
            } catch (const LockConflict& e) {
                undo(db);
                if (i > first) {
                    // What this transaction holds is part of the circle: commit it, and the
                    // job runs again first in a new one, holding nothing while it waits.
                    finish(jobs, first, i, completions, true);
                    first = i;
                    open = beginFor(jobs, i);
                    --i;
                    continue;
                }
                logLine(std::string("database: job failed: ") + e.what());
            } catch (const std::exception& e) {
                logLine(std::string("database: job failed: ") + e.what());
                undo(db);
            }
        }
        completions.push_back(failed(std::move(entry.onFailure)));
    }
    finish(jobs, first, jobs.size(), completions, open);
}

} // namespace brindlewick::server
