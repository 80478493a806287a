// The find bar over the transcript.

#include "main_controller.h"

#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>

namespace brindlewick {

void MainController::openFindBar() {
    if (!findBar)
        return;
    findBar->show();
    // In front of the split view, whose top strip it covers.
    findBar->raise();
    findSearchField->setFocus();
    if (!findSearchField->text().isEmpty())
        findSearchChanged();
}

void MainController::closeFindBar() {
    if (!findBar)
        return;
    findBar->hide();
    chatView->setFocus();
    findMatches.clear();
    currentFindIndex = -1;
    findResultLabel->setText(QStringLiteral(""));
}

void MainController::findSearchChanged() {}

void MainController::highlightMatchAtIndex(qint64 index) {
    Q_UNUSED(index);
}

void MainController::findNext() {}

void MainController::findPrev() {}

} // namespace brindlewick
