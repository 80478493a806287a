#include "text_match.h"

#include <algorithm>

namespace brindlewick {

namespace {

bool isHangulVowelOrTrailingJamo(char32_t c) {
    return (c >= 0x1160 && c <= 0x11FF) || (c >= 0xD7B0 && c <= 0xD7FF);
}

bool isMark(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

// A code point that neither composes with what precedes it nor reorders across it, so NFC of the
// text before it and NFC of the text from it can be computed independently.
bool startsSegment(char32_t c) {
    return QChar::combiningClass(c) == 0 && !isMark(c) && !isHangulVowelOrTrailingJamo(c);
}

// A single-unit segment that NFC leaves alone; saves calling the normalizer for common text.
bool stableAlone(char16_t c) {
    if (c < 0x300)
        return true;
    if (c >= 0xAC00 && c <= 0xD7A3) // precomposed Hangul syllables are NFC
        return true;
    if (QChar::isSurrogate(c))
        return false;
    return QChar(c).decompositionTag() == QChar::NoDecomposition;
}

char32_t codePointAt(QStringView s, qsizetype i) {
    const QChar c = s.at(i);
    if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(c, s.at(i + 1));
    return c.unicode();
}

bool followedByMark(QStringView s, qsizetype pos) {
    if (pos >= s.size())
        return false;
    const char32_t c = codePointAt(s, pos);
    return isMark(c) || isHangulVowelOrTrailingJamo(c);
}

} // namespace

void NormalizedText::clear() {
    text_.clear();
    originalSize_ = 0;
    changed_.clear();
}

namespace {

// Characters that are NFC whatever stands around them (given the neighbours are such too).
bool alwaysStable(char16_t c) {
    if (c < 0x300 || (c >= 0xAC00 && c <= 0xD7A3))
        return true;
    if (QChar::isSurrogate(c))
        return false;
    return startsSegment(c) && QChar(c).decompositionTag() == QChar::NoDecomposition;
}

} // namespace

// Qt's normalizer is not used on long text: it edits the string in place and turns quadratic
// when many decomposable characters follow one that needs work.
void NormalizedText::append(const QString& original) {
    const QStringView all(original);
    const qsizetype n = all.size();
    qsizetype copyFrom = 0; // start of the stretch known to be NFC already
    qsizetype lineStart = 0;
    qsizetype i = 0;
    while (i < n) {
        const char16_t c = all.at(i).unicode();
        if (c == u'\n') {
            lineStart = ++i;
            continue;
        }
        if (alwaysStable(c)) {
            ++i;
            continue;
        }
        // A line break ends every normalization segment: work on this line alone.
        qsizetype lineEnd = all.indexOf(QLatin1Char('\n'), i);
        lineEnd = lineEnd < 0 ? n : lineEnd + 1;
        text_.append(all.mid(copyFrom, lineStart - copyFrom));
        originalSize_ += lineStart - copyFrom;
        appendSegments(all.mid(lineStart, lineEnd - lineStart));
        copyFrom = lineStart = i = lineEnd;
    }
    if (copyFrom == 0 && text_.isEmpty())
        text_ = original; // shares, no copy
    else
        text_.append(all.mid(copyFrom));
    originalSize_ += n - copyFrom;
}

void NormalizedText::appendSegments(QStringView original) {
    const qsizetype origBase = originalSize_;
    originalSize_ += original.size();
    const qsizetype n = original.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start + (original.at(start).isHighSurrogate() && start + 1 < n ? 2 : 1);
        while (end < n && !startsSegment(codePointAt(original, end)))
            end += codePointAt(original, end) > 0xFFFF ? 2 : 1;
        if (end - start == 1 && stableAlone(original.at(start).unicode())) {
            text_.append(original.at(start));
        } else {
            const QString seg = original.mid(start, end - start).toString();
            const QString norm = seg.normalized(QString::NormalizationForm_C);
            if (norm != seg)
                changed_.append({text_.size(), norm.size(), origBase + start, seg.size()});
            text_.append(norm);
        }
        start = end;
    }
}

qsizetype NormalizedText::mapStart(qsizetype pos) const {
    // Last changed segment starting at or before pos.
    auto it = std::upper_bound(changed_.begin(), changed_.end(), pos,
                               [](qsizetype p, const Changed& c) { return p < c.normStart; });
    if (it == changed_.begin())
        return pos;
    const Changed& c = *(it - 1);
    if (pos < c.normStart + c.normLength)
        return c.origStart;
    return c.origStart + c.origLength + (pos - c.normStart - c.normLength);
}

qsizetype NormalizedText::mapEnd(qsizetype pos) const {
    // An end inside a changed segment widens to the segment's end.
    auto it = std::upper_bound(changed_.begin(), changed_.end(), pos,
                               [](qsizetype p, const Changed& c) { return p <= c.normStart; });
    if (it == changed_.begin())
        return pos;
    const Changed& c = *(it - 1);
    if (pos <= c.normStart + c.normLength)
        return c.origStart + c.origLength;
    return c.origStart + c.origLength + (pos - c.normStart - c.normLength);
}

TextRange NormalizedText::toOriginal(TextRange r) const {
    if (changed_.isEmpty())
        return r;
    const qsizetype start = mapStart(r.location);
    return {start, mapEnd(r.end()) - start};
}

QList<TextRange> findAllMatches(const QString& haystack, const QString& needle) {
    if (needle.isEmpty() || haystack.isEmpty())
        return {};
    return findAllMatches(NormalizedText(haystack), needle);
}

QList<TextRange> findAllMatches(const NormalizedText& hay, const QString& needle) {
    QList<TextRange> matches;
    const QString& text = hay.text();
    if (needle.isEmpty() || text.isEmpty())
        return matches;
    const QString key = needle.normalized(QString::NormalizationForm_C);
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype at = text.indexOf(key, pos, Qt::CaseInsensitive);
        if (at < 0)
            break;
        if (followedByMark(text, at + key.size())) {
            pos = at + 1;
            continue;
        }
        matches.append(hay.toOriginal({at, key.size()}));
        pos = at + key.size();
    }
    return matches;
}

bool containsText(const QString& haystack, const QString& needle) {
    if (needle.isEmpty())
        return true;
    return !findAllMatches(haystack, needle).isEmpty();
}

} // namespace brindlewick
