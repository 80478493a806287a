// Room rules over the real tables, on each storage back end.

#include "backends.h"
#include "room_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;

namespace {

const std::string kDm = "dm:111:222";
const std::string kMemo = "memo:a";
const std::string kDone = "0123456789abcdef0123456789abcdef";    // a finished upload
const std::string kPartial = "fedcba9876543210fedcba9876543210"; // still uploading
const char* const kAny = "*"; // a delivered field the case does not pin (time)

// The tables as a client sees them: three users, a direct room with messages 1 (Alice's),
// 2 (Bob's) and 3 (Alice's, deleted), Alice's memo room and two uploads.
struct World {
    test::ScratchStorage scratch;
    Storage& storage;

    explicit World(test::Backend backend) : scratch(backend), storage(*scratch.get()) {
        storage.upsertUser({"111", "앨리스", "", ""}, false);
        storage.upsertUser({"222", "밥", "", ""}, false);
        storage.upsertUser({"333", "", "", ""}, false);
        expectOk(run("111", MessageType::Chat, {kDm, "첫"}));
        expectOk(run("222", MessageType::Chat, {kDm, "둘"}));
        expectOk(run("111", MessageType::Chat, {kDm, "셋"}));
        expectOk(run("111", MessageType::ChatDelete, {kDm, "3"}));
        storage.createRoom(kMemo, "memo", "메모", "111");
        storage.addMember(kMemo, "111");
        storage.createFile({kDone, "a.txt", 5, 0, 0, false, "", ""});
        storage.updateFile({kDone, "a.txt", 5, 5, 1, true, "", ""});
        storage.createFile({kPartial, "b.txt", 5, 0, 0, false, "", ""});
    }
    RoomResult run(const std::string& phone, std::uint8_t type, const FieldList& fields) {
        return RoomLogic::handleFrame(storage, phone, type, fields);
    }
    static void expectOk(const RoomResult& r) { ASSERT_EQ(r.error, "") << "seeding"; }
    std::vector<std::string> members(const std::string& room) {
        auto list = storage.members(room);
        std::sort(list.begin(), list.end());
        return list;
    }
    std::int64_t unread(const std::string& phone, const std::string& room) {
        for (const RoomRow& row : storage.roomsOf(phone))
            if (row.id == room)
                return row.unread;
        return -1;
    }
};

struct Frame {
    std::uint8_t type = 0;
    FieldList fields;
};

Frame cut(const std::string& bytes) {
    std::string buffer = bytes;
    Frame frame;
    ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& fields) {
        frame = {type, fields};
    });
    return frame;
}

struct Announced {
    std::vector<std::string> recipients; // sorted
    std::uint8_t type;
    FieldList fields; // kAny matches anything
};

void expectAnnounced(const RoomResult& result, const std::optional<Announced>& expected) {
    if (!expected) {
        EXPECT_TRUE(result.deliveries.empty());
        return;
    }
    ASSERT_EQ(result.deliveries.size(), 1u);
    std::vector<std::string> recipients = *result.deliveries[0].recipients;
    std::sort(recipients.begin(), recipients.end());
    EXPECT_EQ(recipients, expected->recipients);
    const Frame frame = cut(*result.deliveries[0].frame);
    EXPECT_EQ(frame.type, expected->type);
    ASSERT_EQ(frame.fields.size(), expected->fields.size());
    for (std::size_t i = 0; i < frame.fields.size(); ++i)
        if (expected->fields[i] != kAny) {
            EXPECT_EQ(frame.fields[i], expected->fields[i]) << "field " << i;
        }
}

class RoomLogicTest : public ::testing::TestWithParam<test::Backend> {
protected:
    void SetUp() override {
        if (!test::ScratchStorage(GetParam()).get())
            GTEST_SKIP() << "back end not available";
    }
};

TEST_P(RoomLogicTest, RequestsAreCheckedAndAnnouncedToTheMembers) {
    const std::string longest(RoomLogic::kMaxTextBytes, 'x');
    const std::vector<std::string> pair = {"111", "222"};
    using Check = std::function<void(World&)>;
    struct Case {
        const char* name;
        std::string phone;
        std::uint8_t type;
        FieldList fields;
        const char* error; // nullptr: accepted
        std::optional<Announced> announced = std::nullopt;
        Check after = nullptr;
    };
    const std::vector<Case> cases = {
        // Joining
        {"first use of a direct room creates it with both members",
         "333",
         MessageType::JoinRoom,
         {"dm:111:333"},
         nullptr,
         std::nullopt,
         [](World& w) {
             EXPECT_EQ(w.storage.roomKind("dm:111:333"), std::optional<std::string>("dm"));
             EXPECT_EQ(w.members("dm:111:333"), (std::vector<std::string>{"111", "333"}));
         }},
        {"a direct room of others", "333", MessageType::JoinRoom, {kDm}, ErrorText::kNotMember},
        {"direct room not in canonical order",
         "111",
         MessageType::JoinRoom,
         {"dm:222:111"},
         ErrorText::kNotMember,
         std::nullopt,
         [](World& w) { EXPECT_FALSE(w.storage.roomKind("dm:222:111")); }},
        {"direct room naming its peer in another spelling",
         "111",
         MessageType::JoinRoom,
         {"dm:111:333-4"},
         ErrorText::kNotMember,
         std::nullopt,
         [](World& w) { EXPECT_FALSE(w.storage.roomKind("dm:111:333-4")); }},
        {"direct room with oneself twice named",
         "111",
         MessageType::JoinRoom,
         {"dm:111:111:111"},
         ErrorText::kNotMember},
        {"memo room of its member", "111", MessageType::JoinRoom, {kMemo}, nullptr},
        {"memo room of someone else", "222", MessageType::JoinRoom, {kMemo}, ErrorText::kNotMember},
        {"no room", "111", MessageType::JoinRoom, {""}, ErrorText::kBadRequest},
        {"unknown room", "111", MessageType::JoinRoom, {"group:x"}, ErrorText::kNotMember},

        // Chat
        {"chat",
         "111",
         MessageType::Chat,
         {kDm, "안녕"},
         nullptr,
         Announced{pair, MessageType::Chat, {kDm, "앨리스", "안녕", kAny, "4", "111", ""}}},
        {"chat by a user without nickname names the phone",
         "333",
         MessageType::Chat,
         {"dm:111:333", "hi"},
         nullptr,
         Announced{
             {"111", "333"}, MessageType::Chat, {"dm:111:333", "333", "hi", kAny, "1", "333", ""}}},
        {"reply",
         "222",
         MessageType::Chat,
         {kDm, "답", "2"},
         nullptr,
         Announced{pair, MessageType::Chat, {kDm, "밥", "답", kAny, "4", "222", "2"}}},
        {"reply to a deleted message still names it",
         "222",
         MessageType::Chat,
         {kDm, "답", "3"},
         nullptr,
         Announced{pair, MessageType::Chat, {kDm, "밥", "답", kAny, "4", "222", "3"}}},
        {"reply to a missing message",
         "222",
         MessageType::Chat,
         {kDm, "답", "99"},
         ErrorText::kNoMessage},
        {"reply to no number", "222", MessageType::Chat, {kDm, "답", "x1"}, ErrorText::kNoMessage},
        {"chat without room", "111", MessageType::Chat, {"", "x"}, ErrorText::kBadRequest},
        {"chat without text", "111", MessageType::Chat, {kDm, ""}, ErrorText::kBadRequest},
        {"chat of one field", "111", MessageType::Chat, {kDm}, ErrorText::kBadRequest},
        {"longest text",
         "111",
         MessageType::Chat,
         {kMemo, longest},
         nullptr,
         Announced{{"111"}, MessageType::Chat, {kMemo, "앨리스", longest, kAny, "1", "111", ""}}},
        {"text one byte too long",
         "111",
         MessageType::Chat,
         {kMemo, longest + "x"},
         ErrorText::kTooLong},
        {"chat in someone else's memo room",
         "222",
         MessageType::Chat,
         {kMemo, "x"},
         ErrorText::kNotMember,
         std::nullopt,
         [](World& w) { EXPECT_EQ(w.storage.messageCount(), 3); }},

        // Files
        {"finished file",
         "111",
         MessageType::FileMeta,
         {kDm, kDone, "a.txt", "999", ""},
         nullptr,
         Announced{
             pair, MessageType::FileMeta, {kDm, "앨리스", kDone, "a.txt", "5", kAny, "4", "111"}}},
        {"file without a name",
         "111",
         MessageType::FileMeta,
         {kDm, kDone, "", "5", ""},
         nullptr,
         Announced{
             pair, MessageType::FileMeta, {kDm, "앨리스", kDone, "file", "5", kAny, "4", "111"}}},
        {"file still uploading",
         "111",
         MessageType::FileMeta,
         {kDm, kPartial, "b", "5", ""},
         ErrorText::kNoFile},
        {"file never uploaded",
         "111",
         MessageType::FileMeta,
         {kDm, "00000000000000000000000000000000", "c", "5", ""},
         ErrorText::kNoFile},
        {"file id that is no id",
         "111",
         MessageType::FileMeta,
         {kDm, "../x", "c", "5", ""},
         ErrorText::kNoFile},
        {"file without id",
         "111",
         MessageType::FileMeta,
         {kDm, "", "c", "5", ""},
         ErrorText::kBadRequest},
        {"file name too long",
         "111",
         MessageType::FileMeta,
         {kDm, kDone, longest + "x", "5", ""},
         ErrorText::kTooLong},
        {"file in a room of others",
         "333",
         MessageType::FileMeta,
         {kDm, kDone, "a", "5", ""},
         ErrorText::kNotMember},

        // Edit and delete
        {"edit own message, id written canonically",
         "111",
         MessageType::ChatEdit,
         {kDm, "001", "고침"},
         nullptr,
         Announced{pair, MessageType::ChatEdit, {kDm, "1", "고침"}}},
        {"edit someone else's message",
         "222",
         MessageType::ChatEdit,
         {kDm, "1", "x"},
         ErrorText::kNotSender},
        {"edit a deleted message",
         "111",
         MessageType::ChatEdit,
         {kDm, "3", "x"},
         ErrorText::kNoMessage},
        {"edit a missing message",
         "111",
         MessageType::ChatEdit,
         {kDm, "99", "x"},
         ErrorText::kNoMessage},
        {"edit to nothing", "111", MessageType::ChatEdit, {kDm, "1", ""}, ErrorText::kBadRequest},
        {"edit without text field",
         "111",
         MessageType::ChatEdit,
         {kDm, "1"},
         ErrorText::kBadRequest},
        {"edit with a signed id",
         "111",
         MessageType::ChatEdit,
         {kDm, "+1", "x"},
         ErrorText::kBadRequest},
        {"edit too long",
         "111",
         MessageType::ChatEdit,
         {kDm, "1", longest + "x"},
         ErrorText::kTooLong},
        {"edit by a non-member",
         "333",
         MessageType::ChatEdit,
         {kDm, "1", "x"},
         ErrorText::kNotMember},
        {"delete own message",
         "222",
         MessageType::ChatDelete,
         {kDm, "02"},
         nullptr,
         Announced{pair, MessageType::ChatDelete, {kDm, "2"}},
         [](World& w) { EXPECT_TRUE(w.storage.messageState(kDm, 2)->deleted); }},
        {"delete someone else's message",
         "111",
         MessageType::ChatDelete,
         {kDm, "2"},
         ErrorText::kNotSender,
         std::nullopt,
         [](World& w) { EXPECT_FALSE(w.storage.messageState(kDm, 2)->deleted); }},
        {"delete twice", "111", MessageType::ChatDelete, {kDm, "3"}, ErrorText::kNoMessage},
        {"delete without id", "111", MessageType::ChatDelete, {kDm}, ErrorText::kBadRequest},

        // Read marks
        {"read up to a message",
         "222",
         MessageType::ReadWatermark,
         {kDm, "1"},
         nullptr,
         std::nullopt,
         [](World& w) { EXPECT_EQ(w.unread("222", kDm), 0); }},
        {"read mark past the end",
         "111",
         MessageType::ReadWatermark,
         {kDm, "999"},
         nullptr,
         std::nullopt,
         [](World& w) {
             EXPECT_EQ(w.unread("111", kDm), 0);
             // Later messages still arrive unread.
             w.run("222", MessageType::Chat, {kDm, "new"});
             EXPECT_EQ(w.unread("111", kDm), 1);
         }},
        {"read mark without number",
         "222",
         MessageType::ReadWatermark,
         {kDm, ""},
         ErrorText::kBadRequest},
        {"read mark by a non-member",
         "333",
         MessageType::ReadWatermark,
         {kDm, "1"},
         ErrorText::kNotMember},

        // Types without a room rule
        {"leave over the chat port does nothing",
         "222",
         MessageType::LeaveRoom,
         {kDm},
         nullptr,
         std::nullopt,
         [](World& w) { EXPECT_EQ(w.members(kDm).size(), 2u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w(GetParam());
        const RoomResult result = w.run(c.phone, c.type, c.fields);
        EXPECT_EQ(result.error, c.error ? c.error : "");
        expectAnnounced(result, c.announced);
        if (c.after)
            c.after(w);
    }
}

TEST_P(RoomLogicTest, LeavingTellsTheOthersAndTheNextDirectMessageBringsTheMemberBack) {
    World w(GetParam());
    const RoomResult left = RoomLogic::leaveRoom(w.storage, "222", kDm);
    EXPECT_EQ(left.error, "");
    expectAnnounced(left, Announced{{"111"}, MessageType::RoomNotice, {kDm, "밥님이 나갔습니다."}});
    EXPECT_EQ(w.members(kDm), (std::vector<std::string>{"111"}));

    EXPECT_EQ(RoomLogic::leaveRoom(w.storage, "222", kDm).error, ErrorText::kNotMember);
    EXPECT_EQ(RoomLogic::leaveRoom(w.storage, "222", kMemo).error, ErrorText::kNotMember);

    const RoomResult back = w.run("111", MessageType::Chat, {kDm, "돌아와"});
    EXPECT_EQ(back.error, "");
    expectAnnounced(back, Announced{{"111", "222"},
                                    MessageType::Chat,
                                    {kDm, "앨리스", "돌아와", kAny, "4", "111", ""}});

    // A memo room does not come back.
    EXPECT_EQ(RoomLogic::leaveRoom(w.storage, "111", kMemo).error, "");
    EXPECT_EQ(w.run("111", MessageType::Chat, {kMemo, "x"}).error, ErrorText::kNotMember);
}

} // namespace

namespace {

// Every frame in a delivery's buffer (a missed deleted message carries two).
std::vector<std::pair<std::uint8_t, FieldList>> framesOf(const Delivery& d) {
    std::vector<std::pair<std::uint8_t, FieldList>> frames;
    std::string buffer = *d.frame;
    ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& fields) {
        frames.emplace_back(type, fields);
    });
    return frames;
}

TEST_P(RoomLogicTest, MissedMessagesAreTheRangeAsLiveFramesWithEditsAndDeletionsApplied) {
    World w(GetParam());
    w.expectOk(w.run("222", MessageType::ChatEdit, {kDm, "2", "둘!"}));
    w.expectOk(w.run("111", MessageType::FileMeta, {kDm, kDone, "a.txt", "5"}));
    // 3 is deleted, 4 is the file; the range excludes both ends.
    const auto missed = RoomLogic::missedMessages(w.storage, kDm, 1, 5);
    ASSERT_EQ(missed.size(), 3u);
    std::vector<std::int64_t> ids;
    for (const Delivery& d : missed) {
        ids.push_back(d.id);
        EXPECT_EQ(d.room, kDm);
        EXPECT_EQ(*d.recipients, (std::vector<std::string>{"111", "222"}));
    }
    EXPECT_EQ(ids, (std::vector<std::int64_t>{2, 3, 4}));
    const auto edited = framesOf(missed[0]);
    ASSERT_EQ(edited.size(), 1u);
    EXPECT_EQ(wire::ChatMessage::decode(edited[0].second)->text, "둘!");
    const auto deleted = framesOf(missed[1]);
    ASSERT_EQ(deleted.size(), 2u);
    EXPECT_EQ(deleted[1].first, MessageType::ChatDelete);
    EXPECT_EQ(wire::Delete::decode(deleted[1].second)->msgId, "3");
    const auto file = framesOf(missed[2]);
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(wire::FileMessage::decode(file[0].second)->fileId, kDone);
    EXPECT_TRUE(RoomLogic::missedMessages(w.storage, kDm, 4, 5).empty());
    EXPECT_TRUE(RoomLogic::missedMessages(w.storage, "dm:111:333", 0, 100).empty());
}

TEST_P(RoomLogicTest, MissedMessagesPageBackThroughMoreThanOneHistoryPage) {
    World w(GetParam());
    for (int i = 0; i < 250; ++i)
        w.expectOk(w.run("222", MessageType::Chat, {kDm, "m" + std::to_string(i)}));
    const auto missed = RoomLogic::missedMessages(w.storage, kDm, 2, 253);
    ASSERT_EQ(missed.size(), 250u);
    for (std::size_t i = 0; i < missed.size(); ++i)
        ASSERT_EQ(missed[i].id, std::int64_t(i + 3));
}

using Frames = std::vector<std::pair<std::uint8_t, FieldList>>;

Frames framesIn(const std::string& bytes) {
    Frames frames;
    std::string buffer = bytes;
    ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& fields) {
        frames.emplace_back(type, fields);
    });
    return frames;
}

const std::string kC1 = "c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1";
const std::string kC2 = "c2c2c2c2c2c2c2c2c2c2c2c2c2c2c2c2";

// A request named by a client id is done once: a repeat (the same id from the same sender,
// whatever it says now) stores nothing, announces nothing, and answers the sender alone with
// the echo of what the id first did, as stored now.
TEST_P(RoomLogicTest, ARepeatedClientIdIsAnsweredWithTheOriginalAndDoneOnce) {
    struct Step {
        std::string phone;
        std::uint8_t type;
        FieldList fields;
    };
    struct Case {
        const char* name;
        Step first; // accepted and announced
        std::vector<Step> between;
        Step repeat;
        // The answer's frames; nothing: exactly the first request's announcement.
        std::optional<Frames> answer = std::nullopt;
        bool leaveMemo = false; // the sender leaves the memo room before the repeat
    };
    const std::string chatEcho = "*chat*"; // placeholder for the first announcement's time
    const std::vector<Case> cases = {
        {"chat",
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}},
         {},
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}}},
        {"chat whose repeat says something else",
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}},
         {},
         {"111", MessageType::Chat, {kMemo, "다른 말", "1", kC1}}},
        {"chat repeated in another case of hex",
         {"111", MessageType::Chat, {kDm, "안녕", "", "ABCDEF0123456789ABCDEF0123456789"}},
         {},
         {"111", MessageType::Chat, {kDm, "안녕", "", "ABCDEF0123456789ABCDEF0123456789"}}},
        {"chat repeated after the sender left the room",
         {"111", MessageType::Chat, {kMemo, "메모", "", kC1}},
         {},
         {"111", MessageType::Chat, {kMemo, "메모", "", kC1}},
         std::nullopt,
         true},
        {"chat repeated after it was deleted",
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}},
         {{"111", MessageType::ChatDelete, {kDm, "4"}}},
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}},
         Frames{{MessageType::Chat, {kDm, "앨리스", "", chatEcho, "4", "111", "", kC1}},
                {MessageType::ChatDelete, {kDm, "4"}}}},
        {"chat repeated after it was edited shows the text now",
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}},
         {{"111", MessageType::ChatEdit, {kDm, "4", "고침"}}},
         {"111", MessageType::Chat, {kDm, "안녕", "", kC1}},
         Frames{{MessageType::Chat, {kDm, "앨리스", "고침", chatEcho, "4", "111", "", kC1}}}},
        {"file",
         {"111", MessageType::FileMeta, {kDm, kDone, "a.txt", "5", "", kC1}},
         {},
         {"111", MessageType::FileMeta, {kDm, kDone, "a.txt", "5", "", kC1}}},
        {"file repeated as a chat",
         {"111", MessageType::FileMeta, {kDm, kDone, "a.txt", "5", "", kC1}},
         {},
         {"111", MessageType::Chat, {kDm, "x", "", kC1}}},
        {"edit",
         {"111", MessageType::ChatEdit, {kDm, "1", "고침", kC1}},
         {},
         {"111", MessageType::ChatEdit, {kDm, "1", "고침", kC1}}},
        {"edit repeated after another edit shows the text now",
         {"111", MessageType::ChatEdit, {kDm, "1", "고침", kC1}},
         {{"111", MessageType::ChatEdit, {kDm, "1", "또 고침", kC2}}},
         {"111", MessageType::ChatEdit, {kDm, "1", "고침", kC1}},
         Frames{{MessageType::ChatEdit, {kDm, "1", "또 고침", kC1}}}},
        {"edit repeated after the message was deleted",
         {"111", MessageType::ChatEdit, {kDm, "1", "고침", kC1}},
         {{"111", MessageType::ChatDelete, {kDm, "1"}}},
         {"111", MessageType::ChatEdit, {kDm, "1", "고침", kC1}},
         Frames{{MessageType::ChatEdit, {kDm, "1", "", kC1}},
                {MessageType::ChatDelete, {kDm, "1"}}}},
        {"delete",
         {"111", MessageType::ChatDelete, {kDm, "1", kC1}},
         {},
         {"111", MessageType::ChatDelete, {kDm, "1", kC1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w(GetParam());
        const RoomResult first = w.run(c.first.phone, c.first.type, c.first.fields);
        ASSERT_EQ(first.error, "");
        ASSERT_EQ(first.deliveries.size(), 1u);
        const Frames original = framesIn(*first.deliveries[0].frame);
        ASSERT_EQ(original.size(), 1u);
        ASSERT_EQ(original[0].second.back(), c.first.fields.back()) << "the echo carries the id";
        for (const Step& step : c.between)
            ASSERT_EQ(w.run(step.phone, step.type, step.fields).error, "");
        if (c.leaveMemo) {
            ASSERT_TRUE(w.storage.removeMember(kMemo, "111"));
        }
        const std::int64_t stored = w.storage.messageCount();
        const HistorySlice before = w.storage.history(kDm, 1000, 100, 1 << 20);

        const RoomResult again = w.run(c.repeat.phone, c.repeat.type, c.repeat.fields);
        EXPECT_EQ(again.error, "");
        EXPECT_TRUE(again.deliveries.empty());
        ASSERT_TRUE(again.reply);
        Frames expected = c.answer ? *c.answer : original;
        for (auto& [type, fields] : expected)
            for (std::string& field : fields)
                if (field == chatEcho)
                    field = original[0].second[3]; // the time it was first stored
        EXPECT_EQ(framesIn(*again.reply), expected);

        // Nothing changed: no message, no edit, no deletion, no id taken.
        EXPECT_EQ(w.storage.messageCount(), stored);
        const HistorySlice after = w.storage.history(kDm, 1000, 100, 1 << 20);
        ASSERT_EQ(after.rows.size(), before.rows.size());
        for (std::size_t i = 0; i < after.rows.size(); ++i) {
            EXPECT_EQ(after.rows[i].message.text, before.rows[i].message.text);
            EXPECT_EQ(after.rows[i].deleted, before.rows[i].deleted);
        }
        const RoomResult next = w.run("222", MessageType::Chat, {kDm, "다음"});
        ASSERT_EQ(next.deliveries.size(), 1u);
        EXPECT_EQ(next.deliveries[0].id, w.storage.nextMessageId(kDm) - 1) << "no gap";
    }
}

// Ids are per sender; without a valid id nothing is deduplicated (as from a client without
// ids), and the echo carries none.
TEST_P(RoomLogicTest, ClientIdsArePerSenderAndAMalformedOneCountsAsNone) {
    World w(GetParam());
    const auto stores = [&](const std::string& phone, const FieldList& fields) {
        const RoomResult r = w.run(phone, MessageType::Chat, fields);
        EXPECT_EQ(r.error, "");
        return r.deliveries.size() == 1 && !r.reply;
    };
    EXPECT_TRUE(stores("111", {kDm, "a", "", kC1}));
    EXPECT_TRUE(stores("222", {kDm, "b", "", kC1}));
    EXPECT_FALSE(stores("222", {kDm, "b", "", kC1}));
    for (const std::string& bad : {kC1.substr(1), kC1 + "0", std::string(32, 'g'), std::string()}) {
        SCOPED_TRACE(bad);
        for (int i = 0; i < 2; ++i) {
            const RoomResult r = w.run("111", MessageType::Chat, {kDm, "c", "", bad});
            ASSERT_EQ(r.deliveries.size(), 1u);
            EXPECT_EQ(framesIn(*r.deliveries[0].frame)[0].second.size(), 7u);
        }
    }
}

// Kept ids are forgotten oldest first, at most the number asked for per call; a forgotten id
// names a new request.
TEST_P(RoomLogicTest, ForgottenClientIdsNameNewRequests) {
    World w(GetParam());
    for (int i = 0; i < 5; ++i)
        w.expectOk(
            w.run("111", MessageType::Chat, {kDm, "x", "", kC1.substr(0, 31) + char('0' + i)}));
    EXPECT_EQ(w.storage.forgetClientIds(0, 100), 0);
    const std::int64_t later = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count() +
                               1000;
    EXPECT_EQ(w.storage.forgetClientIds(later, 3), 3);
    EXPECT_EQ(w.storage.forgetClientIds(later, 3), 2);
    EXPECT_FALSE(w.storage.clientIdUse("111", kC1.substr(0, 31) + "0"));
    const RoomResult again =
        w.run("111", MessageType::Chat, {kDm, "x", "", kC1.substr(0, 31) + "0"});
    EXPECT_EQ(again.deliveries.size(), 1u);
    EXPECT_FALSE(again.reply);
}

// A reader who missed a message live (an instance filling a gap) gets the frame the live one
// was, the sender's client id included: the sender's other connection can settle by it too.
TEST_P(RoomLogicTest, MissedMessagesCarryTheSendersClientId) {
    World w(GetParam());
    w.expectOk(w.run("111", MessageType::Chat, {kDm, "넷", "", kC1}));
    w.expectOk(w.run("111", MessageType::FileMeta, {kDm, kDone, "a.txt", "5", "", kC2}));
    const auto missed = RoomLogic::missedMessages(w.storage, kDm, 3, 6);
    ASSERT_EQ(missed.size(), 2u);
    EXPECT_EQ(wire::ChatMessage::decode(framesOf(missed[0])[0].second)->clientId, kC1);
    EXPECT_EQ(wire::FileMessage::decode(framesOf(missed[1])[0].second)->clientId, kC2);
}

INSTANTIATE_TEST_SUITE_P(Storage, RoomLogicTest, test::kBackends, test::backendName);

} // namespace
