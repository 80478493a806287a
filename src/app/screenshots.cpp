// Renders the login window and the main window (empty, in a conversation, with the chats list)
// into PNG files, for the README; the main window also in a dark palette.
//   brindlewick-screenshots OUTPUT_DIR   (run with QT_QPA_PLATFORM=offscreen)

#include "app_delegate.h"
#include "chat_client.h"
#include "chat_events.h"
#include "headless_setup.h"
#include "login_controller.h"
#include "main_controller.h"
#include "main_window.h"
#include "qt_platform.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "user_session.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>

using namespace brindlewick;

namespace {

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

// Fusion's colours as desktops' dark themes have them.
QPalette darkPalette() {
    QPalette palette;
    const QColor text(232, 232, 232);
    const QColor disabled(127, 127, 127);
    palette.setColor(QPalette::Window, QColor(53, 53, 53));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(42, 42, 42));
    palette.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
    palette.setColor(QPalette::ToolTipBase, QColor(53, 53, 53));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabled);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(53, 53, 53));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Light, QColor(80, 80, 80));
    palette.setColor(QPalette::Midlight, QColor(66, 66, 66));
    palette.setColor(QPalette::Mid, QColor(45, 45, 45));
    palette.setColor(QPalette::Dark, QColor(35, 35, 35));
    palette.setColor(QPalette::Shadow, QColor(20, 20, 20));
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

// The window as it is now, once more in the dark palette.
bool saveDark(QWidget* window, const QString& path) {
    const QPalette light = QApplication::palette();
    QApplication::setPalette(darkPalette());
    settle(100);
    const bool ok = save(window, path);
    QApplication::setPalette(light);
    settle(100);
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
    useKoreanFont();
    OfflineClient client(std::make_unique<QtPlatform>());
    AppDelegate& delegate = client.delegate();
    LoginController* login = delegate.login();
    login->phoneField->setText(QStringLiteral("01012345678"));
    login->nickField->setText(QStringLiteral("민지"));
    login->statusField->setText(QStringLiteral("오늘도 좋은 하루"));
    settle(200);
    bool ok = save(login->window(), out.filePath(QStringLiteral("login.png")));

    login->doLogin();
    MainController* main = delegate.mainController();
    UserSession* session = delegate.session();
    if (!main || !session)
        return 1;
    settle(200);
    // The moment right after the window opened, before the missing server is noticed.
    session->window->setStatus(QStringLiteral("연결 중…"));
    ok = save(main->window(), out.filePath(QStringLiteral("main.png"))) && ok;
    ok = saveDark(main->window(), out.filePath(QStringLiteral("main-dark.png"))) && ok;

    // A conversation as the user sees it, filled in locally since no server runs.
    showSampleConversation(*session);
    ChatEvents& events = *session->events;
    session->room->setReply(QStringLiteral("47"), QStringLiteral("서준"),
                            QStringLiteral("고친 버전 올렸습니다!"));
    session->window->composer()->setPlainText(QStringLiteral("고마워요, 확인할게요"));
    session->window->setStatus(QStringLiteral("로그인 완료"));
    settle(200);
    ok = save(main->window(), out.filePath(QStringLiteral("conversation.png"))) && ok;
    ok = saveDark(main->window(), out.filePath(QStringLiteral("conversation-dark.png"))) && ok;

    // The chats list as messages for other rooms arrive: counts, bold rows, the newest on top.
    session->sidebar->setMode(SidebarController::Mode::Chats);
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{"dm:01012345678:01055512345", "하은",
                                           "오늘 저녁 같이 먹을래요?", "2026-12-10T09:24:10+09:00",
                                           "7", "01055512345", ""}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{"g-3f9a", "도윤", "토요일 7시 출발 확정입니다",
                                           "2026-12-10T09:25:02+09:00", "118", "01077788899", ""}
                             .encode());
    settle(200);
    ok = save(main->window(), out.filePath(QStringLiteral("chats.png"))) && ok;
    // A room reopened: its past comes as one page, read up to yesterday's last message.
    session->room->cancelReply();
    session->window->clearComposer();
    const std::string group = "group:hike";
    // A connection attempt under way, so the page below answers a request (pages that answer
    // none are dropped); settle() keeps its failure from being noticed.
    if (!session->client->connected())
        session->client->connect();
    session->room->open(QString::fromStdString(group), QStringLiteral("주말 등산"));
    auto entry = [](const char* id, const char* sender, const char* phone, const char* time,
                    const char* text) {
        wire::HistoryEntry e;
        e.msgId = id;
        e.kind = "chat";
        e.sender = sender;
        e.senderPhone = phone;
        e.time = time;
        e.text = text;
        return e;
    };
    wire::HistoryPage page{group, "", false, "4", {}};
    page.entries = {
        entry("1", "하은", "01055512345", "2026-12-09T20:02:11+09:00", "토요일 등산 가실 분?"),
        entry("2", "도윤", "01077788899", "2026-12-09T20:05:40+09:00", "저요! 몇 시에 만나요?"),
        entry("3", "민지", "01012345678", "2026-12-09T20:07:02+09:00", "저도 갈게요"),
        entry("4", "하은", "01055512345", "2026-12-09T21:30:45+09:00", "아침 8시 역 앞에서 봬요"),
        entry("5", "도윤", "01077788899", "2026-12-10T08:41:19+09:00", "혹시 비 오면 어떡해요?"),
        entry("6", "하은", "01055512345", "2026-12-10T08:50:03+09:00",
              "비 오면 다음 주로 미뤄요. 지도는 여기 올려 둘게요"),
    };
    page.entries[2].edited = true;
    page.entries[2].text = "저도 갈게요, 간식은 제가 챙길게요";
    page.entries[4].replyTo = "4";
    wire::HistoryEntry map = entry("7", "하은", "01055512345", "2026-12-10T08:51:30+09:00", "");
    map.kind = "file";
    map.fileId = "9a1c3e5f7b2d4f6e8a0c1e3f5a7b9d2c";
    map.fileName = "등산로 지도.png";
    map.fileSize = "482113";
    page.entries.push_back(map);
    events.frameReceived(MessageType::HistoryPage, page.encode());
    settle(200);
    session->window->setStatus(QStringLiteral("로그인 완료"));
    ok = save(main->window(), out.filePath(QStringLiteral("history.png"))) && ok;
    ok = saveDark(main->window(), out.filePath(QStringLiteral("history-dark.png"))) && ok;
    return ok ? 0 : 1;
}
