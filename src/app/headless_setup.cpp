#include "headless_setup.h"

#include "chat_events.h"
#include "directory_service.h"
#include "platform.h"
#include "room_session.h"
#include "user_session.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QSettings>
#include <QTcpServer>

namespace brindlewick {

void useKoreanFont() {
    for (const QString& family :
         {QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Noto Sans KR")}) {
        if (QFontDatabase::families().contains(family)) {
            QFont font(family);
            font.setPixelSize(13);
            QApplication::setFont(font);
            return;
        }
    }
}

quint16 unusedLocalPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

OfflineClient::OfflineClient(std::unique_ptr<Platform> platform)
    : delegate_(privateSettings(settingsFolder_), std::move(platform)) {
    delegate_.applicationDidFinishLaunching();
}

ServerConfig OfflineClient::privateSettings(const QTemporaryDir& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    ServerConfig config;
    config.chatPort = unusedLocalPort();
    config.httpPort = unusedLocalPort();
    return config;
}

QString showSampleConversation(UserSession& session) {
    auto friendRecord = [](const char* phone, const char* nick, const char* status) {
        FriendRecord record;
        record.phone = QString::fromUtf8(phone);
        record.nick = QString::fromUtf8(nick);
        record.status = QString::fromUtf8(status);
        return record;
    };
    auto roomRecord = [](const char* id, const char* title, const char* peer, qint64 unread,
                         LastMessage last = {}) {
        RoomRecord record;
        record.room = QString::fromUtf8(id);
        record.title = QString::fromUtf8(title);
        record.peer = QString::fromUtf8(peer);
        record.unread = unread;
        record.last = std::move(last);
        return record;
    };
    const std::string room = "dm:01012345678:01098765432";
    // Rooms the lists know: a message for an unknown one would ask the missing server for them.
    session.directory->setLists(
        {friendRecord("01098765432", "서준", "회의 중"), friendRecord("01055512345", "하은", ""),
         friendRecord("01077788899", "도윤", "주말엔 연락 주세요")},
        {roomRecord(room.c_str(), "서준", "01098765432", 0),
         roomRecord("g-3f9a", "주말 등산 모임", "", 2,
                    {QStringLiteral("토요일 7시 정문 앞에서 만나요, 늦으면 "
                                    "단톡에 남겨 주세요 ⛰️"),
                     QString(), QStringLiteral("2026-12-10T08:47:00+09:00")}),
         roomRecord(
             "dm:01012345678:01077788899", "도윤", "01077788899", 0,
             {QString(), QStringLiteral("산행.jpg"), QStringLiteral("2026-12-09T21:05:00+09:00")}),
         roomRecord("memo-01012345678", "나의 메모", "", 0,
                    {QString(), QStringLiteral("견적서.xlsx"),
                     QStringLiteral("2026-12-08T18:30:00+09:00")}),
         roomRecord("dm:01012345678:01055512345", "하은", "01055512345", 0,
                    {QStringLiteral("고마워요 😊"), QString(),
                     QStringLiteral("2026-11-28T12:00:00+09:00")})});
    session.room->open(QString::fromStdString(room), QStringLiteral("서준"));
    ChatEvents& events = *session.events;
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
                                           "회의자료 v2.pdf", "1048576",
                                           "2026-12-10T09:14:02+09:00", "43", "01098765432"}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "서준", "표 2도 숫자 확인 부탁드려요",
                                           "2026-12-10T09:15:12+09:00", "45", "01098765432", ""}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "서준", "참고: www.example.kr/report 🙂",
                                           "2026-12-10T09:15:40+09:00", "46", "01098765432", ""}
                             .encode());
    events.frameReceived(MessageType::Chat,
                         wire::ChatMessage{room, "서준", "고친 버전 올렸습니다!",
                                           "2026-12-10T09:20:51+09:00", "47", "01098765432", "42"}
                             .encode());
    events.frameReceived(MessageType::ChatEdit,
                         wire::Edit{room, "47", "고친 버전 올렸습니다"}.encode());
    return QString::fromStdString(room);
}

} // namespace brindlewick
