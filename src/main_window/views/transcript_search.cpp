#include "transcript_search.h"

namespace brindlewick {

bool TranscriptSearch::findSearchChanged(const QString& findText, const QString& transcript) {
    if (findText.isEmpty() || transcript.isEmpty())
        return findSearchChanged(findText, NormalizedText());
    return findSearchChanged(findText, NormalizedText(transcript));
}

bool TranscriptSearch::findSearchChanged(const QString& findText,
                                         const NormalizedText& transcript) {
    matches_.clear();
    current_ = -1;
    if (findText.isEmpty()) {
        counter_.clear();
        return false;
    }
    matches_ = findAllMatches(transcript, findText);
    if (matches_.isEmpty()) {
        counter_ = QStringLiteral("결과 없음");
        return false;
    }
    return highlightMatchAtIndex(0);
}

bool TranscriptSearch::highlightMatchAtIndex(qint64 index) {
    if (index < 0 || index >= matches_.size())
        return false;
    current_ = index;
    counter_ = QStringLiteral("%1 / %2").arg(index + 1).arg(matches_.size());
    return true;
}

bool TranscriptSearch::findNext() {
    if (matches_.isEmpty())
        return false;
    const qint64 next = current_ + 1;
    return highlightMatchAtIndex(next >= matches_.size() ? 0 : next);
}

bool TranscriptSearch::findPrev() {
    if (matches_.isEmpty())
        return false;
    const qint64 prev = current_ - 1;
    return highlightMatchAtIndex(prev < 0 ? matches_.size() - 1 : prev);
}

void TranscriptSearch::reset() {
    matches_.clear();
    current_ = -1;
    counter_.clear();
}

std::optional<TextRange> TranscriptSearch::currentMatch() const {
    if (current_ < 0 || current_ >= matches_.size())
        return std::nullopt;
    return matches_.at(current_);
}

} // namespace brindlewick
