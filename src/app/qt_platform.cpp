#include "qt_platform.h"

#include "desktop_notifications.h"
#include "tray_icon.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QUrl>

namespace brindlewick {

namespace {

// Long enough to be noticed, short enough to stay informational rather than critical.
constexpr int kAttentionMs = 2000;

} // namespace

QtPlatform::QtPlatform() = default;

QtPlatform::~QtPlatform() = default;

void QtPlatform::beep() {
    QApplication::beep();
}

void QtPlatform::requestAttention() {
    // A null widget asks for attention on every top-level window of the application.
    QApplication::alert(nullptr, kAttentionMs);
}

bool QtPlatform::isApplicationActive() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void QtPlatform::postDesktopNotification(const QString& title, const QString& body,
                                         const QString& room) {
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    (void)room;
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages())
        return;
    if (!tray_) {
        tray_ = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon());
        tray_->show();
    }
    tray_->showMessage(title, body);
    return;
#endif
    if (!notifications_) {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        notifications_ = std::make_unique<DesktopNotifications>(bus);
        notifications_->setOnActivated([this](const QString& activated) {
            if (onNotificationActivated_)
                onNotificationActivated_(activated);
        });
    }
    notifications_->post(title, body, room);
}

void QtPlatform::setNotificationActivated(std::function<void(const QString&)> callback) {
    onNotificationActivated_ = std::move(callback);
}

bool QtPlatform::isTrayAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtPlatform::showTrayIcon(qint64 unreadTotal, const TrayActions& actions) {
    if (!trayIcon_)
        trayIcon_ = std::make_unique<TrayIcon>();
    trayIcon_->show(unreadTotal, actions);
}

void QtPlatform::removeTrayIcon() {
    trayIcon_.reset();
}

void QtPlatform::showTrayMessage(const QString& text) {
    if (trayIcon_)
        trayIcon_->showMessage(text);
}

namespace {

// The alert box; a non-null `icon` stands in for the box's own icon.
int runMessageBox(QWidget* parent, const QString& message, const QString& informativeText,
                  const QPixmap& icon, const QStringList& buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Brindlewick"));
    // Messages carry other people's names and texts: never links, pictures or styles.
    box.setTextFormat(Qt::PlainText);
    box.setText(message);
    box.setInformativeText(informativeText);
    if (!icon.isNull())
        box.setIconPixmap(icon);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    QList<QAbstractButton*> added;
    for (int i = 0; i < buttons.size(); ++i) {
        QMessageBox::ButtonRole role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        added.append(box.addButton(buttons.at(i), role));
    }
    if (added.isEmpty()) {
        box.setStandardButtons(QMessageBox::Ok);
    } else {
        box.setDefaultButton(static_cast<QPushButton*>(added.first()));
        // The last button is the cancelling one; Escape or the close box mean it too.
        box.setEscapeButton(added.last());
    }
    box.exec();
    const int index = static_cast<int>(added.indexOf(box.clickedButton()));
    const int dismissed = added.isEmpty() ? 0 : static_cast<int>(added.size()) - 1;
    return Platform::kFirstButton + (index < 0 ? dismissed : index);
}

} // namespace

int QtPlatform::runAlert(QWidget* parent, const QString& message, const QString& informativeText,
                         const QStringList& buttons) {
    return runMessageBox(parent, message, informativeText, QPixmap(), buttons);
}

int QtPlatform::runPictureQuestion(QWidget* parent, const QString& message, const QImage& picture,
                                   const QStringList& buttons) {
    // A preview, not the picture: at most this many logical pixels either way.
    constexpr int kPreviewSide = 200;
    QPixmap preview;
    if (!picture.isNull()) {
        const qreal ratio = parent ? parent->devicePixelRatioF() : qApp->devicePixelRatio();
        const QSize side = QSize(kPreviewSide, kPreviewSide) * ratio;
        const QImage scaled =
            picture.width() > side.width() || picture.height() > side.height()
                ? picture.scaled(side, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                : picture;
        preview = QPixmap::fromImage(scaled);
        preview.setDevicePixelRatio(ratio);
    }
    return runMessageBox(parent, message, QString(), preview, buttons);
}

std::optional<QString> QtPlatform::runTextQuestion(QWidget* parent, const QString& title,
                                                   const QString& label, const QString& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

AddFriendInput QtPlatform::runAddFriendDialog(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("친구 추가"));
    dialog.setFixedSize(320, 160);
    // Centred on the screen, not over the main window.
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    // Frames below are top-left based: y = 160 - bottom-left y - height.
    auto* prompt = new QLabel(QStringLiteral("친구 전화번호를 입력하세요:"), &dialog);
    prompt->setGeometry(20, 20, 280, 20);
    auto* phone = new QLineEdit(&dialog);
    phone->setGeometry(20, 46, 280, 24);
    auto* aliasLabel = new QLabel(QStringLiteral("별명(선택):"), &dialog);
    aliasLabel->setGeometry(20, 80, 80, 20);
    auto* alias = new QLineEdit(&dialog);
    alias->setGeometry(100, 76, 200, 24);
    auto* add = new QPushButton(QStringLiteral("추가"), &dialog);
    add->setGeometry(210, 117, 90, 28);
    add->setAutoDefault(false);
    // Return in either field adds.
    add->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("취소"), &dialog);
    cancel->setGeometry(120, 117, 80, 28);
    cancel->setAutoDefault(false);
    QObject::connect(add, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(1); });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(0); });
    AddFriendInput input;
    input.result = dialog.exec();
    input.phone = phone->text();
    input.alias = alias->text();
    return input;
}

QString QtPlatform::runOpenPanel(QWidget* parent, const QString& title) {
    return QFileDialog::getOpenFileName(parent, title);
}

QString QtPlatform::runSavePanel(QWidget* parent, const QString& title,
                                 const QString& suggestedName) {
    // Where users look for what they saved; their home when there is no such folder.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QFileDialog::getSaveFileName(parent, title, QDir(folder).filePath(suggestedName));
}

void QtPlatform::openFile(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void QtPlatform::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

} // namespace brindlewick
