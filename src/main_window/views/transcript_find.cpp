// Find in the transcript: the text searched, stepping through matches and showing one.

#include "transcript_format.h"
#include "transcript_view.h"

#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace brindlewick {

namespace {

// How long a shown match stays highlighted.
constexpr int kFlashMs = 900;

} // namespace

void TranscriptView::refreshSearchText() {
    // The copy kept while appending saves reading and normalizing the whole document; after an
    // entry changed in place, or should the document have been changed behind our back, read it
    // afresh.
    if (view_ && (searchTextStale_ ||
                  searchText_.originalSize() != view_->document()->characterCount() - 1)) {
        searchText_ = NormalizedText(plainText());
        searchTextStale_ = false;
    }
}

void TranscriptView::findSearchChanged(const QString& findText) {
    findText_ = findText;
    refreshSearchText();
    search_.findSearchChanged(findText, searchText_);
    applyFind(true);
}

void TranscriptView::highlightMatchAtIndex(qint64 index) {
    if (search_.highlightMatchAtIndex(index))
        applyFind(true);
}

void TranscriptView::findNext() {
    if (search_.findNext())
        applyFind(true);
}

void TranscriptView::findPrev() {
    if (search_.findPrev())
        applyFind(true);
}

void TranscriptView::closeFind() {
    search_.reset();
    applyFind(false);
}

void TranscriptView::applyFind(bool showCurrent) {
    if (showCurrent) {
        if (const std::optional<TextRange> match = search_.currentMatch())
            showRange(*match);
    }
    emit findCounterChanged(search_.counterText());
}

void TranscriptView::showRange(TextRange range) {
    flush(); // needs the layout
    if (!view_)
        return;
    const qsizetype last = view_->document()->characterCount() - 1;
    const int start = int(std::clamp<qsizetype>(range.location, 0, last));
    const int end = int(std::clamp<qsizetype>(range.end(), start, last));
    QTextCursor cursor(view_->document());
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    view_->setTextCursor(cursor);
    view_->ensureCursorVisible();
    QTextEdit::ExtraSelection flash;
    flash.cursor = cursor;
    flash.format = transcript::findHighlight();
    view_->setExtraSelections({flash});
    flashTimer_.start(kFlashMs);
}

} // namespace brindlewick
