// Renders the login window and the main window (empty, in a conversation, with the chats list)
// into PNG files, for the README.
//   brindlewick-screenshots OUTPUT_DIR   (run with QT_QPA_PLATFORM=offscreen)

#include "app_delegate.h"
#include "chat_client.h"
#include "chat_events.h"
#include "directory_service.h"
#include "headless_setup.h"
#include "login_controller.h"
#include "main_controller.h"
#include "main_window.h"
#include "qt_platform.h"
#include "room_session.h"
#include "sidebar_controller.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
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
    // A private settings folder: the user's own sign-in stays untouched.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    // No server: nothing listens on these ports.
    ServerConfig config;
    config.chatPort = unusedLocalPort();
    config.httpPort = unusedLocalPort();
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
    main->mainWindow().setStatus(QStringLiteral("연결 중…"));
    ok = save(main->window(), out.filePath(QStringLiteral("main.png"))) && ok;

    // A conversation as the user sees it, filled in locally since no server runs.
    auto friendRecord = [](const char* phone, const char* nick, const char* status) {
        FriendRecord record;
        record.phone = QString::fromUtf8(phone);
        record.nick = QString::fromUtf8(nick);
        record.status = QString::fromUtf8(status);
        return record;
    };
    auto roomRecord = [](const char* id, const char* title, const char* peer, qint64 unread) {
        RoomRecord record;
        record.room = QString::fromUtf8(id);
        record.title = QString::fromUtf8(title);
        record.peer = QString::fromUtf8(peer);
        record.unread = unread;
        return record;
    };
    const std::string room = "dm:01012345678:01098765432";
    // Rooms the lists know: a message for an unknown one would ask the missing server for them.
    main->directory().setLists(
        {friendRecord("01098765432", "서준", "회의 중"), friendRecord("01055512345", "하은", ""),
         friendRecord("01077788899", "도윤", "주말엔 연락 주세요")},
        {roomRecord(room.c_str(), "서준", "01098765432", 0),
         roomRecord("g-3f9a", "주말 등산 모임", "", 2),
         roomRecord("dm:01012345678:01077788899", "도윤", "01077788899", 0),
         roomRecord("memo-01012345678", "나의 메모", "", 0),
         roomRecord("dm:01012345678:01055512345", "하은", "01055512345", 0)});
    main->room().open(QString::fromStdString(room), QStringLiteral("서준"));
    // Frames as the server would deliver them.
    ChatEvents& events = main->events();
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "서준", "안녕하세요! 오늘 회의 자료 보셨어요?",
                                           "2026-12-10T09:12:04+09:00", "41", "01098765432", ""}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "민지",
                                           "네, 방금 읽었어요.\n3쪽 그래프만 고치면 될 것 같아요.",
                                           "2026-12-10T09:13:37+09:00", "42", "01012345678", ""}
                             .encode());
    events.frameReceived(MessageType::FileMeta,
                         wire::FileMessage{room, "서준", "5f2c9a0e4b7d41c3a8e6d2b190f7c345",
                                           "회의자료 v2.pdf", "1048576", "", "43", "01098765432"}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "서준", "고친 버전 올렸습니다!",
                                           "2026-12-10T09:20:51+09:00", "44", "01098765432", "42"}
                             .encode());
    events.frameReceived(MessageType::ChatEdit,
                         wire::Edit{room, "44", "고친 버전 올렸습니다"}.encode());
    main->room().setReply(QStringLiteral("44"), QStringLiteral("서준"),
                          QStringLiteral("고친 버전 올렸습니다!"));
    main->mainWindow().composer()->setPlainText(QStringLiteral("고마워요, 확인할게요"));
    main->mainWindow().setStatus(QStringLiteral("로그인 완료"));
    settle(200);
    ok = save(main->window(), out.filePath(QStringLiteral("conversation.png"))) && ok;

    // The chats list as messages for other rooms arrive: counts, bold rows, the newest on top.
    main->sidebar().setMode(SidebarController::Mode::Chats);
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
    main->room().cancelReply();
    main->mainWindow().clearComposer();
    const std::string group = "group:hike";
    // A connection attempt under way, so the page below answers a request (pages that answer
    // none are dropped); settle() keeps its failure from being noticed.
    if (!main->client().connected())
        main->client().connect();
    main->room().open(QString::fromStdString(group), QStringLiteral("주말 등산"));
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
    main->mainWindow().setStatus(QStringLiteral("로그인 완료"));
    ok = save(main->window(), out.filePath(QStringLiteral("history.png"))) && ok;
    return ok ? 0 : 1;
}
