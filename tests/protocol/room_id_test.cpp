#include "chat_protocol.h"

#include <gtest/gtest.h>

using brindlewick::ChatProtocol;

TEST(RoomId, DirectRoomOrdersByCharacters) {
    struct Case {
        std::string a, b, expected;
    } cases[] = {
        {"222", "111", "dm:111:222"},
        {"111", "222", "dm:111:222"},
        {"1000", "999", "dm:1000:999"}, // characters, not numbers
        {"999", "1000", "dm:1000:999"},
        {"", "555", "dm::555"},
        {"555", "555", "dm:555:555"},
        {"\xEA\xB0\x80", "z", "dm:z:\xEA\xB0\x80"}, // code point order
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChatProtocol::dmRoomForPhone(c.a, c.b), c.expected) << c.a << " / " << c.b;
}

TEST(RoomId, PeerOfDirectRoom) {
    struct Case {
        std::string room, me, expected;
    } cases[] = {
        {"dm:111:222", "222", "111"},  {"dm:111:222", "111", "222"}, {"dm:111:222", "333", ""},
        {"dm:111:222:333", "111", ""}, {"group-7", "111", ""},       {"dm:111:111", "111", "111"},
        {"dm:111", "111", ""},         {"DM:111:222", "111", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChatProtocol::peerPhoneInDmRoom(c.room, c.me), c.expected)
            << c.room << " / " << c.me;
}
