#include "transcript_format.h"

#include "local_time.h"

#include <QApplication>

namespace brindlewick::transcript {

namespace {

QTextCharFormat textFormat(int pixels, bool bold = false) {
    QTextCharFormat f;
    f.setProperty(QTextFormat::FontPixelSize, pixels);
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

QTextCharFormat withColor(QTextCharFormat f, const QColor& color) {
    f.setForeground(color);
    return f;
}

const QColor kGrey = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);

} // namespace

const QColor kLinkColor = QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f);

const Formats& formats() {
    static const Formats f = [] {
        Formats made;
        made.system = textFormat(12);
        made.reply = withColor(textFormat(10), kGrey);
        made.ownHeader = withColor(textFormat(11, true), QColor::fromRgbF(0.2f, 0.5f, 0.2f, 1.0f));
        made.otherHeader =
            withColor(textFormat(11, true), QColor::fromRgbF(0.2f, 0.2f, 0.8f, 1.0f));
        made.body = withColor(textFormat(12), QColor(Qt::black));
        made.note = withColor(textFormat(12), kGrey);
        made.marker = withColor(textFormat(11), kGrey);
        made.readLine = withColor(textFormat(11, true), QColor::fromRgbF(0.85f, 0.4f, 0.1f, 1.0f));
        return made;
    }();
    return f;
}

QTextCharFormat asLink(QTextCharFormat f, const QString& href) {
    f.setAnchor(true);
    f.setAnchorHref(href);
    f.setForeground(kLinkColor);
    f.setFontUnderline(true);
    return f;
}

QString plainEntryText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        switch (c) {
        case u'\r':
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out.append(kLineBreak);
            break;
        case u'\n':
        case QChar::ParagraphSeparator:
            out.append(kLineBreak);
            break;
        case 0xFDD0: // QTextBeginningOfFrame
        case 0xFDD1: // QTextEndOfFrame
            out.append(QChar(QChar::ReplacementCharacter));
            break;
        default:
            out.append(QChar(c));
        }
    }
    return out;
}

QString orEmpty(const QString& s) {
    return s.isNull() ? QString(QLatin1String("")) : s;
}

QString timeOfDay(const QString& time) {
    return brindlewick::localTime(time).hhmm;
}

LocalTime localTime(const QString& time) {
    const brindlewick::LocalTime local = brindlewick::localTime(time);
    return {local.hhmm,
            local.date.isValid() ? local.date : QDate::fromString(time.left(10), Qt::ISODate)};
}

QDate localDay(const QString& time) {
    return localTime(time).day;
}

QString dayLineText(const QDate& day) {
    // Spelled out here rather than taken from the locale, which may lack Korean data.
    static const char16_t* const weekdays[] = {u"월요일", u"화요일", u"수요일", u"목요일",
                                               u"금요일", u"토요일", u"일요일"};
    if (!day.isValid())
        return QString();
    return QStringLiteral("%1년 %2월 %3일 %4")
        .arg(day.year())
        .arg(day.month())
        .arg(day.day())
        .arg(QString::fromUtf16(weekdays[day.dayOfWeek() - 1]));
}

} // namespace brindlewick::transcript
