// brindlewick-server: the chat port and the HTTP API in one process.

#include "log.h"
#include "options.h"
#include "postgres_storage.h"
#include "server.h"
#include "sqlite_storage.h"
#include "storage.h"

#include <phone_number.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace brindlewick::server;

namespace {

// Every connection and download holds a descriptor; the usual soft limit of 1,024 would run
// out long before the connection limits do.
void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max)
        return;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) == 0)
        logLine("open files: limit raised from " + std::to_string(before) + " to " +
                std::to_string(limit.rlim_cur));
}

// The database worker frees and takes back the top of its heap for every job (SQLite's
// savepoints); with the default threshold each such free handed it to the kernel, and each
// madvise stalled both threads on a TLB flush. Free memory above this still goes back.
void keepFreedHeap() {
#ifdef M_TRIM_THRESHOLD
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
#endif
}

// --release-phone: 0 when a claim was freed, 1 when there was none, 2 when it cannot tell.
int releasePhone(const ServerOptions& options, const std::string& given) {
    const std::string phone = brindlewick::normalizePhone(given);
    if (phone.empty()) {
        std::cerr << "brindlewick-server: '" << given << "' is not a phone number\n";
        return 2;
    }
    bool released = false;
    try {
        // Safe beside a running server: the database locks, the server reads claims per
        // sign-in, and every server reads the log of releases about once a second.
        std::unique_ptr<Storage> storage;
        if (options.postgres.empty()) {
            const std::string path = options.dataDir + "/brindlewick.db";
            struct stat info {};
            if (::stat(path.c_str(), &info) != 0) {
                // Opening would create an empty database where the operator expected one.
                std::cerr << "brindlewick-server: no database at " << path << "\n";
                return 2;
            }
            storage = std::make_unique<SqliteStorage>(path);
        } else {
            storage = std::make_unique<PostgresStorage>(options.postgres);
        }
        // The claim and the log entry that makes running servers close its connections go
        // together.
        storage->begin();
        released = storage->releaseClaim(phone);
        storage->commit();
    } catch (const DatabaseError& e) {
        std::cerr << "brindlewick-server: database: " << e.what() << "\n";
        return 2;
    }
    if (!released) {
        std::cout << phone << " has no claim; nothing changed\n";
        return 1;
    }
    std::cout << "released the claim on " << phone
              << "; the next device to sign in with it claims it\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A peer that vanishes mid-write must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    const OptionsResult parsed = parseServerOptions({argv + 1, argv + argc});
    if (parsed.kind == OptionsResult::Help) {
        std::cout << serverUsage();
        return 0;
    }
    if (parsed.kind == OptionsResult::Version) {
        std::cout << serverVersion();
        return 0;
    }
    if (parsed.kind == OptionsResult::Error) {
        std::cerr << "brindlewick-server: " << parsed.error
                  << "\nTry 'brindlewick-server --help' for more information.\n";
        return 2;
    }
    const ServerOptions& options = parsed.options;
    if (parsed.kind == OptionsResult::ReleasePhone)
        return releasePhone(options, parsed.phone);

    raiseOpenFileLimit();
    keepFreedHeap();
    boost::asio::io_context io(1);
    Server server(io, options);
    std::string error;
    if (!server.start(error)) {
        std::cerr << "brindlewick-server: " << error << "\n";
        return 2;
    }
    logLine("started: chat " + options.host + ":" + std::to_string(server.chatPort()) + ", http " +
            options.host + ":" + std::to_string(server.httpPort()) + ", data " + options.dataDir +
            (options.claimPhones ? ", phones claimed by their first device" : ""));
    // The chosen ports on stdout, for scripts that pass port 0.
    std::printf("chat-port %u http-port %u\n", unsigned(server.chatPort()),
                unsigned(server.httpPort()));
    std::fflush(stdout);

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& ec, int signal) {
        if (ec)
            return;
        logLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
        server.stop();
        io.stop();
    });
    // A handler that runs out of memory loses its own work only; the loop goes on.
    for (;;) {
        try {
            io.run();
            break;
        } catch (const std::bad_alloc&) {
            logLine("out of memory in a handler; continuing");
        }
    }
    logLine("stopped");
    return 0;
}
