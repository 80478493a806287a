// What a screen reader hears for each control of the main window (through Qt's accessibility
// interfaces, in process).

#include "main_controller.h"
#include "main_window.h"
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
    MainController& controller = *signedIn.controller;
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

} // namespace
