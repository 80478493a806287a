#pragma once
// Typed messages of the chat connection, shared by the client and the server. Each has one
// encode (to the frame's fields) and one decode (from them); decode returns nothing when the
// frame has fewer fields than the message needs, and reads missing optional fields as "".
// Plain C++17 like the codec.

#include "chat_protocol.h"

#include <optional>
#include <string>
#include <vector>

namespace brindlewick::wire {

// A client id names one request of a sender (a message, a file, an edit or a deletion) so a
// server that knows it stores the request once however often it is resent: 128 random bits as
// 32 hex digits. Anything else in its place reads as no id.
bool isClientId(const std::string& text);
// A new client id in lowercase: the time in milliseconds (12 digits), then 80 bits from the
// system's random source.
std::string newClientId();

// --- Client to server ---

struct Auth {
    static constexpr std::uint8_t kType = MessageType::Auth;
    std::string phone;
    std::string nick; // the phone when no nickname is set
    std::string profilePic;
    std::string statusMsg;
    // The device secret of a claimed phone, after the catalogue's fields; only written when set.
    std::string secret{};
    FieldList encode() const;
    static std::optional<Auth> decode(const FieldList& fields);
};

struct JoinRoom {
    static constexpr std::uint8_t kType = MessageType::JoinRoom;
    std::string room;
    FieldList encode() const;
    static std::optional<JoinRoom> decode(const FieldList& fields);
};

struct LeaveRoom {
    static constexpr std::uint8_t kType = MessageType::LeaveRoom;
    std::string room;
    FieldList encode() const;
    static std::optional<LeaveRoom> decode(const FieldList& fields);
};

// A message the user sends; the server answers every member with a ChatMessage.
struct ChatRequest {
    static constexpr std::uint8_t kType = MessageType::Chat;
    std::string room;
    std::string text;
    std::string replyTo; // only written when not empty
    // After the catalogue's fields (an empty reply id is then written too); only when set.
    std::string clientId{};
    FieldList encode() const;
    static std::optional<ChatRequest> decode(const FieldList& fields);
};

// A file the user uploaded; the server answers every member with a FileMessage.
struct FileRequest {
    static constexpr std::uint8_t kType = MessageType::FileMeta;
    std::string room;
    std::string fileId;
    std::string name;
    std::string size;       // decimal bytes
    std::string clientId{}; // after the catalogue's five fields; only when set
    FieldList encode() const;
    static std::optional<FileRequest> decode(const FieldList& fields);
};

struct ReadWatermark {
    static constexpr std::uint8_t kType = MessageType::ReadWatermark;
    std::string room;
    std::string msgId;
    FieldList encode() const;
    static std::optional<ReadWatermark> decode(const FieldList& fields);
};

struct CallReject {
    static constexpr std::uint8_t kType = MessageType::CallReject;
    std::string callId;
    std::string reason;
    FieldList encode() const;
    static std::optional<CallReject> decode(const FieldList& fields);
};

// A page of a room's past: the newest `limit` messages before message `before`, or the newest
// when `before` is empty. Only members get an answer; the server clamps `limit` to 1..100.
struct HistoryRequest {
    static constexpr std::uint8_t kType = MessageType::HistoryRequest;
    std::string room;
    std::string before; // message id, or "" for the newest page
    std::string limit;  // decimal; "" means 50
    FieldList encode() const;
    static std::optional<HistoryRequest> decode(const FieldList& fields);
};

// --- Both directions: a request from the sender, the same announcement to the room ---

struct Edit {
    static constexpr std::uint8_t kType = MessageType::ChatEdit;
    std::string room;
    std::string msgId;
    std::string text;
    // From the sender, and in the answer to the sender's connection; only written when set.
    std::string clientId{};
    FieldList encode() const;
    static std::optional<Edit> decode(const FieldList& fields);
};

struct Delete {
    static constexpr std::uint8_t kType = MessageType::ChatDelete;
    std::string room;
    std::string msgId;
    std::string clientId{}; // as Edit's
    FieldList encode() const;
    static std::optional<Delete> decode(const FieldList& fields);
};

// --- Server to client ---

struct AuthOk {
    static constexpr std::uint8_t kType = MessageType::AuthOk;
    std::string phone;
    // A new device secret when this sign-in claimed the phone; only written when set.
    std::string secret{};
    FieldList encode() const;
    static std::optional<AuthOk> decode(const FieldList& fields);
};

struct ChatMessage {
    static constexpr std::uint8_t kType = MessageType::Chat;
    std::string room;
    std::string sender; // nickname or phone
    std::string text;
    std::string time; // ISO 8601
    std::string msgId;
    std::string senderPhone; // the reference server's; other servers may leave it out
    std::string replyTo;
    // The client id of the sender's request, after the fields above; only written when set.
    std::string clientId{};
    FieldList encode() const;
    static std::optional<ChatMessage> decode(const FieldList& fields);
};

struct FileMessage {
    static constexpr std::uint8_t kType = MessageType::FileMeta;
    std::string room;
    std::string sender;
    std::string fileId;
    std::string name;
    std::string size;
    std::string time;
    std::string msgId;
    std::string senderPhone; // the reference server's, after the catalogue's fields; may be absent
    std::string clientId{};  // as ChatMessage's; the sender's phone is then written too
    FieldList encode() const;
    static std::optional<FileMessage> decode(const FieldList& fields);
};

struct Notice {
    static constexpr std::uint8_t kType = MessageType::RoomNotice;
    std::string room;
    std::string text;
    FieldList encode() const;
    static std::optional<Notice> decode(const FieldList& fields);
};

struct ServerError {
    static constexpr std::uint8_t kType = MessageType::ServerError;
    std::string refusedType; // the type number of the refused request, as digits
    std::string text;
    FieldList encode() const;
    static std::optional<ServerError> decode(const FieldList& fields);
};

struct CallInvite {
    static constexpr std::uint8_t kType = MessageType::CallInvite;
    std::string callId;
    std::string caller; // "상대" when the frame names nobody
    FieldList encode() const;
    static std::optional<CallInvite> decode(const FieldList& fields);
};

// One message of a history page, in its current state.
struct HistoryEntry {
    std::string msgId;
    std::string kind;   // "chat" or "file"
    std::string sender; // nickname or phone, as when it was sent
    std::string senderPhone;
    std::string time; // ISO 8601
    std::string text; // the latest text; "" when deleted
    std::string replyTo;
    bool edited = false;
    bool deleted = false;
    std::string fileId;
    std::string fileName;
    std::string fileSize; // decimal bytes
};

// The answer to a HistoryRequest, one frame for the whole page so it can never be mistaken for
// live traffic. Fields: room, before (as requested), hasOlder ("1"/"0"), the user's read mark in
// the room ("0" for none), the number of fields per entry, then the entries, oldest first. A
// reader takes the entry fields it knows and skips the rest, so entries can grow.
struct HistoryPage {
    static constexpr std::uint8_t kType = MessageType::HistoryPage;
    static constexpr std::size_t kEntryFields = 12;
    std::string room;
    std::string before;
    bool hasOlder = false;
    std::string readMark;
    std::vector<HistoryEntry> entries;
    FieldList encode() const;
    static std::optional<HistoryPage> decode(const FieldList& fields);
    // For a reader that shows a bounded part of a page: the newest entries whose fields take at
    // most `maxBytes` (always the newest one), each field cut to `maxFieldBytes` at a character
    // boundary. Older entries left out make `hasOlder` true. Copies only what it keeps.
    static std::optional<HistoryPage> decodeNewest(const FieldList& fields, std::size_t maxBytes,
                                                   std::size_t maxFieldBytes);
};

// The first `maxBytes` of UTF-8 `text`, never part of a character.
std::string cutUtf8(const std::string& text, std::size_t maxBytes);

// The whole frame of a typed message.
template <typename Message> std::string encodeFrame(const Message& message) {
    return ChatProtocol::encodeType(Message::kType, message.encode());
}

} // namespace brindlewick::wire
