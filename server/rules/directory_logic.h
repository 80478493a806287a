#pragma once
// Who is in the directory and what they make of it: signing in, friends, memo and group rooms,
// profile pictures. The chat connection and the HTTP API both decide with these and only turn
// the result into their own answers. The check* functions need no database and run before a
// job; the others run on the database worker inside the job's transaction.

#include "storage.h"

#include <cstddef>
#include <string>
#include <vector>

namespace brindlewick::server {

namespace DirectoryText {
inline const char* const kUnknownUser = "가입하지 않은 사용자입니다";
inline const char* const kSelfFriend = "자기 자신은 친구로 추가할 수 없습니다";
inline const char* const kBadRoomType = "지원하지 않는 방 종류입니다";
} // namespace DirectoryText

// Why a request was refused, for the transport to answer in its own terms.
enum class Refusal {
    None,
    Invalid,     // the request itself breaks a rule
    UnknownUser, // a phone that never signed in
    NoFile,      // not a finished upload
    TooFast,     // over the room-creation rate
};

struct DirectoryResult {
    Refusal refusal = Refusal::None;
    std::string error; // the text for the requester, when refused
    std::string room;  // createRoom: the new room's id
    bool ok() const { return refusal == Refusal::None; }
};

// A memo or group room as asked for.
struct RoomRequest {
    std::string creator;
    std::string type; // "" asks for a memo room
    std::string title;
    // A group's other members as listed: any order, repeats and the creator allowed.
    std::vector<std::string> members;
};

// A row of a user's room list: for a direct room also the other participant, named as the
// user sees them.
struct RoomListing {
    RoomRow room;
    std::string peer;        // direct rooms only
    std::string peerAlias;   // the user's alias for the peer, or ""
    std::string peerName;    // nickname, else the phone (also for a peer who never signed in)
    std::string peerPicture; // the peer's profile picture, or ""
};

class DirectoryLogic {
public:
    // Stores the user's name, status and picture; the stored picture stays unless the one
    // named is a finished upload.
    static void signIn(Storage& storage, const UserRecord& user);
    // `fileId` ("" for none) must be a finished upload, `phone` a user.
    static DirectoryResult setProfilePic(Storage& storage, const std::string& phone,
                                         const std::string& fileId);

    // Nobody befriends themselves.
    static DirectoryResult checkFriend(const std::string& me, const std::string& other);
    // `me` keeps `other` under `alias`; both must have signed in. Adding again changes the alias.
    static DirectoryResult addFriend(Storage& storage, const std::string& me,
                                     const std::string& other, const std::string& alias);

    // A memo (no type) or group room with at most `maxMembers` members, the creator counted
    // once however often listed and every listed phone once. Leaves `request` with its kind
    // as stored and a group's other members sorted, each once. Direct rooms are not asked
    // for: they are made on first use (RoomLogic::ensureAccess).
    static DirectoryResult checkRoom(RoomRequest& request, std::size_t maxMembers);
    // A request checkRoom passed: the creator and every member must have signed in and the
    // creator be within RoomLogic::kRoomsPerWindow. The room gets a fresh "<kind>:<32 hex>" id.
    static DirectoryResult createRoom(Storage& storage, const RoomRequest& request);

    // `phone`'s rooms as its room list shows them. Only reads.
    static std::vector<RoomListing> roomList(Storage& storage, const std::string& phone);
};

} // namespace brindlewick::server
