// Renders the login window and the main window into PNG files, for the README.
//   brindlewick-screenshots OUTPUT_DIR   (run with QT_QPA_PLATFORM=offscreen)

#include "app_delegate.h"
#include "login_controller.h"
#include "main_controller.h"
#include "qt_platform.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMainWindow>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace brindlewick;

namespace {

quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Paints and lays out, but keeps the connection's news (a refused connect) for later.
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeSocketNotifiers);
}

bool save(QWidget* window, const QString& path) {
    const bool ok = window->grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: brindlewick-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    // Korean needs a CJK face; the offscreen platform takes no cue from the desktop.
    for (const QString& family :
         {QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Noto Sans KR")}) {
        if (QFontDatabase::families().contains(family)) {
            QFont font(family);
            font.setPixelSize(13);
            QApplication::setFont(font);
            break;
        }
    }
    // A private settings folder: the user's own sign-in stays untouched.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    // No server: nothing listens on these ports.
    ServerConfig config;
    config.chatPort = unusedPort();
    config.httpPort = unusedPort();
    AppDelegate delegate(config, std::make_unique<QtPlatform>());
    delegate.applicationDidFinishLaunching();
    LoginController* login = delegate.login();
    login->phoneField->setText(QStringLiteral("01012345678"));
    login->nickField->setText(QStringLiteral("민지"));
    login->statusField->setText(QStringLiteral("오늘도 좋은 하루"));
    settle(200);
    bool ok = save(login->window(), out.filePath(QStringLiteral("login.png")));

    login->doLogin();
    MainController* main = delegate.mainController();
    if (!main)
        return 1;
    settle(200);
    // The moment right after the window opened, before the missing server is noticed.
    main->setStatus(QStringLiteral("연결 중…"));
    ok = save(main->window(), out.filePath(QStringLiteral("main.png"))) && ok;
    return ok ? 0 : 1;
}
