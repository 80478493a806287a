#include "display_text.h"

#include "bidi_isolate.h"
#include "messages.h"

#include <utility>

namespace brindlewick {

QString displayText(const QString& text) {
    static const std::pair<QLatin1String, QString> tags[] = {
        {QLatin1String("[sticker:"), QStringLiteral("[이모티콘]")},
        {QLatin1String("[file:"), QStringLiteral("[파일]")},
        {QLatin1String("[loc:"), QStringLiteral("[위치]")},
        {QLatin1String("[call:"), QStringLiteral("[통화]")},
    };
    for (const auto& [prefix, label] : tags)
        if (text.startsWith(prefix))
            return label;
    return text;
}

namespace {

// The first `maxChars` characters of `text`, never half of a surrogate pair.
QString leftChars(const QString& text, qsizetype maxChars) {
    qsizetype length = std::min(text.size(), maxChars);
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

} // namespace

QString shownText(const std::string& utf8, qsizetype maxChars) {
    if (utf8.size() <= std::size_t(maxChars))
        return QString::fromStdString(utf8); // a character takes at least one byte
    // And at most four bytes: that many bytes hold `maxChars` characters, and one more.
    const std::string head =
        wire::cutUtf8(utf8, std::size_t(std::max<qsizetype>(maxChars, 0)) * 4 + 4);
    const QString text = QString::fromStdString(head);
    if (head.size() == utf8.size() && text.size() <= maxChars)
        return text;
    return leftChars(text, maxChars) + kCutNote;
}

QString shownMessage(const std::string& utf8) {
    return displayText(shownText(utf8));
}

QString summaryText(const QString& text) {
    QString line = text.size() > kSummaryChars ? leftChars(text, kSummaryChars) + u'…' : text;
    for (QChar& c : line)
        if (c == u'\n' || c == u'\r' || c == QChar(QChar::LineSeparator) ||
            c == QChar(QChar::ParagraphSeparator))
            c = u' ';
    // A cut may fall inside an isolated name: what it leaves open is closed.
    return balancedBidi(line);
}

} // namespace brindlewick
