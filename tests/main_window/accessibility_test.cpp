// What a screen reader hears for each control of the main window (through Qt's accessibility
// interfaces, in process).

#include "client_under_test.h"
#include "main_window.h"
#include "sidebar_controller.h"
#include "signed_in_window.h"

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QMainWindow>
#include <QTableView>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(QAccessible::Name) : QStringLiteral("<none>");
}

TEST(MainWindowAccessibility, EveryControlHasAName) {
    SignedInWindow signedIn;
    ASSERT_TRUE(signedIn.start());
    ClientUnderTest& controller = *signedIn.controller;
    QMainWindow* window = controller.window();

    const std::pair<const char*, QString> expected[] = {
        {"addBtn", "친구 추가 또는 메모방 만들기"},
        {"refreshButton", "새로고침"},
        {"searchField", "검색"},
        {"sideTable", "친구 및 채팅 목록"},
        {"findButton", "대화 검색"},
        {"leaveButton", "방 나가기"},
        {"logoutButton", "로그아웃"},
        {"findSearchField", "대화 검색어"},
        {"findPrevBtn", "이전 검색 결과"},
        {"findNextBtn", "다음 검색 결과"},
        {"chatView", "대화 내용"},
        {"composeView", "메시지 입력"},
        {"attachBtn", "파일"},
        {"sendBtn", "전송"},
    };
    for (const auto& [objectName, name] : expected) {
        SCOPED_TRACE(objectName);
        auto* widget = window->findChild<QWidget*>(QString::fromLatin1(objectName));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(accessibleName(widget), name);
    }

    // The table's header is hidden, yet its columns are named.
    QAccessibleInterface* table =
        QAccessible::queryAccessibleInterface(window->findChild<QTableView*>("sideTable"));
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    ASSERT_EQ(table->tableInterface()->columnCount(), 2);
    EXPECT_EQ(table->tableInterface()->columnDescription(0), "사진");
    EXPECT_EQ(table->tableInterface()->columnDescription(1), "이름");
}

// A chats list row reads the room's name, its last message and how many are unread.
TEST(MainWindowAccessibility, ChatsRowsReadNameLastMessageAndCount) {
    SignedInWindow signedIn;
    ASSERT_TRUE(
        signedIn.start("[]", R"([{"room_name":"r-1","title":"개발팀","unread_count":4,)"
                             R"("last_message":"배포\n끝났어요","last_file_name":"",)"
                             R"("last_time":"2020-03-01T09:30:00"},)"
                             R"({"room_name":"r-2","title":"가족",)"
                             R"("last_file_name":"여행.png","last_time":"2020-03-02T10:00:00"}])"));
    ClientUnderTest& controller = *signedIn.controller;
    controller.showSidebar(SidebarController::Mode::Chats);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(
        controller.window()->findChild<QTableView*>("sideTable"));
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    const QString names[] = {"개발팀, 배포 끝났어요, 3월 1일, 안 읽은 메시지 4개",
                             "가족, 사진, 3월 2일"};
    for (int row = 0; row < 2; ++row) {
        QAccessibleInterface* cell = table->tableInterface()->cellAt(row, 1);
        ASSERT_NE(cell, nullptr) << row;
        EXPECT_EQ(cell->text(QAccessible::Name), names[row]);
    }
}

} // namespace
