// Feeds random bytes to the splitter in random chunk sizes and checks that
// every reported frame re-encodes to the bytes it was cut from, and that the typed messages
// carrying a client id read it only when well formed and keep what they read when written again.
#include "chat_protocol.h"
#include "messages.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

using namespace brindlewick;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::uint32_t lengthAt(const std::string& bytes, std::size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset + 4);
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

template <typename Message> void checkTyped(const FieldList& fields) {
    const auto message = Message::decode(fields);
    if (!message)
        return;
    check(message->clientId.empty() || wire::isClientId(message->clientId));
    const FieldList written = message->encode();
    const auto again = Message::decode(written);
    check(again && again->encode() == written);
}

void checkClientIds(const FieldList& fields) {
    checkTyped<wire::ChatRequest>(fields);
    checkTyped<wire::FileRequest>(fields);
    checkTyped<wire::Edit>(fields);
    checkTyped<wire::Delete>(fields);
    checkTyped<wire::ChatMessage>(fields);
    checkTyped<wire::FileMessage>(fields);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::string buffer;
    while (input.remaining_bytes() > 0) {
        const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 64);
        buffer += input.ConsumeBytesAsString(chunk);

        const std::string before = buffer;
        std::size_t offset = 0;
        const ConsumeResult result =
            ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& fields) {
                check(before.size() - offset >= ChatProtocol::kHeaderSize);
                const std::uint32_t length = lengthAt(before, offset);
                const std::string original =
                    before.substr(offset, ChatProtocol::kHeaderSize + length);
                check(original.size() == ChatProtocol::kHeaderSize + length);
                check(static_cast<std::uint8_t>(original[3]) == type);
                const std::string payload = original.substr(ChatProtocol::kHeaderSize);
                if (ChatProtocol::isValidUtf8(payload.data(), payload.size())) {
                    std::string again = ChatProtocol::encodeType(type, fields);
                    again[2] = original[2]; // the version byte is not kept
                    check(again == original);
                    checkClientIds(fields);
                } else {
                    check(fields.size() == 1 && fields[0].empty());
                }
                offset += original.size();
            });
        check(result.tookFrame == (offset > 0));
        // What stays is the unread tail, or nothing after bad magic.
        check(buffer.empty() || buffer == before.substr(offset));
        if (result.status == ConsumeStatus::ProtocolError) {
            check(lengthAt(buffer, 0) > ChatProtocol::kMaxPayloadLength);
            break; // the connection would be closed here
        }
        if (result.status == ConsumeStatus::TooManyFields)
            break; // likewise
    }
    return 0;
}
