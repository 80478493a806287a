// The chats list and the window title follow arriving messages without a refresh: counts, order,
// bold rows, opening a room, and the one refresh a new room needs. The selection, the filter and
// the row a request refers to hold while rows move.

#include "chat_fixture.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"

#include <QFont>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kTime = QStringLiteral("2026-12-10T07:08:00Z");
const QString kJunho = QStringLiteral("01033334444");

class LiveLists : public ChatWindow {
protected:
    void SetUp() override {
        ChatWindow::SetUp();
        if (HasFatalFailure())
            return;
        sidebar().setMode(SidebarController::Mode::Chats);
        http.clearRequests();
    }
    SidebarController& sidebar() const { return *controller->session().sidebar; }
    QTableView* table() const { return ui().sideTable(); }
    QStringList shownTitles() const {
        QStringList titles;
        for (const SideRow& row : sidebar().rows())
            titles << row.title;
        return titles;
    }
    // Rows shown in bold, by their titles.
    QStringList boldTitles() const {
        QStringList titles;
        QAbstractItemModel* model = table()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, SidebarModel::NameColumn);
            if (index.data(Qt::FontRole).value<QFont>().bold())
                titles << index.data().toString();
        }
        return titles;
    }
    int rowOf(const QString& room) const { return sidebar().model()->rowOfRoom(room); }
    QString windowTitle() const { return controller->window()->windowTitle(); }
    QString selectedRoom() const {
        const QModelIndexList rows = table()->selectionModel()->selectedRows();
        return rows.size() == 1 ? sidebar().rows().at(rows[0].row()).room : QString();
    }
    void select(const QString& room) { table()->selectRow(rowOf(room)); }
    int roomListRequests() const {
        int n = 0;
        for (const RecordedRequest& r : http.requests())
            n += r.path == QLatin1String("/v1/rooms");
        return n;
    }
};

TEST_F(LiveLists, MessagesElsewhereCountAndComeToTheTopWithoutAsking) {
    EXPECT_EQ(shownTitles(), QStringList({"팀 [3]", "01033334444", "r-3"}));
    EXPECT_EQ(boldTitles(), QStringList({"팀 [3]"}));
    EXPECT_EQ(windowTitle(), "Brindlewick (3)");

    struct Step {
        quint8 type;
        QStringList fields;
        QStringList titles;
        QString windowTitle;
    };
    const QString me = QString::fromLatin1(kMyPhone);
    const Step steps[] = {
        {MessageType::Chat,
         {"r-3", "준호", "하나", kTime, "7", kJunho},
         {"r-3 [1]", "팀 [3]", "01033334444"},
         "Brindlewick (4)"},
        {MessageType::FileMeta,
         {"r-2", "준호", "f1", "보고서.pdf", "10", kTime, "8", kJunho},
         {"01033334444 [1]", "r-3 [1]", "팀 [3]"},
         "Brindlewick (5)"},
        // Sent from another desktop of the user's: the room comes up, nothing counts.
        {MessageType::Chat,
         {"r-1", "다른 별명", "내 글", kTime, "9", me},
         {"팀 [3]", "01033334444 [1]", "r-3 [1]"},
         "Brindlewick (5)"},
        {MessageType::FileMeta,
         {"r-3", "민지", "f2", "x", "1", kTime, "10"},
         {"r-3 [1]", "팀 [3]", "01033334444 [1]"},
         "Brindlewick (5)"},
        {MessageType::Chat,
         {"r-3", "준호", "둘", kTime, "11", kJunho},
         {"r-3 [2]", "팀 [3]", "01033334444 [1]"},
         "Brindlewick (6)"},
    };
    for (const Step& step : steps) {
        receive(step.type, step.fields);
        EXPECT_EQ(shownTitles(), step.titles) << step.fields.join(' ').toStdString();
        QStringList counted;
        for (const QString& title : step.titles)
            if (title.endsWith(QLatin1Char(']')))
                counted << title;
        EXPECT_EQ(boldTitles(), counted);
        EXPECT_EQ(windowTitle(), step.windowTitle);
    }
    EXPECT_EQ(status(), "새 메시지 · 준호: 둘");
    settle();
    EXPECT_TRUE(http.requests().empty());
    // What a refresh would say about the order holds meanwhile.
    EXPECT_EQ(controller->session().directory->rooms().at(0).room, "r-3");
}

TEST_F(LiveLists, OpeningARoomClearsItsCountAndMarksItsNewestMessageRead) {
    receive(MessageType::Chat, {"r-3", "준호", "하나", kTime, "7", kJunho});
    receive(MessageType::Chat, {"r-3", "준호", "둘", kTime, "8", kJunho});
    ASSERT_EQ(shownTitles(), QStringList({"r-3 [2]", "팀 [3]", "01033334444"}));
    ASSERT_EQ(windowTitle(), "Brindlewick (5)");

    sidebar().activateRow(rowOf("r-3"));
    EXPECT_EQ(controller->openRoomId(), "r-3");
    EXPECT_EQ(shownTitles(), QStringList({"r-3", "팀 [3]", "01033334444"}));
    EXPECT_EQ(boldTitles(), QStringList({"팀 [3]"}));
    EXPECT_EQ(windowTitle(), "Brindlewick (3)");
    ASSERT_TRUE(chat.waitForFrames(2)); // the read mark and the join
    EXPECT_EQ(sent(12), QList<QStringList>({{"r-3", "8"}}));

    // Messages of the open room count for nobody; the room stays on top.
    receive(MessageType::Chat, {"r-3", "준호", "셋", kTime, "9", kJunho});
    EXPECT_EQ(shownTitles(), QStringList({"r-3", "팀 [3]", "01033334444"}));
    EXPECT_EQ(windowTitle(), "Brindlewick (3)");

    // A count only the server knew goes at once too; the server learns it from read marks.
    sidebar().activateRow(rowOf("r-1"));
    EXPECT_EQ(shownTitles(), QStringList({"r-3", "팀", "01033334444"}));
    EXPECT_TRUE(boldTitles().isEmpty());
    EXPECT_EQ(windowTitle(), "Brindlewick");
    settle();
    EXPECT_TRUE(http.requests().empty());
}

TEST_F(LiveLists, SelectionFilterAndTheClickedRowHoldWhileRowsMove) {
    select("r-1");
    receive(MessageType::Chat, {"r-3", "준호", "하나", kTime, "7", kJunho});
    ASSERT_EQ(rowOf("r-3"), 0);
    EXPECT_EQ(selectedRoom(), "r-1");

    // A refresh puts the server's order back; the selection stays on its room.
    named<QPushButton>("refreshButton")->click();
    ASSERT_TRUE(waitUntil([&] { return rowOf("r-3") == 2; }));
    EXPECT_EQ(selectedRoom(), "r-1");
    // Return opens the selected room where it is now.
    QTest::keyClick(table(), Qt::Key_Return);
    EXPECT_EQ(controller->openRoomId(), "r-1");

    // A filtered list shows what it showed; the counts are there once the filter goes.
    ui().searchField()->setText(QStringLiteral("팀"));
    receive(MessageType::Chat, {"r-3", "준호", "둘", kTime, "8", kJunho});
    receive(MessageType::Chat, {"r-1", "준호", "셋", kTime, "9", kJunho});
    EXPECT_EQ(shownTitles(), QStringList({"팀"})); // r-1 is open: nothing counts
    receive(MessageType::Chat, {"r-2", "준호", "넷", kTime, "10", kJunho});
    EXPECT_EQ(shownTitles(), QStringList({"팀"}));
    ui().searchField()->clear();
    EXPECT_EQ(shownTitles(), QStringList({"01033334444 [1]", "팀", "r-3 [1]"}));

    // The leave confirmation is up while a message moves another room onto the clicked row.
    const int clicked = rowOf("r-3");
    platform.duringAlert = [&] {
        receive(MessageType::Chat, {"r-3", "준호", "다섯", kTime, "11", kJunho});
        receive(MessageType::Chat, {"r-2", "준호", "여섯", kTime, "12", kJunho});
        ASSERT_NE(rowOf("r-3"), clicked);
    };
    sidebar().actOnRow(clicked, SidebarController::RowAction::Leave);
    ASSERT_EQ(platform.alerts.size(), 1);
    EXPECT_EQ(platform.alerts[0].message, "'r-3 [1]' 방을 나가시겠습니까?");
    ASSERT_TRUE(waitUntil([&] {
        for (const RecordedRequest& r : http.requests())
            if (r.path == "/v1/rooms/leave")
                return true;
        return false;
    }));
    for (const RecordedRequest& r : http.requests()) {
        if (r.path == "/v1/rooms/leave") {
            EXPECT_TRUE(r.body.contains("\"r-3\"")) << r.body.toStdString();
        }
    }
}

TEST_F(LiveLists, MessagesForANewRoomFetchTheListsOnce) {
    http.setReply("GET", "/v1/rooms",
                  {200,
                   R"([{"room_name":"dm:01011112222:01099990000","peer_phone":"01099990000",)"
                   R"("unread_count":2},{"room_name":"r-1","title":"팀","unread_count":3},)"
                   R"({"room_name":"r-2","peer_phone":"01033334444"},{"room_name":"r-3"}])",
                   std::nullopt});
    const QString room = QStringLiteral("dm:01011112222:01099990000");
    receive(MessageType::Chat, {room, "지수", "처음 인사", kTime, "1", "01099990000"});
    receive(MessageType::Chat, {room, "지수", "두 번째", kTime, "2", "01099990000"});
    EXPECT_EQ(status(), "새 메시지 · 지수: 두 번째");
    ASSERT_TRUE(waitUntil([&] { return rowOf(room) == 0; }));
    settle();
    EXPECT_EQ(roomListRequests(), 1);
    EXPECT_EQ(shownTitles(), QStringList({"01099990000 [2]", "팀 [3]", "01033334444", "r-3"}));
    EXPECT_EQ(windowTitle(), "Brindlewick (5)");
    // The lists came for the message: its line stays.
    EXPECT_EQ(status(), "새 메시지 · 지수: 두 번째");

    // Known now: the next one counts here.
    receive(MessageType::Chat, {room, "지수", "세 번째", kTime, "3", "01099990000"});
    settle();
    EXPECT_EQ(roomListRequests(), 1);
    EXPECT_EQ(shownTitles().at(0), "01099990000 [3]");
}

} // namespace
