// History pages over the real tables on an in-memory database.

#include "room_logic.h"
#include "sqlite_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;

namespace {

const std::string kGroup = "group:g";
const std::string kDm = "dm:111:222";
const std::string kFile = "0123456789abcdef0123456789abcdef";

struct World {
    SqliteStorage storage{":memory:"};

    World() {
        storage.upsertUser({"111", "앨리스", "", ""}, false);
        storage.upsertUser({"222", "밥", "", ""}, false);
        storage.upsertUser({"333", "캐럴", "", ""}, false);
        storage.createRoom(kGroup, "group", "모임", "111");
        storage.addMember(kGroup, "111");
        storage.addMember(kGroup, "222");
    }
    void ok(const std::string& phone, std::uint8_t type, const FieldList& fields) {
        const RoomResult r = RoomLogic::handleFrame(storage, phone, type, fields);
        ASSERT_EQ(r.error, "") << "seeding type " << int(type);
    }
    // Alice and Bob taking turns in the group room.
    void chats(int count) {
        for (int i = 0; i < count; ++i)
            ok(i % 2 ? "222" : "111", MessageType::Chat, {kGroup, "m" + std::to_string(i)});
    }
    RoomResult ask(const std::string& phone, const FieldList& fields) {
        return RoomLogic::handleFrame(storage, phone, MessageType::HistoryRequest, fields);
    }
    // The page answered to `phone`; fails the test on a refusal or anything sent to others.
    wire::HistoryPage page(const std::string& phone, const FieldList& fields) {
        const RoomResult r = ask(phone, fields);
        EXPECT_EQ(r.error, "");
        EXPECT_TRUE(r.deliveries.empty()) << "a page is never announced to the room";
        if (!r.reply)
            return {};
        std::string buffer = *r.reply;
        std::optional<wire::HistoryPage> decoded;
        ChatProtocol::consumeBuffer(buffer, [&](std::uint8_t type, const FieldList& f) {
            EXPECT_EQ(type, MessageType::HistoryPage);
            decoded = wire::HistoryPage::decode(f);
        });
        EXPECT_TRUE(decoded);
        return decoded.value_or(wire::HistoryPage{});
    }
    std::int64_t unread(const std::string& phone, const std::string& room) {
        for (const RoomRow& row : storage.roomsOf(phone))
            if (row.id == room)
                return row.unread;
        return -1;
    }
};

std::vector<std::int64_t> idsOf(const wire::HistoryPage& page) {
    std::vector<std::int64_t> ids;
    for (const wire::HistoryEntry& e : page.entries)
        ids.push_back(std::stoll(e.msgId));
    return ids;
}

TEST(History, PagingBackFromTheNewestGivesEveryMessageOnceInOrder) {
    struct Case {
        const char* limit;
        std::size_t pageSize;
    };
    const std::vector<Case> cases = {{"", 50}, {"7", 7}, {"100", 100}, {"500", 100}, {"0", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("limit \"") + c.limit + "\"");
        World w;
        w.chats(500);
        std::vector<std::int64_t> seen; // newest first
        std::string before;
        for (int pages = 0; pages <= 500; ++pages) {
            const wire::HistoryPage p = w.page("222", {kGroup, before, c.limit});
            EXPECT_EQ(p.room, kGroup);
            EXPECT_EQ(p.before, before);
            const std::vector<std::int64_t> ids = idsOf(p);
            ASSERT_FALSE(ids.empty());
            EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end())) << "entries oldest first";
            EXPECT_EQ(p.hasOlder, ids.front() > 1);
            if (p.hasOlder) {
                EXPECT_EQ(ids.size(), c.pageSize);
            }
            seen.insert(seen.end(), ids.rbegin(), ids.rend());
            // New messages while paging back must not shift what the older pages hold.
            w.chats(1);
            if (!p.hasOlder)
                break;
            before = std::to_string(ids.front());
        }
        ASSERT_EQ(seen.size(), 500u);
        for (std::size_t i = 0; i < seen.size(); ++i)
            ASSERT_EQ(seen[i], std::int64_t(500 - i));
        // Past the first message there is nothing.
        const wire::HistoryPage end = w.page("222", {kGroup, "1", c.limit});
        EXPECT_TRUE(end.entries.empty());
        EXPECT_FALSE(end.hasOlder);
    }
}

TEST(History, EntriesCarryTheirCurrentState) {
    World w;
    w.storage.createFile({kFile, "사진.png", 5, 0, 0, false, "", ""});
    w.storage.updateFile({kFile, "사진.png", 5, 5, 1, true, "", ""});
    w.ok("111", MessageType::Chat, {kGroup, "처음"});                         // 1, edited twice
    w.ok("222", MessageType::Chat, {kGroup, "답", "1"});                      // 2, a reply
    w.ok("111", MessageType::FileMeta, {kGroup, kFile, "사진.png", "5", ""}); // 3
    w.ok("111", MessageType::FileMeta, {kGroup, kFile, "지운.png", "5", ""}); // 4, deleted
    w.ok("222", MessageType::Chat, {kGroup, "지울 말", "1"});                 // 5, deleted
    w.ok("111", MessageType::Chat, {kGroup, "고칠 말"}); // 6, edited, then deleted
    w.ok("111", MessageType::ChatEdit, {kGroup, "1", "두 번째"});
    w.ok("111", MessageType::ChatEdit, {kGroup, "1", "세 번째"});
    w.ok("111", MessageType::ChatDelete, {kGroup, "4"});
    w.ok("222", MessageType::ChatDelete, {kGroup, "5"});
    w.ok("111", MessageType::ChatEdit, {kGroup, "6", "고침"});
    w.ok("111", MessageType::ChatDelete, {kGroup, "6"});

    auto entry = [](std::string id, std::string kind, std::string sender, std::string phone,
                    std::string text, std::string replyTo, bool edited, bool deleted,
                    std::string fileId, std::string fileName, std::string fileSize) {
        wire::HistoryEntry e;
        e.msgId = std::move(id);
        e.kind = std::move(kind);
        e.sender = std::move(sender);
        e.senderPhone = std::move(phone);
        e.text = std::move(text);
        e.replyTo = std::move(replyTo);
        e.edited = edited;
        e.deleted = deleted;
        e.fileId = std::move(fileId);
        e.fileName = std::move(fileName);
        e.fileSize = std::move(fileSize);
        return e;
    };
    const std::vector<wire::HistoryEntry> expected = {
        entry("1", "chat", "앨리스", "111", "세 번째", "", true, false, "", "", ""),
        entry("2", "chat", "밥", "222", "답", "1", false, false, "", "", ""),
        entry("3", "file", "앨리스", "111", "사진.png", "", false, false, kFile, "사진.png", "5"),
        entry("4", "file", "앨리스", "111", "", "", false, true, "", "", ""),
        entry("5", "chat", "밥", "222", "", "1", false, true, "", "", ""),
        entry("6", "chat", "앨리스", "111", "", "", true, true, "", "", ""),
    };
    const wire::HistoryPage p = w.page("111", {kGroup, "", ""});
    ASSERT_EQ(p.entries.size(), expected.size());
    EXPECT_FALSE(p.hasOlder);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("entry " + expected[i].msgId);
        const wire::HistoryEntry& got = p.entries[i];
        const wire::HistoryEntry& want = expected[i];
        EXPECT_EQ(got.msgId, want.msgId);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.sender, want.sender);
        EXPECT_EQ(got.senderPhone, want.senderPhone);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.replyTo, want.replyTo);
        EXPECT_EQ(got.edited, want.edited);
        EXPECT_EQ(got.deleted, want.deleted);
        EXPECT_EQ(got.fileId, want.fileId);
        EXPECT_EQ(got.fileName, want.fileName);
        EXPECT_EQ(got.fileSize, want.fileSize);
        EXPECT_EQ(got.time.size(), 25u) << got.time; // 2024-01-02T03:04:05+09:00
    }
}

TEST(History, RequestsAreCheckedAndLimitsClamped) {
    struct Case {
        const char* name;
        std::string phone;
        FieldList fields;
        const char* error; // nullptr: a page
        std::vector<std::int64_t> firstAndLast = {};
        bool hasOlder = false;
    };
    const std::vector<Case> cases = {
        {"newest page by default", "111", {kGroup}, nullptr, {101, 150}, true},
        {"empty limit", "111", {kGroup, "", ""}, nullptr, {101, 150}, true},
        {"limit of one", "111", {kGroup, "", "1"}, nullptr, {150, 150}, true},
        {"limit zero is one", "111", {kGroup, "", "0"}, nullptr, {150, 150}, true},
        {"largest limit", "111", {kGroup, "", "100"}, nullptr, {51, 150}, true},
        {"limit over the largest", "111", {kGroup, "", "101"}, nullptr, {51, 150}, true},
        {"limit with 20 digits",
         "111",
         {kGroup, "", "99999999999999999999"},
         nullptr,
         {51, 150},
         true},
        {"negative limit", "111", {kGroup, "", "-5"}, nullptr, {101, 150}, true},
        {"limit not a number", "111", {kGroup, "", "열"}, nullptr, {101, 150}, true},
        {"limit with a space", "111", {kGroup, "", " 5"}, nullptr, {101, 150}, true},
        {"before with leading zeros", "111", {kGroup, "007", "50"}, nullptr, {1, 6}, false},
        {"before past the newest", "111", {kGroup, "99999", "10"}, nullptr, {141, 150}, true},
        {"whole room in one page", "222", {kGroup, "", "150"}, nullptr, {51, 150}, true},
        {"before the first", "111", {kGroup, "1"}, nullptr, {}, false},
        {"before zero", "111", {kGroup, "0"}, ErrorText::kBadRequest},
        {"before not a number", "111", {kGroup, "abc"}, ErrorText::kBadRequest},
        {"before negative", "111", {kGroup, "-3"}, ErrorText::kBadRequest},
        {"before signed", "111", {kGroup, "+3"}, ErrorText::kBadRequest},
        {"before too long", "111", {kGroup, "1234567890123456789"}, ErrorText::kBadRequest},
        {"no room", "111", {""}, ErrorText::kBadRequest},
        {"no fields", "111", {}, ErrorText::kBadRequest},
        {"not a member", "333", {kGroup}, ErrorText::kNotMember},
        {"unknown room", "111", {"group:none"}, ErrorText::kNotMember},
        {"a direct room of others", "333", {kDm}, ErrorText::kNotMember},
        {"a direct room in the wrong order", "111", {"dm:222:111"}, ErrorText::kNotMember},
        {"own direct room before its first message", "111", {kDm}, nullptr, {}, false},
    };
    World w;
    w.chats(150);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error) {
            const RoomResult r = w.ask(c.phone, c.fields);
            EXPECT_EQ(r.error, c.error);
            EXPECT_FALSE(r.reply);
            EXPECT_TRUE(r.deliveries.empty());
            continue;
        }
        const wire::HistoryPage p = w.page(c.phone, c.fields);
        const std::vector<std::int64_t> ids = idsOf(p);
        if (c.firstAndLast.empty()) {
            EXPECT_TRUE(ids.empty());
        } else {
            ASSERT_FALSE(ids.empty());
            EXPECT_EQ((std::vector<std::int64_t>{ids.front(), ids.back()}), c.firstAndLast);
            EXPECT_EQ(ids.size(), std::size_t(c.firstAndLast[1] - c.firstAndLast[0] + 1));
        }
        EXPECT_EQ(p.hasOlder, c.hasOlder);
        EXPECT_EQ(p.before, c.fields.size() > 1 ? c.fields[1] : "");
    }
}

TEST(History, ReadMarkOfThePageAgreesWithTheUnreadCount) {
    World w;
    w.chats(10); // Alice sends the odd ids, Bob the even ones
    w.ok("111", MessageType::ChatDelete, {kGroup, "9"});
    struct Step {
        const char* name;
        const char* watermark; // nullptr: none sent
        const char* readMark;
        std::int64_t unread;
    };
    const std::vector<Step> steps = {
        {"nothing read", nullptr, "0", 4}, // 1, 3, 5, 7; 9 is deleted
        {"read to 4", "4", "4", 2},
        {"marks never move back", "2", "4", 2},
        {"read to Bob's own 6 ", "6", "6", 1},
        {"past the end stops at the newest", "999", "10", 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.watermark)
            w.ok("222", MessageType::ReadWatermark, {kGroup, s.watermark});
        const wire::HistoryPage p = w.page("222", {kGroup});
        EXPECT_EQ(p.readMark, s.readMark);
        EXPECT_EQ(w.unread("222", kGroup), s.unread);
        // What a client counts from the page is what the rooms list says.
        std::int64_t fromPage = 0;
        for (const wire::HistoryEntry& e : p.entries)
            if (std::stoll(e.msgId) > std::stoll(p.readMark) && e.senderPhone != "222" &&
                !e.deleted)
                ++fromPage;
        EXPECT_EQ(fromPage, s.unread);
        // Alice's own mark is untouched by Bob's.
        EXPECT_EQ(w.page("111", {kGroup}).readMark, "0");
    }
    // A message after reading everything is unread again, on both sides.
    w.chats(1);
    EXPECT_EQ(w.page("222", {kGroup}).readMark, "10");
    EXPECT_EQ(w.unread("222", kGroup), 1);
}

TEST(History, PagesOfLongTextsStayBelowTheByteLimitAndStillReachTheStart) {
    World w;
    const std::string longest(RoomLogic::kMaxTextBytes, 'x');
    for (int i = 0; i < 60; ++i)
        w.ok("111", MessageType::Chat, {kGroup, longest});
    std::set<std::int64_t> seen;
    std::string before;
    int pages = 0;
    for (; pages < 60; ++pages) {
        const RoomResult r = w.ask("222", {kGroup, before, "100"});
        ASSERT_TRUE(r.reply);
        EXPECT_LE(r.reply->size(), RoomLogic::kMaxHistoryPageBytes + 64 * 1024);
        const wire::HistoryPage p = w.page("222", {kGroup, before, "100"});
        ASSERT_FALSE(p.entries.empty());
        for (std::int64_t id : idsOf(p))
            EXPECT_TRUE(seen.insert(id).second) << id;
        if (!p.hasOlder)
            break;
        before = p.entries.front().msgId;
    }
    EXPECT_EQ(seen.size(), 60u);
    EXPECT_GT(pages, 2);
}

} // namespace
