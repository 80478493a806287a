// Sending a file into the open room and saving a file from a transcript link.

#include "main_controller.h"

namespace brindlewick {

void MainController::attachFile() {}

void MainController::saveFileId(const QString& fileId, const QString& suggestedName) {
    Q_UNUSED(fileId);
    Q_UNUSED(suggestedName);
}

bool MainController::textViewClickedOnLink(const QUrl& link, int charIndex) {
    Q_UNUSED(link);
    Q_UNUSED(charIndex);
    // The view never follows a link itself.
    return true;
}

} // namespace brindlewick
