// The sidebar: which list it shows, its rows, and opening a row's conversation.

#include "chat_protocol.h"
#include "main_controller.h"
#include "segmented_control.h"
#include "sidebar_model.h"
#include "user_picture.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

namespace brindlewick {

namespace {

constexpr int kIconColumnWidth = 24;
constexpr int kNameColumnWidth = 190;

} // namespace

void MainController::attachSidebarModel() {
    sideModel = new SidebarModel(sideTable);
    // Pictures come from the avatar cache; a miss starts a download that reloads the icons.
    sideModel->setPictureProvider([this](const QString& fileId) -> std::optional<QImage> {
        const QImage image = imageForFileId(fileId);
        if (image.isNull())
            return std::nullopt;
        return image;
    });
    sideModel->setRows(sideRows);
    sideTable->setModel(sideModel);
    // The style's minimum section would widen the narrow picture column.
    sideTable->horizontalHeader()->setMinimumSectionSize(0);
    sideTable->setColumnWidth(SidebarModel::IconColumn, kIconColumnWidth);
    sideTable->setColumnWidth(SidebarModel::NameColumn, kNameColumnWidth);
    sideTable->setIconSize(SidebarModel::iconSize());
}

void MainController::sideChanged() {
    if (sideSeg)
        sideMode = sideSeg->selectedSegment();
    rebuildSideRows();
}

void MainController::searchChanged() {
    rebuildSideRows();
}

void MainController::rebuildSideRows() {
    const QString filter = searchField ? searchField->text() : QString();
    sideRows = brindlewick::rebuildSideRows(friends, rooms, int(sideMode != 0), filter);
    if (sideModel)
        sideModel->setRows(sideRows);
}

int MainController::numberOfRowsInTableView() const {
    return static_cast<int>(sideRows.size());
}

std::optional<SideRow> MainController::sideRowAt(int row) const {
    if (row < 0 || row >= sideRows.size())
        return std::nullopt;
    return sideRows.at(row);
}

QVariant MainController::tableViewObjectValue(const QString& columnIdentifier, int row) const {
    const std::optional<SideRow> side = sideRowAt(row);
    if (!side)
        return {};
    if (columnIdentifier == QLatin1String("icon")) {
        if (!side->profilePic.isEmpty()) {
            // The picture lookup fills a cache; asking is not a change of this controller.
            const QImage image =
                const_cast<MainController*>(this)->imageForFileId(side->profilePic);
            if (!image.isNull())
                return image;
        }
        return genericUserPicture();
    }
    return side->title;
}

void MainController::sideDoubleClick() {
    const std::optional<SideRow> side = sideRowAt(sideClickedRow);
    if (!side)
        return;
    if (side->kind == SideRow::Kind::Friend) {
        const std::string room =
            ChatProtocol::dmRoomForPhone(client->phone().toStdString(), side->phone.toStdString());
        openRoom(QString::fromStdString(room), side->name);
    } else {
        // The shown title, unread suffix included.
        openRoom(side->room, side->title);
    }
}

void MainController::sideMenuOpen() {
    sideDoubleClick();
}

} // namespace brindlewick
