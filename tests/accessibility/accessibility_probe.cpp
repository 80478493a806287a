// The client as a screen reader meets it, without a server: the login window first; once it
// signs in (run_accessibility_test.sh presses "대화하기" through the accessibility bus), the
// main window with a room open and a few transcript entries, one of them a file. Runs until
// killed.
//   accessibility_probe   (run with QT_QPA_PLATFORM=xcb and the accessibility bridge on)

#include "app_delegate.h"
#include "chat_events.h"
#include "directory_service.h"
#include "headless_setup.h"
#include "login_controller.h"
#include "main_controller.h"
#include "main_window.h"
#include "qt_platform.h"
#include "room_session.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace brindlewick;

namespace {

// Alerts (the missing server's failures) go to stderr instead of a modal box over the window.
class QuietPlatform : public QtPlatform {
public:
    int runAlert(QWidget*, const QString& message, const QString& informativeText,
                 const QStringList&) override {
        std::fprintf(stderr, "accessibility_probe: alert: %s %s\n", qPrintable(message),
                     qPrintable(informativeText));
        return kFirstButton;
    }
    void postDesktopNotification(const QString&, const QString&, const QString&) override {}
    void beep() override {}
    void requestAttention() override {}
};

FriendRecord friendRecord(const char* phone, const char* nick, const char* status) {
    FriendRecord record;
    record.phone = QString::fromUtf8(phone);
    record.nick = QString::fromUtf8(nick);
    record.status = QString::fromUtf8(status);
    return record;
}

// What the signed-in user sees: friends in the sidebar, one conversation with a file in it.
void fillConversation(MainController& main) {
    main.directory().setLists(
        {friendRecord("01098765432", "서준", "회의 중"), friendRecord("01055512345", "하은", "")},
        {});
    const std::string room = "dm:01012345678:01098765432";
    main.room().open(QString::fromStdString(room), QStringLiteral("서준"));
    ChatEvents& events = main.events();
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "서준", "회의 자료 보셨어요?",
                                           "2026-12-10T09:12:04+09:00", "41", "01098765432", ""}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "민지", "네, 방금 읽었어요.",
                                           "2026-12-10T09:13:37+09:00", "42", "01012345678", ""}
                             .encode());
    wire::FileMessage file;
    file.room = room;
    file.sender = "서준";
    file.fileId = "5f2c9a0e4b7d41c3a8e6d2b190f7c345";
    file.name = "회의자료 v2.pdf";
    file.size = "1048576";
    file.time = "2026-12-10T09:15:20+09:00";
    file.msgId = "43";
    events.frameReceived(MessageType::FileMeta, file.encode());
    main.mainWindow().setStatus(QStringLiteral("로그인 완료"));
    std::fprintf(stderr, "accessibility_probe: main window ready\n");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    useKoreanFont();
    // A private settings folder: no stored sign-in, so the login window comes first.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    ServerConfig config;
    config.chatPort = unusedLocalPort();
    config.httpPort = unusedLocalPort();
    AppDelegate delegate(config, std::make_unique<QuietPlatform>());
    delegate.applicationDidFinishLaunching();
    // Logging out shows the login window again; the probe stays up until it is killed.
    QApplication::setQuitOnLastWindowClosed(false);

    // The sign-in happens from outside; the conversation goes in once the main window exists.
    MainController* filled = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        MainController* main = delegate.mainController();
        if (main && main != filled) {
            filled = main;
            fillConversation(*main);
        }
    });
    watch.start(50);
    std::fprintf(stderr, "accessibility_probe: login window shown\n");
    return app.exec();
}
