#include "chat_notifier.h"
#include "client_under_test.h"
#include "fake_platform.h"
#include "incoming_events.h"
#include "room_session.h"

#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

struct DecisionCase {
    const char* name;
    bool active;
    QString room;
    QString currentRoom;
    bool notify;
};

class NotifyDecision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(NotifyDecision, Table) {
    const DecisionCase& c = GetParam();
    FakePlatform platform;
    platform.active = c.active;
    EXPECT_EQ(ChatNotifier::shouldNotifyForRoom(platform, c.room, c.currentRoom), c.notify);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NotifyDecision,
    ::testing::Values(DecisionCase{"active_open_room", true, "r1", "r1", false},
                      DecisionCase{"active_other_room", true, "r2", "r1", true},
                      DecisionCase{"active_no_room_open", true, "r1", QString(), true},
                      DecisionCase{"active_empty_open_room", true, "r1", "", true},
                      DecisionCase{"active_absent_message_room", true, QString(), "r1", true},
                      DecisionCase{"background_open_room", false, "r1", "r1", true},
                      DecisionCase{"background_other_room", false, "r2", "r1", true},
                      DecisionCase{"room_ids_compare_exactly", true, "R1", "r1", true}),
    [](const ::testing::TestParamInfo<DecisionCase>& info) {
        return std::string(info.param.name);
    });

TEST(NotifyDelivery, BeepsThenAsksForAttentionThenNotifies) {
    FakePlatform platform;
    ChatNotifier::notifyTitle(platform, QStringLiteral("민지"), QStringLiteral("안녕"));
    EXPECT_EQ(platform.calls, QStringList({"beep", "attention", "notify"}));
    ASSERT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(platform.notifications[0].title, "민지");
    EXPECT_EQ(platform.notifications[0].body, "안녕");
}

TEST(NotifyDelivery, MissingTitleAndBodyFallBack) {
    FakePlatform platform;
    ChatNotifier::notifyTitle(platform, QString(), QString());
    ASSERT_EQ(platform.notifications.size(), 1);
    EXPECT_EQ(platform.notifications[0].title, "Brindlewick");
    EXPECT_EQ(platform.notifications[0].body, "");
    EXPECT_FALSE(platform.notifications[0].body.isNull());
}

// Long messages are cut for the notification, never in half a character.
TEST(NotifyDelivery, LongBodiesAreCut) {
    const QString emoji = QStringLiteral("😀"); // two UTF-16 units
    struct Case {
        const char* name;
        QString body;
        QString shown;
    };
    const Case cases[] = {
        {"short", "안녕", "안녕"},
        {"exactly the limit", QString(200, u'가'), QString(200, u'가')},
        {"one over", QString(201, u'가'), QString(199, u'가') + "…"},
        {"far over", QString(5000, u'a'), QString(199, u'a') + "…"},
        {"pair across the cut", QString(198, u'a') + emoji + "bbb", QString(198, u'a') + "…"},
        {"pair before the cut", QString(197, u'a') + emoji + "bbb",
         QString(197, u'a') + emoji + "…"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        ChatNotifier::notifyTitle(platform, "민지", c.body);
        ASSERT_EQ(platform.notifications.size(), 1);
        EXPECT_EQ(platform.notifications[0].body, c.shown);
        EXPECT_LE(platform.notifications[0].body.size(), ChatNotifier::kMaxBodyLength);
    }
}

// The desktop reads the body as markup; another user's text must arrive as text.
TEST(NotifyDelivery, BodyMarkupEscapesOtherPeoplesText) {
    const std::pair<QString, QString> cases[] = {
        {"안녕", "안녕"},
        {"<b>굵게</b>", "&lt;b&gt;굵게&lt;/b&gt;"},
        {"<a href=\"https://x.example\">링크</a>",
         "&lt;a href=\"https://x.example\"&gt;링크&lt;/a&gt;"},
        {"<img src=\"file:///etc/passwd\"/>", "&lt;img src=\"file:///etc/passwd\"/&gt;"},
        {"a & b", "a &amp; b"},
        // Already written as an entity: shown as typed, not decoded.
        {"&amp; &lt;", "&amp;amp; &amp;lt;"},
        {"", ""},
    };
    for (const auto& [plain, markup] : cases) {
        SCOPED_TRACE(plain.toStdString());
        EXPECT_EQ(ChatNotifier::bodyMarkup(plain), markup);
    }
}

struct GateCase {
    const char* name;
    bool active;
    QString currentRoom;
    QString room;
    QString sender;
    bool notified;
};

class NotifyGate : public ::testing::TestWithParam<GateCase> {};

// The controller's gate: the user's own messages never notify; others follow the decision.
TEST_P(NotifyGate, Table) {
    const GateCase& c = GetParam();
    FakePlatform platform;
    platform.active = c.active;
    ServerConfig config;
    ClientUnderTest controller(QStringLiteral("01011112222"), QStringLiteral("민지"),
                               QStringLiteral(""), config, platform);
    controller.openRoom(c.currentRoom, QStringLiteral("팀"));
    ASSERT_EQ(controller.openRoomId(), c.currentRoom);
    controller.session().incoming->maybeNotify(c.room, c.sender, QStringLiteral("[파일] a.txt"));
    if (c.notified) {
        EXPECT_EQ(platform.calls, QStringList({"beep", "attention", "notify"}));
        ASSERT_EQ(platform.notifications.size(), 1);
        EXPECT_EQ(platform.notifications[0].title, c.sender);
        EXPECT_EQ(platform.notifications[0].body, "[파일] a.txt");
    } else {
        EXPECT_TRUE(platform.calls.isEmpty()) << platform.calls.join(',').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NotifyGate,
    ::testing::Values(GateCase{"other_user_open_room_active", true, "r1", "r1", "준호", false},
                      GateCase{"other_user_other_room_active", true, "r1", "r2", "준호", true},
                      GateCase{"other_user_open_room_background", false, "r1", "r1", "준호", true},
                      GateCase{"other_user_no_room_open", true, QString(), "r1", "준호", true},
                      GateCase{"own_nick_other_room", true, "r1", "r2", "민지", false},
                      GateCase{"own_phone_background", false, QString(), "r2", "01011112222",
                               false},
                      GateCase{"nick_differs_in_case", true, "r1", "r2", "민지 ", true}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return std::string(info.param.name); });

} // namespace
