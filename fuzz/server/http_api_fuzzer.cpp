// Arbitrary bytes as HTTP requests on one connection: Beast's parser (set up as the HTTP port
// sets it up) cuts them, and every request it accepts goes to the API against a fresh
// in-memory database and a scratch file folder, with a few users, a direct room, a finished
// and an unfinished upload already there. Every request must get exactly one sane answer.
#include "db_worker.h"
#include "disk_content.h"
#include "file_store.h"
#include "http_api.h"
#include "http_guard.h"
#include "http_server.h"
#include "hub.h"
#include "ids.h"
#include "room_logic.h"
#include "sqlite_storage.h"
#include "storage.h"
#include "verified_file.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/beast/http/parser.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

using namespace brindlewick::server;
namespace fs = std::filesystem;
namespace http = boost::beast::http;

namespace {

const std::string kDone = "0123456789abcdef0123456789abcdef";
const std::string kPartial = "fedcba9876543210fedcba9876543210";

void check(bool condition) {
    if (!condition)
        std::abort();
}

// One folder for the process; tmpfs when there is one, since uploads are synced to disk.
const fs::path& scratch() {
    static const fs::path dir = [] {
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
        const fs::path made = base / ("fuzz-http-api-" + std::to_string(::getpid()));
        fs::create_directories(made);
        std::atexit([] { fs::remove_all(scratch()); });
        return made;
    }();
    return dir;
}

std::unique_ptr<Storage> seededStorage(const fs::path& files) {
    auto storage = std::make_unique<SqliteStorage>(":memory:");
    storage->upsertUser({"111", "앨리스", "", ""}, false);
    storage->upsertUser({"222", "밥", "", ""}, false);
    check(RoomLogic::ensureAccess(*storage, "111", "dm:111:222").empty());
    storage->createFile({kPartial, "b.txt", 10, 0, 0, false, "", ""});
    storage->createFile({kDone, "a.txt", 5, 0, 0, false, "", ""});
    // The SHA-256 of "hello": a finished file is served only with its checksum.
    storage->updateFile({kDone, "a.txt", 5, 5, 1, true,
                         "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824", ""});
    std::ofstream(files / kDone) << "hello";
    return storage;
}

// Runs the io_context until the API has answered. The count stays alive for answers that
// might come later, which the caller checks once the queue is drained.
std::shared_ptr<int> answer(boost::asio::io_context& io, HttpApi& api, const HttpRequest& request,
                            const fs::path& files) {
    auto answers = std::make_shared<int>(0);
    auto reply = std::make_shared<HttpReply>();
    api.handle(request, [answers, reply](HttpReply r) {
        ++*answers;
        *reply = std::move(r);
    });
    while (*answers == 0)
        io.run_one();
    check(reply->status >= 200 && reply->status <= 599);
    if (reply->status >= 400)
        check(!reply->body.empty());
    if (reply->file) {
        // Only ever one of ours, named by its id, in the files folder.
        check(reply->status == 200);
        check(isHex128(reply->file->id()));
        check(fs::is_regular_file(files / reply->file->id()));
    } else if (reply->status == 200) {
        check(nlohmann::json::accept(reply->body));
    }
    return answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path files = scratch() / "files";
    fs::remove_all(files);

    boost::asio::io_context io;
    auto work = boost::asio::make_work_guard(io);
    UploadLimits limits;
    limits.maxUploadBytes = 3000000;
    FileStore store(std::make_unique<DiskContent>(files.string()), limits);
    std::string error;
    check(store.prepare(error));
    Hub hub;
    DbWorker worker(io, seededStorage(files));
    HttpApi api(worker, store, hub);
    HttpGuard guard("127.0.0.1", {"chat.example.org"});
    guard.setPort(9001);

    const char* p = reinterpret_cast<const char*>(data);
    std::size_t left = size;
    std::vector<std::shared_ptr<int>> answers;
    // Pipelined requests on one connection, as the HTTP port reads them.
    while (left > 0) {
        http::request_parser<http::string_body> parser;
        parser.eager(true);
        parser.body_limit(HttpServer::kBodyLimit);
        boost::beast::error_code ec;
        while (left > 0 && !parser.is_done()) {
            const std::size_t used = parser.put(boost::asio::buffer(p, left), ec);
            p += used;
            left -= used;
            if (ec == http::error::need_more) {
                ec = {};
                if (used == 0)
                    break; // the rest is an unfinished request
            } else if (ec) {
                break;
            }
        }
        if (!ec && !parser.is_done())
            parser.put_eof(ec);
        if (ec || !parser.is_done())
            break; // the port answers 400 or closes; nothing reaches the API
        // The port's own checks see the same headers first; the API sees every request here,
        // refused or not, so both are covered.
        const auto& header = parser.get();
        guard.check(
            std::string_view(header.method_string().data(), header.method_string().size()),
            header.find(http::field::origin) != header.end(),
            std::string_view(header[http::field::host].data(), header[http::field::host].size()),
            std::string_view(header[http::field::content_type].data(),
                             header[http::field::content_type].size()));
        answers.push_back(answer(io, api, HttpServer::toApiRequest(parser.get()), files));
    }

    worker.stop();
    work.reset();
    io.run(); // completions still queued must not answer twice
    for (const auto& count : answers)
        check(*count == 1);
    return 0;
}
