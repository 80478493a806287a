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

RoomResult RoomLogic::chat(Storage& storage, const std::string& phone,
                           const wire::ChatRequest& request) {
    const std::string& room = request.room;
    if (room.empty() || request.text.empty())
        return refuse(ErrorText::kBadRequest);
    if (request.text.size() > kMaxTextBytes)
        return refuse(ErrorText::kTooLong);
    if (std::string error = ensureAccess(storage, phone, room); !error.empty())
        return refuse(std::move(error));
    if (!request.replyTo.empty()) {
        const auto replyId = parseMessageId(request.replyTo);
        if (!replyId || !storage.messageState(room, *replyId))
            return refuse(ErrorText::kNoMessage);
    }
    MessageRecord m = newMessage(storage, room, phone, "chat");
    m.text = request.text;
    m.replyTo = request.replyTo;
    storage.appendMessage(m);
    return deliver(storage, room,
                   wire::ChatMessage{room, m.senderName, m.text, m.time, std::to_string(m.id),
                                     phone, m.replyTo},
                   m.id);
}

RoomResult RoomLogic::fileMeta(Storage& storage, const std::string& phone,
                               const wire::FileRequest& request) {
    const std::string& room = request.room;
    const std::string& fileId = request.fileId;
    if (room.empty() || fileId.empty())
        return refuse(ErrorText::kBadRequest);
    if (request.name.size() > kMaxTextBytes)
        return refuse(ErrorText::kTooLong);
    if (std::string hidden = hiddenCharacters(Field::FileName, request.name); !hidden.empty())
        return refuse(std::move(hidden));
    const std::string name = request.name.empty() ? std::string("file") : request.name;
    if (std::string error = ensureAccess(storage, phone, room); !error.empty())
        return refuse(std::move(error));
    // Announcing a file nobody can download would leave a dead link in every transcript.
    const auto file = isHex128(fileId) ? storage.file(fileId) : std::nullopt;
    if (!file || !file->complete)
        return refuse(ErrorText::kNoFile);
    MessageRecord m = newMessage(storage, room, phone, "file");
    m.text = name;
    m.fileId = fileId;
    m.fileName = name;
    m.fileSize = file->received;
    storage.appendMessage(m);
    return deliver(storage, room,
                   wire::FileMessage{room, m.senderName, fileId, name, std::to_string(m.fileSize),
                                     m.time, std::to_string(m.id), phone},
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
    if (request.room.empty() || !id || request.text.empty())
        return refuse(ErrorText::kBadRequest);
    if (request.text.size() > kMaxTextBytes)
        return refuse(ErrorText::kTooLong);
    if (std::string error = checkOwnMessage(storage, phone, request.room, *id); !error.empty())
        return refuse(std::move(error));
    storage.editMessage(request.room, *id, request.text);
    return deliver(storage, request.room,
                   wire::Edit{request.room, std::to_string(*id), request.text});
}

RoomResult RoomLogic::remove(Storage& storage, const std::string& phone,
                             const wire::Delete& request) {
    const auto id = parseMessageId(request.msgId);
    if (request.room.empty() || !id)
        return refuse(ErrorText::kBadRequest);
    if (std::string error = checkOwnMessage(storage, phone, request.room, *id); !error.empty())
        return refuse(std::move(error));
    storage.deleteMessage(request.room, *id);
    return deliver(storage, request.room, wire::Delete{request.room, std::to_string(*id)});
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
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const MessageRecord& m = it->message;
        const std::string id = std::to_string(m.id);
        std::string frame =
            m.kind == "file"
                ? wire::encodeFrame(wire::FileMessage{room, m.senderName, m.fileId, m.fileName,
                                                      std::to_string(m.fileSize), m.time, id,
                                                      m.sender})
                : wire::encodeFrame(wire::ChatMessage{room, m.senderName, m.text, m.time, id,
                                                      m.sender, m.replyTo});
        // The reader missed the deletion too; both frames go out as one delivery.
        if (it->deleted)
            frame += wire::encodeFrame(wire::Delete{room, id});
        deliveries.push_back(
            {members, std::make_shared<const std::string>(std::move(frame)), room, m.id});
    }
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
