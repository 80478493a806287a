#pragma once
// Find state over the transcript: the matches of the last search, the current one and the
// counter text. Pure logic; TranscriptView applies it to the text view.

#include "text_match.h"

#include <QList>
#include <QString>
#include <optional>

namespace brindlewick {

class TranscriptSearch {
public:
    // Forgets the old matches, then scans `transcript` once. Returns true when there is a first
    // match (it becomes current); otherwise the counter reads "" (empty find text) or "결과 없음".
    bool findSearchChanged(const QString& findText, const QString& transcript);
    // The same over a transcript kept normalized as it grows.
    bool findSearchChanged(const QString& findText, const NormalizedText& transcript);

    // Makes match `index` current. Out of range: nothing changes and false is returned.
    bool highlightMatchAtIndex(qint64 index);
    // Step with wrap-around among the stored matches; false (and no change) when there are none.
    bool findNext();
    bool findPrev();

    // Empty matches, no current match, blank counter (closing the bar, clearing the transcript).
    void reset();

    const QList<TextRange>& matches() const { return matches_; }
    qint64 currentFindIndex() const { return current_; }
    std::optional<TextRange> currentMatch() const;
    const QString& counterText() const { return counter_; }

private:
    QList<TextRange> matches_;
    qint64 current_ = -1;
    QString counter_;
};

} // namespace brindlewick
