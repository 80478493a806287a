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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({std::move(job), std::move(onFailure)});
    }
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
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return; // stopping with nothing left
            jobs.swap(queue_);
        }
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
        // A savepoint per job: one bad job must not take its neighbours down.
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
