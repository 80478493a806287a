#include "room_logic.h"

#include "field_limits.h"
#include "ids.h"
#include "time_text.h"

#include <phone_number.h>

#include <algorithm>
#include <ctime>
#include <limits>

namespace brindlewick::server {

namespace {

RoomResult refuse(std::string text) {
    RoomResult result;
    result.error = std::move(text);
    return result;
}

// One frame of `message` for every member of `room`.
// `id`: the new message's id, 0 for a change to existing ones.
template <typename Message>
RoomResult deliver(Storage& storage, const std::string& room, const Message& message,
                   std::int64_t id = 0) {
    RoomResult result;
    result.deliveries.push_back({storage.sharedMembers(room),
                                 std::make_shared<const std::string>(wire::encodeFrame(message)),
                                 room, id});
    return result;
}

// A request too short for its layout is refused like one with empty fields.
template <typename Request, typename Rule>
RoomResult decoded(Storage& storage, const std::string& phone, const FieldList& fields, Rule rule) {
    const auto request = Request::decode(fields);
    if (!request)
        return refuse(ErrorText::kBadRequest);
    return rule(storage, phone, *request);
}

// The frame a reader gets for the stored message `row`: its current state (with the sender's
// client id, as when it was new), a deletion right after it.
std::string messageFrame(const HistoryRow& row) {
    const std::string& clientId = row.message.clientId;
    const MessageRecord& m = row.message;
    const std::string id = std::to_string(m.id);
    std::string frame =
        m.kind == "file"
            ? wire::encodeFrame(wire::FileMessage{m.room, m.senderName, m.fileId, m.fileName,
                                                  std::to_string(m.fileSize), m.time, id, m.sender,
                                                  clientId})
            : wire::encodeFrame(wire::ChatMessage{m.room, m.senderName, m.text, m.time, id,
                                                  m.sender, m.replyTo, clientId});
    if (row.deleted)
        frame += wire::encodeFrame(wire::Delete{m.room, id});
    return frame;
}

// The answer to a request that repeats `use` of `clientId`, for the sender's connection alone:
// the echo of the request it repeats, from what is stored (same id and time), never a second
// delivery to the room.
RoomResult repeated(Storage& storage, const ClientIdUse& use, const std::string& clientId) {
    RoomResult result;
    const std::string id = std::to_string(use.msgId);
    if (use.kind == "delete") {
        result.reply = std::make_shared<const std::string>(
            wire::encodeFrame(wire::Delete{use.room, id, clientId}));
        return result;
    }
    const HistorySlice slice =
        storage.history(use.room, use.msgId + 1, 1, RoomLogic::kMaxHistoryPageBytes);
    if (slice.rows.empty() || slice.rows.back().message.id != use.msgId)
        return refuse(ErrorText::kNoMessage);
    const HistoryRow& row = slice.rows.back();
    std::string frame;
    if (use.kind == "edit") {
        frame = wire::encodeFrame(wire::Edit{use.room, id, row.message.text, clientId});
        if (row.deleted)
            frame += wire::encodeFrame(wire::Delete{use.room, id});
    } else {
        frame = messageFrame(row);
    }
    result.reply = std::make_shared<const std::string>(std::move(frame));
    return result;
}

// `error` for the sender, unless the request repeats one already done (a resend whose first
// answer was lost, the room left since): then that one's answer.
RoomResult refuseUnlessRepeated(Storage& storage, const std::string& phone,
                                const std::string& clientId, std::string error) {
    if (!clientId.empty())
        if (const auto earlier = storage.clientIdUse(phone, clientId))
            return repeated(storage, *earlier, clientId);
    return refuse(std::move(error));
}

// A new message of `room` by `phone`, with the sender's name and the time; its id comes when
// it is stored.
MessageRecord newMessage(Storage& storage, const std::string& room, const std::string& phone,
                         const char* kind) {
    const auto user = storage.user(phone);
    MessageRecord m;
    m.room = room;
    m.kind = kind;
    m.sender = phone;
    m.senderName = user ? user->displayName() : phone;
    m.time = isoLocalTime(std::time(nullptr));
    return m;
}

} // namespace

namespace {

// The other participant of the direct room `room` as its one canonical spelling names it, or
// "" when `phone` is not one of its two.
std::string dmPeer(const std::string& phone, const std::string& room) {
    const std::string peer = ChatProtocol::peerPhoneInDmRoom(room, phone);
    // Only the canonical spelling names the pair, so nobody gets two rooms with one peer.
    if (peer.empty() || peer.size() > FieldLimit::kPhoneBytes || normalizePhone(peer) != peer ||
        ChatProtocol::dmRoomForPhone(phone, peer) != room)
        return {};
    return peer;
}

bool isDmRoom(const std::string& room) {
    return room.rfind("dm:", 0) == 0;
}

} // namespace

std::string RoomLogic::roomCreationRefused(Storage& storage, const std::string& phone) {
    const std::int64_t since = nowMs() - kRoomWindowMs;
    return storage.roomsCreatedSince(phone, since) >= kRoomsPerWindow ? ErrorText::kTooManyRooms
                                                                      : std::string();
}

std::string RoomLogic::mayRead(Storage& storage, const std::string& phone,
                               const std::string& room) {
    if (room.empty())
        return ErrorText::kBadRequest;
    if (isDmRoom(room))
        return dmPeer(phone, room).empty() ? ErrorText::kNotMember : std::string();
    return storage.isMember(room, phone) ? std::string() : ErrorText::kNotMember;
}

std::string RoomLogic::ensureAccess(Storage& storage, const std::string& phone,
                                    const std::string& room) {
    if (room.empty())
        return ErrorText::kBadRequest;
    if (isDmRoom(room)) {
        const std::string peer = dmPeer(phone, room);
        if (peer.empty())
            return ErrorText::kNotMember;
        if (!storage.roomKind(room)) {
            // A room with a number nobody has would cost a row per made-up number; a user
            // signs in before anyone can talk to them.
            if (peer != phone && !storage.user(peer))
                return ErrorText::kUnknownPeer;
            if (std::string refused = roomCreationRefused(storage, phone); !refused.empty())
                return refused;
            storage.createRoom(room, "dm", "", phone);
        }
        // A direct room always has its two participants; one who left comes back with the
        // next use.
        storage.addMember(room, phone);
        storage.addMember(room, peer);
        return {};
    }
    if (!storage.isMember(room, phone))
        return ErrorText::kNotMember;
    return {};
}

RoomResult RoomLogic::handleFrame(Storage& storage, const std::string& phone, std::uint8_t type,
                                  const FieldList& fields) {
    switch (type) {
    case MessageType::JoinRoom:
        return decoded<wire::JoinRoom>(storage, phone, fields, join);
    case MessageType::Chat:
        return decoded<wire::ChatRequest>(storage, phone, fields, chat);
    case MessageType::FileMeta:
        return decoded<wire::FileRequest>(storage, phone, fields, fileMeta);
    case MessageType::ChatEdit:
        return decoded<wire::Edit>(storage, phone, fields, edit);
    case MessageType::ChatDelete:
        return decoded<wire::Delete>(storage, phone, fields, remove);
    case MessageType::ReadWatermark:
        return decoded<wire::ReadWatermark>(storage, phone, fields, readWatermark);
    case MessageType::HistoryRequest:
        return decoded<wire::HistoryRequest>(storage, phone, fields, history);
    default:
        return {};
    }
}

std::string RoomLogic::refusedBySize(const FieldList& fields) {
    for (const std::string& field : fields)
        if (field.size() > kMaxTextBytes)
            return ErrorText::kTooLong;
    return {};
}

std::string RoomLogic::messageRoom(std::uint8_t type, const FieldList& fields) {
    if (type == MessageType::Chat)
        if (const auto request = wire::ChatRequest::decode(fields))
            return request->room;
    if (type == MessageType::FileMeta)
        if (const auto request = wire::FileRequest::decode(fields))
            return request->room;
    return {};
}

RoomResult RoomLogic::join(Storage& storage, const std::string& phone,
                           const wire::JoinRoom& request) {
    RoomResult result;
    result.error = ensureAccess(storage, phone, request.room);
    return result;
}

namespace {

std::string chatRefusal(Storage& storage, const std::string& phone,
                        const wire::ChatRequest& request) {
    if (request.room.empty() || request.text.empty())
        return ErrorText::kBadRequest;
    if (request.text.size() > RoomLogic::kMaxTextBytes)
        return ErrorText::kTooLong;
    if (std::string error = RoomLogic::ensureAccess(storage, phone, request.room); !error.empty())
        return error;
    if (!request.replyTo.empty()) {
        const auto replyId = parseMessageId(request.replyTo);
        if (!replyId || !storage.messageState(request.room, *replyId))
            return ErrorText::kNoMessage;
    }
    return {};
}

} // namespace

RoomResult RoomLogic::chat(Storage& storage, const std::string& phone,
                           const wire::ChatRequest& request) {
    const std::string& room = request.room;
    if (std::string error = chatRefusal(storage, phone, request); !error.empty())
        return refuseUnlessRepeated(storage, phone, request.clientId, std::move(error));
    MessageRecord m = newMessage(storage, room, phone, "chat");
    m.text = request.text;
    m.replyTo = request.replyTo;
    m.clientId = request.clientId;
    if (const auto earlier = storage.appendMessageOnce(m))
        return repeated(storage, *earlier, request.clientId);
    return deliver(storage, room,
                   wire::ChatMessage{room, m.senderName, m.text, m.time, std::to_string(m.id),
                                     phone, m.replyTo, request.clientId},
                   m.id);
}

namespace {

// The refusal of a file announcement, or "" with the file's record in `file`.
std::string fileRefusal(Storage& storage, const std::string& phone,
                        const wire::FileRequest& request, std::optional<FileRecord>& file) {
    if (request.room.empty() || request.fileId.empty())
        return ErrorText::kBadRequest;
    if (request.name.size() > RoomLogic::kMaxTextBytes)
        return ErrorText::kTooLong;
    if (std::string hidden = hiddenCharacters(Field::FileName, request.name); !hidden.empty())
        return hidden;
    if (std::string error = RoomLogic::ensureAccess(storage, phone, request.room); !error.empty())
        return error;
    // Announcing a file nobody can download would leave a dead link in every transcript.
    file = isHex128(request.fileId) ? storage.file(request.fileId) : std::nullopt;
    if (!file || !file->complete)
        return ErrorText::kNoFile;
    return {};
}

} // namespace

RoomResult RoomLogic::fileMeta(Storage& storage, const std::string& phone,
                               const wire::FileRequest& request) {
    const std::string& room = request.room;
    const std::string& fileId = request.fileId;
    std::optional<FileRecord> file;
    if (std::string error = fileRefusal(storage, phone, request, file); !error.empty())
        return refuseUnlessRepeated(storage, phone, request.clientId, std::move(error));
    const std::string name = request.name.empty() ? std::string("file") : request.name;
    MessageRecord m = newMessage(storage, room, phone, "file");
    m.text = name;
    m.fileId = fileId;
    m.fileName = name;
    m.fileSize = file->received;
    m.clientId = request.clientId;
    if (const auto earlier = storage.appendMessageOnce(m))
        return repeated(storage, *earlier, request.clientId);
    return deliver(storage, room,
                   wire::FileMessage{room, m.senderName, fileId, name, std::to_string(m.fileSize),
                                     m.time, std::to_string(m.id), phone, request.clientId},
                   m.id);
}

namespace {

// The sender's own live message of the room, or the refusal.
std::string checkOwnMessage(Storage& storage, const std::string& phone, const std::string& room,
                            std::int64_t id) {
    if (std::string error = RoomLogic::ensureAccess(storage, phone, room); !error.empty())
        return error;
    const auto state = storage.messageState(room, id);
    if (!state || state->deleted)
        return ErrorText::kNoMessage;
    if (state->sender != phone)
        return ErrorText::kNotSender;
    return {};
}

} // namespace

RoomResult RoomLogic::edit(Storage& storage, const std::string& phone, const wire::Edit& request) {
    const auto id = parseMessageId(request.msgId);
    std::string error;
    if (request.room.empty() || !id || request.text.empty())
        error = ErrorText::kBadRequest;
    else if (request.text.size() > kMaxTextBytes)
        error = ErrorText::kTooLong;
    else
        error = checkOwnMessage(storage, phone, request.room, *id);
    if (!error.empty())
        return refuseUnlessRepeated(storage, phone, request.clientId, std::move(error));
    if (!request.clientId.empty())
        if (const auto earlier =
                storage.claimClientId(phone, request.clientId, {"edit", request.room, *id}))
            return repeated(storage, *earlier, request.clientId);
    storage.editMessage(request.room, *id, request.text);
    return deliver(storage, request.room,
                   wire::Edit{request.room, std::to_string(*id), request.text, request.clientId});
}

RoomResult RoomLogic::remove(Storage& storage, const std::string& phone,
                             const wire::Delete& request) {
    const auto id = parseMessageId(request.msgId);
    std::string error = request.room.empty() || !id
                            ? std::string(ErrorText::kBadRequest)
                            : checkOwnMessage(storage, phone, request.room, *id);
    if (!error.empty())
        return refuseUnlessRepeated(storage, phone, request.clientId, std::move(error));
    if (!request.clientId.empty())
        if (const auto earlier =
                storage.claimClientId(phone, request.clientId, {"delete", request.room, *id}))
            return repeated(storage, *earlier, request.clientId);
    storage.deleteMessage(request.room, *id);
    return deliver(storage, request.room,
                   wire::Delete{request.room, std::to_string(*id), request.clientId});
}

RoomResult RoomLogic::readWatermark(Storage& storage, const std::string& phone,
                                    const wire::ReadWatermark& request) {
    const auto id = parseMessageId(request.msgId);
    if (request.room.empty() || !id)
        return refuse(ErrorText::kBadRequest);
    if (std::string error = ensureAccess(storage, phone, request.room); !error.empty())
        return refuse(std::move(error));
    storage.setReadMark(request.room, phone, *id);
    return {};
}

namespace {

int historyLimit(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return RoomLogic::kDefaultHistoryLimit;
    int value = 0;
    for (char c : text)
        value = std::min(value * 10 + (c - '0'), RoomLogic::kMaxHistoryLimit);
    return std::max(value, 1);
}

wire::HistoryEntry historyEntry(const HistoryRow& row) {
    const MessageRecord& m = row.message;
    wire::HistoryEntry e;
    e.msgId = std::to_string(m.id);
    e.kind = m.kind;
    e.sender = m.senderName;
    e.senderPhone = m.sender;
    e.time = m.time;
    e.text = m.text;
    e.replyTo = m.replyTo;
    e.edited = row.edited;
    e.deleted = row.deleted;
    e.fileId = m.fileId;
    e.fileName = m.fileName;
    if (!m.fileId.empty())
        e.fileSize = std::to_string(m.fileSize);
    return e;
}

} // namespace

RoomResult RoomLogic::history(Storage& storage, const std::string& phone,
                              const wire::HistoryRequest& request) {
    // Read as the newest page, a bad `before` would send a client whose paging went wrong the
    // same page again and again; a refusal says what happened.
    std::int64_t before = std::numeric_limits<std::int64_t>::max();
    if (!request.before.empty()) {
        const auto id = parseMessageId(request.before);
        if (!id || *id == 0)
            return refuse(ErrorText::kBadRequest);
        before = *id;
    }
    if (std::string error = mayRead(storage, phone, request.room); !error.empty())
        return refuse(std::move(error));
    const HistorySlice slice =
        storage.history(request.room, before, historyLimit(request.limit), kMaxHistoryPageBytes);
    wire::HistoryPage page;
    page.room = request.room;
    page.before = request.before;
    page.hasOlder = slice.hasOlder;
    page.readMark = std::to_string(storage.readMark(request.room, phone));
    page.entries.reserve(slice.rows.size());
    for (const HistoryRow& row : slice.rows)
        page.entries.push_back(historyEntry(row));
    RoomResult result;
    result.reply = std::make_shared<const std::string>(wire::encodeFrame(page));
    return result;
}

std::vector<Delivery> RoomLogic::missedMessages(Storage& storage, const std::string& room,
                                                std::int64_t after, std::int64_t before) {
    std::vector<HistoryRow> rows; // newest first while paging back
    while (before > after + 1) {
        const HistorySlice slice =
            storage.history(room, before, kMaxHistoryLimit, kMaxHistoryPageBytes);
        for (auto it = slice.rows.rbegin(); it != slice.rows.rend(); ++it)
            if (it->message.id > after)
                rows.push_back(*it);
        if (slice.rows.empty() || !slice.hasOlder)
            break;
        before = slice.rows.front().message.id;
    }
    std::vector<Delivery> deliveries;
    if (rows.empty())
        return deliveries;
    const Storage::MemberList members = storage.sharedMembers(room);
    // The reader missed any deletion too; both frames go out as one delivery.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        deliveries.push_back({members, std::make_shared<const std::string>(messageFrame(*it)), room,
                              it->message.id});
    return deliveries;
}

RoomResult RoomLogic::leaveRoom(Storage& storage, const std::string& phone,
                                const std::string& room) {
    if (!storage.removeMember(room, phone))
        return refuse(ErrorText::kNotMember);
    const auto user = storage.user(phone);
    const std::string name = user ? user->displayName() : phone;
    return deliver(storage, room, wire::Notice{room, name + "님이 나갔습니다."});
}

} // namespace brindlewick::server
