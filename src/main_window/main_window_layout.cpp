// Frames of the main window, written top-left based (Qt's origin) for the 840 x 540 content
// area; layoutContent keeps them for any other size.

#include "main_window.h"

#include "segmented_control.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>

#include <algorithm>

namespace brindlewick {

void MainWindow::layoutContent(int width, int height) {
    if (!content_)
        return;
    // Sidebar: fixed width, fills the height.
    sideSeg_->setGeometry(12, 18, 140, 24);
    addBtn_->setGeometry(156, 16, 42, 28);
    refreshBtn_->setGeometry(202, 16, 34, 28);
    searchField_->setGeometry(12, 52, 224, 22);
    sideTable_->setGeometry(12, 82, 224, height - 130);
    sideHint_->setGeometry(20, 100, 208, 40);
    // Header row: stays at the top; the buttons keep to the right edge.
    roomAvatarView_->setGeometry(250, 18, 26, 26);
    roomLabel_->setGeometry(282, 20, width - 550, 22);
    const int buttonX[] = {width - 260, width - 175, width - 90};
    const int buttonWidth[] = {80, 80, 75};
    for (int i = 0; i < headerButtons_.size(); ++i)
        headerButtons_[i]->setGeometry(buttonX[i], 16, buttonWidth[i], 28);
    // The find bar lies over the top of the split view and follows its width.
    findBar_->setGeometry(250, 48, width - 264, 30);
    // While the find bar is open the split view starts below it.
    const int findInset = findBar_->isVisibleTo(content_) ? 30 : 0;
    rightSplit_->setGeometry(250, 50 + findInset, width - 264, height - 94 - findInset);
    statusLabel_->setGeometry(12, height - 34, width - 40, 20);
    // The upload's progress bar keeps to the right end of the status line.
    uploadProgressBar_->setGeometry(width - 28 - 150, height - 29, 150, 10);
    layoutFindBar();
}

void MainWindow::layoutFindBar() {
    const int width = findBar_->width();
    findSearchField_->setGeometry(4, 3, 200, 24);
    findPrevBtn_->setGeometry(210, 2, 40, 26);
    findNextBtn_->setGeometry(252, 2, 40, 26);
    findResultLabel_->setGeometry(300, 6, 180, 20);
    findCloseBtn_->setGeometry(width - 28, 4, 22, 22);
}

void MainWindow::layoutReplyBar() {
    const int width = replyBar_->width();
    // As tall as its font needs (descenders included), centred in the bar.
    const int labelHeight = std::max(18, replyPreviewLabel_->fontMetrics().height() + 2);
    replyPreviewLabel_->setGeometry(4, std::max(0, (24 - labelHeight) / 2), width - 46,
                                    labelHeight);
    replyCancelBtn_->setGeometry(width - 28, 1, 22, 22);
}

void MainWindow::layoutBottomContainer() {
    const int width = bottomContainer_->width();
    const int height = bottomContainer_->height();
    // Reply bar on top while a reply is pending; the composer fills the rest.
    if (replyBar_->isVisibleTo(bottomContainer_)) {
        replyBar_->setGeometry(0, 0, width, 24);
        composeScroll_->setGeometry(0, 24, width - 156, height - 24);
    } else {
        replyBar_->setGeometry(0, 2, width, 24);
        composeScroll_->setGeometry(0, composeTopInset_, width - 156, height - composeTopInset_);
    }
    // "파일" and "전송" keep their distance to the right and bottom edges.
    attachBtn_->setGeometry(width - 150, height - 32, 66, 28);
    sendBtn_->setGeometry(width - 80, height - 32, 76, 28);
    // A hidden bar gets no resize events; place its children now.
    layoutReplyBar();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == content_)
            layoutContent(content_->width(), content_->height());
        else if (watched == bottomContainer_)
            layoutBottomContainer();
        else if (watched == findBar_)
            layoutFindBar();
        else if (watched == replyBar_)
            layoutReplyBar();
    } else if (event->type() == QEvent::KeyPress && watched == composeView_) {
        return composerKeyPressed(static_cast<QKeyEvent*>(event));
    }
    return QObject::eventFilter(watched, event);
}

double MainWindow::dividerMinimum(const QSplitter* splitter, double proposed,
                                  int dividerIndex) const {
    if (splitter == rightSplit_ && splitter && dividerIndex == 0)
        return kDividerMinFromTop;
    return proposed;
}

double MainWindow::dividerMaximum(const QSplitter* splitter, double proposed,
                                  int dividerIndex) const {
    if (splitter == rightSplit_ && splitter && dividerIndex == 0)
        return splitter->height() - kDividerMinFromBottom;
    return proposed;
}

} // namespace brindlewick
