#pragma once
// Who may do what in a room, and what each request announces. Runs on the database worker
// inside the batch transaction; the results are handed to the io thread for delivery.

#include "delivery.h"
#include "storage.h"

#include <messages.h>

#include <memory>
#include <string>
#include <vector>

namespace brindlewick::server {

namespace ErrorText {
inline const char* const kLoginRequired = "로그인이 필요합니다";
inline const char* const kNeedPhone = "전화번호가 필요합니다";
inline const char* const kNotMember = "방의 멤버가 아닙니다";
inline const char* const kNotSender = "본인이 보낸 메시지만 수정하거나 삭제할 수 있습니다";
inline const char* const kNoMessage = "메시지를 찾을 수 없습니다";
inline const char* const kNoFile = "파일을 찾을 수 없습니다";
inline const char* const kBadRequest = "잘못된 요청입니다";
inline const char* const kTooLong = "메시지가 너무 깁니다";
inline const char* const kServerFailure = "서버 오류가 발생했습니다";
inline const char* const kUnknownPeer = "가입하지 않은 사용자와는 대화할 수 없습니다";
inline const char* const kTooManyRooms =
    "방을 너무 빨리 만들고 있습니다. 잠시 후 다시 시도해 주세요";
} // namespace ErrorText

struct RoomResult {
    std::string error; // non-empty: a ServerError for the requester, nothing delivered
    std::vector<Delivery> deliveries;
    // A frame for the requesting connection alone (a history page); null when none.
    std::shared_ptr<const std::string> reply;
};

class RoomLogic {
public:
    static constexpr std::size_t kMaxTextBytes = 64 * 1024;
    // kTooLong when a field is longer than any request may hold, else "": checked on the I/O
    // thread, so a giant frame is refused without being copied into a job.
    static std::string refusedBySize(const FieldList& fields);
    static constexpr int kDefaultHistoryLimit = 50;
    static constexpr int kMaxHistoryLimit = 100;
    // A page of long texts is cut short (with hasOlder set) well below a connection's queue
    // limit; the client asks again from its oldest entry.
    static constexpr std::size_t kMaxHistoryPageBytes = 1024 * 1024;
    // Rooms one user may create (direct, memo or group) within kRoomWindow, on every server
    // of the database together: a list of rooms grows no faster than a person makes friends.
    static constexpr std::int64_t kRoomsPerWindow = 30;
    static constexpr std::int64_t kRoomWindowMs = 60 * 1000;
    // kTooManyRooms when `phone` has created kRoomsPerWindow rooms within the window, else "".
    static std::string roomCreationRefused(Storage& storage, const std::string& phone);

    // Chat-connection requests of a signed-in user, fields as received: decoded here and
    // handed to the request's own rule below. Types without a room rule give an empty result.
    static RoomResult handleFrame(Storage& storage, const std::string& phone, std::uint8_t type,
                                  const FieldList& fields);

    // The room whose next message id the request would take, or "" (see Storage::lockRooms).
    static std::string messageRoom(std::uint8_t type, const FieldList& fields);

    static RoomResult join(Storage& storage, const std::string& phone,
                           const wire::JoinRoom& request);
    static RoomResult chat(Storage& storage, const std::string& phone,
                           const wire::ChatRequest& request);
    static RoomResult fileMeta(Storage& storage, const std::string& phone,
                               const wire::FileRequest& request);
    static RoomResult edit(Storage& storage, const std::string& phone, const wire::Edit& request);
    static RoomResult remove(Storage& storage, const std::string& phone,
                             const wire::Delete& request);
    static RoomResult readWatermark(Storage& storage, const std::string& phone,
                                    const wire::ReadWatermark& request);
    // A page of the room's past for the requester only. `before` is empty or a positive id;
    // `limit` is clamped to 1..kMaxHistoryLimit, and anything but digits means the default.
    // Only reads (see mayRead), so it may run on a reader.
    static RoomResult history(Storage& storage, const std::string& phone,
                              const wire::HistoryRequest& request);

    // Empty when `phone` may use `room`; a direct room is created (or its members restored)
    // on first use by one of its two participants, if the other has ever signed in and the
    // creator is within kRoomsPerWindow.
    static std::string ensureAccess(Storage& storage, const std::string& phone,
                                    const std::string& room);
    // Empty when `phone` may read `room`, changing nothing: a member, or for a direct room
    // one of its two participants (a room not made yet has no past).
    static std::string mayRead(Storage& storage, const std::string& phone, const std::string& room);

    // Messages of `room` with ids in (after, before) as a reader who missed them live gets
    // them, oldest first: the current text, a deletion right after its message.
    static std::vector<Delivery> missedMessages(Storage& storage, const std::string& room,
                                                std::int64_t after, std::int64_t before);

    // Removes the member and tells the others; error kNotMember when not a member.
    static RoomResult leaveRoom(Storage& storage, const std::string& phone,
                                const std::string& room);
};

} // namespace brindlewick::server
