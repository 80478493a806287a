#include "login_controller.h"

#include "phone_number.h"
#include "platform.h"
#include "stored_sign_in.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

namespace brindlewick {

namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 220;

// The tabled frames have their origin at the bottom left; Qt's is at the top left.
QRect frame(int x, int y, int width, int height) {
    return QRect(x, kHeight - y - height, width, height);
}

} // namespace

LoginController::LoginController(Platform& platform, MenuBarFactory menuBarFactory, QObject* parent)
    : QObject(parent), platform_(platform), menuBarFactory_(std::move(menuBarFactory)) {}

LoginController::~LoginController() = default;

void LoginController::showLogin() {
    // The previous window may still be on the call stack (its quit button); let it go later.
    if (window_)
        window_.release()->deleteLater();

    window_ =
        std::make_unique<QMainWindow>(nullptr, Qt::Window | Qt::CustomizeWindowHint |
                                                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window_->setObjectName(QStringLiteral("loginWindow"));
    window_->setWindowTitle(QStringLiteral("Brindlewick — 로그인"));
    if (menuBarFactory_)
        window_->setMenuBar(menuBarFactory_());
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("loginContent"));
    content_->setFixedSize(kWidth, kHeight);
    window_->setCentralWidget(content_);

    auto* heading = new QLabel(QStringLiteral("전화번호로 로그인"), content_);
    heading->setObjectName(QStringLiteral("heading"));
    QFont headingFont = QApplication::font();
    headingFont.setPixelSize(14);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setGeometry(frame(20, 170, 320, 24));

    struct Row {
        QString caption;
        int captionY;
        int fieldY;
        const char* name;
        QLineEdit** field;
    };
    const Row rows[] = {
        {QStringLiteral("전화번호"), 134, 132, "phoneField", &phoneField},
        {QStringLiteral("닉네임"), 102, 100, "nickField", &nickField},
        {QStringLiteral("상태메시지"), 70, 68, "statusField", &statusField},
    };
    for (const Row& row : rows) {
        label(row.caption, row.captionY);
        auto* field = new QLineEdit(content_);
        field->setObjectName(QString::fromLatin1(row.name));
        field->setAccessibleName(row.caption);
        field->setGeometry(frame(110, row.fieldY, 220, 24));
        // Return in any field signs in, as "대화하기" does.
        connect(field, &QLineEdit::returnPressed, this, &LoginController::doLogin);
        *row.field = field;
    }

    auto* login = new QPushButton(QStringLiteral("대화하기"), content_);
    login->setObjectName(QStringLiteral("loginButton"));
    login->setGeometry(frame(200, 20, 90, 28));
    login->setAutoDefault(false);
    connect(login, &QPushButton::clicked, this, &LoginController::doLogin);
    auto* quit = new QPushButton(QStringLiteral("종료"), content_);
    quit->setObjectName(QStringLiteral("quitButton"));
    quit->setGeometry(frame(100, 20, 90, 28));
    quit->setAutoDefault(false);
    connect(quit, &QPushButton::clicked, this, &LoginController::doQuit);

    const std::unique_ptr<QSettings> settings = openUserSettings();
    if (settings->contains(kPhoneKey))
        phoneField->setText(settings->value(kPhoneKey).toString());
    if (settings->contains(kNickKey))
        nickField->setText(settings->value(kNickKey).toString());
    if (settings->contains(kStatusMsgKey))
        statusField->setText(settings->value(kStatusMsgKey).toString());

    // Neither resizable nor miniaturizable: the size is fixed, menu bar included.
    QMenuBar* menuBar = window_->menuWidget() ? window_->menuBar() : nullptr;
    const int menuHeight =
        menuBar && !menuBar->isNativeMenuBar() ? menuBar->sizeHint().height() : 0;
    window_->setFixedSize(kWidth, kHeight + menuHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect placed(QPoint(0, 0), window_->size());
        placed.moveCenter(screen->availableGeometry().center());
        window_->move(placed.topLeft());
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QLabel* LoginController::label(const QString& text, int y) {
    auto* caption = new QLabel(text, content_);
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption->setGeometry(frame(20, y, 85, 20));
    return caption;
}

void LoginController::doLogin() {
    if (!phoneField)
        return;
    const QString typed = phoneField->text().trimmed();
    QString nick = nickField->text().trimmed();
    const QString statusMsg = statusField->text();
    if (typed.isEmpty()) {
        platform_.beep();
        phoneField->setFocus();
        return;
    }
    // One spelling per number, so "010-1234-5678" and "01012345678" sign in as one person.
    const QString phone = QString::fromStdString(normalizePhone(typed.toStdString()));
    if (phone.isEmpty()) {
        platform_.runAlert(window_.get(), QStringLiteral("전화번호에 숫자가 없습니다"),
                           QStringLiteral("전화번호를 숫자로 입력하세요: %1").arg(typed), {});
        return;
    }
    if (nick.isEmpty())
        nick = phone;
    {
        const std::unique_ptr<QSettings> settings = openUserSettings();
        settings->setValue(kPhoneKey, phone);
        settings->setValue(kNickKey, nick);
        settings->setValue(kStatusMsgKey, statusMsg);
        settings->sync();
    }
    if (LoginCallback callback = onLogin_)
        callback(phone, nick, statusMsg);
    if (window_)
        window_->hide();
}

void LoginController::doQuit() {
    QCoreApplication::quit();
}

} // namespace brindlewick
