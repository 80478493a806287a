// The real seam's modal pieces, answered by a timer that clicks like a user would.

#include "qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace brindlewick;

namespace {

// Runs `act` on the modal window as soon as it is up.
void whenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        act(modal);
    });
}

void clickButton(QWidget* modal, const QString& text) {
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
        if (button->text() == text) {
            button->click();
            return;
        }
    ADD_FAILURE() << "no button " << text.toStdString();
}

TEST(QtPlatform, AlertAnswersInButtonOrder) {
    QtPlatform platform;
    const QStringList buttons = {"친구 추가", "메모방 생성", "취소"};
    for (int i = 0; i < buttons.size(); ++i) {
        whenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), "추가 기능 선택");
            EXPECT_EQ(box->informativeText(), "설명");
            clickButton(modal, buttons[i]);
        });
        EXPECT_EQ(platform.runAlert(nullptr, "추가 기능 선택", "설명", buttons), 1000 + i);
    }
    // Dismissed without a choice (Escape): the last, cancelling button, never the first.
    whenModal([](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->reject(); });
    EXPECT_EQ(platform.runAlert(nullptr, "로그아웃 하시겠습니까?", "", {"로그아웃", "취소"}), 1001);
    whenModal([](QWidget* modal) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modal, &escape);
    });
    EXPECT_EQ(platform.runAlert(nullptr, "현재 대화방을 나가시겠습니까?", "", {"나가기", "취소"}),
              1001);
    // Without buttons there is one, and it answers as the first.
    whenModal([](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->accept(); });
    EXPECT_EQ(platform.runAlert(nullptr, "다운로드 실패", "", {}), 1000);
}

TEST(QtPlatform, AddFriendDialog) {
    QtPlatform platform;
    whenModal([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "친구 추가");
        EXPECT_EQ(modal->size(), QSize(320, 160));
        const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[0]->geometry(), QRect(20, 46, 280, 24));
        EXPECT_EQ(fields[1]->geometry(), QRect(100, 76, 200, 24));
        fields[0]->setText(" 01099998888 ");
        fields[1]->setText("친구");
        clickButton(modal, "추가");
    });
    AddFriendInput added = platform.runAddFriendDialog(nullptr);
    EXPECT_EQ(added.result, 1);
    EXPECT_EQ(added.phone, " 01099998888 ");
    EXPECT_EQ(added.alias, "친구");

    whenModal([](QWidget* modal) { clickButton(modal, "취소"); });
    EXPECT_NE(platform.runAddFriendDialog(nullptr).result, 1);
    // The close box ends it like the cancel button.
    whenModal([](QWidget* modal) { modal->close(); });
    EXPECT_NE(platform.runAddFriendDialog(nullptr).result, 1);
}

// Without a notification service (no session bus here) nothing fails.
TEST(QtPlatform, NotificationWithoutServiceIsQuiet) {
    QtPlatform platform;
    platform.postDesktopNotification("제목", "본문");
    platform.beep();
    platform.requestAttention();
}

} // namespace
