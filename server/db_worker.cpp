#include "db_worker.h"

#include "log.h"

#include <boost/asio/post.hpp>

namespace brindlewick::server {

namespace {

Completion failed(Completion onFailure) {
    return [onFailure = std::move(onFailure)](bool) {
        if (onFailure)
            onFailure(false);
    };
}

} // namespace

DbWorker::DbWorker(boost::asio::io_context& io, std::unique_ptr<Storage> storage)
    : io_(io), storage_(std::move(storage)), thread_([this] { run(); }) {}

DbWorker::~DbWorker() {
    stop();
}

void DbWorker::post(Job job, Completion onFailure) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({std::move(job), std::move(onFailure)});
        // The worker waits for the first job, or for a full batch while it gathers one.
        wake = queue_.size() == 1 || queue_.size() == kFullBatch;
    }
    if (wake)
        wake_.notify_one();
}

void DbWorker::stop() {
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
        bool committed = false;
        auto completions = std::make_shared<std::vector<Completion>>(runBatch(jobs, committed));
        // Before the post: what the jobs hold must be released here, not race the io thread.
        jobs.clear();
        boost::asio::post(io_, [completions, committed] {
            for (Completion& done : *completions)
                if (done)
                    done(committed);
        });
    }
}

std::vector<Completion> DbWorker::runBatch(std::vector<Entry>& jobs, bool& committed) {
    std::vector<Completion> completions;
    completions.reserve(jobs.size());
    Storage& db = *storage_;
    try {
        db.begin();
    } catch (const DatabaseError& e) {
        logLine(std::string("database: cannot begin: ") + e.what());
        for (Entry& entry : jobs)
            completions.push_back(failed(std::move(entry.onFailure)));
        committed = false;
        return completions;
    }
    for (Entry& entry : jobs) {
        // A savepoint per job: one bad job must not take its neighbours down. Like the
        // statements around the batch, prepared once rather than parsed for every job.
        try {
            db.savepoint();
            completions.push_back(entry.job(*storage_));
            db.releaseSavepoint();
        } catch (const std::exception& e) {
            logLine(std::string("database: job failed: ") + e.what());
            try {
                db.rollbackToSavepoint();
            } catch (const std::exception&) {
            }
            storage_->forgetCachedMembers();
            completions.push_back(failed(std::move(entry.onFailure)));
        }
    }
    try {
        db.commit();
        committed = true;
    } catch (const DatabaseError& e) {
        logLine(std::string("database: commit failed: ") + e.what());
        try {
            db.rollback();
        } catch (const DatabaseError&) {
        }
        storage_->forgetCachedMembers();
        committed = false;
    }
    return completions;
}

} // namespace brindlewick::server
