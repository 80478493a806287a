// Find in the transcript: the messages' text searched as one, stepping through matches and
// marking them inside the rows.

#include "transcript_view.h"

#include <algorithm>

namespace brindlewick {

void TranscriptView::addSearchText(int row) {
    const ChatItem* item = model_->message(row);
    if (!item)
        return;
    searchStarts_.push_back(searchText_.originalSize());
    searchSeqs_.push_back(model_->seqOf(row));
    // Each message ends in a line break, where normalization cannot reach across.
    searchText_.append(shownBody(*item) + editNote(*item) + QLatin1Char('\n'));
}

void TranscriptView::refreshSearchText() {
    if (!searchStale_)
        return;
    searchText_.clear();
    searchStarts_.clear();
    searchSeqs_.clear();
    for (int row = 0; row < model_->size(); ++row)
        addSearchText(row);
    searchStale_ = false;
}

TranscriptView::Place TranscriptView::placeOf(TextRange match) const {
    Place place;
    const auto it = std::upper_bound(searchStarts_.begin(), searchStarts_.end(), match.location);
    if (it == searchStarts_.begin())
        return place;
    const std::size_t at = std::size_t(it - searchStarts_.begin()) - 1;
    place.row = model_->indexOfSeq(searchSeqs_[at]);
    place.start = int(match.location - searchStarts_[at]);
    place.length = int(match.length);
    return place;
}

QList<RowMark> TranscriptView::marks(int row) const {
    QList<RowMark> out;
    const QList<TextRange>& matches = search_.matches();
    if (matches.isEmpty() || searchStale_)
        return out;
    const int seq = model_->seqOf(row);
    const auto found = std::lower_bound(searchSeqs_.begin(), searchSeqs_.end(), seq);
    if (found == searchSeqs_.end() || *found != seq)
        return out;
    const std::size_t at = std::size_t(found - searchSeqs_.begin());
    const qsizetype start = searchStarts_[at];
    const qsizetype end =
        at + 1 < searchStarts_.size() ? searchStarts_[at + 1] - 1 : searchText_.originalSize() - 1;
    const auto first = std::lower_bound(
        matches.begin(), matches.end(), start,
        [](const TextRange& range, qsizetype location) { return range.end() <= location; });
    const std::optional<TextRange> current = search_.currentMatch();
    for (auto it = first; it != matches.end() && it->location < end; ++it)
        out.append({int(it->location - start), int(std::min(it->end(), end) - it->location),
                    current && *current == *it});
    return out;
}

void TranscriptView::findSearchChanged(const QString& findText) {
    // A running find keeps its current match where the text around it changed. The matches
    // still belong to the searched text they were found in, stale or not.
    Place kept;
    int keptSeq = -1;
    if (const std::optional<TextRange> current = search_.currentMatch();
        current && findText == findText_) {
        kept = placeOf(*current);
        keptSeq = kept.row >= 0 ? model_->seqOf(kept.row) : -1;
    }
    findText_ = findText;
    refreshSearchText();
    search_.findSearchChanged(findText, searchText_);
    if (keptSeq >= 0) {
        const QList<TextRange>& matches = search_.matches();
        for (qsizetype i = 0; i < matches.size(); ++i) {
            const Place place = placeOf(matches.at(i));
            if (place.row >= 0 && model_->seqOf(place.row) == keptSeq &&
                place.start == kept.start) {
                search_.highlightMatchAtIndex(i);
                applyFind(false);
                return;
            }
        }
    }
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
    if (showCurrent && view_) {
        if (const std::optional<TextRange> match = search_.currentMatch()) {
            const Place place = placeOf(*match);
            if (place.row >= 0)
                view_->ensureVisible(place.row);
        }
    }
    if (view_)
        view_->viewport()->update();
    emit findCounterChanged(search_.counterText());
}

} // namespace brindlewick
