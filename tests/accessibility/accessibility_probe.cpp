// The client as a screen reader meets it, without a server: the login window first; once it
// signs in (run_accessibility_test.sh presses "대화하기" through the accessibility bus), the
// main window with a room open and a few transcript entries, one of them a file. Runs until
// killed.
//   accessibility_probe   (run with QT_QPA_PLATFORM=xcb and the accessibility bridge on)

#include "app_delegate.h"
#include "headless_setup.h"
#include "login_controller.h"
#include "main_window.h"
#include "qt_platform.h"
#include "user_session.h"

#include "main_window.h"
#include "transcript_view.h"

#include <QApplication>
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

void fillConversation(UserSession& session) {
    showSampleConversation(session);
    // Older messages above, more than the view holds: the oldest rows are off screen.
    QList<TranscriptEntry> older;
    for (int i = 1; i <= 40; ++i) {
        TranscriptEntry entry;
        entry.msgId = QString::number(i);
        entry.sender = QStringLiteral("하은");
        entry.text = QStringLiteral("지난 이야기 %1").arg(i);
        entry.time = entry.dayTime =
            QStringLiteral("2026-12-10T08:%1:00+09:00").arg(i, 2, 10, QLatin1Char('0'));
        older.append(entry);
    }
    session.window->transcript().prependEntries(older, PageMarks{});
    session.window->setStatus(QStringLiteral("로그인 완료"));
    std::fprintf(stderr, "accessibility_probe: main window ready\n");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    useKoreanFont();
    // A private settings folder: no stored sign-in, so the login window comes first.
    OfflineClient client(std::make_unique<QuietPlatform>());
    AppDelegate& delegate = client.delegate();
    // Logging out shows the login window again; the probe stays up until it is killed.
    QApplication::setQuitOnLastWindowClosed(false);

    // The sign-in happens from outside; the conversation goes in once the main window exists.
    UserSession* filled = nullptr;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        UserSession* session = delegate.session();
        if (session && session != filled) {
            filled = session;
            fillConversation(*session);
        }
    });
    watch.start(50);
    std::fprintf(stderr, "accessibility_probe: login window shown\n");
    return app.exec();
}
