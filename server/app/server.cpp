#include "server.h"

#include "chat_server.h"
#include "cluster.h"
#include "connection_gate.h"
#include "database_content.h"
#include "db_worker.h"
#include "disk_content.h"
#include "file_store.h"
#include "http_api.h"
#include "http_server.h"
#include "hub.h"
#include "postgres_storage.h"
#include "sqlite_storage.h"
#include "time_text.h"
#include "tls_context.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace brindlewick::server {

namespace asio = boost::asio;

namespace {

// mkdir -p with private permissions for the folders we create.
bool makeDirectories(const std::string& path, std::string& error) {
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + partial + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

} // namespace

Server::Server(asio::io_context& io, ServerOptions options)
    : io_(io), options_(std::move(options)) {}

Server::~Server() {
    stop();
    // Drains the queue: every accepted request is committed before the process ends.
    if (worker_)
        worker_->stop();
}

bool Server::start(std::string& error) {
    // Before anything is created: a bad certificate stops the start with nothing left behind.
    if (!options_.tlsCert.empty()) {
        tls_ = loadTlsContext(options_.tlsCert, options_.tlsKey, error);
        if (!tls_)
            return false;
    }
    if (!makeDirectories(options_.dataDir, error))
        return false;
    UploadLimits uploads;
    uploads.maxUploadBytes = options_.maxUploadBytes;
    uploads.maxPendingPerOwner = options_.maxPendingUploads;
    uploads.expiry = std::chrono::seconds(options_.uploadExpirySeconds);
    // A shared database keeps the bytes too, so every process on it can serve them.
    std::unique_ptr<FileContent> content;
    if (options_.postgres.empty())
        content = std::make_unique<DiskContent>(options_.dataDir + "/files");
    else
        content = std::make_unique<DatabaseContent>();
    files_ = std::make_unique<FileStore>(std::move(content), uploads);
    if (!files_->prepare(error))
        return false;
    std::unique_ptr<Storage> storage;
    std::vector<std::unique_ptr<Storage>> readers;
    try {
        const std::string path = options_.dataDir + "/brindlewick.db";
        if (options_.postgres.empty())
            storage = std::make_unique<SqliteStorage>(path);
        else
            storage = std::make_unique<PostgresStorage>(options_.postgres);
        // Before any request, so no upload sees a half-finished completion.
        storage->begin();
        files_->recover(*storage);
        releasesRead_ = storage->lastRelease();
        storage->commit();
        // After the writer has made the schema.
        for (int i = 0; i < kReaders; ++i) {
            if (options_.postgres.empty())
                readers.push_back(std::make_unique<SqliteStorage>(path, true));
            else
                readers.push_back(std::make_unique<PostgresStorage>(options_.postgres, true));
        }
    } catch (const DatabaseError& e) {
        error = std::string("database: ") + e.what();
        return false;
    }
    // Other instances change members too: every delivery reads them afresh.
    if (!options_.natsUrl.empty())
        storage->setMemberCaching(false);
    hub_ = std::make_shared<Hub>();
    worker_ = std::make_unique<DbWorker>(io_, std::move(storage), std::move(readers));
    if (!options_.natsUrl.empty()) {
        cluster_ = std::make_unique<Cluster>(io_, *worker_, *hub_, options_.natsUrl);
        if (!cluster_->start(error))
            return false;
    }
    api_ = std::make_unique<HttpApi>(*worker_, *files_, *hub_, options_.maxRoomMembers,
                                     options_.claimPhones);
    GateLimits gate;
    gate.maxConnections = options_.maxConnections;
    gate.maxConnectionsPerAddress = options_.maxConnectionsPerAddress;
    gate.headerTimeout = std::chrono::seconds(options_.authSeconds);
    for (const std::string& proxy : options_.trustedProxies)
        gate.trustedProxies.push_back(asio::ip::make_address(proxy));
    gate_ = std::make_unique<ConnectionGate>(io_, std::move(gate));
    ChatLimits connections;
    connections.idleTimeout = std::chrono::seconds(options_.idleSeconds);
    connections.authTimeout = std::chrono::seconds(options_.authSeconds);
    connections.claimPhones = options_.claimPhones;
    connections.sendRates.messagesPerSecond = static_cast<double>(options_.maxMessagesPerSecond);
    connections.sendRates.bytesPerSecond = static_cast<double>(options_.maxMessageBytesPerSecond);
    chat_ = std::make_unique<ChatServer>(io_, *worker_, hub_, *gate_, connections, tls_.get());
    http_ = std::make_unique<HttpServer>(io_, *api_, HttpGuard(options_.host, options_.httpHosts),
                                         std::chrono::seconds(options_.downloadIdleSeconds), *gate_,
                                         tls_.get());
    // A stranger gets as long for an HTTP header (and its TLS handshake) as for a sign-in.
    http_->shared().headerTimeout = std::chrono::seconds(options_.authSeconds);

    boost::system::error_code ec;
    const auto address = asio::ip::make_address(options_.host, ec);
    if (ec) {
        error = "bad --host " + options_.host + ": " + ec.message();
        return false;
    }
    try {
        chat_->listen({address, options_.chatPort});
    } catch (const boost::system::system_error& e) {
        error = "chat port " + std::to_string(options_.chatPort) + ": " + e.code().message();
        return false;
    }
    try {
        http_->listen({address, options_.httpPort});
    } catch (const boost::system::system_error& e) {
        error = "HTTP port " + std::to_string(options_.httpPort) + ": " + e.code().message();
        return false;
    }
    expiryTimer_ = std::make_unique<asio::steady_timer>(io_);
    scheduleExpiry();
    clientIdTimer_ = std::make_unique<asio::steady_timer>(io_);
    scheduleClientIdSweep();
    if (options_.claimPhones) {
        releaseTimer_ = std::make_unique<asio::steady_timer>(io_);
        scheduleReleaseCheck();
    }
    return true;
}

void Server::scheduleReleaseCheck() {
    // --release-phone is another process, maybe on another machine: the database's log of
    // releases is what every server on it shares.
    releaseTimer_->expires_after(kReleaseCheck);
    releaseTimer_->async_wait([this](boost::system::error_code ec) {
        if (ec || stopped_)
            return;
        const std::int64_t after = releasesRead_;
        worker_->read(
            "releases",
            [this, after](Storage& storage) -> Completion {
                auto found = std::make_shared<std::vector<std::pair<std::int64_t, std::string>>>(
                    storage.releasesAfter(after));
                return [this, found](bool) {
                    if (stopped_)
                        return;
                    for (const auto& [seq, phone] : *found) {
                        releasesRead_ = std::max(releasesRead_, seq);
                        hub_->closeUser(phone, "its claim was released");
                    }
                    scheduleReleaseCheck();
                };
            },
            [this](bool) {
                if (!stopped_)
                    scheduleReleaseCheck();
            });
    });
}

void Server::scheduleExpiry() {
    // A tenth of the expiry, from 1 s to 60 s: an upload outlives its expiry by at most that.
    const auto every = std::clamp(std::chrono::seconds(options_.uploadExpirySeconds) / 10,
                                  std::chrono::seconds(1), std::chrono::seconds(60));
    expiryTimer_->expires_after(every);
    expiryTimer_->async_wait([this](boost::system::error_code ec) {
        if (ec || stopped_)
            return;
        FileStore* files = files_.get();
        worker_->post([files](Storage& storage) -> Completion {
            files->expire(storage);
            return {};
        });
        scheduleExpiry();
    });
}

void Server::scheduleClientIdSweep(bool now) {
    clientIdTimer_->expires_after(now ? asio::steady_timer::duration::zero() : kClientIdSweep);
    clientIdTimer_->async_wait([this](boost::system::error_code ec) {
        if (ec || stopped_)
            return;
        const std::int64_t before =
            nowMs() - std::chrono::duration_cast<std::chrono::milliseconds>(kClientIdKeep).count();
        worker_->post(
            [this, before](Storage& storage) -> Completion {
                const bool full =
                    storage.forgetClientIds(before, kClientIdSweepRows) == kClientIdSweepRows;
                return [this, full](bool committed) {
                    if (!stopped_)
                        scheduleClientIdSweep(full && committed);
                };
            },
            [this](bool) {
                if (!stopped_)
                    scheduleClientIdSweep();
            });
    });
}

void Server::stop() {
    stopped_ = true;
    if (expiryTimer_)
        expiryTimer_->cancel();
    if (clientIdTimer_)
        clientIdTimer_->cancel();
    if (releaseTimer_)
        releaseTimer_->cancel();
    if (gate_)
        gate_->stop();
    if (chat_)
        chat_->stop();
    if (http_)
        http_->stop();
    if (cluster_)
        cluster_->stop();
}

std::uint16_t Server::chatPort() const {
    return chat_->port();
}
std::uint16_t Server::httpPort() const {
    return http_->port();
}

} // namespace brindlewick::server
