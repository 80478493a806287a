#include "profile_window.h"

#include "bidi_isolate.h"
#include "readable_color.h"
#include "user_picture.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

namespace brindlewick {

namespace {

constexpr int kPictureSide = 200;

// Frames are tabled from the bottom left; Qt counts from the top left.
QRect frame(int x, int y, int width, int height) {
    return QRect(x, ProfileWindow::kHeight - y - height, width, height);
}

QFont systemFont(int pixelSize, bool bold = false) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* makeLabel(const QString& name, const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Names and status messages come from other users: never markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return label;
}

} // namespace

ProfileWindow::ProfileWindow(const Content& content, const QImage& picture)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      pictureId_(content.pictureId) {
    setObjectName(QStringLiteral("profileWindow"));
    setWindowTitle(QStringLiteral("프로필"));
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    setFixedSize(kWidth, kHeight);

    auto* frameView = new QFrame(this);
    frameView->setObjectName(QStringLiteral("profilePictureFrame"));
    frameView->setFrameStyle(QFrame::Box | QFrame::Plain);
    frameView->setStyleSheet(QStringLiteral("#profilePictureFrame { border: 1px solid gray; }"));
    frameView->setGeometry(frame(60, 160, kPictureSide, kPictureSide));
    picture_ = new QLabel(frameView);
    picture_->setObjectName(QStringLiteral("profilePicture"));
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setGeometry(1, 1, kPictureSide - 2, kPictureSide - 2);
    setPicture(picture);

    makeLabel(QStringLiteral("profileName"), isolated(content.name), systemFont(16, true), this)
        ->setGeometry(frame(20, 120, 280, 26));
    QLabel* phone = makeLabel(QStringLiteral("profilePhone"), content.phone, systemFont(12), this);
    phone->setGeometry(frame(20, 95, 280, 20));
    keepReadableText(phone, QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3));
    if (!content.status.isEmpty())
        makeLabel(QStringLiteral("profileStatus"), isolated(content.status), systemFont(12), this)
            ->setGeometry(frame(20, 70, 280, 20));
    if (!content.phone.isEmpty()) {
        chatButton_ = new QPushButton(QStringLiteral("1:1 대화하기"), this);
        chatButton_->setObjectName(QStringLiteral("profileChatButton"));
        chatButton_->setGeometry(frame(100, 16, 120, 32));
        connect(chatButton_, &QPushButton::clicked, this, &ProfileWindow::chatRequested);
    }

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area(QPoint(0, 0), size());
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
}

void ProfileWindow::setPicture(const QImage& picture) {
    const int side = picture_->width();
    // Scaled up or down to fit, keeping its proportions.
    const QPixmap source = picture.isNull() ? genericUserPicture() : QPixmap::fromImage(picture);
    picture_->setPixmap(source.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace brindlewick
