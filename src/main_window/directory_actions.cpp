// The friend and room lists from the HTTP API, and the actions that change them.

#include "file_transfer.h"
#include "main_controller.h"

namespace brindlewick {

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

void MainController::addAction() {}

void MainController::addFriendAction() {}

void MainController::createMemoRoom() {}

void MainController::leaveCurrentRoom() {}

void MainController::sideMenuLeave() {}

} // namespace brindlewick
