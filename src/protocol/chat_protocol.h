#pragma once
// Frame codec of the chat connection and direct-room identifiers.
// Plain C++17 so the server, the fuzzers and the benchmarks link it without Qt.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brindlewick {

// Message types of the catalogue.
namespace MessageType {
enum : std::uint8_t {
    Auth = 1,
    AuthOk = 2,
    JoinRoom = 3,
    LeaveRoom = 4,
    Chat = 5,
    RoomNotice = 6,
    Ping = 7,
    FileMeta = 9,
    ChatEdit = 10,
    ChatDelete = 11,
    ReadWatermark = 12,
    QuietEvent = 13,
    ServerError = 15,
    CallInvite = 17,
    CallReject = 19,
    // Extensions, above the catalogue.
    HistoryRequest = 20,
    HistoryPage = 21,
};
}

// Fields are UTF-8 text.
using FieldList = std::vector<std::string>;
using FrameHandler = std::function<void(std::uint8_t type, const FieldList& fields)>;
// Returns false to stop cutting after this frame; the rest stays in the buffer.
using FrameFilter = std::function<bool(std::uint8_t type, const FieldList& fields)>;

enum class ConsumeStatus {
    NeedMore,      // nothing (more) to cut; partial frame, if any, stays in the buffer
    ProtocolError, // declared payload length exceeds kMaxPayloadLength
    BadMagic,      // bytes that do not start a frame; the buffer was emptied
    TooManyFields, // a frame has more fields than allowed; it stays at the front of the buffer
};

struct ConsumeResult {
    bool tookFrame = false;
    ConsumeStatus status = ConsumeStatus::NeedMore;
};

class ChatProtocol {
public:
    static constexpr std::size_t kHeaderSize = 8;
    static constexpr std::uint8_t kMagic0 = 0xC7;
    static constexpr std::uint8_t kMagic1 = 0xA7;
    static constexpr std::uint8_t kVersion = 0x01;
    static constexpr char kFieldSeparator = '\x1F';
    // A larger declared length is a broken or hostile stream, not a frame to wait for.
    static constexpr std::uint32_t kMaxPayloadLength = 16u * 1024u * 1024u;
    // More fields than any message uses (a history page of 100 entries has 1,205). Checked
    // while splitting, so a frame of separators never becomes millions of empty strings.
    static constexpr std::size_t kMaxFields = 4096;

    // The whole frame. A U+001F inside a field is written as a space so the
    // receiver sees the same number of fields.
    static std::string encodeType(std::uint8_t type, const FieldList& fields);
    // Appends the frame to `out`; saves an allocation per frame for batch writers.
    static void encodeTypeInto(std::string& out, std::uint8_t type, const FieldList& fields);

    // Cuts every complete frame off the front of `buffer`, in order, calling `handler` for
    // each (a null handler drops them). Bytes that do not start with the magic (a tail shorter
    // than a header included) empty the buffer and report BadMagic. Linear in the buffer's
    // size: consumed bytes are erased once per call.
    static ConsumeResult consumeBuffer(std::string& buffer, const FrameHandler& handler);
    // The same, with a reader's own field limit, stopping after a frame for which `handler`
    // returns false (a reader that has enough work in hand).
    static ConsumeResult consumeFrames(std::string& buffer, const FrameFilter& handler,
                                       std::size_t maxFields);

    // Payload text to fields: split at U+001F; invalid UTF-8 gives one empty field. False,
    // with `fields` left short, when there are more than `maxFields`.
    static bool splitPayload(const char* data, std::size_t size, FieldList& fields,
                             std::size_t maxFields = kMaxFields);
    static bool isValidUtf8(const char* data, std::size_t size);

    static std::string dmRoomForPhone(const std::string& phone, const std::string& other);
    static std::string peerPhoneInDmRoom(const std::string& room, const std::string& myPhone);
};

} // namespace brindlewick
