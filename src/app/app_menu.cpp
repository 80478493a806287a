#include "app_menu.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QWidget>

namespace brindlewick {

namespace {

// Like a first responder: the focused text widget handles the command if it can.
void sendToFocus(const char* slot) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return;
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot);
}

QAction* addItem(QMenu* menu, const QString& title, const QKeySequence& key,
                 std::function<void()> handler) {
    QAction* action = menu->addAction(title);
    action->setShortcut(key);
    QObject::connect(action, &QAction::triggered, menu, [handler = std::move(handler)] {
        if (handler)
            handler();
    });
    return action;
}

} // namespace

QMenuBar* buildAppMenuBar(const AppMenuActions& actions) {
    auto* bar = new QMenuBar;
    bar->setObjectName(QStringLiteral("appMenuBar"));

    // macOS names the application menu itself; elsewhere it gets the application's name.
    QMenu* app = bar->addMenu(QStringLiteral("Brindlewick"));
    QAction* quit = addItem(app, QStringLiteral("Brindlewick 종료"),
                            QKeySequence(Qt::CTRL | Qt::Key_Q), actions.quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* edit = bar->addMenu(QStringLiteral("편집"));
    struct EditItem {
        QString title;
        QKeySequence key;
        const char* slot;
    };
    const EditItem firstGroup[] = {
        {QStringLiteral("실행 취소"), QKeySequence(Qt::CTRL | Qt::Key_Z), "undo"},
        {QStringLiteral("다시 실행"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), "redo"},
    };
    const EditItem secondGroup[] = {
        {QStringLiteral("오려두기"), QKeySequence(Qt::CTRL | Qt::Key_X), "cut"},
        {QStringLiteral("복사"), QKeySequence(Qt::CTRL | Qt::Key_C), "copy"},
        {QStringLiteral("붙여넣기"), QKeySequence(Qt::CTRL | Qt::Key_V), "paste"},
        {QStringLiteral("모두 선택"), QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll"},
    };
    for (const EditItem& item : firstGroup)
        addItem(edit, item.title, item.key, [slot = item.slot] { sendToFocus(slot); });
    edit->addSeparator();
    for (const EditItem& item : secondGroup)
        addItem(edit, item.title, item.key, [slot = item.slot] { sendToFocus(slot); });
    edit->addSeparator();
    addItem(edit, QStringLiteral("대화 검색..."), QKeySequence(Qt::CTRL | Qt::Key_F), actions.find);
    return bar;
}

} // namespace brindlewick
