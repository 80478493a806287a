// The friend and room lists from the HTTP API, and the actions that change them.

#include "file_transfer.h"
#include "main_controller.h"
#include "platform.h"

#include <QLabel>
#include <QMainWindow>

namespace brindlewick {

namespace {

const QString kJsonContentType = QStringLiteral("application/json");
const QString kMemoRoomTitle = QStringLiteral("나의 메모");

// POST with a JSON body; the error text is "" when the request gave none.
bool postJson(const ServerConfig& config, const char* path, const QByteArray& body,
              QByteArray* answer, QString* error) {
    QString failure;
    const std::optional<QByteArray> result =
        FileTransfer::httpRequest(config, QStringLiteral("POST"), QString::fromLatin1(path), body,
                                  kJsonContentType, &failure);
    if (!result) {
        *error = failure.isNull() ? QStringLiteral("") : failure;
        return false;
    }
    if (answer)
        *answer = *result;
    return true;
}

// After the open room was left: no room open, an empty transcript.
void forgetCurrentRoom(MainController& controller) {
    controller.clearChat();
    controller.currentRoom = QString();
    if (controller.roomLabel)
        controller.roomLabel->setText(QStringLiteral("방을 선택하세요"));
}

} // namespace

std::optional<QString> MainController::httpGetPath(const QString& path) const {
    return brindlewick::httpGetPath(config_, path);
}

QList<FriendRecord> MainController::parseFriendObjects(const QString& json) {
    return brindlewick::parseFriendObjects(json);
}

QList<RoomRecord> MainController::parseRoomObjects(const QString& json) {
    return brindlewick::parseRoomObjects(json);
}

void MainController::refreshLists() {
    const QString myPhone = client->phone();
    // Both requests go out before either list changes; a failed one reads as an empty list.
    const std::optional<QString> friendsText = httpGetPath(friendsListPath(myPhone));
    const std::optional<QString> roomsText = httpGetPath(roomsListPath(myPhone));
    friends = parseFriendObjects(friendsText.value_or(QString()));
    rooms = parseRoomObjects(roomsText.value_or(QString()));
    rebuildSideRows();
    setStatus(QStringLiteral("친구 %1 · 채팅 %2").arg(friends.size()).arg(rooms.size()));
}

void MainController::addAction() {
    const int choice = platform_.runAlert(
        window_.get(), QStringLiteral("추가 기능 선택"), QStringLiteral(""),
        {QStringLiteral("친구 추가"), QStringLiteral("메모방 생성"), QStringLiteral("취소")});
    if (choice == Platform::kFirstButton)
        addFriendAction();
    else if (choice == Platform::kFirstButton + 1)
        createMemoRoom();
}

void MainController::addFriendAction() {
    const AddFriendInput input = platform_.runAddFriendDialog(window_.get());
    if (input.result != 1)
        return;
    const QString phone = input.phone.trimmed();
    const QString alias = input.alias.trimmed();
    if (phone.isEmpty())
        return;
    QString error;
    if (!postJson(config_, kAddFriendPath, addFriendBody(client->phone(), phone, alias), nullptr,
                  &error)) {
        platform_.runAlert(window_.get(), QStringLiteral("친구 추가 실패"), error, {});
        return;
    }
    setStatus(QStringLiteral("친구 추가 완료: %1").arg(phone));
    refreshLists();
}

void MainController::createMemoRoom() {
    QByteArray answer;
    QString error;
    if (!postJson(config_, kCreateRoomPath, createMemoRoomBody(client->phone(), kMemoRoomTitle),
                  &answer, &error)) {
        platform_.runAlert(window_.get(), QStringLiteral("메모방 생성 실패"), error, {});
        return;
    }
    // An answer that is not UTF-8 names no room.
    const QString text = decodeUtf8(answer).value_or(QString());
    const QString room = FileTransfer::jsonStringValue(u"room_name", text).value_or(QString());
    refreshLists();
    if (!room.isEmpty())
        openRoom(room, kMemoRoomTitle);
}

void MainController::leaveCurrentRoom() {
    if (currentRoom.isEmpty()) {
        platform_.beep();
        return;
    }
    const int answer =
        platform_.runAlert(window_.get(), QStringLiteral("현재 대화방을 나가시겠습니까?"),
                           QStringLiteral(""), {QStringLiteral("나가기"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    QString error;
    if (!postJson(config_, kLeaveRoomPath, leaveRoomBody(client->phone(), currentRoom), nullptr,
                  &error)) {
        platform_.runAlert(window_.get(), QStringLiteral("방 나가기 실패"), error, {});
        return;
    }
    forgetCurrentRoom(*this);
    refreshLists();
}

void MainController::sideMenuLeave() {
    // A copy: the alerts below run the event loop, and a refresh may replace the rows.
    const std::optional<SideRow> side = sideRowAt(sideClickedRow);
    if (!side)
        return;
    if (side->kind != SideRow::Kind::Room) {
        platform_.runAlert(window_.get(),
                           QStringLiteral("친구 목록에서는 방 나가기를 할 수 없습니다."),
                           QStringLiteral(""), {});
        return;
    }
    const QString room = side->room;
    if (room.isEmpty())
        return;
    const QString title = side->title;
    const int answer =
        platform_.runAlert(window_.get(), QStringLiteral("'%1' 방을 나가시겠습니까?").arg(title),
                           QStringLiteral(""), {QStringLiteral("나가기"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    QString error;
    if (!postJson(config_, kLeaveRoomPath, leaveRoomBody(client->phone(), room), nullptr, &error)) {
        platform_.runAlert(window_.get(), QStringLiteral("방 나가기 실패"), error, {});
        return;
    }
    if (room == currentRoom)
        forgetCurrentRoom(*this);
    refreshLists();
}

} // namespace brindlewick
