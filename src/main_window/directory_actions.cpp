#include "directory_actions.h"

#include "chat_client.h"
#include "directory_service.h"
#include "main_window.h"
#include "outbox.h"
#include "phone_number.h"
#include "picture_cache.h"
#include "platform.h"
#include "profile_window.h"
#include "room_session.h"

#include <QMainWindow>
#include <QPlainTextEdit>

namespace brindlewick {

namespace {

const QString kMemoRoomTitle = QStringLiteral("나의 메모");

QString failureTitle(Directory::Action action) {
    switch (action) {
    case Directory::Action::AddFriend:
        return QStringLiteral("친구 추가 실패");
    case Directory::Action::CreateMemoRoom:
        return QStringLiteral("메모방 생성 실패");
    case Directory::Action::Leave:
        return QStringLiteral("방 나가기 실패");
    }
    return QString();
}

} // namespace

DirectoryActions::DirectoryActions(ChatClient& client, RoomSession& session, Directory& directory,
                                   PictureCache& pictures, MainWindow& window, Platform& platform,
                                   QObject* parent)
    : QObject(parent), client_(client), session_(session), directory_(directory),
      pictures_(pictures), window_(window), platform_(platform) {
    connect(&window_, &MainWindow::addRequested, this, &DirectoryActions::addAction);
    connect(&window_, &MainWindow::refreshRequested, &directory_, &Directory::refresh);
    connect(&window_, &MainWindow::leaveRoomRequested, this, &DirectoryActions::leaveOpenRoom);
    connect(&directory_, &Directory::failed, this,
            [this](Directory::Action action, const QString& error) {
                platform_.runAlert(window_.window(), failureTitle(action), error, {});
            });
    connect(&directory_, &Directory::friendAdded, this, [this](const QString& phone) {
        window_.setStatus(QStringLiteral("친구 추가 완료: %1").arg(phone));
    });
    connect(&directory_, &Directory::memoRoomCreated, this,
            [this](const QString& room, const QString& title) { openAndWrite(room, title); });
    connect(&directory_, &Directory::roomLeft, this, [this](const QString& room) {
        if (room == session_.room())
            session_.close();
    });
    // Lists fetched to learn a room a message named leave that message's line in place.
    connect(&directory_, &Directory::listsChanged, this, [this](Directory::ListsCause cause) {
        if (cause != Directory::ListsCause::Asked)
            return;
        QString status = QStringLiteral("친구 %1 · 채팅 %2")
                             .arg(directory_.friends().size())
                             .arg(directory_.rooms().size());
        // Lists cut to Directory::kMaxListRows say what they left out.
        if (const qsizetype dropped = directory_.friendsDropped() + directory_.roomsDropped())
            status += QStringLiteral(" — 목록이 너무 길어 %1개는 표시하지 않았습니다").arg(dropped);
        window_.setStatus(status);
    });
    connect(&directory_, &Directory::refreshFailed, this, [this](const QString& error) {
        window_.setStatus(QStringLiteral("목록을 불러오지 못했습니다: %1").arg(error));
    });
    connect(&pictures_, &PictureCache::pictureArrived, this,
            [this](const QString& fileId, const QImage& image) {
                if (profile_ && profile_->pictureId() == fileId)
                    profile_->setPicture(image);
            });
}

DirectoryActions::~DirectoryActions() {
    if (profile_)
        profile_->close();
}

void DirectoryActions::addAction() {
    const int choice = platform_.runAlert(
        window_.window(), QStringLiteral("추가 기능 선택"), QStringLiteral(""),
        {QStringLiteral("친구 추가"), QStringLiteral("메모방 생성"), QStringLiteral("취소")});
    if (choice == Platform::kFirstButton)
        addFriend();
    else if (choice == Platform::kFirstButton + 1)
        createMemoRoom();
}

void DirectoryActions::addFriend() {
    const AddFriendInput input = platform_.runAddFriendDialog(window_.window());
    if (input.result != 1)
        return;
    if (input.phone.trimmed().isEmpty())
        return;
    const QString phone = QString::fromStdString(normalizePhone(input.phone.toStdString()));
    if (phone.isEmpty()) {
        platform_.runAlert(
            window_.window(), failureTitle(Directory::Action::AddFriend),
            QStringLiteral("전화번호에 숫자가 없습니다: %1").arg(input.phone.trimmed()), {});
        return;
    }
    directory_.addFriend(phone, input.alias.trimmed());
}

void DirectoryActions::createMemoRoom() {
    const std::optional<QString> title =
        platform_.runTextQuestion(window_.window(), QStringLiteral("메모방 생성"),
                                  QStringLiteral("메모방 이름:"), kMemoRoomTitle);
    if (!title)
        return;
    // A blank name takes the default rather than making a room nobody can tell apart.
    const QString name = title->simplified();
    directory_.createMemoRoom(name.isEmpty() ? kMemoRoomTitle : name);
}

void DirectoryActions::leaveOpenRoom() {
    if (!session_.isOpen()) {
        platform_.beep();
        return;
    }
    // The room as it is now: the alert runs the event loop.
    confirmAndLeave(session_.room(), QStringLiteral("현재 대화방을 나가시겠습니까?"));
}

void DirectoryActions::leaveRow(const SideRow& row) {
    if (row.kind != SideRow::Kind::Room) {
        platform_.runAlert(window_.window(),
                           QStringLiteral("친구 목록에서는 방 나가기를 할 수 없습니다."),
                           QStringLiteral(""), {});
        return;
    }
    if (row.room.isEmpty())
        return;
    confirmAndLeave(row.room, QStringLiteral("'%1' 방을 나가시겠습니까?").arg(row.title));
}

void DirectoryActions::confirmAndLeave(const QString& room, const QString& question) {
    // What still waits to be sent there is asked about first: leaving makes the server refuse it.
    const Outbox* outbox = session_.outbox();
    const int unsent = outbox ? outbox->waitingCount(room) + outbox->failedCount(room) : 0;
    const int answer =
        platform_.runAlert(window_.window(), unsent > 0 ? Outbox::unsentQuestion(unsent) : question,
                           unsent > 0 ? question : QStringLiteral(""),
                           {QStringLiteral("나가기"), QStringLiteral("취소")});
    if (answer == Platform::kFirstButton)
        directory_.leave(room);
}

void DirectoryActions::openRow(const SideRow& row) {
    if (row.kind == SideRow::Kind::Friend)
        openDirectRoom(row.phone, row.name);
    else
        openAndWrite(row.room, row.name); // the display name, without the unread suffix
}

void DirectoryActions::openAndWrite(const QString& room, const QString& title) {
    // The open room again (a click before the double click) keeps what it shows.
    if (room != session_.room())
        session_.open(room, title);
    if (session_.isOpen())
        window_.composer()->setFocus(Qt::OtherFocusReason);
}

void DirectoryActions::openRoom(const QString& room) {
    if (const RoomRecord* record = directory_.room(room))
        openRow(roomRow(*record));
    else
        openAndWrite(room, QString());
}

void DirectoryActions::openDirectRoom(const QString& phone, const QString& name) {
    if (phone.isEmpty())
        return;
    const std::string room =
        ChatProtocol::dmRoomForPhone(client_.phone().toStdString(), phone.toStdString());
    openAndWrite(QString::fromStdString(room), name);
}

void DirectoryActions::showProfile(const SideRow& row) {
    ProfileWindow::Content content;
    content.name = row.name.isEmpty() ? row.title : row.name;
    content.phone = row.phone;
    content.status = row.status;
    content.pictureId = row.profilePic;

    if (profile_)
        profile_->close();
    profile_.reset();
    // A miss shows the placeholder; the download fills this window's picture when it lands.
    auto window = std::make_unique<ProfileWindow>(content, pictures_.image(content.pictureId));
    // The row as it was clicked, whatever the sidebar shows by the time the button is pressed.
    connect(window.get(), &ProfileWindow::chatRequested, this,
            [this, phone = row.phone, name = row.name] {
                if (profile_) {
                    profile_->hide();
                    // Not deleted here: this runs inside the window's own button signal.
                    profile_.release()->deleteLater();
                }
                openDirectRoom(phone, name);
            });
    window->show();
    window->raise();
    window->activateWindow();
    profile_ = std::move(window);
}

} // namespace brindlewick
