// Pictures of users and rooms, and the profile viewer.

#include "main_controller.h"

namespace brindlewick {

QImage MainController::imageForFileId(const QString& fileId) {
    if (fileId.isEmpty())
        return {};
    return avatarCache.value(fileId);
}

QString MainController::profilePicForPhoneOrNick(const QString& phoneOrNick) const {
    Q_UNUSED(phoneOrNick);
    return {};
}

QString MainController::profilePicForSender(const QString& sender) const {
    return profilePicForPhoneOrNick(sender);
}

void MainController::viewProfileClicked() {}

void MainController::showProfileViewerFor(const QVariantMap& row) {
    Q_UNUSED(row);
}

void MainController::profileChatAction() {}

} // namespace brindlewick
