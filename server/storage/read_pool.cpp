#include "read_pool.h"

#include "log.h"

#include <boost/asio/post.hpp>

namespace brindlewick::server {

ReadPool::ReadPool(boost::asio::io_context& io, DbWorker& writer,
                   std::vector<std::unique_ptr<Storage>> readers)
    : io_(io), writer_(writer), readers_(std::move(readers)) {
    for (auto& reader : readers_)
        threads_.emplace_back([this, storage = reader.get()] { run(*storage); });
}

ReadPool::~ReadPool() {
    stop();
}

void ReadPool::post(const std::string& who, Job job, Completion onFailure) {
    const std::uint64_t after = writer_.postedCount();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Queue& queue = queues_[who];
        if (queue.jobs.empty() && !queue.running)
            turns_.push_back(who);
        queue.jobs.push_back({std::move(job), std::move(onFailure), after});
    }
    wake_.notify_one();
}

void ReadPool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        if (thread.joinable())
            thread.join();
    threads_.clear();
}

void ReadPool::run(Storage& storage) {
    for (;;) {
        std::string who;
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
            if (turns_.empty())
                return; // stopping with nothing left
            who = std::move(turns_.front());
            turns_.pop_front();
            Queue& queue = queues_[who];
            entry = std::move(queue.jobs.front());
            queue.jobs.pop_front();
            queue.running = true;
        }
        writer_.waitFinished(entry.after);
        Completion completion;
        // A read changes nothing, so one that failed (a connection lost since the last, say:
        // begin() reopens it) simply runs again.
        for (int attempt = 1;; ++attempt) {
            try {
                storage.begin();
                completion = entry.job(storage);
                storage.commit();
                break;
            } catch (const std::exception& e) {
                try {
                    storage.rollback();
                } catch (const std::exception&) {
                }
                if (attempt < 2 && dynamic_cast<const DatabaseError*>(&e))
                    continue;
                logLine(std::string("database: read failed: ") + e.what());
                completion = [onFailure = std::move(entry.onFailure)](bool) {
                    if (onFailure)
                        onFailure(false);
                };
                break;
            }
        }
        entry = Entry{}; // what the job holds is released here, not raced by the io thread
        boost::asio::post(io_, [completion = std::move(completion)] {
            if (completion)
                completion(true);
        });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = queues_.find(who);
            it->second.running = false;
            if (it->second.jobs.empty())
                queues_.erase(it);
            else
                turns_.push_back(who);
        }
        wake_.notify_one();
    }
}

} // namespace brindlewick::server
