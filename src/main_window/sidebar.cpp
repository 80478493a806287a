// The sidebar: which list it shows, its rows, and opening a row's conversation.

#include "chat_protocol.h"
#include "main_controller.h"
#include "segmented_control.h"
#include "user_picture.h"

namespace brindlewick {

void MainController::sideChanged() {
    if (sideSeg)
        sideMode = sideSeg->selectedSegment();
    rebuildSideRows();
}

void MainController::searchChanged() {
    rebuildSideRows();
}

void MainController::rebuildSideRows() {
    // The rows are built by the sidebar model, which takes over this table.
}

int MainController::numberOfRowsInTableView() const {
    return static_cast<int>(sideRows.size());
}

QVariant MainController::tableViewObjectValue(const QString& columnIdentifier, int row) const {
    if (row < 0 || row >= sideRows.size())
        return {};
    const QVariantMap& side = sideRows.at(row);
    if (columnIdentifier == QLatin1String("icon"))
        return genericUserPicture();
    return side.value(QStringLiteral("title")).toString();
}

void MainController::sideDoubleClick() {
    const int row = sideClickedRow;
    if (row < 0 || row >= sideRows.size())
        return;
    const QVariantMap& side = sideRows.at(row);
    if (side.value(QStringLiteral("kind")).toString() == QLatin1String("friend")) {
        const std::string room = ChatProtocol::dmRoomForPhone(
            client->phone().toStdString(),
            side.value(QStringLiteral("phone")).toString().toStdString());
        openRoom(QString::fromStdString(room), side.value(QStringLiteral("name")).toString());
    } else {
        openRoom(side.value(QStringLiteral("room")).toString(),
                 side.value(QStringLiteral("title")).toString());
    }
}

void MainController::sideMenuOpen() {
    sideDoubleClick();
}

} // namespace brindlewick
