// The directory's rules (signing in, friends, new rooms, pictures) over the real tables, on each
// storage back end; the checks that need no database on their own.

#include "backends.h"
#include "directory_logic.h"
#include "file_store.h"
#include "ids.h"
#include "room_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;

namespace {

const std::string kDone = "0123456789abcdef0123456789abcdef";    // a finished upload
const std::string kPartial = "fedcba9876543210fedcba9876543210"; // still uploading
const std::string kOldPicture = "00000000000000000000000000000001";

// Two users who signed in (Alice with a picture), 333 who never did, and two uploads.
struct World {
    test::ScratchStorage scratch;
    Storage& storage;

    explicit World(test::Backend backend) : scratch(backend), storage(*scratch.get()) {
        storage.upsertUser({"111", "앨리스", "", kOldPicture}, false);
        storage.upsertUser({"222", "밥", "", ""}, false);
        storage.createFile({kDone, "a.png", 5, 0, 0, false, "", ""});
        storage.updateFile({kDone, "a.png", 5, 5, 1, true, "", ""});
        storage.createFile({kPartial, "b.png", 5, 0, 0, false, "", ""});
    }
    std::string picture(const std::string& phone) {
        const auto user = storage.user(phone);
        return user ? user->profilePic : "(no user)";
    }
    std::optional<FriendRow> friendOf(const std::string& owner, const std::string& phone) {
        for (const FriendRow& row : storage.friends(owner))
            if (row.user.phone == phone)
                return row;
        return std::nullopt;
    }
    std::vector<std::string> members(const std::string& room) {
        auto list = storage.members(room);
        std::sort(list.begin(), list.end());
        return list;
    }
};

class DirectoryLogicTest : public ::testing::TestWithParam<test::Backend> {
protected:
    void SetUp() override {
        if (!test::ScratchStorage(GetParam()).get())
            GTEST_SKIP() << "back end not available";
        world_.emplace(GetParam());
    }
    std::optional<World> world_;
};

void expectRefused(const DirectoryResult& result, Refusal why, const std::string& text) {
    EXPECT_EQ(int(result.refusal), int(why)) << result.error;
    EXPECT_EQ(result.error, text);
}

TEST(DirectoryLogicChecks, RoomRequestsAreCheckedAndTidiedWithoutTheDatabase) {
    struct Case {
        const char* what;
        RoomRequest request;
        std::size_t maxMembers;
        const char* error; // "" when accepted
        const char* kind;
        std::vector<std::string> members; // as left for createRoom
    };
    const std::vector<Case> cases = {
        {"no type is a memo room", {"111", "", "메모", {}}, 50, "", "memo", {}},
        {"a memo room takes nobody listed", {"111", "memo", "", {"222"}}, 50, "", "memo", {}},
        {"a group's members once each, sorted, without the creator",
         {"111", "group", "팀", {"333", "111", "222", "333"}},
         50,
         "",
         "group",
         {"222", "333"}},
        {"a group of only the creator", {"111", "group", "", {}}, 1, "", "group", {}},
        {"the creator counts once against the cap",
         {"111", "group", "", {"111", "222", "111", "333"}},
         3,
         "",
         "group",
         {"222", "333"}},
        {"repeats count once against the cap",
         {"111", "group", "", {"222", "222", "222"}},
         2,
         "",
         "group",
         {"222"}},
        {"one over the cap",
         {"111", "group", "", {"222", "333", "444"}},
         3,
         "방 인원이 너무 많습니다 (최대 3명)",
         "group",
         {}},
        {"direct rooms are made on first use",
         {"111", "dm", "", {}},
         50,
         DirectoryText::kBadRoomType,
         "dm",
         {}},
        {"an unknown type",
         {"111", "channel", "", {}},
         50,
         DirectoryText::kBadRoomType,
         "channel",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RoomRequest request = c.request;
        const DirectoryResult result = DirectoryLogic::checkRoom(request, c.maxMembers);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.ok(), std::string(c.error).empty());
        if (result.ok()) {
            EXPECT_EQ(request.type, c.kind);
            EXPECT_EQ(request.members, c.members);
        } else {
            EXPECT_EQ(int(result.refusal), int(Refusal::Invalid));
        }
    }
}

TEST(DirectoryLogicChecks, NobodyBefriendsThemselves) {
    expectRefused(DirectoryLogic::checkFriend("111", "111"), Refusal::Invalid,
                  DirectoryText::kSelfFriend);
    EXPECT_TRUE(DirectoryLogic::checkFriend("111", "222").ok());
}

TEST_P(DirectoryLogicTest, FriendsAreUsersWhoSignedInAndAddingAgainRenames) {
    World& w = *world_;
    expectRefused(DirectoryLogic::addFriend(w.storage, "111", "111", "나"), Refusal::Invalid,
                  DirectoryText::kSelfFriend);
    expectRefused(DirectoryLogic::addFriend(w.storage, "111", "333", "누구"), Refusal::UnknownUser,
                  DirectoryText::kUnknownUser);
    expectRefused(DirectoryLogic::addFriend(w.storage, "333", "111", "누구"), Refusal::UnknownUser,
                  DirectoryText::kUnknownUser);
    EXPECT_TRUE(w.storage.friends("111").empty());
    EXPECT_TRUE(w.storage.friends("333").empty());

    EXPECT_TRUE(DirectoryLogic::addFriend(w.storage, "111", "222", "밥이").ok());
    ASSERT_TRUE(w.friendOf("111", "222"));
    EXPECT_EQ(w.friendOf("111", "222")->alias, "밥이");
    EXPECT_FALSE(w.friendOf("222", "111")) << "a friend is one-sided";
    EXPECT_TRUE(DirectoryLogic::addFriend(w.storage, "111", "222", "바비").ok());
    EXPECT_EQ(w.storage.friends("111").size(), 1u);
    EXPECT_EQ(w.friendOf("111", "222")->alias, "바비");
}

TEST_P(DirectoryLogicTest, ARoomIsMadeOnlyOfUsersWhoSignedInWithAFreshId) {
    World& w = *world_;
    const std::vector<RoomRequest> unknown = {
        {"111", "group", "팀", {"222", "333"}}, // a member never signed in
        {"333", "memo", "메모", {}},            // nor did the creator
        {"333", "group", "팀", {"111"}},
    };
    for (const RoomRequest& request : unknown) {
        SCOPED_TRACE(request.creator + " " + request.type);
        expectRefused(DirectoryLogic::createRoom(w.storage, request), Refusal::UnknownUser,
                      DirectoryText::kUnknownUser);
    }
    EXPECT_TRUE(w.storage.roomsOf("111").empty()) << "nothing is made for a refused request";

    const DirectoryResult group =
        DirectoryLogic::createRoom(w.storage, {"111", "group", "팀", {"222"}});
    ASSERT_TRUE(group.ok()) << group.error;
    const DirectoryResult memo = DirectoryLogic::createRoom(w.storage, {"111", "memo", "메모", {}});
    ASSERT_TRUE(memo.ok()) << memo.error;
    EXPECT_NE(group.room, memo.room);
    for (const auto& [room, kind] : std::vector<std::pair<std::string, std::string>>{
             {group.room, "group"}, {memo.room, "memo"}}) {
        SCOPED_TRACE(room);
        // "<kind>:" and 32 lower-case hex digits: clients and the id checks rely on it.
        ASSERT_EQ(room.size(), kind.size() + 1 + 32);
        EXPECT_EQ(room.substr(0, kind.size() + 1), kind + ":");
        EXPECT_TRUE(isHex128(room.substr(kind.size() + 1)));
        EXPECT_EQ(w.storage.roomKind(room), kind);
    }
    EXPECT_EQ(w.members(group.room), (std::vector<std::string>{"111", "222"}));
    EXPECT_EQ(w.members(memo.room), (std::vector<std::string>{"111"}));
    const std::vector<RoomRow> bobs = w.storage.roomsOf("222");
    ASSERT_EQ(bobs.size(), 1u);
    EXPECT_EQ(bobs[0].title, "팀");
}

TEST_P(DirectoryLogicTest, RoomCreationIsRefusedPastTheRateAndCountsDirectRoomsToo) {
    World& w = *world_;
    // A direct room made on first use counts against the same rate.
    ASSERT_EQ(RoomLogic::ensureAccess(w.storage, "111", "dm:111:222"), "");
    for (std::int64_t i = 1; i < RoomLogic::kRoomsPerWindow; ++i)
        ASSERT_TRUE(DirectoryLogic::createRoom(w.storage, {"111", "memo", "", {}}).ok()) << i;
    expectRefused(DirectoryLogic::createRoom(w.storage, {"111", "group", "", {"222"}}),
                  Refusal::TooFast, ErrorText::kTooManyRooms);
    EXPECT_EQ(w.storage.roomsOf("222").size(), 1u) << "only the direct room";
    EXPECT_TRUE(DirectoryLogic::createRoom(w.storage, {"222", "memo", "", {}}).ok())
        << "the rate is per creator";
}

TEST_P(DirectoryLogicTest, APictureIsAFinishedUploadOrNone) {
    World& w = *world_;
    struct Case {
        const char* what;
        std::string phone;
        std::string file;
        Refusal refusal;
        std::string error;
        std::string pictureAfter; // Alice's
    };
    const std::vector<Case> cases = {
        {"a user who never signed in", "333", kDone, Refusal::UnknownUser,
         DirectoryText::kUnknownUser, kOldPicture},
        {"an upload still under way", "111", kPartial, Refusal::NoFile, FileText::kNotFound,
         kOldPicture},
        {"no such file", "111", "11111111111111111111111111111111", Refusal::NoFile,
         FileText::kNotFound, kOldPicture},
        {"a finished upload", "111", kDone, Refusal::None, "", kDone},
        {"none", "111", "", Refusal::None, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DirectoryResult result = DirectoryLogic::setProfilePic(w.storage, c.phone, c.file);
        expectRefused(result, c.refusal, c.error);
        EXPECT_EQ(w.picture("111"), c.pictureAfter);
    }
    EXPECT_FALSE(w.storage.user("333")) << "a refused picture makes no user";
}

TEST_P(DirectoryLogicTest, SigningInKeepsTheStoredPictureUnlessAFinishedOneIsNamed) {
    World& w = *world_;
    struct Case {
        const char* what;
        std::string named;
        std::string pictureAfter;
    };
    const std::vector<Case> cases = {
        {"none named", "", kOldPicture},
        {"an unfinished upload", kPartial, kOldPicture},
        {"an unknown id", "11111111111111111111111111111111", kOldPicture},
        {"a finished upload", kDone, kDone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w.storage.setProfilePic("111", kOldPicture);
        DirectoryLogic::signIn(w.storage, {"111", "새 이름", "상태", c.named});
        const auto user = w.storage.user("111");
        ASSERT_TRUE(user);
        EXPECT_EQ(user->profilePic, c.pictureAfter);
        EXPECT_EQ(user->nickname, "새 이름");
        EXPECT_EQ(user->status, "상태");
    }
    DirectoryLogic::signIn(w.storage, {"444", "", "", kDone});
    EXPECT_EQ(w.picture("444"), kDone) << "a new user starts with the finished picture named";
}

TEST_P(DirectoryLogicTest, ARoomListNamesTheOtherParticipantOfEachDirectRoom) {
    World& w = *world_;
    w.storage.upsertUser({"555", "", "", ""}, false); // signed in without a nickname
    ASSERT_EQ(RoomLogic::ensureAccess(w.storage, "111", "dm:111:222"), "");
    ASSERT_EQ(RoomLogic::ensureAccess(w.storage, "111", "dm:111:555"), "");
    // A direct room with someone who never signed in (made before that was refused).
    w.storage.createRoom("dm:111:333", "dm", "", "111");
    w.storage.addMember("dm:111:333", "111");
    w.storage.createRoom("memo:x", "memo", "메모", "111");
    w.storage.addMember("memo:x", "111");
    w.storage.setProfilePic("222", kDone);
    ASSERT_TRUE(DirectoryLogic::addFriend(w.storage, "111", "222", "밥이").ok());

    struct Expected {
        std::string peer, alias, name, picture;
    };
    const std::map<std::string, Expected> expected = {
        {"dm:111:222", {"222", "밥이", "밥", kDone}},
        {"dm:111:555", {"555", "", "555", ""}},
        {"dm:111:333", {"333", "", "333", ""}},
        {"memo:x", {"", "", "", ""}},
    };
    const std::vector<RoomListing> list = DirectoryLogic::roomList(w.storage, "111");
    ASSERT_EQ(list.size(), expected.size());
    for (const RoomListing& entry : list) {
        SCOPED_TRACE(entry.room.id);
        const auto it = expected.find(entry.room.id);
        ASSERT_NE(it, expected.end());
        EXPECT_EQ(entry.peer, it->second.peer);
        EXPECT_EQ(entry.peerAlias, it->second.alias);
        EXPECT_EQ(entry.peerName, it->second.name);
        EXPECT_EQ(entry.peerPicture, it->second.picture);
    }
    const std::vector<RoomListing> bobs = DirectoryLogic::roomList(w.storage, "222");
    ASSERT_EQ(bobs.size(), 1u);
    EXPECT_EQ(bobs[0].peerName, "앨리스") << "named from the reader's side";
    EXPECT_EQ(bobs[0].peerAlias, "");
}

INSTANTIATE_TEST_SUITE_P(Storage, DirectoryLogicTest, test::kBackends, test::backendName);

} // namespace
