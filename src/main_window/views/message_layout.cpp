#include "message_layout.h"

#include "bidi_isolate.h"
#include "file_link.h"
#include "message_links.h"
#include "readable_color.h"

#include <QApplication>
#include <QFontMetrics>
#include <QTextOption>

#include <algorithm>

namespace brindlewick {

namespace {

constexpr int kSide = 12;      // margin on both sides
constexpr int kPictureGap = 8; // between picture and bubble
constexpr int kTimeRoom = 44;  // beside the bubble for its time
constexpr int kPadH = 10;      // inside the bubble
constexpr int kPadV = 7;
constexpr int kMaxBubble = 560;
constexpr int kGroupGap = 10;  // above the first message of a group
constexpr int kInGroupGap = 3; // between messages of one group
constexpr int kLineHeightPad = 14;

QColor mix(const QColor& a, const QColor& b, qreal t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, 1.0f);
}

QFont pixelFont(const QFont& base, int pixels, bool bold = false) {
    QFont f = base;
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

bool isDark(const QColor& c) {
    return c.lightnessF() < 0.5;
}

} // namespace

TranscriptColors TranscriptColors::forPalette(const QPalette& palette, int generation) {
    TranscriptColors c;
    c.generation = generation;
    c.base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    const bool dark = isDark(c.base);
    // A warm yellow of one's own, as Korean messengers have it; a quiet grey for others.
    const QColor ownTint = dark ? QColor(0x8a, 0x74, 0x10) : QColor(0xff, 0xe8, 0x6b);
    c.ownBubble = mix(c.base, ownTint, dark ? 0.55 : 0.85);
    c.otherBubble = mix(c.base, text, dark ? 0.14 : 0.07);
    c.ownText = readableOn(text, c.ownBubble);
    c.otherText = readableOn(text, c.otherBubble);
    const QColor link = QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f);
    c.ownLink = readableOn(link, c.ownBubble);
    c.otherLink = readableOn(link, c.otherBubble);
    const QColor grey = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);
    c.ownNote = readableOn(grey, c.ownBubble, kSecondaryContrast);
    c.otherNote = readableOn(grey, c.otherBubble, kSecondaryContrast);
    c.name = readableOn(text, c.base);
    c.secondary = readableOn(grey, c.base, kSecondaryContrast);
    c.failed = readableOn(QColor::fromRgbF(0.85f, 0.1f, 0.1f, 1.0f), c.base, kSecondaryContrast);
    c.readLine = readableOn(QColor::fromRgbF(0.85f, 0.4f, 0.1f, 1.0f), c.base, kSecondaryContrast);
    c.quoteBar = readableOn(QColor::fromRgbF(0.55f, 0.55f, 0.55f, 1.0f), c.otherBubble, 1.5);
    c.selection = palette.color(QPalette::Highlight);
    c.selectionText = palette.color(QPalette::HighlightedText);
    c.find = QColor(255, 236, 130);
    c.findCurrent = QColor(255, 200, 0);
    c.findText = readableOn(text, c.find);
    if (contrastRatio(c.findText, c.findCurrent) < kTextContrast)
        c.findText = readableOn(c.findText, c.findCurrent);
    c.current = mix(c.base, palette.color(QPalette::Highlight), 0.12);
    return c;
}

TranscriptFonts TranscriptFonts::fromApplication() {
    const QFont base = QApplication::font();
    TranscriptFonts f;
    f.body = pixelFont(base, 13);
    f.name = pixelFont(base, 12, true);
    f.small = pixelFont(base, 11);
    f.quoteName = pixelFont(base, 11, true);
    return f;
}

QString shownBody(const ChatItem& item) {
    const QString& source = item.deleted  ? TranscriptModel::kDeletedText
                            : item.isFile ? item.fileName
                                          : item.text;
    QString out;
    out.reserve(source.size() + 8);
    for (qsizetype i = 0; i < source.size(); ++i) {
        const QChar c = source.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 < source.size() && source.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out.append(QChar(QChar::LineSeparator));
        } else if (c == QLatin1Char('\n') || c == QChar(QChar::ParagraphSeparator)) {
            out.append(QChar(QChar::LineSeparator));
        } else {
            out.append(c);
        }
    }
    return out;
}

QString editNote(const ChatItem& item) {
    if (!item.edited || item.deleted)
        return QString();
    return bidiClosers(shownBody(item)) + QStringLiteral(" (수정됨)");
}

namespace {

// Lays `text` out within `width`; returns the widest line.
qreal layoutText(QTextLayout& layout, int width) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    qreal y = 0;
    qreal widest = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return widest;
}

void layoutLine(MessageLayout& out, const TranscriptRow& r, int width,
                const TranscriptFonts& fonts) {
    out.lineText = r.item.text;
    const QFontMetrics metrics(r.kind == RowKind::ReadLine ? fonts.quoteName : fonts.small);
    if (r.kind == RowKind::Notice) {
        const QRect area(kSide * 3, 0, std::max(40, width - kSide * 6), 100000);
        const QRect used =
            metrics.boundingRect(area, Qt::AlignHCenter | Qt::TextWordWrap, out.lineText);
        out.lineRect = QRect(area.left(), kLineHeightPad / 2, area.width(), used.height());
        out.height = used.height() + kLineHeightPad;
        return;
    }
    out.lineRect =
        QRect(kSide, kLineHeightPad / 2, std::max(40, width - 2 * kSide), metrics.height());
    out.height = metrics.height() + kLineHeightPad + (r.kind == RowKind::DateLine ? 6 : 0);
}

} // namespace

std::unique_ptr<MessageLayout> layoutRow(const TranscriptRow& r, const RowContext& context,
                                         int width, const TranscriptFonts& fonts) {
    auto out = std::make_unique<MessageLayout>();
    out->width = width;
    if (r.kind != RowKind::Message) {
        layoutLine(*out, r, width, fonts);
        return out;
    }
    const ChatItem& item = r.item;
    const bool mine = item.mine;
    out->header = context.header && !mine;
    const int gap = context.header ? kGroupGap : kInGroupGap;
    int y = gap;
    const int left = mine ? kSide : kSide + MessageLayout::kPictureSize + kPictureGap;
    const int room = std::max(80, width - left - kSide - kTimeRoom);
    const int maxBubble = std::min(kMaxBubble, std::max(80, room * 88 / 100));
    const int textWidth = maxBubble - 2 * kPadH;

    if (out->header) {
        const QFontMetrics nameMetrics(fonts.name);
        out->picture = QRect(kSide, y, MessageLayout::kPictureSize, MessageLayout::kPictureSize);
        out->name = nameMetrics.elidedText(item.sender, Qt::ElideRight, room);
        out->nameRect =
            QRect(left, y, nameMetrics.horizontalAdvance(out->name) + 1, nameMetrics.height());
        y += nameMetrics.height() + 3;
    }
    const int bubbleTop = y;
    int inner = kPadV;
    int contentWidth = 0;

    if (!item.isFile && !item.deleted && !item.replyTo.isEmpty()) {
        const QFontMetrics nameMetrics(fonts.quoteName);
        const QFontMetrics textMetrics(fonts.small);
        const int quoteWidth = textWidth - 8;
        if (context.answered) {
            out->quoteName =
                nameMetrics.elidedText(context.answered->sender, Qt::ElideRight, quoteWidth);
            QString quoted = shownBody(*context.answered);
            quoted.replace(QChar(QChar::LineSeparator), QLatin1Char(' '));
            out->quoteText = textMetrics.elidedText(quoted, Qt::ElideRight, quoteWidth);
        } else {
            out->quoteName = QStringLiteral("답장");
            out->quoteText = textMetrics.elidedText(QStringLiteral("#") + item.replyTo,
                                                    Qt::ElideRight, quoteWidth);
        }
        const int w = 8 + std::max(nameMetrics.horizontalAdvance(out->quoteName),
                                   textMetrics.horizontalAdvance(out->quoteText));
        const int h = nameMetrics.height() + textMetrics.height() + 2;
        out->quote = QRect(0, inner, w, h); // x fixed below
        contentWidth = std::max(contentWidth, w);
        inner += h + 5;
    }

    const bool pictureFile = item.isFile && !item.deleted && isPictureFileName(item.fileName);
    if (pictureFile && context.thumbnail.isValid() && !context.thumbnail.isEmpty()) {
        const QSize shown =
            context.thumbnail.scaled(std::min(MessageLayout::kThumbnailSize, textWidth),
                                     MessageLayout::kThumbnailSize, Qt::KeepAspectRatio);
        out->thumbnail = QRect(0, inner, shown.width(), shown.height());
        contentWidth = std::max(contentWidth, shown.width());
        inner += shown.height() + 5;
    }

    QString text = shownBody(item);
    out->bodyLength = int(text.size());
    QList<QTextLayout::FormatRange> formats;
    text += editNote(item);
    QFont bodyFont = fonts.body;
    if (item.deleted)
        bodyFont.setItalic(true);
    if (item.isFile && !item.deleted) {
        out->fileLink = buildFileLink(item.fileId, item.fileName).has_value();
        if (out->fileLink) {
            QTextLayout::FormatRange link;
            link.start = 0;
            link.length = out->bodyLength;
            link.format.setFontUnderline(true);
            formats.append(link);
        }
    } else if (!item.deleted) {
        for (const Address& address : findAddresses(item.text)) {
            // Positions in the shown text equal those in the message: line breaks are one
            // character either way, except a "\r\n", which becomes one.
            const int start = int(address.start);
            const int length = int(address.href.size());
            if (item.text.left(start + length).contains(QLatin1Char('\r')))
                continue;
            out->links.append(
                {start, length, address.target.isEmpty() ? address.href : address.target});
            QTextLayout::FormatRange link;
            link.start = start;
            link.length = length;
            link.format.setFontUnderline(true);
            formats.append(link);
        }
    }
    out->body = std::make_unique<QTextLayout>(text, bodyFont);
    out->body->setFormats(formats);
    const qreal widest = layoutText(*out->body, textWidth);
    contentWidth = std::max(contentWidth, int(std::ceil(widest)));
    out->bodyAt = QPointF(0, inner);
    inner += int(std::ceil(out->body->boundingRect().height()));

    if (item.isFile && !item.deleted) {
        out->sizeText = item.fileSize >= 0
                            ? TranscriptModel::sizeText(item.fileSize) + QStringLiteral(" · 저장")
                            : QStringLiteral("저장");
        const QFontMetrics small(fonts.small);
        out->sizeRect =
            QRect(0, inner + 2, small.horizontalAdvance(out->sizeText) + 1, small.height());
        contentWidth = std::max(contentWidth, out->sizeRect.width());
        inner += small.height() + 2;
    }
    inner += kPadV;

    const int bubbleWidth = std::max(contentWidth + 2 * kPadH, 36);
    const int bubbleLeft = mine ? width - kSide - bubbleWidth : left;
    out->bubble = QRect(bubbleLeft, bubbleTop, bubbleWidth, inner);
    const int contentLeft = bubbleLeft + kPadH;
    const int top = bubbleTop;
    if (!out->quote.isEmpty())
        out->quote.translate(contentLeft, top);
    if (!out->thumbnail.isEmpty())
        out->thumbnail.translate(contentLeft, top);
    out->bodyAt += QPointF(contentLeft, top);
    if (!out->sizeRect.isEmpty())
        out->sizeRect.translate(contentLeft, top);
    out->height = out->bubble.bottom() + 1;
    if (out->header)
        out->height = std::max(out->height, out->picture.bottom() + 1);
    return out;
}

} // namespace brindlewick
