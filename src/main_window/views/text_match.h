#pragma once
// Case-insensitive substring search that treats canonically equivalent text as equal: both sides
// are compared in NFC, and match ranges are mapped back to positions in the original text.

#include <QList>
#include <QString>

namespace brindlewick {

struct TextRange {
    qsizetype location = 0; // UTF-16 units
    qsizetype length = 0;

    qsizetype end() const { return location + length; }
    friend bool operator==(const TextRange& a, const TextRange& b) {
        return a.location == b.location && a.length == b.length;
    }
};

// An NFC copy of a text plus what is needed to map its positions back to the original. It can
// grow at the end: each appended piece must start where normalization cannot reach back across
// (a line break does), so that normalizing piecewise equals normalizing the whole.
class NormalizedText {
public:
    NormalizedText() = default;
    explicit NormalizedText(const QString& original) { append(original); }

    void append(const QString& piece);
    void clear();

    const QString& text() const { return text_; }
    qsizetype originalSize() const { return originalSize_; }
    // Range in the normalized copy -> range in the original (widened to whole changed segments).
    TextRange toOriginal(TextRange normalized) const;

private:
    struct Changed { // a segment whose NFC form differs from the original
        qsizetype normStart, normLength, origStart, origLength;
    };
    void appendSegments(QStringView original);
    qsizetype mapStart(qsizetype pos) const;
    qsizetype mapEnd(qsizetype pos) const;

    QString text_;
    qsizetype originalSize_ = 0;
    QList<Changed> changed_; // ascending
};

// Every occurrence of `needle`, scanning left to right and resuming after each match, so matches
// never overlap. Positions refer to `haystack` as given. A match never ends in front of a
// combining mark (that would split a character as the reader sees it).
QList<TextRange> findAllMatches(const QString& haystack, const QString& needle);
QList<TextRange> findAllMatches(const NormalizedText& haystack, const QString& needle);

// True when findAllMatches would find at least one match.
bool containsText(const QString& haystack, const QString& needle);

} // namespace brindlewick
