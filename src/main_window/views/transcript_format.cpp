#include "transcript_format.h"

#include "local_time.h"
#include "readable_color.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <vector>

namespace brindlewick::transcript {

namespace {

QTextCharFormat textFormat(int pixels, bool bold = false) {
    QTextCharFormat f;
    f.setProperty(QTextFormat::FontPixelSize, pixels);
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

constexpr int kRoles = int(TextRole::Link) + 1;
const QColor kGrey = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);
const QColor kFindBackground(255, 221, 0);

// The light design's colour of each role and how far it must stand from the base. The grey lines
// and the read line are secondary: the date, the reader's mark, a quote's source, "(수정됨)". They
// keep the light design's own contrast (3.9 and 3.6), which the large-text level allows.
struct Design {
    QColor color;
    double minimum;
};

Design design(TextRole role, const QPalette& palette) {
    switch (role) {
    case TextRole::None:
        break;
    case TextRole::Body:
        return {palette.color(QPalette::Text), kTextContrast};
    case TextRole::Reply:
    case TextRole::Note:
    case TextRole::Marker:
        return {kGrey, kSecondaryContrast};
    case TextRole::OwnHeader:
        return {QColor::fromRgbF(0.2f, 0.5f, 0.2f, 1.0f), kTextContrast};
    case TextRole::OtherHeader:
        return {QColor::fromRgbF(0.2f, 0.2f, 0.8f, 1.0f), kTextContrast};
    case TextRole::ReadLine:
        return {QColor::fromRgbF(0.85f, 0.4f, 0.1f, 1.0f), kSecondaryContrast};
    case TextRole::Link:
        return {QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f), kTextContrast};
    }
    return {QColor(), 0};
}

Formats& current() {
    static Formats made;
    return made;
}

void build(Formats& made) {
    const auto colored = [&made](QTextCharFormat f, TextRole role) {
        f.setProperty(kRoleProperty, int(role));
        f.setForeground(made.colors[int(role)]);
        return f;
    };
    made.system = textFormat(12);
    made.reply = colored(textFormat(10), TextRole::Reply);
    made.ownHeader = colored(textFormat(11, true), TextRole::OwnHeader);
    made.otherHeader = colored(textFormat(11, true), TextRole::OtherHeader);
    made.body = colored(textFormat(12), TextRole::Body);
    made.note = colored(textFormat(12), TextRole::Note);
    made.marker = colored(textFormat(11), TextRole::Marker);
    made.readLine = colored(textFormat(11, true), TextRole::ReadLine);
}

} // namespace

const Formats& formats() {
    if (current().generation == 0)
        useColorsOf(QGuiApplication::palette());
    return current();
}

void useColorsOf(const QPalette& palette) {
    Formats& made = current();
    const QColor base = palette.color(QPalette::Base);
    bool changed = made.generation == 0;
    for (int role = 1; role < kRoles; ++role) {
        const Design wanted = design(TextRole(role), palette);
        const QColor color = readableOn(wanted.color, base, wanted.minimum);
        changed = changed || color != made.colors[role];
        made.colors[role] = color;
    }
    if (!changed)
        return;
    ++made.generation;
    build(made);
}

void recolor(QTextDocument* document) {
    struct Run {
        int start;
        int end;
        QColor color;
    };
    // Collected first: changing a fragment's format merges and splits fragments.
    std::vector<Run> runs;
    const Formats& now = formats();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const int role = format.intProperty(kRoleProperty);
            if (role <= 0 || role >= kRoles)
                continue;
            const QColor& color = now.colors[role];
            if (format.foreground().color() != color)
                runs.push_back(
                    {fragment.position(), fragment.position() + fragment.length(), color});
        }
    if (runs.empty())
        return;
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    QTextCharFormat change;
    for (const Run& run : runs) {
        cursor.setPosition(run.start);
        cursor.setPosition(run.end, QTextCursor::KeepAnchor);
        change.setForeground(run.color);
        cursor.mergeCharFormat(change);
    }
    cursor.endEditBlock();
}

QTextCharFormat findHighlight() {
    QTextCharFormat f;
    f.setBackground(kFindBackground);
    const QColor body = formats().colors[int(TextRole::Body)];
    if (contrastRatio(body, kFindBackground) < kTextContrast)
        f.setForeground(readableOn(body, kFindBackground));
    return f;
}

QTextCharFormat asLink(QTextCharFormat f, const QString& href) {
    f.setAnchor(true);
    f.setAnchorHref(href);
    f.setProperty(kRoleProperty, int(TextRole::Link));
    f.setForeground(formats().colors[int(TextRole::Link)]);
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
