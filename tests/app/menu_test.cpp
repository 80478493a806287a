#include "app_menu.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace brindlewick;

namespace {

struct Item {
    QString title; // empty: a separator
    QKeySequence key;
};

TEST(AppMenu, ItemsAndKeyEquivalents) {
    std::unique_ptr<QMenuBar> bar(buildAppMenuBar({}));
    const QList<QAction*> menus = bar->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[1]->text(), "편집");

    const QList<Item> app = {{"Brindlewick 종료", QKeySequence(Qt::CTRL | Qt::Key_Q)}};
    const QList<Item> edit = {
        {"실행 취소", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"다시 실행", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {"", {}},
        {"오려두기", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"복사", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"붙여넣기", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"모두 선택", QKeySequence(Qt::CTRL | Qt::Key_A)},
        {"", {}},
        {"대화 검색...", QKeySequence(Qt::CTRL | Qt::Key_F)},
    };
    const QList<Item>* expected[] = {&app, &edit};
    for (int m = 0; m < 2; ++m) {
        const QList<QAction*> items = menus[m]->menu()->actions();
        ASSERT_EQ(items.size(), expected[m]->size()) << m;
        for (int i = 0; i < items.size(); ++i) {
            const Item& want = expected[m]->at(i);
            SCOPED_TRACE(want.title.toStdString());
            EXPECT_EQ(items[i]->isSeparator(), want.title.isEmpty());
            EXPECT_EQ(items[i]->text(), want.title);
            EXPECT_EQ(items[i]->shortcut(), want.key);
            EXPECT_TRUE(items[i]->isEnabled());
        }
    }
}

TEST(AppMenu, QuitAndFindReachTheirHandlers) {
    int quits = 0;
    int finds = 0;
    std::unique_ptr<QMenuBar> bar(buildAppMenuBar({[&] { ++quits; }, [&] { ++finds; }}));
    bar->actions()[0]->menu()->actions()[0]->trigger();
    bar->actions()[1]->menu()->actions().last()->trigger();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(finds, 1);
}

// Edit commands act on the focused text, whatever window holds it.
TEST(AppMenu, EditCommandsGoToTheFocusedField) {
    std::unique_ptr<QMenuBar> bar(buildAppMenuBar({}));
    QWidget window;
    auto* field = new QLineEdit(QStringLiteral("안녕하세요"), &window);
    window.show();
    window.activateWindow();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EQ(QApplication::focusWidget(), field);
    field->deselect();

    const QList<QAction*> edit = bar->actions()[1]->menu()->actions();
    auto item = [&](const QString& title) {
        for (QAction* action : edit)
            if (action->text() == title)
                return action;
        return static_cast<QAction*>(nullptr);
    };
    item("모두 선택")->trigger();
    EXPECT_EQ(field->selectedText(), "안녕하세요");
    item("오려두기")->trigger();
    EXPECT_EQ(field->text(), "");
    item("실행 취소")->trigger();
    EXPECT_EQ(field->text(), "안녕하세요");
    // Nothing focused, or a widget without the command: nothing happens, nothing fails.
    field->clearFocus();
    item("붙여넣기")->trigger();
    item("다시 실행")->trigger();
}

} // namespace
