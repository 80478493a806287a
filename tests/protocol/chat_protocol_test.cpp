#include "chat_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindlewick;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

struct Seen {
    std::uint8_t type;
    FieldList fields;
    bool operator==(const Seen& o) const { return type == o.type && fields == o.fields; }
};

std::vector<Seen> consumeAll(std::string& buffer, ConsumeResult* result = nullptr) {
    std::vector<Seen> seen;
    ConsumeResult r =
        ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& fields) {
            seen.push_back({type, fields});
        });
    if (result)
        *result = r;
    return seen;
}

const std::string kHangul = "\xED\x95\x9C"; // 한

} // namespace

TEST(ChatProtocolEncode, ProducesExactBytes) {
    struct Case {
        const char* name;
        std::uint8_t type;
        FieldList fields;
        std::string expected;
    } cases[] = {
        {"ping without fields", MessageType::Ping, {}, bytes({0xC7, 0xA7, 1, 7, 0, 0, 0, 0})},
        {"one ascii field",
         MessageType::JoinRoom,
         {"abc"},
         bytes({0xC7, 0xA7, 1, 3, 0, 0, 0, 3, 'a', 'b', 'c'})},
        {"two empty fields",
         MessageType::Chat,
         {"", ""},
         bytes({0xC7, 0xA7, 1, 5, 0, 0, 0, 1, 0x1F})},
        {"one empty field", MessageType::Chat, {""}, bytes({0xC7, 0xA7, 1, 5, 0, 0, 0, 0})},
        {"hangul counts utf-8 bytes",
         MessageType::Chat,
         {kHangul},
         bytes({0xC7, 0xA7, 1, 5, 0, 0, 0, 3}) + kHangul},
        {"separator inside a field becomes a space",
         MessageType::Chat,
         {"a\x1F"
          "b",
          "c"},
         bytes({0xC7, 0xA7, 1, 5, 0, 0, 0, 5, 'a', ' ', 'b', 0x1F, 'c'})},
        {"type 255", 255, {"x"}, bytes({0xC7, 0xA7, 1, 255, 0, 0, 0, 1, 'x'})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChatProtocol::encodeType(c.type, c.fields), c.expected) << c.name;
}

TEST(ChatProtocolEncode, LengthIsBigEndian) {
    const std::string frame =
        ChatProtocol::encodeType(MessageType::Chat, {std::string(0x010203, 'x')});
    EXPECT_EQ(frame.substr(4, 4), bytes({0, 1, 2, 3}));
    EXPECT_EQ(frame.size(), 8u + 0x010203u);
}

TEST(ChatProtocolSplit, DecodesPayloads) {
    struct Case {
        const char* name;
        std::string payload;
        FieldList expected;
    } cases[] = {
        {"empty payload is one empty field", "", {""}},
        {"two empty fields", "\x1F", {"", ""}},
        {"empty fields at both ends",
         "\x1F"
         "a\x1F",
         {"", "a", ""}},
        {"korean", kHangul + "\x1F" + kHangul + kHangul, {kHangul, kHangul + kHangul}},
        {"invalid utf-8 is one empty field",
         "ab\xFF\x1F"
         "cd",
         {""}},
        {"truncated sequence", "a\xED\x95", {""}},
        {"overlong encoding", "\xC0\xAF", {""}},
        {"surrogate code point", "\xED\xA0\x80", {""}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {""}},
        {"four-byte emoji", "\xF0\x9F\x98\x80", {"\xF0\x9F\x98\x80"}},
        {"nul bytes are text", std::string("a\0b", 3), {std::string("a\0b", 3)}},
    };
    for (const Case& c : cases) {
        std::string header = bytes({0xC7, 0xA7, 1, 5, 0, 0, 0, static_cast<int>(c.payload.size())});
        std::string buffer = header + c.payload;
        const auto seen = consumeAll(buffer);
        ASSERT_EQ(seen.size(), 1u) << c.name;
        EXPECT_EQ(seen[0].fields, c.expected) << c.name;
        EXPECT_TRUE(buffer.empty()) << c.name;
    }
}

TEST(ChatProtocolSplit, KeepsIncompleteFrames) {
    const std::string frame = ChatProtocol::encodeType(MessageType::Chat, {"room", "hello"});
    struct Case {
        const char* name;
        std::string buffer;
    } cases[] = {
        {"seven bytes", frame.substr(0, 7)},
        {"header only", frame.substr(0, 8)},
        {"payload short by one", frame.substr(0, frame.size() - 1)},
    };
    for (const Case& c : cases) {
        std::string buffer = c.buffer;
        ConsumeResult result;
        EXPECT_TRUE(consumeAll(buffer, &result).empty()) << c.name;
        EXPECT_FALSE(result.tookFrame) << c.name;
        EXPECT_EQ(buffer, c.buffer) << c.name;
    }
}

TEST(ChatProtocolSplit, SplitsAtEveryByteBoundary) {
    const std::vector<Seen> sent = {
        {MessageType::Chat, {"dm:1:2", kHangul + " 안녕하세요", "2026-12-10T21:05:09+09:00", "17"}},
        {MessageType::AuthOk, {""}},
        {MessageType::RoomNotice, {"room", "", "x"}},
    };
    std::string stream;
    for (const auto& s : sent)
        stream += ChatProtocol::encodeType(s.type, s.fields);

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        std::string buffer = stream.substr(0, cut);
        auto seen = consumeAll(buffer);
        buffer += stream.substr(cut);
        const auto rest = consumeAll(buffer);
        seen.insert(seen.end(), rest.begin(), rest.end());
        ASSERT_EQ(seen, sent) << "cut at " << cut;
        EXPECT_TRUE(buffer.empty());
    }
}

TEST(ChatProtocolSplit, OneAndAHalfFrames) {
    const std::string a = ChatProtocol::encodeType(MessageType::Chat, {"r", "one"});
    const std::string b = ChatProtocol::encodeType(MessageType::Chat, {"r", "two"});
    std::string buffer = a + b.substr(0, b.size() / 2);
    ConsumeResult result;
    auto seen = consumeAll(buffer, &result);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(result.tookFrame);
    EXPECT_EQ(buffer, b.substr(0, b.size() / 2));
    buffer += b.substr(b.size() / 2);
    seen = consumeAll(buffer);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].fields[1], "two");
}

TEST(ChatProtocolSplit, BadMagicEmptiesWholeBuffer) {
    const std::string good = ChatProtocol::encodeType(MessageType::Chat, {"r", "x"});
    std::string buffer = "garbage!" + good + good;
    ConsumeResult result;
    EXPECT_TRUE(consumeAll(buffer, &result).empty());
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(result.status, ConsumeStatus::BadMagic);

    // Good frames before the bad bytes are delivered; everything after is dropped.
    buffer = good + "XY" + good.substr(2) + good;
    EXPECT_EQ(consumeAll(buffer, &result).size(), 1u);
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(result.status, ConsumeStatus::BadMagic);

    // A tail shorter than a header is judged by the magic bytes it has; a true prefix waits.
    const struct {
        std::string tail;
        bool bad;
    } tails[] = {{"G", true}, {"\xC7X", true}, {"\xC7", false}, {good.substr(0, 7), false}};
    for (const auto& t : tails) {
        buffer = good + t.tail;
        EXPECT_EQ(consumeAll(buffer, &result).size(), 1u);
        EXPECT_EQ(result.status == ConsumeStatus::BadMagic, t.bad) << t.tail.size();
        EXPECT_EQ(buffer, t.bad ? std::string() : t.tail) << t.tail.size();
    }

    // What arrives next starts a fresh frame.
    buffer = good;
    EXPECT_EQ(consumeAll(buffer).size(), 1u);
}

TEST(ChatProtocolSplit, IgnoresVersionByte) {
    std::string buffer = ChatProtocol::encodeType(MessageType::Chat, {"r", "x"});
    buffer[2] = 0x02;
    ASSERT_EQ(consumeAll(buffer).size(), 1u);
}

TEST(ChatProtocolSplit, OversizeLengthIsAProtocolError) {
    const std::string good = ChatProtocol::encodeType(MessageType::Chat, {"r", "x"});
    struct Case {
        const char* name;
        std::uint32_t length;
        bool error;
    } cases[] = {
        {"limit is accepted (waits)", ChatProtocol::kMaxPayloadLength, false},
        {"one over the limit", ChatProtocol::kMaxPayloadLength + 1, true},
        {"4 GiB - 1", 0xFFFFFFFFu, true},
    };
    for (const Case& c : cases) {
        std::string header =
            bytes({0xC7, 0xA7, 1, 5, int(c.length >> 24), int((c.length >> 16) & 0xFF),
                   int((c.length >> 8) & 0xFF), int(c.length & 0xFF)});
        std::string buffer = good + header + "abc";
        ConsumeResult result;
        const auto seen = consumeAll(buffer, &result);
        EXPECT_EQ(seen.size(), 1u) << c.name;
        EXPECT_TRUE(result.tookFrame) << c.name;
        EXPECT_EQ(result.status == ConsumeStatus::ProtocolError, c.error) << c.name;
        EXPECT_EQ(buffer, header + "abc") << c.name;
    }
}

TEST(ChatProtocolSplit, NullHandlerDropsFrames) {
    std::string buffer = ChatProtocol::encodeType(MessageType::Chat, {"r", "x"});
    EXPECT_TRUE(ChatProtocol::consumeBuffer(buffer, nullptr).tookFrame);
    EXPECT_TRUE(buffer.empty());
}

TEST(ChatProtocolSplit, FieldLimitIsCheckedWhileSplitting) {
    const std::string ok = ChatProtocol::encodeType(MessageType::Chat, FieldList(16, "f"));
    const std::string over = ChatProtocol::encodeType(MessageType::Chat, FieldList(17, ""));
    std::string buffer = ok + over + ok;
    std::vector<FieldList> seen;
    const ConsumeResult result = ChatProtocol::consumeFrames(
        buffer,
        [&](std::uint8_t, const FieldList& fields) {
            seen.push_back(fields);
            return true;
        },
        16);
    EXPECT_EQ(result.status, ConsumeStatus::TooManyFields);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].size(), 16u);
    EXPECT_EQ(buffer, over + ok); // the refused frame stays in front

    // The default limit lets a full history page through and stops a frame of separators.
    std::string page = ChatProtocol::encodeType(MessageType::HistoryPage, FieldList(1205, "x"));
    EXPECT_EQ(consumeAll(page).size(), 1u);
    const std::string separators(ChatProtocol::kMaxPayloadLength, '\x1F');
    FieldList fields;
    EXPECT_FALSE(ChatProtocol::splitPayload(separators.data(), separators.size(), fields));
    EXPECT_EQ(fields.size(), ChatProtocol::kMaxFields);
}

TEST(ChatProtocolSplit, AReaderCanStopAfterAnyFrame) {
    const std::string one = ChatProtocol::encodeType(MessageType::Chat, {"r", "1"});
    const std::string two = ChatProtocol::encodeType(MessageType::Chat, {"r", "2"});
    std::string buffer = one + two + one.substr(0, 3);
    int calls = 0;
    const ConsumeResult result = ChatProtocol::consumeFrames(
        buffer, [&](std::uint8_t, const FieldList&) { return ++calls < 1; }, 16);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(result.tookFrame);
    EXPECT_EQ(result.status, ConsumeStatus::NeedMore);
    EXPECT_EQ(buffer, two + one.substr(0, 3));
}
