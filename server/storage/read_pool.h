#pragma once
// Reads on database connections of their own, beside the worker that writes: room lists,
// friend lists and history pages never queue in front of anyone's messages. Each requester
// (a phone, say) has a queue of its own; the readers take the queues in turn, one job of a
// requester at a time, so a user who floods reads waits behind their own reads only.

#include "db_worker.h"

#include <boost/asio/io_context.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace brindlewick::server {

class ReadPool {
public:
    // One thread per connection in `readers`. A job waits for the writes posted to `writer`
    // before it: whoever wrote and then reads sees what they wrote.
    ReadPool(boost::asio::io_context& io, DbWorker& writer,
             std::vector<std::unique_ptr<Storage>> readers);
    ~ReadPool();

    // `job` must only read. Its completion runs on the io_context; `onFailure` instead when
    // it throws. Jobs of one `who` run one at a time, in order.
    void post(const std::string& who, Job job, Completion onFailure = {});
    // Finishes every queued job, then stops the threads.
    void stop();

private:
    struct Entry {
        Job job;
        Completion onFailure;
        std::uint64_t after = 0; // the writer's jobs to wait for
    };
    struct Queue {
        std::deque<Entry> jobs;
        bool running = false;
    };
    void run(Storage& storage);

    boost::asio::io_context& io_;
    DbWorker& writer_;
    std::vector<std::unique_ptr<Storage>> readers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<std::string, Queue> queues_;
    // Requesters with jobs waiting and none running, in turn order.
    std::deque<std::string> turns_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace brindlewick::server
