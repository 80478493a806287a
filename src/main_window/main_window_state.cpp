// What the main window shows: the slots the session's objects drive, and the composer's keys.

#include "main_window.h"

#include "bidi_isolate.h"
#include "transcript_view.h"
#include "user_picture.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

namespace brindlewick {

QString MainWindow::statusText() const {
    return statusLabel_->text();
}

QString MainWindow::headerText() const {
    return roomLabel_->text();
}

void MainWindow::setStatus(const QString& text) {
    statusLabel_->setText(text.isNull() ? QStringLiteral("") : text);
}

void MainWindow::setUnreadTotal(qint64 total) {
    window_->setWindowTitle(total > 0 ? QStringLiteral("Brindlewick (%1)").arg(total)
                                      : QStringLiteral("Brindlewick"));
}

void MainWindow::showRoomHeader(const QString& text, const QImage& picture) {
    roomLabel_->setText(text);
    roomAvatarView_->show();
    setHeaderPicture(picture);
}

void MainWindow::showNoRoomHeader() {
    roomLabel_->setText(QStringLiteral("방을 선택하세요"));
    roomAvatarView_->setPixmap(genericUserPicture());
    roomAvatarView_->hide();
}

void MainWindow::setHeaderPicture(const QImage& picture) {
    roomAvatarView_->setPixmap(picture.isNull() ? genericUserPicture()
                                                : QPixmap::fromImage(picture));
}

void MainWindow::showReply(const PendingReply& reply) {
    composeTopInset_ = 0; // the composer takes the whole height from now on
    if (reply.msgId.isEmpty()) {
        if (barShowsEdit_)
            return; // the bar belongs to an edit
        replyBar_->hide();
        layoutBottomContainer();
        return;
    }
    barShowsEdit_ = false;
    replyPreviewLabel_->setText(
        QStringLiteral("%1 님에게 답장: %2").arg(isolated(reply.sender), isolated(reply.preview)));
    replyBar_->show();
    layoutBottomContainer();
    composeView_->setFocus();
}

void MainWindow::showEntryMenu(const QPoint& globalPos, const QString& replyMsgId,
                               const QString& editMsgId, const QString& deleteMsgId) {
    const QList<QAction*> actions = chatMenu_->actions();
    const QString targets[] = {replyMsgId, editMsgId, deleteMsgId};
    for (int i = 0; i < 3; ++i) {
        actions.at(i)->setData(targets[i]);
        actions.at(i)->setEnabled(!targets[i].isEmpty());
    }
    actions.at(3)->setEnabled(chatView_->currentRow() >= 0);
    chatMenu_->popup(globalPos);
}

void MainWindow::showEditing(bool editing) {
    if (!editing) {
        if (barShowsEdit_) {
            barShowsEdit_ = false;
            replyBar_->hide();
            layoutBottomContainer();
        }
        return;
    }
    composeTopInset_ = 0;
    barShowsEdit_ = true;
    replyPreviewLabel_->setText(QStringLiteral("메시지 수정 중"));
    replyBar_->show();
    layoutBottomContainer();
    composeView_->setFocus();
}

void MainWindow::setComposerText(const QString& text) {
    composeView_->setPlainText(text);
    composeView_->moveCursor(QTextCursor::End);
}

void MainWindow::clearComposer() {
    composeView_->clear();
}

void MainWindow::setRoomOpen(bool open) {
    roomOpen_ = open;
    // Without a room there is nowhere for text or files to go.
    composeView_->setEnabled(open);
    sendBtn_->setEnabled(open);
    attachBtn_->setEnabled(open && !uploading_);
    headerButtons_.at(1)->setEnabled(open); // "방 나가기"
}

void MainWindow::setUploading(bool uploading) {
    uploading_ = uploading;
    attachBtn_->setEnabled(roomOpen_ && !uploading);
    if (uploading)
        uploadProgressBar_->setValue(0);
    uploadProgressBar_->setVisible(uploading);
}

void MainWindow::setUploadProgress(int percent) {
    uploadProgressBar_->setValue(percent);
}

void MainWindow::openFindBar() {
    findBar_->show();
    findBar_->raise();
    // The transcript moves below the bar, so no match hides under it.
    layoutContent(content_->width(), content_->height());
    findSearchField_->setFocus();
    if (!findSearchField_->text().isEmpty())
        searchTranscript();
}

void MainWindow::searchTranscript() {
    searchedText_ = findSearchField_->text();
    transcript_->findSearchChanged(searchedText_);
}

void MainWindow::closeFindBar() {
    findBar_->hide();
    layoutContent(content_->width(), content_->height());
    chatView_->setFocus();
    transcript_->closeFind();
    findResultLabel_->setText(QStringLiteral(""));
}

void MainWindow::clearTranscript() {
    // The view also drops the find matches and reports the blank counter.
    transcript_->clearChat();
    findResultLabel_->setText(QStringLiteral(""));
}

bool MainWindow::composerKeyPressed(QKeyEvent* event) {
    if (!composeView_->isEnabled())
        return true; // no room open: nothing to type into
    // Escape ends a pending reply as it ends an edit.
    if (event->key() == Qt::Key_Escape && !replyBar_->isHidden()) {
        emit replyCancelled();
        return true;
    }
    // Ctrl+Tab would type a tab character; focus moves with Tab alone.
    if (event->key() == Qt::Key_Tab && (event->modifiers() & Qt::ControlModifier))
        return true;
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ShiftModifier) {
        composeView_->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    // Other combinations keep the editor's own meaning.
    if (modifiers != Qt::NoModifier)
        return false;
    emit sendRequested(composeView_->toPlainText());
    return true;
}

} // namespace brindlewick
