#include "room_logic.h"

#include "ids.h"
#include "time_text.h"

#include <ctime>

namespace brindlewick::server {

namespace {

const std::string& field(const FieldList& fields, std::size_t index) {
    static const std::string empty;
    return index < fields.size() ? fields[index] : empty;
}

RoomResult refuse(const char* text) {
    RoomResult result;
    result.error = text;
    return result;
}

RoomResult deliver(Storage& storage, const std::string& room, std::uint8_t type,
                   const FieldList& fields) {
    RoomResult result;
    result.deliveries.push_back(
        {storage.members(room),
         std::make_shared<const std::string>(ChatProtocol::encodeType(type, fields))});
    return result;
}

// A new message of `room` by `phone`, with the next id, the sender's name and the time.
MessageRecord newMessage(Storage& storage, const std::string& room, const std::string& phone,
                         const char* kind) {
    const auto user = storage.user(phone);
    MessageRecord m;
    m.room = room;
    m.id = storage.nextMessageId(room);
    m.kind = kind;
    m.sender = phone;
    m.senderName = user ? user->displayName() : phone;
    m.time = isoLocalTime(std::time(nullptr));
    return m;
}

} // namespace

std::string RoomLogic::ensureAccess(Storage& storage, const std::string& phone,
                                    const std::string& room) {
    if (room.empty())
        return ErrorText::kBadRequest;
    if (room.rfind("dm:", 0) == 0) {
        const std::string peer = ChatProtocol::peerPhoneInDmRoom(room, phone);
        // Only the canonical spelling names the pair, so nobody gets two rooms with one peer.
        if (peer.empty() || ChatProtocol::dmRoomForPhone(phone, peer) != room)
            return ErrorText::kNotMember;
        if (!storage.roomKind(room))
            storage.createRoom(room, "dm", "", phone);
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
    case MessageType::JoinRoom: {
        RoomResult result;
        result.error = ensureAccess(storage, phone, field(fields, 0));
        return result;
    }
    case MessageType::Chat:
        return chat(storage, phone, fields);
    case MessageType::FileMeta:
        return fileMeta(storage, phone, fields);
    case MessageType::ChatEdit:
    case MessageType::ChatDelete:
        return editOrDelete(storage, phone, type, fields);
    case MessageType::ReadWatermark:
        return readWatermark(storage, phone, fields);
    default:
        return {};
    }
}

RoomResult RoomLogic::chat(Storage& storage, const std::string& phone, const FieldList& fields) {
    const std::string& room = field(fields, 0);
    const std::string& text = field(fields, 1);
    const std::string& replyTo = field(fields, 2);
    if (room.empty() || text.empty())
        return refuse(ErrorText::kBadRequest);
    if (text.size() > kMaxTextBytes)
        return refuse(ErrorText::kTooLong);
    if (std::string error = ensureAccess(storage, phone, room); !error.empty())
        return RoomResult{error, {}};
    if (!replyTo.empty()) {
        const auto replyId = parseMessageId(replyTo);
        if (!replyId || !storage.messageState(room, *replyId))
            return refuse(ErrorText::kNoMessage);
    }
    MessageRecord m = newMessage(storage, room, phone, "chat");
    m.text = text;
    m.replyTo = replyTo;
    storage.insertMessage(m);
    return deliver(storage, room, MessageType::Chat,
                   {room, m.senderName, text, m.time, std::to_string(m.id), phone, replyTo});
}

RoomResult RoomLogic::fileMeta(Storage& storage, const std::string& phone,
                               const FieldList& fields) {
    const std::string& room = field(fields, 0);
    const std::string& fileId = field(fields, 1);
    std::string name = field(fields, 2);
    if (room.empty() || fileId.empty())
        return refuse(ErrorText::kBadRequest);
    if (name.size() > kMaxTextBytes)
        return refuse(ErrorText::kTooLong);
    if (name.empty())
        name = "file";
    if (std::string error = ensureAccess(storage, phone, room); !error.empty())
        return RoomResult{error, {}};
    // Announcing a file nobody can download would leave a dead link in every transcript.
    const auto file = isHex128(fileId) ? storage.file(fileId) : std::nullopt;
    if (!file || !file->complete)
        return refuse(ErrorText::kNoFile);
    MessageRecord m = newMessage(storage, room, phone, "file");
    m.text = name;
    m.fileId = fileId;
    m.fileName = name;
    m.fileSize = file->received;
    storage.insertMessage(m);
    return deliver(storage, room, MessageType::FileMeta,
                   {room, m.senderName, fileId, name, std::to_string(m.fileSize), m.time,
                    std::to_string(m.id)});
}

RoomResult RoomLogic::editOrDelete(Storage& storage, const std::string& phone, std::uint8_t type,
                                   const FieldList& fields) {
    const std::string& room = field(fields, 0);
    const std::string& idText = field(fields, 1);
    const std::string& text = field(fields, 2);
    const auto id = parseMessageId(idText);
    if (room.empty() || !id || (type == MessageType::ChatEdit && text.empty()))
        return refuse(ErrorText::kBadRequest);
    if (text.size() > kMaxTextBytes)
        return refuse(ErrorText::kTooLong);
    if (std::string error = ensureAccess(storage, phone, room); !error.empty())
        return RoomResult{error, {}};
    const auto state = storage.messageState(room, *id);
    if (!state || state->deleted)
        return refuse(ErrorText::kNoMessage);
    if (state->sender != phone)
        return refuse(ErrorText::kNotSender);
    const std::string canonicalId = std::to_string(*id);
    if (type == MessageType::ChatEdit) {
        storage.editMessage(room, *id, text);
        return deliver(storage, room, MessageType::ChatEdit, {room, canonicalId, text});
    }
    storage.deleteMessage(room, *id);
    return deliver(storage, room, MessageType::ChatDelete, {room, canonicalId});
}

RoomResult RoomLogic::readWatermark(Storage& storage, const std::string& phone,
                                    const FieldList& fields) {
    const std::string& room = field(fields, 0);
    const auto id = parseMessageId(field(fields, 1));
    if (room.empty() || !id)
        return refuse(ErrorText::kBadRequest);
    if (std::string error = ensureAccess(storage, phone, room); !error.empty())
        return RoomResult{error, {}};
    storage.setReadMark(room, phone, *id);
    return {};
}

RoomResult RoomLogic::leaveRoom(Storage& storage, const std::string& phone,
                                const std::string& room) {
    if (!storage.removeMember(room, phone))
        return refuse(ErrorText::kNotMember);
    const auto user = storage.user(phone);
    const std::string name = user ? user->displayName() : phone;
    return deliver(storage, room, MessageType::RoomNotice, {room, name + "님이 나갔습니다."});
}

} // namespace brindlewick::server
