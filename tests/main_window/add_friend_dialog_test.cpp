// The add-friend dialog of the real platform seam: every element where its frame puts it, centred
// on the screen, and only "추가" accepting.

#include "qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace brindlewick;

namespace {

void whenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        act(modal);
    });
}

QAbstractButton* buttonNamed(QWidget* modal, const QString& text) {
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

TEST(AddFriendDialog, ElementsSitWhereTheirFramesPutThem) {
    QtPlatform platform;
    whenModal([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), QStringLiteral("친구 추가"));
        EXPECT_EQ(modal->size(), QSize(320, 160));
        // Bottom-left frames (x, y, w, h) turned top-left: y' = 160 - y - h.
        const QList<QLabel*> labels = modal->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 2);
        EXPECT_EQ(labels[0]->text(), QStringLiteral("친구 전화번호를 입력하세요:"));
        EXPECT_EQ(labels[0]->geometry(), QRect(20, 160 - 120 - 20, 280, 20));
        EXPECT_EQ(labels[1]->text(), QStringLiteral("별명(선택):"));
        EXPECT_EQ(labels[1]->geometry(), QRect(20, 160 - 60 - 20, 80, 20));
        const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[0]->geometry(), QRect(20, 160 - 90 - 24, 280, 24));
        EXPECT_EQ(fields[1]->geometry(), QRect(100, 160 - 60 - 24, 200, 24));
        for (QLineEdit* field : fields) {
            EXPECT_TRUE(field->text().isEmpty());
            EXPECT_FALSE(field->isReadOnly());
        }
        QAbstractButton* add = buttonNamed(modal, QStringLiteral("추가"));
        QAbstractButton* cancel = buttonNamed(modal, QStringLiteral("취소"));
        ASSERT_TRUE(add && cancel);
        EXPECT_EQ(add->geometry(), QRect(210, 160 - 15 - 28, 90, 28));
        EXPECT_EQ(cancel->geometry(), QRect(120, 160 - 15 - 28, 80, 28));
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        EXPECT_LE((modal->geometry().center() - centre).manhattanLength(), 40);
        fields[0]->setText(QStringLiteral("010"));
        cancel->click();
    });
    // A small window in a corner: the dialog is centred on the screen all the same.
    QWidget corner;
    corner.setGeometry(0, 0, 100, 80);
    corner.show();
    const AddFriendInput cancelled = platform.runAddFriendDialog(&corner);
    EXPECT_NE(cancelled.result, 1);
    EXPECT_EQ(cancelled.phone, QStringLiteral("010"));
}

TEST(AddFriendDialog, ReturnInAFieldAdds) {
    QtPlatform platform;
    for (int field = 0; field < 2; ++field) {
        whenModal([field](QWidget* modal) {
            const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
            ASSERT_EQ(fields.size(), 2);
            fields[0]->setText(QStringLiteral("01033334444"));
            fields[1]->setText(QStringLiteral("준"));
            QTest::keyClick(fields[field], Qt::Key_Return);
        });
        const AddFriendInput added = platform.runAddFriendDialog(nullptr);
        EXPECT_EQ(added.result, 1) << field;
        EXPECT_EQ(added.phone, QStringLiteral("01033334444"));
        EXPECT_EQ(added.alias, QStringLiteral("준"));
    }
}

} // namespace
