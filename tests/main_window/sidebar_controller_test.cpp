// The sidebar as the window shows it: rows from the fetched lists, modes, filter, cells and
// opening a conversation.

#include "chat_fixture.h"
#include "segmented_control.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class Sidebar : public ChatWindow {
protected:
    QStringList shownTitles() const {
        QStringList titles;
        QAbstractItemModel* model = table()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            titles << model->index(row, SidebarModel::NameColumn).data().toString();
        return titles;
    }
    void chooseList(int segment) {
        ui().sideSegments()->findChildren<QPushButton*>()[segment]->click();
    }
    QTableView* table() const { return ui().sideTable(); }
    SidebarController& sidebar() const { return *controller->session().sidebar; }
    // What a cell shows; invalid for rows out of range.
    QVariant cell(int row, int column, int role = Qt::DisplayRole) const {
        const QAbstractItemModel* model = table()->model();
        return model->data(model->index(row, column), role);
    }
    void doubleClickRow(int row) {
        QTableView* table = this->table();
        const QRect cell = table->visualRect(table->model()->index(row, SidebarModel::NameColumn));
        // The view acts on a double click only over the row the first click pressed.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    }
};

TEST_F(Sidebar, RowsFromTheListsInBothModes) {
    EXPECT_EQ(shownTitles(), QStringList({"준호  (바빠요)", "연", "01077778888"}));
    chooseList(1);
    EXPECT_EQ(sidebar().mode(), SidebarController::Mode::Chats);
    EXPECT_EQ(shownTitles(), QStringList({"팀 [3]", "01033334444", "r-3"}));
    EXPECT_EQ(sidebar().rows().size(), 3);
    EXPECT_EQ(table()->model()->rowCount(), 3);

    QTableView* table = this->table();
    EXPECT_EQ(table->columnWidth(0), 40);
    EXPECT_EQ(table->columnWidth(1), 180);
    EXPECT_EQ(table->verticalHeader()->defaultSectionSize(), 44); // name, then last message
    EXPECT_FALSE(table->horizontalHeader()->isVisible());
    // No picture ids here: every icon is the placeholder, and nothing is fetched for it.
    http.clearRequests();
    const QVariant icon =
        table->model()->index(0, SidebarModel::IconColumn).data(Qt::DecorationRole);
    EXPECT_FALSE(icon.value<QPixmap>().isNull());
    EXPECT_TRUE(http.requests().empty());
}

TEST_F(Sidebar, FilterIgnoresCaseAndSurvivesSwitchingLists) {
    struct Case {
        const char* filter;
        int mode;
        QStringList titles;
    };
    const Case cases[] = {
        {"", 0, {"준호  (바빠요)", "연", "01077778888"}},
        {" \n\t ", 0, {"준호  (바빠요)", "연", "01077778888"}},
        {"연", 0, {"연"}},
        {"바빠요", 0, {}},                           // the status message is not searched
        {"0107777", 0, {"01077778888"}},             // by phone
        {"R-", 1, {"팀 [3]", "01033334444", "r-3"}}, // room ids, any case
        {"팀", 1, {"팀 [3]"}},
        {"[3]", 1, {}}, // the unread suffix is not part of the name
    };
    for (const Case& c : cases) {
        chooseList(c.mode);
        ui().searchField()->setText(QString::fromUtf8(c.filter));
        EXPECT_EQ(shownTitles(), c.titles) << c.filter;
    }
    // The filter stays when the list changes.
    ui().searchField()->setText(QStringLiteral("0103333"));
    chooseList(1);
    EXPECT_EQ(shownTitles(), QStringList({"01033334444"}));
    chooseList(0);
    EXPECT_EQ(shownTitles(), QStringList({"준호  (바빠요)"}));
}

TEST_F(Sidebar, CellValuesAndRowsOutOfRange) {
    EXPECT_EQ(cell(0, SidebarModel::NameColumn).toString(), "준호  (바빠요)");
    EXPECT_FALSE(cell(0, SidebarModel::IconColumn, Qt::DecorationRole).isNull());
    for (int row : {-1, 3, 1000}) {
        EXPECT_FALSE(cell(row, SidebarModel::NameColumn).isValid()) << row;
        EXPECT_FALSE(cell(row, SidebarModel::IconColumn, Qt::DecorationRole).isValid()) << row;
        EXPECT_FALSE(sidebar().model()->rowAt(row)) << row;
    }
    // Below the last row, or with no row under the menu: nothing opens.
    sidebar().activateRow(3);
    sidebar().actOnRow(-1, SidebarController::RowAction::Open);
    settle();
    EXPECT_TRUE(sent(3).isEmpty());
    EXPECT_FALSE(controller->session().room->isOpen());
}

TEST_F(Sidebar, DoubleClickOpensTheConversation) {
    doubleClickRow(0);
    EXPECT_EQ(controller->openRoomId(), "dm:01011112222:01033334444");
    EXPECT_EQ(ui().headerText(), "준호");

    // A room row passes its name: the sidebar's unread suffix is no part of the header.
    chooseList(1);
    doubleClickRow(0);
    EXPECT_EQ(controller->openRoomId(), "r-1");
    EXPECT_EQ(ui().headerText(), "팀");

    // "대화 열기" opens the right-clicked row.
    sidebar().actOnRow(2, SidebarController::RowAction::Open);
    EXPECT_EQ(controller->openRoomId(), "r-3");
    EXPECT_EQ(ui().headerText(), "대화방"); // a room without a name is still not its id
    ASSERT_TRUE(chat.waitForFrames(5));
    EXPECT_EQ(sent(3), QList<QStringList>({{"dm:01011112222:01033334444"}, {"r-1"}, {"r-3"}}));
}

TEST_F(Sidebar, AFailedListKeepsItsRows) {
    http.setReply("GET", "/v1/rooms", {500, "", std::nullopt});
    chooseList(1);
    const QStringList rooms = shownTitles();
    ASSERT_FALSE(rooms.isEmpty());
    named<QPushButton>("refreshButton")->click();
    ASSERT_TRUE(waitUntil([&] { return status() == "목록을 불러오지 못했습니다: HTTP 500 "; }));
    EXPECT_EQ(shownTitles(), rooms);
    chooseList(0);
    EXPECT_EQ(shownTitles().size(), 3);
}

} // namespace
