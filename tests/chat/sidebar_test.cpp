// The sidebar as the window shows it: rows from the fetched lists, modes, filter, cells and
// opening a conversation.

#include "chat_fixture.h"
#include "segmented_control.h"
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
        QAbstractItemModel* model = controller->sideTable->model();
        for (int row = 0; row < model->rowCount(); ++row)
            titles << model->index(row, SidebarModel::NameColumn).data().toString();
        return titles;
    }
    void chooseList(int segment) {
        controller->sideSeg->findChildren<QPushButton*>()[segment]->click();
    }
    void doubleClickRow(int row) {
        QTableView* table = controller->sideTable;
        const QRect cell = table->visualRect(table->model()->index(row, SidebarModel::NameColumn));
        // The view acts on a double click only over the row the first click pressed.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    }
};

TEST_F(Sidebar, RowsFromTheListsInBothModes) {
    EXPECT_EQ(shownTitles(), QStringList({"준호  (바빠요)", "연", "01077778888"}));
    chooseList(1);
    EXPECT_EQ(controller->sideMode, 1);
    EXPECT_EQ(shownTitles(), QStringList({"팀 [3]", "01033334444", "r-3"}));
    EXPECT_EQ(controller->numberOfRowsInTableView(), 3);

    QTableView* table = controller->sideTable;
    EXPECT_EQ(table->columnWidth(0), 24);
    EXPECT_EQ(table->columnWidth(1), 190);
    EXPECT_EQ(table->verticalHeader()->defaultSectionSize(), 26);
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
        controller->searchField->setText(QString::fromUtf8(c.filter));
        EXPECT_EQ(shownTitles(), c.titles) << c.filter;
    }
    // The filter stays when the list changes.
    controller->searchField->setText(QStringLiteral("0103333"));
    chooseList(1);
    EXPECT_EQ(shownTitles(), QStringList({"01033334444"}));
    chooseList(0);
    EXPECT_EQ(shownTitles(), QStringList({"준호  (바빠요)"}));
}

TEST_F(Sidebar, CellValuesAndRowsOutOfRange) {
    EXPECT_EQ(controller->tableViewObjectValue("name", 0).toString(), "준호  (바빠요)");
    EXPECT_FALSE(controller->tableViewObjectValue("icon", 0).isNull());
    for (int row : {-1, 3, 1000}) {
        EXPECT_FALSE(controller->tableViewObjectValue("name", row).isValid()) << row;
        EXPECT_FALSE(controller->tableViewObjectValue("icon", row).isValid()) << row;
        EXPECT_FALSE(controller->sideRowAt(row)) << row;
    }
    // Below the last row: nothing opens.
    controller->sideClickedRow = 3;
    controller->sideDoubleClick();
    controller->sideClickedRow = -1;
    controller->sideMenuOpen();
    settle();
    EXPECT_TRUE(sent(3).isEmpty());
    EXPECT_TRUE(controller->currentRoom.isEmpty());
}

TEST_F(Sidebar, DoubleClickOpensTheConversation) {
    doubleClickRow(0);
    EXPECT_EQ(controller->currentRoom, "dm:01011112222:01033334444");
    EXPECT_EQ(controller->roomLabel->text(), "준호  (dm:01011112222:01033334444)");

    // A room row passes its shown title, unread suffix included.
    chooseList(1);
    doubleClickRow(0);
    EXPECT_EQ(controller->currentRoom, "r-1");
    EXPECT_EQ(controller->roomLabel->text(), "팀 [3]  (r-1)");

    // "대화 열기" opens the right-clicked row.
    controller->sideClickedRow = 2;
    controller->sideMenuOpen();
    EXPECT_EQ(controller->currentRoom, "r-3");
    ASSERT_TRUE(chat.waitForFrames(5));
    EXPECT_EQ(sent(3), QList<QStringList>({{"dm:01011112222:01033334444"}, {"r-1"}, {"r-3"}}));
}

TEST_F(Sidebar, FailedListsEmptyTheSidebar) {
    http.setReply("GET", "/v1/rooms", {500, "", std::nullopt});
    chooseList(1);
    controller->refreshLists();
    EXPECT_EQ(status(), "친구 3 · 채팅 0");
    EXPECT_TRUE(shownTitles().isEmpty());
    chooseList(0);
    EXPECT_EQ(shownTitles().size(), 3);
}

} // namespace
