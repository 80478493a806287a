// The find bar over the transcript. The search and its state are the transcript view's; the
// controller shows the bar and hands it the find text.

#include "main_controller.h"

#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>

namespace brindlewick {

void MainController::attachFindBar() {
    if (!transcript || !findBar)
        return;
    connect(transcript.get(), &TranscriptView::findCounterChanged, findResultLabel,
            &QLabel::setText);
    // Return searches again from the first match, as typing does; it does not step.
    connect(findSearchField, &QLineEdit::returnPressed, this, &MainController::findSearchChanged);
}

const QList<TextRange>& MainController::findMatches() const {
    static const QList<TextRange> none;
    return transcript ? transcript->search().matches() : none;
}

qint64 MainController::currentFindIndex() const {
    return transcript ? transcript->search().currentFindIndex() : -1;
}

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
    if (transcript)
        transcript->closeFind();
    findResultLabel->setText(QStringLiteral(""));
}

void MainController::findSearchChanged() {
    if (transcript && findSearchField)
        transcript->findSearchChanged(findSearchField->text());
}

void MainController::highlightMatchAtIndex(qint64 index) {
    if (transcript)
        transcript->highlightMatchAtIndex(index);
}

void MainController::findNext() {
    if (transcript)
        transcript->findNext();
}

void MainController::findPrev() {
    if (transcript)
        transcript->findPrev();
}

} // namespace brindlewick
