// The chats list against the real server: counts written while the user was away, messages for
// rooms not in view, opening a room (and the server's count after it), and a stranger's first
// message, with the window title throughout.

#include "chat_events.h"
#include "chat_protocol.h"
#include "client_under_test.h"
#include "directory_actions.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_platform.h"
#include "main_window.h"
#include "room_history.h"
#include "room_session.h"
#include "server_harness.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"

#include <QDir>
#include <QFont>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const std::string kA = "01000000011";
const std::string kB = "01000000012";
const std::string kC = "01000000013";

// A sender without a window: what it writes is committed once its own copy comes back.
struct Writer {
    Writer(std::uint16_t port, const std::string& phone, const std::string& nick)
        : connection(port), phone(phone) {
        EXPECT_TRUE(connection.signIn(phone, nick));
    }
    std::string room(const std::string& other) const {
        return ChatProtocol::dmRoomForPhone(phone, other);
    }
    bool write(const std::string& room, const std::string& text) {
        connection.send(wire::ChatRequest{room, text, ""});
        const auto echo = connection.nextMessage<wire::ChatMessage>();
        return echo && echo->text == text;
    }
    ChatConnection connection;
    std::string phone;
};

class LiveListsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir_ = makeTempDir();
        server_ = std::make_unique<ServerProcess>(dataDir_);
        ASSERT_TRUE(server_->running());
        config_.chatPort = server_->chatPort;
        config_.httpPort = server_->httpPort;
    }
    void TearDown() override {
        controller_.reset();
        server_.reset();
        QDir(QString::fromStdString(dataDir_)).removeRecursively();
    }

    void signInB() {
        controller_ = std::make_unique<ClientUnderTest>(
            QString::fromStdString(kB), QStringLiteral("비"), QString(), config_, platform_);
        controller_->showMain();
        controller_->showSidebar(SidebarController::Mode::Chats);
        // Signed in: the lists asked for then are on their way, after those asked for at start.
        ASSERT_TRUE(controller_->waitSignedIn());
    }
    Directory& directory() const { return *controller_->session().directory; }
    // The chats list as shown: titles, with "*" after bold ones.
    QStringList shown() const {
        QStringList out;
        const QAbstractItemModel* model = controller_->session().sidebar->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, SidebarModel::NameColumn);
            out << index.data().toString() +
                       (index.data(Qt::FontRole).value<QFont>().bold() ? "*" : "");
        }
        return out;
    }
    QString title() const { return controller_->window()->windowTitle(); }
    bool idle() const {
        return waitUntil([&] { return !directory().refreshing(); });
    }
    // "↻" and its answer.
    bool refresh() {
        if (!idle())
            return false;
        QSignalSpy listed(&directory(), &Directory::listsChanged);
        controller_->window()->findChild<QPushButton*>(QStringLiteral("refreshButton"))->click();
        return waitUntil([&] { return listed.count() > 0; });
    }

    std::string dataDir_;
    std::unique_ptr<ServerProcess> server_;
    ServerConfig config_;
    FakePlatform platform_;
    std::unique_ptr<ClientUnderTest> controller_;
};

TEST_F(LiveListsEndToEnd, TheChatsListFollowsTheConversation) {
    // B is known to the server, then signs out.
    { Writer once(server_->chatPort, kB, "비"); }
    Writer a(server_->chatPort, kA, "에이");
    const std::string withA = a.room(kB);
    for (const char* text : {"하나", "둘", "셋"})
        ASSERT_TRUE(a.write(withA, text));

    // Signing in shows what waited, without anyone pressing "↻".
    signInB();
    ASSERT_TRUE(waitUntil([&] { return shown() == QStringList({"에이 [3]*"}); }))
        << shown().join(", ").toStdString();
    EXPECT_EQ(title(), "Brindlewick (3)");

    // B has its memo room open when A writes again.
    controller_->session().directoryActions->createMemoRoom();
    ASSERT_TRUE(waitUntil([&] { return controller_->session().room->title() == "나의 메모"; }));
    ASSERT_TRUE(idle());
    ASSERT_EQ(shown(), QStringList({"나의 메모", "에이 [3]*"}));
    ASSERT_TRUE(a.write(withA, "넷"));
    ASSERT_TRUE(waitUntil([&] {
        return shown() == QStringList({"에이 [4]*", "나의 메모"});
    })) << shown().join(", ").toStdString();
    EXPECT_EQ(title(), "Brindlewick (4)");
    EXPECT_FALSE(directory().refreshing());

    // Opening it clears the count here at once, and at the server.
    controller_->session().sidebar->activateRow(0);
    ASSERT_EQ(controller_->openRoomId(), QString::fromStdString(withA));
    EXPECT_EQ(shown(), QStringList({"에이", "나의 메모"}));
    EXPECT_EQ(title(), "Brindlewick");
    // The read mark goes on the chat connection, the lists come over HTTP: asked again until the
    // server has the mark.
    ASSERT_TRUE(waitUntil([&] { return refresh() && directory().unreadTotal() == 0; }));
    EXPECT_EQ(shown(), QStringList({"에이", "나의 메모"}));
    EXPECT_EQ(directory().unreadTotal(), 0);
    EXPECT_EQ(title(), "Brindlewick");

    // A stranger's first messages: one refresh brings the room, with the server's count.
    ASSERT_TRUE(idle());
    QSignalSpy listed(&directory(), &Directory::listsChanged);
    Writer c(server_->chatPort, kC, "씨");
    for (const char* text : {"처음 뵙겠습니다", "비 님 맞으시죠?", "연락 주세요"})
        c.connection.send(wire::ChatRequest{c.room(kB), text, ""});
    ASSERT_TRUE(waitUntil([&] { return shown().value(0) == "씨 [3]*"; }))
        << shown().join(", ").toStdString();
    ASSERT_TRUE(waitUntil([&] { return listed.count() > 0 && !directory().refreshing(); }));
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(shown(), QStringList({"씨 [3]*", "에이", "나의 메모"}));
    EXPECT_EQ(title(), "Brindlewick (3)");
    EXPECT_EQ(controller_->statusText(), "새 메시지 · 씨: 연락 주세요");
}

// Each row shows its room's last message and time, from the server's list and live after it.
TEST_F(LiveListsEndToEnd, RowsShowTheLastMessageAndItsTime) {
    { Writer once(server_->chatPort, kB, "비"); }
    Writer a(server_->chatPort, kA, "에이");
    const std::string withA = a.room(kB);
    ASSERT_TRUE(a.write(withA, "하나"));
    // Braces and a key's name are only text, on the server's list as live.
    ASSERT_TRUE(a.write(withA, "{\"room_name\":\"가짜\"}\n둘째 줄"));

    signInB();
    const auto cell = [&](int role) {
        return controller_->session()
            .sidebar->model()
            ->index(0, SidebarModel::NameColumn)
            .data(role);
    };
    ASSERT_TRUE(waitUntil([&] { return shown() == QStringList({"에이 [2]*"}); }))
        << shown().join(", ").toStdString();
    EXPECT_EQ(cell(SidebarModel::SecondLineRole).toString(), "{\"room_name\":\"가짜\"} 둘째 줄");
    // Written a moment ago: today's clock (or the date, should midnight have passed meanwhile).
    const QRegularExpression shownTime(QStringLiteral("^(\\d\\d:\\d\\d|\\d+월 \\d+일)$"));
    EXPECT_TRUE(shownTime.match(cell(SidebarModel::TimeRole).toString()).hasMatch())
        << cell(SidebarModel::TimeRole).toString().toStdString();
    EXPECT_EQ(cell(SidebarModel::UnreadRole).toLongLong(), 2);
    const QString spoken = cell(Qt::AccessibleTextRole).toString();
    EXPECT_TRUE(spoken.startsWith("에이, {\"room_name\":\"가짜\"} 둘째 줄, "))
        << spoken.toStdString();
    EXPECT_TRUE(spoken.endsWith(", 안 읽은 메시지 2개")) << spoken.toStdString();

    // A message that arrives changes the row at once, without asking the server.
    ASSERT_TRUE(idle());
    QSignalSpy listed(&directory(), &Directory::listsChanged);
    ASSERT_TRUE(a.write(withA, "셋"));
    ASSERT_TRUE(waitUntil([&] { return cell(SidebarModel::SecondLineRole).toString() == "셋"; }));
    EXPECT_EQ(cell(SidebarModel::UnreadRole).toLongLong(), 3);
    EXPECT_EQ(listed.count(), 0);
    // The server's list says the same.
    ASSERT_TRUE(refresh());
    EXPECT_EQ(cell(SidebarModel::SecondLineRole).toString(), "셋");
    EXPECT_EQ(shown(), QStringList({"에이 [3]*"}));
}

// The room remembered from the last run opens before the lists come; it is read all the same.
TEST_F(LiveListsEndToEnd, TheRoomReopenedAtStartCountsAsRead) {
    { Writer once(server_->chatPort, kB, "비"); }
    Writer a(server_->chatPort, kA, "에이");
    const std::string withA = a.room(kB);
    for (const char* text : {"하나", "둘", "셋"})
        ASSERT_TRUE(a.write(withA, text));

    controller_ = std::make_unique<ClientUnderTest>(
        QString::fromStdString(kB), QStringLiteral("비"), QString(), config_, platform_);
    QSignalSpy listed(&directory(), &Directory::listsChanged);
    QSignalSpy pages(controller_->session().history.get(), &RoomHistory::pageArrived);
    controller_->showMain();
    controller_->openRoom(QString::fromStdString(withA), QStringLiteral("에이"));
    controller_->showSidebar(SidebarController::Mode::Chats);
    ASSERT_TRUE(waitUntil([&] { return listed.count() > 0; }));
    EXPECT_EQ(shown(), QStringList({"에이"}));
    EXPECT_EQ(title(), "Brindlewick");
    EXPECT_EQ(directory().unreadTotal(), 0);
    // The server learns it from the room's first page, and its lists agree once it has.
    ASSERT_TRUE(waitUntil([&] { return pages.count() > 0; }));
    controller_->closeRoom();
    EXPECT_TRUE(waitUntil([&] { return refresh() && shown() == QStringList({"에이"}); }))
        << shown().join(", ").toStdString();
}

} // namespace
