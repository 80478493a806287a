#include "messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::wire;

namespace {

const std::string kId = "0123456789abcdef0123456789ABCDEF";

// One message through a whole frame and back, type-erased for the tables.
struct Trip {
    std::string name;
    std::uint8_t type;   // the message's kType
    std::uint8_t seen;   // the type the codec cut off the frame
    FieldList encoded;   // what encode() wrote
    FieldList redecoded; // encode() of what decode() read back from the frame
};

template <typename M> Trip trip(const std::string& name, const M& message) {
    std::string buffer = encodeFrame(message);
    Trip t{name, M::kType, 0, message.encode(), {}};
    ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& fields) {
        t.seen = type;
        if (const auto back = M::decode(fields))
            t.redecoded = back->encode();
    });
    return t;
}

TEST(WireMessages, EveryMessageKeepsItsLayoutThroughAFrame) {
    struct Case {
        Trip trip;
        std::uint8_t type;
        FieldList wire;
    };
    const std::vector<Case> cases = {
        {trip("Auth", Auth{"010", "닉", "pic", "상태"}),
         MessageType::Auth,
         {"010", "닉", "pic", "상태"}},
        {trip("Auth without nick", Auth{"010", "", "", ""}),
         MessageType::Auth,
         {"010", "010", "", ""}},
        {trip("Auth with a device secret", Auth{"010", "닉", "", "", "s3"}),
         MessageType::Auth,
         {"010", "닉", "", "", "s3"}},
        {trip("JoinRoom", JoinRoom{"dm:1:2"}), MessageType::JoinRoom, {"dm:1:2"}},
        {trip("LeaveRoom", LeaveRoom{"memo:a"}), MessageType::LeaveRoom, {"memo:a"}},
        {trip("ChatRequest", ChatRequest{"r", "안녕", ""}), MessageType::Chat, {"r", "안녕"}},
        {trip("ChatRequest reply", ChatRequest{"r", "t", "7"}), MessageType::Chat, {"r", "t", "7"}},
        {trip("FileRequest", FileRequest{"r", "id", "a.txt", "12"}),
         MessageType::FileMeta,
         {"r", "id", "a.txt", "12", ""}},
        {trip("FileRequest defaults", FileRequest{"r", "id", "", ""}),
         MessageType::FileMeta,
         {"r", "id", "file", "0", ""}},
        // A client id goes after the catalogue's fields, so the optional ones before it are
        // written even when empty.
        {trip("ChatRequest with a client id", ChatRequest{"r", "t", "", kId}),
         MessageType::Chat,
         {"r", "t", "", kId}},
        {trip("ChatRequest reply with a client id", ChatRequest{"r", "t", "7", kId}),
         MessageType::Chat,
         {"r", "t", "7", kId}},
        {trip("FileRequest with a client id", FileRequest{"r", "id", "a.txt", "12", kId}),
         MessageType::FileMeta,
         {"r", "id", "a.txt", "12", "", kId}},
        {trip("Edit with a client id", Edit{"r", "3", "new", kId}),
         MessageType::ChatEdit,
         {"r", "3", "new", kId}},
        {trip("Delete with a client id", Delete{"r", "3", kId}),
         MessageType::ChatDelete,
         {"r", "3", kId}},
        {trip("ChatMessage with a client id",
              ChatMessage{"r", "앨리스", "t", "T", "5", "010", "", kId}),
         MessageType::Chat,
         {"r", "앨리스", "t", "T", "5", "010", "", kId}},
        {trip("FileMessage with a client id and no phone",
              FileMessage{"r", "s", "id", "a.txt", "12", "T", "6", "", kId}),
         MessageType::FileMeta,
         {"r", "s", "id", "a.txt", "12", "T", "6", "", kId}},
        {trip("ReadWatermark", ReadWatermark{"r", "9"}), MessageType::ReadWatermark, {"r", "9"}},
        {trip("CallReject", CallReject{"c", "busy"}), MessageType::CallReject, {"c", "busy"}},
        {trip("Edit", Edit{"r", "3", "new"}), MessageType::ChatEdit, {"r", "3", "new"}},
        {trip("Delete", Delete{"r", "3"}), MessageType::ChatDelete, {"r", "3"}},
        {trip("AuthOk", AuthOk{"010"}), MessageType::AuthOk, {"010"}},
        {trip("AuthOk with a new device secret", AuthOk{"010", "s3"}),
         MessageType::AuthOk,
         {"010", "s3"}},
        {trip("ChatMessage",
              ChatMessage{"r", "앨리스", "t", "2024-01-01T00:00:00+09:00", "5", "010", "4"}),
         MessageType::Chat,
         {"r", "앨리스", "t", "2024-01-01T00:00:00+09:00", "5", "010", "4"}},
        {trip("FileMessage", FileMessage{"r", "s", "id", "a.txt", "12", "T", "6", ""}),
         MessageType::FileMeta,
         {"r", "s", "id", "a.txt", "12", "T", "6"}},
        {trip("FileMessage with the sender's phone",
              FileMessage{"r", "s", "id", "a.txt", "12", "T", "6", "010"}),
         MessageType::FileMeta,
         {"r", "s", "id", "a.txt", "12", "T", "6", "010"}},
        {trip("Notice", Notice{"r", "밥님이 나갔습니다."}),
         MessageType::RoomNotice,
         {"r", "밥님이 나갔습니다."}},
        {trip("ServerError", ServerError{"5", "x"}), MessageType::ServerError, {"5", "x"}},
        {trip("CallInvite", CallInvite{"c", "밥"}), MessageType::CallInvite, {"c", "밥"}},
        {trip("HistoryRequest", HistoryRequest{"r", "40", "50"}),
         MessageType::HistoryRequest,
         {"r", "40", "50"}},
        {trip("HistoryPage", HistoryPage{"r",
                                         "",
                                         true,
                                         "7",
                                         {HistoryEntry{"8", "chat", "밥", "011", "T", "", "3",
                                                       false, true, "", "", ""},
                                          HistoryEntry{"9", "file", "앨", "010", "U", "", "", false,
                                                       false, "f1", "a.txt", "12"},
                                          HistoryEntry{"10", "chat", "앨", "010", "V", "고침", "",
                                                       true, false, "", "", ""}}}),
         MessageType::HistoryPage,
         {"r",  "",   "1",    "7",  "12",   "8",  "chat", "밥", "011", "T", "",  "3", "0",  "1",
          "",   "",   "",     "9",  "file", "앨", "010",  "U",  "",    "",  "0", "0", "f1", "a.txt",
          "12", "10", "chat", "앨", "010",  "V",  "고침", "",   "1",   "0", "",  "",  ""}},
        {trip("HistoryPage empty", HistoryPage{"r", "5", false, "", {}}),
         MessageType::HistoryPage,
         {"r", "5", "0", "0", "12"}},
        // The separator inside a field becomes a space and the field count holds.
        {trip("separator in text", ChatRequest{"r",
                                               "a\x1F"
                                               "b",
                                               ""}),
         MessageType::Chat,
         {"r", "a\x1F"
               "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trip.name);
        EXPECT_EQ(c.trip.type, c.type);
        EXPECT_EQ(c.trip.seen, c.type);
        EXPECT_EQ(c.trip.encoded, c.wire);
        FieldList onWire = c.wire;
        for (std::string& field : onWire)
            for (char& ch : field)
                if (ch == ChatProtocol::kFieldSeparator)
                    ch = ' ';
        EXPECT_EQ(c.trip.redecoded, onWire);
    }
}

// decode() of `fields`, as what encode() makes of it; nothing when refused.
template <typename M> std::optional<FieldList> readBack(const FieldList& fields) {
    const auto m = M::decode(fields);
    return m ? std::optional<FieldList>(m->encode()) : std::nullopt;
}

TEST(WireMessages, DecodeNeedsTheRequiredFieldsAndReadsMissingOnesAsEmpty) {
    using Reader = std::optional<FieldList> (*)(const FieldList&);
    struct Case {
        const char* name;
        Reader read;
        FieldList fields;
        std::optional<FieldList> expected; // nothing: refused
    };
    const std::vector<Case> cases = {
        {"ChatMessage 2", readBack<ChatMessage>, {"r", "s"}, std::nullopt},
        {"ChatMessage 3",
         readBack<ChatMessage>,
         {"r", "s", "t"},
         FieldList{"r", "s", "t", "", "", "", ""}},
        {"FileMessage 3", readBack<FileMessage>, {"r", "s", "id"}, std::nullopt},
        {"FileMessage 4",
         readBack<FileMessage>,
         {"r", "s", "id", "n"},
         FieldList{"r", "s", "id", "n", "", "", ""}},
        {"Edit 2", readBack<Edit>, {"r", "1"}, std::nullopt},
        {"Edit 3", readBack<Edit>, {"r", "1", ""}, FieldList{"r", "1", ""}},
        {"Delete 1", readBack<Delete>, {"r"}, std::nullopt},
        {"Delete 2", readBack<Delete>, {"r", "1"}, FieldList{"r", "1"}},
        {"Notice 1", readBack<Notice>, {"r"}, std::nullopt},
        {"Notice 2", readBack<Notice>, {"r", ""}, FieldList{"r", ""}},
        {"ServerError 1", readBack<ServerError>, {"5"}, std::nullopt},
        {"ServerError 2", readBack<ServerError>, {"5", "x"}, FieldList{"5", "x"}},
        {"ServerError none", readBack<ServerError>, {}, std::nullopt},
        // No minimum: an empty payload (one empty field) reads as all empty.
        {"Auth", readBack<Auth>, {"010"}, FieldList{"010", "010", "", ""}},
        {"JoinRoom", readBack<JoinRoom>, {}, FieldList{""}},
        {"ChatRequest", readBack<ChatRequest>, {"r"}, FieldList{"r", ""}},
        {"FileRequest", readBack<FileRequest>, {"r", "id"}, FieldList{"r", "id", "file", "0", ""}},
        {"ReadWatermark", readBack<ReadWatermark>, {""}, FieldList{"", ""}},
        {"CallReject", readBack<CallReject>, {"c"}, FieldList{"c", ""}},
        {"AuthOk", readBack<AuthOk>, {}, FieldList{""}},
        {"CallInvite unnamed", readBack<CallInvite>, {"c"}, FieldList{"c", "상대"}},
        {"CallInvite empty", readBack<CallInvite>, {""}, FieldList{"", "상대"}},
        {"CallInvite named", readBack<CallInvite>, {"c", "밥"}, FieldList{"c", "밥"}},
        {"HistoryRequest without room", readBack<HistoryRequest>, {""}, std::nullopt},
        {"HistoryRequest room only", readBack<HistoryRequest>, {"r"}, FieldList{"r", "", ""}},
        {"HistoryPage 4", readBack<HistoryPage>, {"r", "", "0", "0"}, std::nullopt},
        {"HistoryPage zero width",
         readBack<HistoryPage>,
         {"r", "", "0", "0", "0", "x"},
         std::nullopt},
        {"HistoryPage width not a number",
         readBack<HistoryPage>,
         {"r", "", "0", "0", "-1"},
         std::nullopt},
        // A narrower entry reads its missing fields as empty; a trailing partial entry is dropped.
        {"HistoryPage narrow entries",
         readBack<HistoryPage>,
         {"r", "", "0", "3", "2", "1", "chat", "2", "chat", "3"},
         FieldList{"r", "", "0", "3",    "12", "1", "chat", "", "", "",  "",  "", "0", "0", "",
                   "",  "", "2", "chat", "",   "",  "",     "", "", "0", "0", "", "",  ""}},
        // A wider entry (a later server) keeps the fields this side knows.
        {"HistoryPage wide entries",
         readBack<HistoryPage>,
         {"r", "", "1", "0", "13", "1", "chat", "s", "p", "T", "t", "", "0", "0", "", "", "",
          "new"},
         FieldList{"r", "", "1", "0", "12", "1", "chat", "s", "p", "T", "t", "", "0", "0", "", "",
                   ""}},
        // Fields past the layout are ignored.
        {"Delete extra", readBack<Delete>, {"r", "1", "x"}, FieldList{"r", "1"}},
        // A client id is read where it belongs, in either case of hex digits; anything else
        // there reads as no id, and the request as one from a client without ids.
        {"ChatRequest client id",
         readBack<ChatRequest>,
         {"r", "t", "", kId},
         FieldList{"r", "t", "", kId}},
        {"ChatRequest client id too short",
         readBack<ChatRequest>,
         {"r", "t", "", kId.substr(1)},
         FieldList{"r", "t"}},
        {"ChatRequest client id too long",
         readBack<ChatRequest>,
         {"r", "t", "7", kId + "0"},
         FieldList{"r", "t", "7"}},
        {"ChatRequest client id not hex",
         readBack<ChatRequest>,
         {"r", "t", "", "0123456789abcdef0123456789abcdeg"},
         FieldList{"r", "t"}},
        {"ChatRequest client id with a sign",
         readBack<ChatRequest>,
         {"r", "t", "", "-123456789abcdef0123456789abcdef"},
         FieldList{"r", "t"}},
        {"FileRequest client id",
         readBack<FileRequest>,
         {"r", "id", "n", "1", "", kId},
         FieldList{"r", "id", "n", "1", "", kId}},
        {"FileRequest client id in the catalogue's empty field",
         readBack<FileRequest>,
         {"r", "id", "n", "1", kId},
         FieldList{"r", "id", "n", "1", ""}},
        {"Edit client id", readBack<Edit>, {"r", "1", "x", kId}, FieldList{"r", "1", "x", kId}},
        {"Edit malformed client id",
         readBack<Edit>,
         {"r", "1", "x", "id"},
         FieldList{"r", "1", "x"}},
        {"Delete client id", readBack<Delete>, {"r", "1", kId}, FieldList{"r", "1", kId}},
        {"ChatMessage client id",
         readBack<ChatMessage>,
         {"r", "s", "t", "T", "5", "010", "", kId},
         FieldList{"r", "s", "t", "T", "5", "010", "", kId}},
        {"ChatMessage malformed client id",
         readBack<ChatMessage>,
         {"r", "s", "t", "T", "5", "010", "", "zz"},
         FieldList{"r", "s", "t", "T", "5", "010", ""}},
        {"FileMessage client id",
         readBack<FileMessage>,
         {"r", "s", "id", "n", "1", "T", "6", "010", kId},
         FieldList{"r", "s", "id", "n", "1", "T", "6", "010", kId}},
        {"FileMessage client id in the phone's place",
         readBack<FileMessage>,
         {"r", "s", "id", "n", "1", "T", "6", kId},
         FieldList{"r", "s", "id", "n", "1", "T", "6", kId}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.read(c.fields), c.expected) << c.name;
}

// New ids are valid, lowercase and unlike each other (80 random bits: a repeat means a broken
// source), and start with the time they were made, so one sender's ids come in order.
TEST(WireMessages, NewClientIdsAreValidDistinctAndStartWithTheirTime) {
    const auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto before = nowMs();
        const std::string id = newClientId();
        const auto after = nowMs();
        EXPECT_TRUE(isClientId(id)) << id;
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
        EXPECT_TRUE(seen.insert(id).second) << id;
        const auto made = std::stoll(id.substr(0, 12), nullptr, 16);
        EXPECT_GE(made, before) << id;
        EXPECT_LE(made, after) << id;
    }
}

// A reader that shows a bounded part of a page decodes its newest entries within a byte budget,
// each field cut at a character boundary, and learns that older entries exist.
TEST(WireMessages, HistoryPageNewestWithinABudget) {
    const auto entry = [](const std::string& id, const std::string& text) {
        HistoryEntry e;
        e.msgId = id;
        e.kind = "chat";
        e.text = text;
        return e;
    };
    // An entry takes 7 bytes (id, "chat", the flags) and its text.
    const HistoryPage page{"r",
                           "",
                           false,
                           "0",
                           {entry("1", std::string(100, 'a')), entry("2", std::string(100, 'b')),
                            entry("3", "가나다라")}};
    const FieldList fields = page.encode();
    struct Case {
        const char* name;
        std::size_t maxBytes;
        std::size_t maxFieldBytes;
        std::vector<std::string> ids;
        bool hasOlder;
        std::string newestText;
    };
    const std::vector<Case> cases = {
        {"all fit", 1000, 1000, {"1", "2", "3"}, false, "가나다라"},
        {"the older ones left out", 130, 1000, {"2", "3"}, true, "가나다라"},
        {"the newest always", 1, 1000, {"3"}, true, "가나다라"},
        {"fields cut on a character", 1000, 7, {"1", "2", "3"}, false, "가나"},
        {"cut fields count as cut", 30, 7, {"2", "3"}, true, "가나"},
    };
    for (const Case& c : cases) {
        const std::optional<HistoryPage> read =
            HistoryPage::decodeNewest(fields, c.maxBytes, c.maxFieldBytes);
        ASSERT_TRUE(read) << c.name;
        std::vector<std::string> ids;
        for (const HistoryEntry& e : read->entries)
            ids.push_back(e.msgId);
        EXPECT_EQ(ids, c.ids) << c.name;
        EXPECT_EQ(read->hasOlder, c.hasOlder) << c.name;
        EXPECT_EQ(read->entries.back().text, c.newestText) << c.name;
        EXPECT_EQ(read->room, "r") << c.name;
    }
    // Unreadable pages stay unreadable.
    EXPECT_FALSE(HistoryPage::decodeNewest({"r", "", "0", "0", "x"}, 100, 100));
    // A page within the budget reads as decode reads it.
    EXPECT_EQ(HistoryPage::decodeNewest(fields, 1 << 20, 1 << 20)->encode(),
              HistoryPage::decode(fields)->encode());
    EXPECT_EQ(cutUtf8("😀x", 3), "");
    EXPECT_EQ(cutUtf8("😀x", 4), "😀");
}

} // namespace
