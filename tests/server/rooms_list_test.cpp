// The rooms list's newest message per room, over the real tables, on each storage back end.

#include "backends.h"
#include "room_logic.h"

#include <gtest/gtest.h>

#include <string>

using namespace brindlewick;
using namespace brindlewick::server;

namespace {

const std::string kFile = "0123456789abcdef0123456789abcdef";

class RoomsListTest : public ::testing::TestWithParam<test::Backend> {
protected:
    void SetUp() override {
        if (!scratch_.get())
            GTEST_SKIP() << "back end not available";
        storage().upsertUser({"111", "앨리스", "", ""}, false);
        storage().upsertUser({"222", "밥", "", ""}, false);
        storage().createFile({kFile, "보고서.pdf", 5, 0, 0, false, "", ""});
        storage().updateFile({kFile, "보고서.pdf", 5, 5, 1, true, "", ""});
    }
    Storage& storage() { return *scratch_.get(); }
    void ok(const std::string& phone, std::uint8_t type, const FieldList& fields) {
        const RoomResult r = RoomLogic::handleFrame(storage(), phone, type, fields);
        ASSERT_EQ(r.error, "") << "seeding type " << int(type);
    }
    RoomRow rowOf(const std::string& phone, const std::string& room) {
        for (const RoomRow& row : storage().roomsOf(phone))
            if (row.id == room)
                return row;
        ADD_FAILURE() << "no row for " << room;
        return {};
    }
    // A group room of Alice and Bob, made afresh.
    std::string room(const std::string& name) {
        storage().createRoom(name, "group", name, "111");
        storage().addMember(name, "111");
        storage().addMember(name, "222");
        return name;
    }

    test::ScratchStorage scratch_{GetParam()};
};

TEST_P(RoomsListTest, EachRoomCarriesItsNewestMessageNotDeleted) {
    const std::string empty = room("group:empty");
    const std::string chat = room("group:chat");
    ok("111", MessageType::Chat, {chat, "처음"});
    ok("222", MessageType::Chat, {chat, "마지막 말"});
    const std::string file = room("group:file");
    ok("111", MessageType::Chat, {file, "보낼게"});
    ok("111", MessageType::FileMeta, {file, kFile, "보고서.pdf", "5", ""});
    // The newest two are deleted: the list shows the one before them.
    const std::string deleted = room("group:deleted");
    ok("111", MessageType::Chat, {deleted, "남은 말"});
    ok("222", MessageType::Chat, {deleted, "지울 말"});
    ok("111", MessageType::FileMeta, {deleted, kFile, "보고서.pdf", "5", ""});
    ok("222", MessageType::ChatDelete, {deleted, "2"});
    ok("111", MessageType::ChatDelete, {deleted, "3"});
    const std::string edited = room("group:edited");
    ok("111", MessageType::Chat, {edited, "고칠 말"});
    ok("111", MessageType::ChatEdit, {edited, "1", "고친 말"});
    const std::string gone = room("group:gone");
    ok("111", MessageType::Chat, {gone, "곧 지움"});
    ok("111", MessageType::ChatDelete, {gone, "1"});

    struct Case {
        std::string room;
        std::string kind, text, fileName;
    };
    const Case cases[] = {
        {empty, "", "", ""},
        {chat, "chat", "마지막 말", ""},
        {file, "file", "보고서.pdf", "보고서.pdf"},
        {deleted, "chat", "남은 말", ""},
        {edited, "chat", "고친 말", ""},
        {gone, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        const RoomRow row = rowOf("222", c.room);
        EXPECT_EQ(row.lastKind, c.kind);
        EXPECT_EQ(row.lastText, c.text);
        EXPECT_EQ(row.lastFileName, c.fileName);
        // The time as the message carries it: ISO 8601 with its offset.
        if (c.kind.empty())
            EXPECT_EQ(row.lastTime, "");
        else
            EXPECT_EQ(row.lastTime.size(), std::string("2026-12-10T21:05:09+09:00").size())
                << row.lastTime;
    }
    // Unread counts are unchanged beside the new columns.
    EXPECT_EQ(rowOf("222", chat).unread, 1);
    EXPECT_EQ(rowOf("111", chat).unread, 1);
}

TEST_P(RoomsListTest, LongTextIsCutToTwoHundredCharacters) {
    const std::string r = room("group:long");
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "가";
    ok("111", MessageType::Chat, {r, text});
    std::string expected;
    for (int i = 0; i < 200; ++i)
        expected += "가";
    EXPECT_EQ(rowOf("222", r).lastText, expected); // whole characters, never a cut byte
}

INSTANTIATE_TEST_SUITE_P(Storage, RoomsListTest, test::kBackends, test::backendName);

} // namespace
