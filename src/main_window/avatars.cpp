// Pictures of users and rooms, and the profile viewer.

#include "chat_protocol.h"
#include "file_transfer.h"
#include "main_controller.h"
#include "profile_window.h"
#include "sidebar_model.h"

#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QThreadPool>

namespace brindlewick {

QImage MainController::imageForFileId(const QString& fileId) {
    if (fileId.isEmpty())
        return {};
    const auto cached = avatarCache.constFind(fileId);
    if (cached != avatarCache.cend())
        return *cached;
    requestPicture(fileId);
    return {};
}

void MainController::requestPicture(const QString& fileId) {
    if (!avatarRequests.begin(fileId))
        return;
    const ServerConfig config = config_;
    QPointer<MainController> self(this);
    QThreadPool::globalInstance()->start([self, config, fileId] {
        const std::optional<QByteArray> body =
            FileTransfer::httpRequest(config, QStringLiteral("GET"), FileTransfer::filePath(fileId),
                                      std::nullopt, QString(), nullptr);
        QImage image;
        if (body && !body->isEmpty())
            image.loadFromData(*body);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, fileId, image] {
                if (!self)
                    return;
                self->avatarRequests.finish(fileId, !image.isNull());
                if (!image.isNull())
                    self->pictureArrived(fileId, image);
            },
            Qt::QueuedConnection);
    });
}

void MainController::pictureArrived(const QString& fileId, const QImage& image) {
    avatarCache.insert(fileId, image);
    if (sideModel)
        sideModel->refreshIcons();
    if (auto* profile = qobject_cast<ProfileWindow*>(profileWindow.get());
        profile && profile->pictureId() == fileId)
        profile->setPicture(image);

    if (currentRoom.isEmpty() || !roomAvatarView)
        return;
    QString headerId = profilePicForPhoneOrNick(currentRoom);
    if (headerId.isEmpty())
        headerId = peerPictureInDmRoom(currentRoom);
    if (headerId == fileId)
        roomAvatarView->setPixmap(QPixmap::fromImage(image));
}

QString MainController::profilePicForPhoneOrNick(const QString& phoneOrNick) const {
    if (phoneOrNick.isEmpty())
        return QString();
    if (phoneOrNick == client->nick() || phoneOrNick == client->phone())
        return client->profilePic();
    for (const FriendRecord& f : friends) {
        if (f.phone == phoneOrNick || f.nick == phoneOrNick || f.alias == phoneOrNick)
            return f.profilePic;
    }
    for (const RoomRecord& r : rooms) {
        if (r.peer == phoneOrNick || r.title == phoneOrNick)
            return r.profilePic;
    }
    return QString();
}

QString MainController::peerPictureInDmRoom(const QString& room) const {
    if (!room.startsWith(QLatin1String("dm:")))
        return QString();
    const QStringList parts = room.split(QLatin1Char(':'));
    if (parts.size() < 3)
        return QString();
    return profilePicForPhoneOrNick(parts.at(1) == client->phone() ? parts.at(2) : parts.at(1));
}

QString MainController::profilePicForSender(const QString& sender) const {
    return profilePicForPhoneOrNick(sender);
}

void MainController::viewProfileClicked() {
    if (const std::optional<SideRow> row = sideRowAt(sideClickedRow))
        showProfileViewerFor(row);
}

void MainController::showProfileViewerFor(const std::optional<SideRow>& row) {
    if (!row)
        return;
    ProfileWindow::Content content;
    content.name = row->name.isEmpty() ? row->title : row->name;
    content.phone = row->phone;
    content.status = row->status;
    content.pictureId = row->profilePic;

    if (profileWindow)
        profileWindow->close();
    profileWindow.reset();
    // A miss shows the placeholder; the download fills this window's picture when it lands.
    auto window = std::make_unique<ProfileWindow>(content, imageForFileId(content.pictureId));
    connect(window.get(), &ProfileWindow::chatRequested, this, &MainController::profileChatAction);
    window->show();
    window->raise();
    window->activateWindow();
    profileWindow = std::move(window);
}

void MainController::profileChatAction() {
    std::optional<SideRow> row = sideRowAt(sideClickedRow);
    if (!row && sideTable && sideTable->selectionModel()) {
        const QModelIndexList selected = sideTable->selectionModel()->selectedRows();
        if (!selected.isEmpty())
            row = sideRowAt(selected.first().row());
    }
    const QString phone = row ? row->phone : QString();
    const QString name = row ? row->name : QString();
    if (profileWindow) {
        profileWindow->hide();
        // Not deleted here: this runs inside the window's own button signal.
        profileWindow.release()->deleteLater();
    }
    if (phone.isEmpty())
        return;
    const std::string room =
        ChatProtocol::dmRoomForPhone(client->phone().toStdString(), phone.toStdString());
    openRoom(QString::fromStdString(room), name);
}

} // namespace brindlewick
