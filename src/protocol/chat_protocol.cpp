#include "chat_protocol.h"

#include <cstring>

namespace brindlewick {

namespace {

void putBigEndian32(char* out, std::uint32_t value) {
    out[0] = static_cast<char>((value >> 24) & 0xFF);
    out[1] = static_cast<char>((value >> 16) & 0xFF);
    out[2] = static_cast<char>((value >> 8) & 0xFF);
    out[3] = static_cast<char>(value & 0xFF);
}

std::uint32_t getBigEndian32(const unsigned char* in) {
    return (std::uint32_t(in[0]) << 24) | (std::uint32_t(in[1]) << 16) |
           (std::uint32_t(in[2]) << 8) | std::uint32_t(in[3]);
}

} // namespace

void ChatProtocol::encodeTypeInto(std::string& out, std::uint8_t type, const FieldList& fields) {
    std::size_t payloadSize = fields.empty() ? 0 : fields.size() - 1;
    for (const std::string& field : fields)
        payloadSize += field.size();

    const std::size_t start = out.size();
    out.resize(start + kHeaderSize + payloadSize);
    char* p = &out[start];
    p[0] = static_cast<char>(kMagic0);
    p[1] = static_cast<char>(kMagic1);
    p[2] = static_cast<char>(kVersion);
    p[3] = static_cast<char>(type);
    putBigEndian32(p + 4, static_cast<std::uint32_t>(payloadSize));
    p += kHeaderSize;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            *p++ = kFieldSeparator;
        const std::string& field = fields[i];
        std::memcpy(p, field.data(), field.size());
        // 0x1F never occurs inside a multi-byte UTF-8 sequence, so a byte scan is exact.
        char* end = p + field.size();
        while (char* sep = static_cast<char*>(std::memchr(p, kFieldSeparator, end - p))) {
            *sep = ' ';
            p = sep + 1;
        }
        p = end;
    }
}

std::string ChatProtocol::encodeType(std::uint8_t type, const FieldList& fields) {
    std::string out;
    encodeTypeInto(out, type, fields);
    return out;
}

bool ChatProtocol::isValidUtf8(const char* data, std::size_t size) {
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    while (i < size) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            // ASCII runs, eight bytes at a time.
            while (i + 8 <= size) {
                std::uint64_t word;
                std::memcpy(&word, s + i, 8);
                if (word & 0x8080808080808080ULL)
                    break;
                i += 8;
            }
            continue;
        }
        // Hangul and most CJK text: runs of plain three-byte sequences.
        if (i + 2 < size && (c & 0xF0) == 0xE0 && c != 0xE0 && c != 0xED) {
            do {
                if (((s[i + 1] & 0xC0) ^ 0x80) | ((s[i + 2] & 0xC0) ^ 0x80))
                    return false;
                i += 3;
            } while (i + 2 < size && (s[i] & 0xF0) == 0xE0 && s[i] != 0xE0 && s[i] != 0xED);
            continue;
        }
        std::size_t need;
        unsigned char lo = 0x80, hi = 0xBF; // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0)
                lo = 0xA0; // overlong
            else if (c == 0xED)
                hi = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0)
                lo = 0x90; // overlong
            else if (c == 0xF4)
                hi = 0x8F; // above U+10FFFF
        } else {
            return false;
        }
        if (size - i <= need)
            return false;
        if (s[i + 1] < lo || s[i + 1] > hi)
            return false;
        for (std::size_t k = 2; k <= need; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        i += need + 1;
    }
    return true;
}

bool ChatProtocol::splitPayload(const char* data, std::size_t size, FieldList& fields,
                                std::size_t maxFields) {
    if (!isValidUtf8(data, size)) {
        fields.resize(1);
        fields[0].clear();
        return true;
    }
    // Reuses the strings already in `fields` so a batch of frames allocates little.
    std::size_t count = 0;
    std::size_t begin = 0;
    for (;;) {
        const void* sep = std::memchr(data + begin, kFieldSeparator, size - begin);
        const std::size_t end =
            sep ? static_cast<std::size_t>(static_cast<const char*>(sep) - data) : size;
        if (count == maxFields) {
            fields.resize(count);
            return false;
        }
        if (count == fields.size())
            fields.emplace_back();
        fields[count++].assign(data + begin, end - begin);
        if (!sep)
            break;
        begin = end + 1;
    }
    fields.resize(count);
    return true;
}

ConsumeResult ChatProtocol::consumeBuffer(std::string& buffer, const FrameHandler& handler) {
    return consumeFrames(
        buffer,
        [&handler](std::uint8_t type, const FieldList& fields) {
            if (handler)
                handler(type, fields);
            return true;
        },
        kMaxFields);
}

ConsumeResult ChatProtocol::consumeFrames(std::string& buffer, const FrameFilter& handler,
                                          std::size_t maxFields) {
    ConsumeResult result;
    std::size_t offset = 0;
    FieldList fields;

    const std::size_t size = buffer.size();
    while (size - offset >= kHeaderSize) {
        const auto* header = reinterpret_cast<const unsigned char*>(buffer.data() + offset);
        if (header[0] != kMagic0 || header[1] != kMagic1) {
            buffer.clear();
            result.status = ConsumeStatus::BadMagic;
            return result;
        }
        const std::uint32_t length = getBigEndian32(header + 4);
        if (length > kMaxPayloadLength) {
            result.status = ConsumeStatus::ProtocolError;
            break;
        }
        if (size - offset - kHeaderSize < length)
            break;
        const std::uint8_t type = header[3];
        if (!splitPayload(buffer.data() + offset + kHeaderSize, length, fields, maxFields)) {
            result.status = ConsumeStatus::TooManyFields;
            break;
        }
        offset += kHeaderSize + length;
        result.tookFrame = true;
        if (handler && !handler(type, fields))
            break;
    }
    // A short tail is judged by what there is of the magic, so a peer that sends a few
    // stray bytes is not left waiting for a header that never comes.
    const std::size_t rest = size - offset;
    if (result.status == ConsumeStatus::NeedMore && rest > 0 && rest < kHeaderSize) {
        const auto* tail = reinterpret_cast<const unsigned char*>(buffer.data() + offset);
        if (tail[0] != kMagic0 || (rest >= 2 && tail[1] != kMagic1)) {
            buffer.clear();
            result.status = ConsumeStatus::BadMagic;
            return result;
        }
    }
    buffer.erase(0, offset);
    return result;
}

std::string ChatProtocol::dmRoomForPhone(const std::string& phone, const std::string& other) {
    // Byte order of UTF-8 is code point order.
    if (phone.compare(other) > 0)
        return "dm:" + other + ":" + phone;
    return "dm:" + phone + ":" + other;
}

std::string ChatProtocol::peerPhoneInDmRoom(const std::string& room, const std::string& myPhone) {
    if (room.compare(0, 3, "dm:") != 0)
        return {};
    const std::size_t first = 2;
    const std::size_t second = room.find(':', first + 1);
    if (second == std::string::npos || room.find(':', second + 1) != std::string::npos)
        return {};
    const std::string a = room.substr(first + 1, second - first - 1);
    const std::string b = room.substr(second + 1);
    if (a == myPhone)
        return b;
    if (b == myPhone)
        return a;
    return {};
}

} // namespace brindlewick
