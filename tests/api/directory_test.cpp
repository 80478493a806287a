#include "directory.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace brindlewick {
namespace {

TEST(ParseFriendObjects, NoRecordsWithoutBraces) {
    for (const QString& text : {QString(), QString(""), QString("[]"), QString("not json")})
        EXPECT_TRUE(parseFriendObjects(text).isEmpty()) << text.toStdString();
}

TEST(ParseFriendObjects, BareArrayInOrderWithFallbackKeys) {
    const QString json = R"([
      {"PhoneNumber":"010-1","Nickname":"Kim","Alias":"boss","StatusMessage":"busy",
       "ProfilePic":"p1"},
      {"PhoneNumber":"","phone":"010-2","Nickname":"","nick":"Lee","profile_pic":"p2"},
      {"Nickname":"nobody"},
      {"phone":"010-3"}
    ])";
    const QList<FriendRecord> list = parseFriendObjects(json);
    ASSERT_EQ(list.size(), 3);

    EXPECT_EQ(list[0].phone, "010-1");
    EXPECT_EQ(list[0].nick, "Kim");
    EXPECT_EQ(list[0].alias, "boss");
    EXPECT_EQ(list[0].status, "busy");
    EXPECT_EQ(list[0].profilePic, "p1");

    EXPECT_EQ(list[1].phone, "010-2");
    EXPECT_EQ(list[1].nick, "Lee");
    EXPECT_EQ(list[1].profilePic, "p2");

    // Missing values are empty texts, never taken from a neighbour.
    EXPECT_EQ(list[2].phone, "010-3");
    EXPECT_TRUE(list[2].nick.isEmpty());
    EXPECT_TRUE(list[2].alias.isEmpty());
    EXPECT_TRUE(list[2].status.isEmpty());
    EXPECT_TRUE(list[2].profilePic.isEmpty());
}

TEST(ParseFriendObjects, WrapperObjects) {
    // A wrapper without an identifying key adds nothing.
    EXPECT_EQ(parseFriendObjects(R"({"friends":[{"phone":"1"},{"phone":"2"}]})").size(), 2);
    // A wrapper that carries "phone" before the list becomes a record of its own.
    const QList<FriendRecord> list =
        parseFriendObjects(R"({"phone":"me","friends":[{"phone":"1","nick":"A"}]})");
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].phone, "me");
    EXPECT_TRUE(list[0].nick.isEmpty());
    EXPECT_EQ(list[1].nick, "A");
}

TEST(ParseFriendObjects, NestedObjectSplitsTheRecord) {
    const QList<FriendRecord> list =
        parseFriendObjects(R"([{"phone":"1","meta":{"x":"y"},"nick":"after"}])");
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].phone, "1");
    EXPECT_TRUE(list[0].nick.isEmpty()); // "nick" stands in the part after the inner "{"
}

TEST(ParseFriendObjects, EscapedNamesAreDecoded) {
    const QList<FriendRecord> list =
        parseFriendObjects(R"([{"phone":"1","nick":"\uD64D\uAE38\uB3D9","Alias":"a\"b"}])");
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].nick, QString::fromUtf16(u"홍길동"));
    EXPECT_EQ(list[0].alias, "a\"b");
}

TEST(ParseRoomObjects, TitleFallbackUnreadAndSkips) {
    const QString json = R"({"rooms":[
      {"room_name":"dm:1:2","title":"","peer_alias":"Mom","peer_nick":"Kim","peer_phone":"2",
       "peer_profile":"pic","unread_count":5},
      {"room_name":"r2","title":"","peer_alias":"","peer_nick":"Lee","unread_count":"3"},
      {"room_name":"r3","title":"Notes","unread_count":-4},
      {"room_name":"r4"},
      {"room_name":"","title":"dropped"},
      {"title":"also dropped"}
    ]})";
    const QList<RoomRecord> list = parseRoomObjects(json);
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0].room, "dm:1:2");
    EXPECT_EQ(list[0].title, "Mom");
    EXPECT_EQ(list[0].peer, "2");
    EXPECT_EQ(list[0].profilePic, "pic");
    EXPECT_EQ(list[0].unread, 5);

    EXPECT_EQ(list[1].title, "Lee");
    EXPECT_EQ(list[1].unread, 0); // quoted
    EXPECT_EQ(list[2].title, "Notes");
    EXPECT_EQ(list[2].unread, 0); // negative
    EXPECT_EQ(list[3].room, "r4");
    EXPECT_TRUE(list[3].title.isEmpty());
    EXPECT_TRUE(list[3].peer.isEmpty());
    EXPECT_EQ(list[3].unread, 0); // missing
}

TEST(ParseRoomObjects, LastMessageFields) {
    const QString json = R"([
      {"last_file_name":"","last_message":"잘 자","last_time":"2026-12-10T21:05:09+09:00",
       "room_name":"a","unread_count":1},
      {"room_name":"b","last_message":"","last_file_name":"사진.png",
       "last_time":"2026-12-09T08:00:00+09:00"},
      {"room_name":"c"}
    ])";
    const QList<RoomRecord> list = parseRoomObjects(json);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].last.text, QString::fromUtf8("잘 자"));
    EXPECT_TRUE(list[0].last.fileName.isEmpty());
    EXPECT_EQ(list[0].last.time, "2026-12-10T21:05:09+09:00");
    EXPECT_EQ(list[0].unread, 1);
    EXPECT_TRUE(list[1].last.text.isEmpty());
    EXPECT_EQ(list[1].last.fileName, QString::fromUtf8("사진.png"));
    EXPECT_TRUE(list[2].last.isEmpty());
}

// Message texts are anyone's words: one that reads like a key, or holds braces and quotes, is
// only a value, whatever order the members come in.
TEST(ParseRoomObjects, ValuesThatLookLikeKeysOrBracesStayValues) {
    struct Case {
        const char* label;
        QString json;
        QString room, title, text;
        qint64 unread;
    };
    const Case cases[] = {
        {"keyAsValue",
         R"([{"last_message":"room_name","last_time":"t","room_name":"r1","title":"T",)"
         R"("unread_count":2}])",
         "r1", "T", "room_name", 2},
        {"keyAndColonInValue",
         R"([{"last_message":"\"title\": \"가짜\"","room_name":"r1","title":"진짜"}])", "r1",
         "진짜", "\"title\": \"가짜\"", 0},
        {"bracesInValue",
         R"([{"last_message":"{\"room_name\":\"evil\"} :-{","room_name":"r1",)"
         R"("unread_count":3}])",
         "r1", "", "{\"room_name\":\"evil\"} :-{", 3},
        {"unreadAsValue", R"([{"title":"unread_count","room_name":"r1","unread_count":7}])", "r1",
         "unread_count", "", 7},
        {"escapedBackslashBeforeQuote",
         R"([{"last_message":"a\\","room_name":"r1","title":"{T}"}])", "r1", "{T}", "a\\", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const QList<RoomRecord> list = parseRoomObjects(c.json);
        ASSERT_EQ(list.size(), 1);
        EXPECT_EQ(list[0].room, c.room);
        EXPECT_EQ(list[0].title, c.title);
        EXPECT_EQ(list[0].last.text, c.text);
        EXPECT_EQ(list[0].unread, c.unread);
    }
    // An unterminated string ends the answer without a record from its remains.
    EXPECT_EQ(parseRoomObjects(R"([{"room_name":"r1"},{"room_name":"r2","title":"a)").size(), 2);
}

TEST(ParseRoomObjects, UnreadNeverReadFromTheNextObject) {
    const QList<RoomRecord> list =
        parseRoomObjects(R"([{"room_name":"a"},{"room_name":"b","unread_count":9}])");
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].unread, 0);
    EXPECT_EQ(list[1].unread, 9);
}

// A cap keeps the answer's first records and counts the rest that would have been records.
TEST(ParseListObjects, CapKeepsTheFirstAndCountsTheRest) {
    const QString rooms = R"([{"room_name":"a"},{"title":"no id"},{"room_name":"b"},)"
                          R"({"room_name":""},{"room_name":"c"},{"room_name":"d"}])";
    const QString friends = R"([{"phone":"1"},{"nick":"no phone"},{"PhoneNumber":"2"},)"
                            R"({"phone":"3"}])";
    struct Case {
        qsizetype max;
        QStringList rooms;
        qsizetype roomsBeyond;
        QStringList friends;
        qsizetype friendsBeyond;
    };
    const Case cases[] = {
        {-1, {"a", "b", "c", "d"}, 0, {"1", "2", "3"}, 0},
        {2, {"a", "b"}, 2, {"1", "2"}, 1},
        {4, {"a", "b", "c", "d"}, 0, {"1", "2", "3"}, 0},
        {0, {}, 4, {}, 3},
    };
    for (const Case& c : cases) {
        qsizetype beyond = -1;
        QStringList ids;
        for (const RoomRecord& r : parseRoomObjects(rooms, c.max, &beyond))
            ids << r.room;
        EXPECT_EQ(ids, c.rooms) << c.max;
        EXPECT_EQ(beyond, c.roomsBeyond) << c.max;
        ids.clear();
        for (const FriendRecord& f : parseFriendObjects(friends, c.max, &beyond))
            ids << f.phone;
        EXPECT_EQ(ids, c.friends) << c.max;
        EXPECT_EQ(beyond, c.friendsBeyond) << c.max;
    }
}

TEST(DirectoryPaths, ValuesAreEncodedButPlainPhonesUnchanged) {
    EXPECT_EQ(friendsListPath("01012345678"), "/v1/friends?phone=01012345678");
    EXPECT_EQ(roomsListPath("01012345678"), "/v1/rooms?phone=01012345678");
    EXPECT_EQ(friendsListPath(QString()), "/v1/friends?phone=");
    EXPECT_EQ(roomsListPath("1&phone=2#x ?"), "/v1/rooms?phone=1%26phone%3D2%23x%20%3F");
}

TEST(DirectoryBodies, TemplatesFilledWithEscapedValues) {
    EXPECT_EQ(addFriendBody("010", "011", ""),
              R"({"my_phone":"010","friend_phone":"011","alias":""})");
    EXPECT_EQ(createMemoRoomBody("010", "My \"notes\""),
              R"({"phone":"010","title":"My \"notes\"","type":"memo"})");
    EXPECT_EQ(leaveRoomBody("010", "dm:010:011"), R"({"phone":"010","room":"dm:010:011"})");
    // Placeholder-like text in one value must not leak into another.
    EXPECT_EQ(addFriendBody("%2", "%1", "%3"),
              R"({"my_phone":"%2","friend_phone":"%1","alias":"%3"})");
}

TEST(DirectoryBodies, UnicodeAndControlCharactersStayValidJson) {
    const QString title = QString::fromUtf16(u"메모\u0001\n\\");
    const QByteArray body = createMemoRoomBody("010", title);
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    ASSERT_EQ(err.error, QJsonParseError::NoError);
    EXPECT_EQ(doc.object().value("title").toString(), title);
}

} // namespace
} // namespace brindlewick
