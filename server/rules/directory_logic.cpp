#include "directory_logic.h"

#include "file_store.h"
#include "ids.h"
#include "room_logic.h"

#include <chat_protocol.h>

#include <algorithm>

namespace brindlewick::server {

namespace {

DirectoryResult refuse(Refusal why, std::string text) {
    DirectoryResult result;
    result.refusal = why;
    result.error = std::move(text);
    return result;
}

bool isFinishedUpload(Storage& storage, const std::string& fileId) {
    const auto file = storage.file(fileId);
    return file && file->complete;
}

} // namespace

void DirectoryLogic::signIn(Storage& storage, const UserRecord& user) {
    const bool keepPicture = user.profilePic.empty() || !isFinishedUpload(storage, user.profilePic);
    storage.upsertUser(user, keepPicture);
}

DirectoryResult DirectoryLogic::setProfilePic(Storage& storage, const std::string& phone,
                                              const std::string& fileId) {
    if (!storage.user(phone))
        return refuse(Refusal::UnknownUser, DirectoryText::kUnknownUser);
    if (!fileId.empty() && !isFinishedUpload(storage, fileId))
        return refuse(Refusal::NoFile, FileText::kNotFound);
    storage.setProfilePic(phone, fileId);
    return {};
}

DirectoryResult DirectoryLogic::checkFriend(const std::string& me, const std::string& other) {
    if (me == other)
        return refuse(Refusal::Invalid, DirectoryText::kSelfFriend);
    return {};
}

DirectoryResult DirectoryLogic::addFriend(Storage& storage, const std::string& me,
                                          const std::string& other, const std::string& alias) {
    if (DirectoryResult refused = checkFriend(me, other); !refused.ok())
        return refused;
    if (!storage.user(other) || !storage.user(me))
        return refuse(Refusal::UnknownUser, DirectoryText::kUnknownUser);
    storage.addFriend(me, other, alias);
    return {};
}

DirectoryResult DirectoryLogic::checkRoom(RoomRequest& request, std::size_t maxMembers) {
    if (request.type.empty())
        request.type = "memo";
    if (request.type == "memo") {
        request.members.clear();
        return {};
    }
    if (request.type != "group")
        return refuse(Refusal::Invalid, DirectoryText::kBadRoomType);
    std::vector<std::string>& members = request.members;
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    members.erase(std::remove(members.begin(), members.end(), request.creator), members.end());
    if (members.size() + 1 > maxMembers)
        return refuse(Refusal::Invalid,
                      "방 인원이 너무 많습니다 (최대 " + std::to_string(maxMembers) + "명)");
    return {};
}

DirectoryResult DirectoryLogic::createRoom(Storage& storage, const RoomRequest& request) {
    for (const std::string& member : request.members)
        if (!storage.user(member))
            return refuse(Refusal::UnknownUser, DirectoryText::kUnknownUser);
    if (!storage.user(request.creator))
        return refuse(Refusal::UnknownUser, DirectoryText::kUnknownUser);
    if (std::string refused = RoomLogic::roomCreationRefused(storage, request.creator);
        !refused.empty())
        return refuse(Refusal::TooFast, std::move(refused));
    DirectoryResult result;
    result.room = request.type + ":" + randomHex128();
    storage.createRoom(result.room, request.type, request.title, request.creator);
    storage.addMember(result.room, request.creator);
    for (const std::string& member : request.members)
        storage.addMember(result.room, member);
    return result;
}

std::vector<RoomListing> DirectoryLogic::roomList(Storage& storage, const std::string& phone) {
    std::vector<RoomListing> list;
    for (RoomRow& row : storage.roomsOf(phone)) {
        RoomListing entry;
        if (row.kind == "dm") {
            entry.peer = ChatProtocol::peerPhoneInDmRoom(row.id, phone);
            if (const auto user = storage.user(entry.peer)) {
                entry.peerName = user->displayName();
                entry.peerPicture = user->profilePic;
            } else {
                entry.peerName = entry.peer;
            }
            entry.peerAlias = storage.aliasOf(phone, entry.peer);
        }
        entry.room = std::move(row);
        list.push_back(std::move(entry));
    }
    return list;
}

} // namespace brindlewick::server
