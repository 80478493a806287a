#pragma once
// The HTTP API's requests and answers, independent of the transport. io thread only;
// database work goes to the worker and the reply comes back through `reply`.

#include "db_worker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindlewick::server {

class FileStore;
class Hub;
class VerifiedFile;

struct HttpRequest {
    std::string method;
    std::string target; // path and query as received
    std::string body;
    std::string peer;   // the client's address; unfinished uploads are counted by it
    std::string bearer; // the token of "Authorization: Bearer", or empty
};

struct HttpReply {
    unsigned status = 200;
    std::string contentType = "application/json; charset=utf-8";
    std::string body;
    // Non-null: a finished file as the body, read and checked piece by piece as it is sent.
    std::shared_ptr<VerifiedFile> file;
    // A bearer that holds no claim it would need: the transport answers it late, so guessing
    // secrets is slow.
    bool wrongSecret = false;
};

using ReplyFn = std::function<void(HttpReply)>;

class HttpApi {
public:
    // `claimPhones`: requests acting for a phone need its device secret as their bearer, and
    // file requests the secret of some claimed phone (PhoneClaims).
    HttpApi(DbWorker& worker, FileStore& files, Hub& hub, std::size_t maxRoomMembers = 1000,
            bool claimPhones = false);

    void handle(const HttpRequest& request, ReplyFn reply);
    // GET /healthz: 200 once a job has passed through the database worker and its database,
    // so an answer shows the I/O thread, the worker and the database all alive.
    void health(ReplyFn reply);

private:
    // SHA-256 of the request's bearer, or empty; what the handlers below pass to `postFor`.
    using BearerHash = std::string;

    void friends(const std::string& phone, const BearerHash& bearer, ReplyFn reply);
    void rooms(const std::string& phone, const BearerHash& bearer, ReplyFn reply);
    void addFriend(const std::string& body, const BearerHash& bearer, ReplyFn reply);
    void createRoom(const std::string& body, const BearerHash& bearer, ReplyFn reply);
    void leaveRoom(const std::string& body, const BearerHash& bearer, ReplyFn reply);
    void setProfile(const std::string& body, const BearerHash& bearer, ReplyFn reply);
    void createFile(const std::string& body, const std::string& owner, const BearerHash& bearer,
                    ReplyFn reply);
    void putChunk(const std::string& id, const std::string& index, std::string body,
                  const BearerHash& bearer, ReplyFn reply);
    void completeFile(const std::string& id, const BearerHash& bearer, ReplyFn reply);
    void download(const std::string& id, const std::string& who, const BearerHash& bearer,
                  ReplyFn reply);

    // Runs `job` on the worker for a request acting for `phone` (empty: for no one phone);
    // with claims on, only after the bearer is found to hold that phone's claim (or any claim).
    // A failed job answers 500. With `readFor` set, `job` only reads and runs on a reader,
    // taking turns with other requesters by that name (DbWorker::read).
    void postFor(const std::string& phone, const BearerHash& bearer, Job job, const ReplyFn& reply,
                 const std::string& readFor = {});

    DbWorker& worker_;
    FileStore& files_;
    Hub& hub_;
    std::size_t maxRoomMembers_;
    bool claimPhones_;
};

} // namespace brindlewick::server
