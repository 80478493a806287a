// The main window from the keyboard.

#include "client_under_test.h"
#include "directory_actions.h"
#include "main_window.h"
#include "profile_window.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "signed_in_window.h"
#include "transcript_view.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class WindowKeys : public ::testing::Test, protected SignedInWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(start(R"([{"phone":"01033334444","nick":"준호"}])"));
        QApplication::setActiveWindow(controller->window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    }
    template <typename T> T* widget(const char* name) const {
        return controller->window()->findChild<T*>(QString::fromLatin1(name));
    }
    MainWindow& ui() const { return *controller->session().window; }
};

TEST_F(WindowKeys, TabLeavesTheComposerAndTheList) {
    controller->openRoom("r-1", "팀");
    QPlainTextEdit* composer = ui().composer();
    composer->setFocus();
    ASSERT_TRUE(waitUntil([&] { return composer->hasFocus(); }));
    QTest::keyClick(composer, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(composer->toPlainText(), "");
    EXPECT_TRUE(composer->hasFocus());
    QTest::keyClick(composer, Qt::Key_Tab);
    EXPECT_FALSE(composer->hasFocus());
    EXPECT_EQ(composer->toPlainText(), "");

    QTableView* table = ui().sideTable();
    table->setFocus();
    ASSERT_TRUE(waitUntil([&] { return table->hasFocus(); }));
    QTest::keyClick(table, Qt::Key_Tab);
    EXPECT_FALSE(table->hasFocus());
}

TEST_F(WindowKeys, ReturnOnARowOpensItsConversation) {
    const struct { Qt::Key key; } keys[] = {{Qt::Key_Return}, {Qt::Key_Enter}};
    for (const auto& k : keys) {
        controller->closeRoom();
        QTableView* table = ui().sideTable();
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, 1));
        QTest::keyClick(table, k.key);
        EXPECT_EQ(controller->openRoomId(), "dm:01011112222:01033334444") << k.key;
    }
    // Without a current row nothing opens.
    controller->closeRoom();
    ui().sideTable()->setCurrentIndex(QModelIndex());
    QTest::keyClick(ui().sideTable(), Qt::Key_Return);
    EXPECT_FALSE(controller->session().room->isOpen());
}

TEST_F(WindowKeys, EscapeClosesTheFindBarAndTheProfile) {
    ui().openFindBar();
    auto* find = widget<QLineEdit>("findSearchField");
    ASSERT_TRUE(waitUntil([&] { return find->hasFocus(); }));
    QTest::keyClick(find, Qt::Key_Escape);
    EXPECT_FALSE(widget<QWidget>("findBar")->isVisible());

    controller->actOnSidebarRow(0, SidebarController::RowAction::ViewProfile);
    ProfileWindow* profile = controller->session().directoryActions->profileWindow();
    ASSERT_NE(profile, nullptr);
    QApplication::setActiveWindow(profile);
    ASSERT_TRUE(QTest::qWaitForWindowActive(profile));
    QTest::keyClick(profile, Qt::Key_Escape);
    EXPECT_FALSE(profile->isVisible());
}

TEST_F(WindowKeys, TheFindBarNeverCoversTheTranscript) {
    auto* bar = widget<QWidget>("findBar");
    auto* split = widget<QSplitter>("rightSplit");
    const QRect closed = split->geometry();
    ui().openFindBar();
    EXPECT_GE(split->geometry().top(), bar->geometry().bottom());
    EXPECT_EQ(split->geometry().bottom(), closed.bottom());
    ui().closeFindBar();
    EXPECT_EQ(split->geometry(), closed);
    // A resize while it is open keeps the transcript below it.
    ui().openFindBar();
    controller->window()->resize(1000, 700);
    ASSERT_TRUE(waitUntil([&] { return bar->width() > 700; }));
    EXPECT_GE(split->geometry().top(), bar->geometry().bottom());
}

} // namespace
