#include "http_api.h"

#include "http_answers.h"

#include "db_worker.h"
#include "directory_logic.h"
#include "file_store.h"
#include "hub.h"
#include "ids.h"
#include "json_text.h"
#include "phone_claims.h"
#include "room_logic.h"
#include "verified_file.h"

#include <phone_number.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <utility>
#include <vector>

namespace brindlewick::server {

using nlohmann::json;

namespace {

// A rule's refusal as its status: 400 for the request itself, 404 for a user or file that is
// not there, 429 for a creator over the rate.
HttpReply refusal(const DirectoryResult& result) {
    switch (result.refusal) {
    case Refusal::UnknownUser:
    case Refusal::NoFile:
        return text(404, result.error);
    case Refusal::TooFast:
        return text(429, result.error);
    case Refusal::Invalid:
    case Refusal::None:
        break;
    }
    return text(400, result.error);
}

} // namespace

HttpApi::HttpApi(DbWorker& worker, FileStore& files, Hub& hub, std::size_t maxRoomMembers,
                 bool claimPhones)
    : worker_(worker), files_(files), hub_(hub), maxRoomMembers_(maxRoomMembers),
      claimPhones_(claimPhones) {}

void HttpApi::postFor(const std::string& phone, const BearerHash& bearer, Job job,
                      const ReplyFn& reply, const std::string& readFor) {
    if (claimPhones_) {
        if (bearer.empty()) {
            reply(text(401, ClaimText::kNeedDeviceSecret));
            return;
        }
        // Checked inside the request's own job, so nothing runs between the check and the act.
        job = [phone, bearer, job = std::move(job), reply](Storage& storage) -> Completion {
            if (!PhoneClaims::mayActFor(storage, phone, bearer))
                return [reply](bool) {
                    HttpReply refusal = text(403, ClaimText::kNotThisDevice);
                    refusal.wrongSecret = true;
                    reply(std::move(refusal));
                };
            return job(storage);
        };
    }
    Completion failure = [reply](bool) { reply(serverFailure()); };
    if (readFor.empty())
        worker_.post(std::move(job), std::move(failure));
    else
        worker_.read(readFor, std::move(job), std::move(failure));
}

void HttpApi::health(ReplyFn reply) {
    worker_.post(
        [reply](Storage&) -> Completion {
            return [reply](bool committed) {
                reply(committed ? text(200, "ok") : text(503, HttpText::kUnhealthy));
            };
        },
        [reply](bool) { reply(text(503, HttpText::kUnhealthy)); });
}

void HttpApi::handle(const HttpRequest& request, ReplyFn reply) {
    const std::size_t q = request.target.find('?');
    const std::string path = request.target.substr(0, q);
    const std::string query = q == std::string::npos ? std::string() : request.target.substr(q + 1);
    if (path.empty() || path[0] != '/') {
        reply(text(404, HttpText::kNotFound));
        return;
    }
    if (path == "/healthz")
        return request.method == "GET" ? health(std::move(reply))
                                       : reply(text(405, HttpText::kBadMethod));
    const std::vector<std::string> p = splitPath(path);
    const std::string& m = request.method;
    const BearerHash bearer =
        claimPhones_ && !request.bearer.empty() ? PhoneClaims::hashOf(request.bearer) : "";
    auto wrongMethod = [&] { reply(text(405, HttpText::kBadMethod)); };

    if (p.size() < 2 || p[0] != "v1") {
        reply(text(404, HttpText::kNotFound));
        return;
    }
    if (p.size() == 2 && (p[1] == "friends" || p[1] == "rooms") && m == "GET") {
        bool found = false;
        std::string phone = queryValue(query, "phone", found);
        if (!normalized(phone)) {
            reply(text(400, HttpText::kNeedPhone));
            return;
        }
        if (refusedAsTooLong({{Field::Phone, &phone}}, reply))
            return;
        p[1] == "friends" ? friends(phone, bearer, std::move(reply))
                          : rooms(phone, bearer, std::move(reply));
        return;
    }
    if (p.size() == 2 && p[1] == "rooms")
        return m == "POST" ? createRoom(request.body, bearer, std::move(reply)) : wrongMethod();
    if (p.size() == 3 && p[1] == "friends" && p[2] == "add")
        return m == "POST" ? addFriend(request.body, bearer, std::move(reply)) : wrongMethod();
    if (p.size() == 3 && p[1] == "rooms" && p[2] == "leave")
        return m == "POST" ? leaveRoom(request.body, bearer, std::move(reply)) : wrongMethod();
    if (p.size() == 2 && p[1] == "profile")
        return m == "POST" ? setProfile(request.body, bearer, std::move(reply)) : wrongMethod();
    if (p.size() >= 2 && p[1] == "files") {
        // Counted per device where the request names one, else per address.
        const std::string who = bearer.empty() ? request.peer : "device " + bearer.substr(0, 16);
        if (p.size() == 2)
            return m == "POST" ? createFile(request.body, who, bearer, std::move(reply))
                               : wrongMethod();
        // Identifiers are ours: anything but 32 hex digits (dots, slashes, escapes) is refused.
        if (!isHex128(p[2])) {
            reply(text(400, FileText::kBadId));
            return;
        }
        if (p.size() == 3)
            return m == "GET" ? download(p[2], who, bearer, std::move(reply)) : wrongMethod();
        if (p.size() == 4 && p[3] == "complete")
            return m == "POST" ? completeFile(p[2], bearer, std::move(reply)) : wrongMethod();
        if (p.size() == 5 && p[3] == "chunks")
            return m == "PUT" ? putChunk(p[2], p[4], request.body, bearer, std::move(reply))
                              : wrongMethod();
    }
    reply(text(404, HttpText::kNotFound));
}

void HttpApi::friends(const std::string& phone, const BearerHash& bearer, ReplyFn reply) {
    postFor(
        phone, bearer,
        [phone, reply](Storage& storage) -> Completion {
            json list = json::array();
            for (const FriendRow& row : storage.friends(phone)) {
                list.push_back({{"PhoneNumber", row.user.phone},
                                {"Nickname", row.user.nickname},
                                {"Alias", row.alias},
                                {"StatusMessage", row.user.status},
                                {"ProfilePic", row.user.profilePic}});
            }
            return replyLater(reply, std::make_shared<HttpReply>(jsonReply(list)));
        },
        reply, phone);
}

void HttpApi::rooms(const std::string& phone, const BearerHash& bearer, ReplyFn reply) {
    postFor(
        phone, bearer,
        [phone, reply](Storage& storage) -> Completion {
            json list = json::array();
            for (const RoomListing& entry : DirectoryLogic::roomList(storage, phone)) {
                const RoomRow& row = entry.room;
                list.push_back({{"room_name", row.id},
                                {"title", row.title},
                                {"peer_phone", entry.peer},
                                {"peer_alias", entry.peerAlias},
                                {"peer_nick", entry.peerName},
                                {"peer_profile", entry.peerPicture},
                                {"unread_count", row.unread},
                                {"last_message", row.lastKind == "file" ? "" : row.lastText},
                                {"last_file_name", row.lastFileName},
                                {"last_time", row.lastTime},
                                {"last_id", row.lastId}});
            }
            return replyLater(reply, std::make_shared<HttpReply>(jsonReply(list)));
        },
        reply, phone);
}

void HttpApi::addFriend(const std::string& body, const BearerHash& bearer, ReplyFn reply) {
    const auto request = parseObject(body, reply);
    if (!request)
        return;
    std::string me, other, alias;
    if (!stringMember(*request, "my_phone", me) || !stringMember(*request, "friend_phone", other) ||
        !stringMember(*request, "alias", alias)) {
        reply(text(400, HttpText::kBadField));
        return;
    }
    if (!normalized(me) || !normalized(other)) {
        reply(text(400, HttpText::kNeedPhone));
        return;
    }
    if (refusedAsTooLong({{Field::Phone, &me}, {Field::Phone, &other}, {Field::Alias, &alias}},
                         reply))
        return;
    if (const DirectoryResult refused = DirectoryLogic::checkFriend(me, other); !refused.ok()) {
        reply(refusal(refused));
        return;
    }
    postFor(
        me, bearer,
        [me, other, alias, reply](Storage& storage) -> Completion {
            const DirectoryResult result = DirectoryLogic::addFriend(storage, me, other, alias);
            return replyLater(reply,
                              std::make_shared<HttpReply>(result.ok() ? jsonReply({{"ok", true}})
                                                                      : refusal(result)));
        },
        reply);
}

void HttpApi::createRoom(const std::string& body, const BearerHash& bearer, ReplyFn reply) {
    const auto request = parseObject(body, reply);
    if (!request)
        return;
    RoomRequest room;
    if (!stringMember(*request, "phone", room.creator) ||
        !stringMember(*request, "title", room.title) ||
        !stringMember(*request, "type", room.type)) {
        reply(text(400, HttpText::kBadField));
        return;
    }
    if (!normalized(room.creator)) {
        reply(text(400, HttpText::kNeedPhone));
        return;
    }
    if (refusedAsTooLong({{Field::Phone, &room.creator}, {Field::Title, &room.title}}, reply))
        return;
    // "group" is the server's own addition for load tests and admin scripts: creator plus
    // the listed existing users.
    if (room.type == "group") {
        auto it = request->find("members");
        if (it == request->end() || !it->is_array()) {
            reply(text(400, HttpText::kBadField));
            return;
        }
        for (const json& member : *it) {
            std::string memberPhone = member.is_string() ? member.get<std::string>() : "";
            if (!normalized(memberPhone)) {
                reply(text(400, HttpText::kBadField));
                return;
            }
            if (refusedAsTooLong({{Field::Phone, &memberPhone}}, reply))
                return;
            room.members.push_back(std::move(memberPhone));
        }
    }
    if (const DirectoryResult refused = DirectoryLogic::checkRoom(room, maxRoomMembers_);
        !refused.ok()) {
        reply(refusal(refused));
        return;
    }
    const std::string phone = room.creator;
    postFor(
        phone, bearer,
        [room, reply](Storage& storage) -> Completion {
            const DirectoryResult result = DirectoryLogic::createRoom(storage, room);
            return replyLater(reply, std::make_shared<HttpReply>(
                                         result.ok() ? jsonReply({{"room_name", result.room},
                                                                  {"title", room.title},
                                                                  {"type", room.type}})
                                                     : refusal(result)));
        },
        reply);
}

void HttpApi::leaveRoom(const std::string& body, const BearerHash& bearer, ReplyFn reply) {
    const auto request = parseObject(body, reply);
    if (!request)
        return;
    std::string phone, room;
    if (!stringMember(*request, "phone", phone) || !stringMember(*request, "room", room)) {
        reply(text(400, HttpText::kBadField));
        return;
    }
    if (!normalized(phone) || room.empty()) {
        reply(text(400, phone.empty() ? HttpText::kNeedPhone : HttpText::kBadField));
        return;
    }
    if (refusedAsTooLong({{Field::Phone, &phone}}, reply))
        return;
    Hub* hub = &hub_;
    postFor(
        phone, bearer,
        [phone, room, reply, hub](Storage& storage) -> Completion {
            auto result = std::make_shared<RoomResult>(RoomLogic::leaveRoom(storage, phone, room));
            return [result, reply, hub](bool committed) {
                if (!committed) {
                    reply(serverFailure());
                    return;
                }
                if (!result->error.empty()) {
                    reply(text(403, result->error));
                    return;
                }
                for (const Delivery& delivery : result->deliveries)
                    hub->deliver(delivery);
                reply(jsonReply({{"ok", true}}));
            };
        },
        reply);
}

void HttpApi::setProfile(const std::string& body, const BearerHash& bearer, ReplyFn reply) {
    const auto request = parseObject(body, reply);
    if (!request)
        return;
    std::string phone, picture;
    if (!stringMember(*request, "phone", phone) ||
        !stringMember(*request, "profile_pic", picture)) {
        reply(text(400, HttpText::kBadField));
        return;
    }
    if (!normalized(phone)) {
        reply(text(400, HttpText::kNeedPhone));
        return;
    }
    if (refusedAsTooLong({{Field::Phone, &phone}}, reply))
        return;
    if (!picture.empty() && !isHex128(picture)) {
        reply(text(400, FileText::kBadId));
        return;
    }
    postFor(
        phone, bearer,
        [phone, picture, reply](Storage& storage) -> Completion {
            const DirectoryResult result = DirectoryLogic::setProfilePic(storage, phone, picture);
            return replyLater(reply,
                              std::make_shared<HttpReply>(result.ok() ? jsonReply({{"ok", true}})
                                                                      : refusal(result)));
        },
        reply);
}

void HttpApi::createFile(const std::string& body, const std::string& owner,
                         const BearerHash& bearer, ReplyFn reply) {
    const auto request = parseObject(body, reply);
    if (!request)
        return;
    std::string name;
    auto size = request->find("size");
    if (!stringMember(*request, "name", name) || size == request->end() ||
        !size->is_number_integer()) {
        reply(text(400, HttpText::kBadField));
        return;
    }
    if (size->is_number_unsigned() ? size->get<std::uint64_t>() > files_.maxUploadBytes()
                                   : size->get<std::int64_t>() < 0) {
        reply(text(size->is_number_unsigned() ? 413 : 400,
                   size->is_number_unsigned() ? FileText::kTooLarge : HttpText::kBadField));
        return;
    }
    if (refusedAsTooLong({{Field::FileName, &name}}, reply))
        return;
    const std::int64_t declared = size->get<std::int64_t>();
    FileStore* files = &files_;
    postFor(
        {}, bearer,
        [files, name, declared, owner, reply](Storage& storage) -> Completion {
            const FileAnswer result = files->create(storage, name, declared, owner);
            auto answer = std::make_shared<HttpReply>(result.status == 200
                                                          ? jsonReply({{"id", result.id}})
                                                          : text(result.status, result.text));
            return replyLater(reply, answer);
        },
        reply);
}

void HttpApi::putChunk(const std::string& id, const std::string& index, std::string body,
                       const BearerHash& bearer, ReplyFn reply) {
    const auto number = parseMessageId(index);
    if (!number || *number > INT32_MAX) {
        reply(text(400, HttpText::kBadChunk));
        return;
    }
    if (body.size() > FileStore::kMaxChunkBytes) {
        reply(text(413, FileText::kChunkTooLarge));
        return;
    }
    FileStore* files = &files_;
    auto bytes = std::make_shared<std::string>(std::move(body));
    postFor(
        {}, bearer,
        [files, id, n = *number, bytes, reply](Storage& storage) -> Completion {
            const FileAnswer result = files->putChunk(storage, id, n, *bytes);
            bytes->clear();
            bytes->shrink_to_fit();
            auto answer = std::make_shared<HttpReply>(
                result.status == 200 ? jsonReply({{"id", id}, {"received", result.size}})
                                     : text(result.status, result.text));
            return replyLater(reply, answer);
        },
        reply);
}

void HttpApi::completeFile(const std::string& id, const BearerHash& bearer, ReplyFn reply) {
    FileStore* files = &files_;
    postFor(
        {}, bearer,
        [files, id, reply](Storage& storage) -> Completion {
            const FileAnswer result = files->complete(storage, id);
            auto answer = std::make_shared<HttpReply>(
                result.status == 200 ? jsonReply({{"id", id}, {"size", result.size}})
                                     : text(result.status, result.text));
            return replyLater(reply, answer);
        },
        reply);
}

void HttpApi::download(const std::string& id, const std::string& who, const BearerHash& bearer,
                       ReplyFn reply) {
    FileStore* files = &files_;
    DbWorker* worker = &worker_;
    postFor(
        {}, bearer,
        [files, worker, id, who, reply](Storage& storage) -> Completion {
            const FileAnswer result = files->locate(storage, id);
            auto answer = std::make_shared<HttpReply>();
            if (result.status == 200) {
                answer->contentType = "application/octet-stream";
                answer->file = std::make_shared<VerifiedFile>(
                    files->content().reader(result, *worker, who), id,
                    static_cast<std::uint64_t>(result.size), result.sha256);
            } else {
                *answer = text(result.status, result.text);
            }
            return replyLater(reply, answer);
        },
        reply);
}

} // namespace brindlewick::server
