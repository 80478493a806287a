// Notifications over D-Bus against a notification service of the test's own, on a bus of its own.

#include "desktop_notifications.h"
#include "event_loop.h"
#include "private_bus.h"

#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class Notifications : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
        ASSERT_TRUE(server.registerOn(bus.connect("service")));
        notifications = std::make_unique<DesktopNotifications>(bus.connect("client"));
        notifications->setOnActivated([this](const QString& room) { activated << room; });
    }
    bool waitForCalls(int count) {
        return waitUntil([&] { return server.calls.size() >= count; });
    }

    PrivateBus bus;
    FakeNotificationServer server;
    std::unique_ptr<DesktopNotifications> notifications;
    QStringList activated;
};

TEST_F(Notifications, CarryTheApplicationAndTheDefaultAction) {
    notifications->post("준호", "<b>안녕</b> & 반가워", "r-1");
    ASSERT_TRUE(waitForCalls(1));
    const FakeNotificationServer::Call& call = server.calls[0];
    EXPECT_EQ(call.appName, "Brindlewick");
    EXPECT_EQ(call.icon, "org.brindlewick.Brindlewick");
    EXPECT_EQ(call.hints.value("desktop-entry").toString(), "org.brindlewick.Brindlewick");
    EXPECT_EQ(call.summary, "준호");
    EXPECT_EQ(call.body, "&lt;b&gt;안녕&lt;/b&gt; &amp; 반가워");
    ASSERT_GE(call.actions.size(), 2);
    EXPECT_EQ(call.actions[0], "default");
    EXPECT_EQ(call.replaces, 0u);
}

// One notification per room: later messages replace it, other rooms get their own.
TEST_F(Notifications, ARoomReplacesItsOwnAndRoomsStack) {
    notifications->post("준호", "하나", "r-1");
    ASSERT_TRUE(waitForCalls(1));
    ASSERT_TRUE(waitUntil([&] { return notifications->idFor("r-1") != 0; }));
    notifications->post("준호", "둘", "r-1");
    notifications->post("서연", "셋", "r-2");
    ASSERT_TRUE(waitForCalls(3));
    ASSERT_TRUE(waitUntil([&] { return notifications->idFor("r-2") != 0; }));
    const uint first = server.calls[0].id;
    EXPECT_EQ(server.calls[1].replaces, first);
    EXPECT_EQ(server.calls[1].body, "둘");
    EXPECT_EQ(server.calls[2].replaces, 0u);
    EXPECT_NE(server.calls[2].id, first);
    EXPECT_EQ(notifications->idFor("r-1"), first);
}

// Messages faster than the service answers: the newest text replaces the first once its id is
// known, and nothing in between stacks up.
TEST_F(Notifications, ABurstBeforeTheReplyEndsInOneNotification) {
    for (int i = 0; i < 5; ++i)
        notifications->post("준호", QString::number(i), "r-1");
    ASSERT_TRUE(waitForCalls(2));
    // Another room's message, posted now, is the next call: nothing of the burst came between.
    notifications->post("서연", "다음", "r-2");
    ASSERT_TRUE(waitForCalls(3));
    ASSERT_EQ(server.calls.size(), 3);
    EXPECT_EQ(server.calls[0].replaces, 0u);
    EXPECT_EQ(server.calls[1].replaces, server.calls[0].id);
    EXPECT_EQ(server.calls[1].body, "4");
    EXPECT_EQ(server.calls[2].body, "다음");
}

TEST_F(Notifications, InvokingLeadsToItsRoom) {
    notifications->post("준호", "하나", "r-1");
    notifications->post("서연", "둘", "r-2");
    ASSERT_TRUE(waitUntil([&] { return notifications->idFor("r-2") != 0; }));
    server.invoke(notifications->idFor("r-2"), "default");
    ASSERT_TRUE(waitUntil([&] { return !activated.isEmpty(); }));
    EXPECT_EQ(activated, QStringList({"r-2"}));
    // Other actions, unknown ids and notifications of other programs lead nowhere.
    server.invoke(notifications->idFor("r-1"), "other");
    server.invoke(9999, "default");
    // Signals arrive in order: once this one is in, the two before it were passed over.
    server.invoke(notifications->idFor("r-2"), "default");
    ASSERT_TRUE(waitUntil([&] { return activated.size() >= 2; }));
    EXPECT_EQ(activated, QStringList({"r-2", "r-2"}));
}

// A closed notification is gone: the room's next message shows a new one.
TEST_F(Notifications, AfterCloseTheNextMessageIsNew) {
    notifications->post("준호", "하나", "r-1");
    ASSERT_TRUE(waitUntil([&] { return notifications->idFor("r-1") != 0; }));
    const uint first = notifications->idFor("r-1");
    server.close(first);
    ASSERT_TRUE(waitUntil([&] { return notifications->idFor("r-1") == 0; }));
    notifications->post("준호", "둘", "r-1");
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(server.calls[1].replaces, 0u);
    // The new one leads to the room as well.
    ASSERT_TRUE(waitUntil([&] { return notifications->idFor("r-1") != 0; }));
    server.invoke(notifications->idFor("r-1"), "default");
    ASSERT_TRUE(waitUntil([&] { return !activated.isEmpty(); }));
    EXPECT_EQ(activated, QStringList({"r-1"}));
}

// Without a service the calls fail later, never block, and the next one starts afresh.
TEST(NotificationsWithoutService, NothingBlocksOrBreaks) {
    PrivateBus bus;
    ASSERT_TRUE(bus.started());
    DesktopNotifications notifications(bus.connect("lonely"));
    for (int i = 0; i < 3; ++i)
        notifications.post("준호", "하나", "r-1");
    notifications.post("준호", "하나", "");
    spin(200);
    EXPECT_EQ(notifications.idFor("r-1"), 0u);
}

} // namespace
