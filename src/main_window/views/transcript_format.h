#pragma once
// How the transcript writes things: character formats, network text as plain characters, and
// the times and dates shown beside entries.

#include <QColor>
#include <QDate>
#include <QPalette>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>

class QTextDocument;

namespace brindlewick::transcript {

inline const QChar kLineBreak = QChar(QChar::LineSeparator);

// What a text is, for its colour. Formats carry it (property kRoleProperty), so text already in a
// document can take the colours of a new palette.
enum class TextRole { None, Body, Reply, OwnHeader, OtherHeader, Note, Marker, ReadLine, Link };
inline constexpr int kRoleProperty = QTextFormat::UserProperty + 1;

// Built once per palette: a format object reused keeps its hash, which the document's format
// table looks up on every insertion.
struct Formats {
    QTextCharFormat none;
    QTextCharFormat system;
    QTextCharFormat reply;
    QTextCharFormat ownHeader;
    QTextCharFormat otherHeader;
    QTextCharFormat body;
    QTextCharFormat note;     // deleted, "(수정됨)"
    QTextCharFormat marker;   // date lines, the beginning of the conversation
    QTextCharFormat readLine; // where the user stopped reading
    QTextBlockFormat block;
    QColor colors[int(TextRole::Link) + 1]; // by role; None: invalid (the view's Text colour)
    int generation = 0;                     // counts the palettes the colours were chosen for
};
// Made for the application's palette on first use.
const Formats& formats();
// Chooses the colours against this palette's Base (body text starts from its Text): the light
// design's colours as they are where they are readable, readable variants where not. Rebuilds
// the formats only when a colour changes.
void useColorsOf(const QPalette& palette);
// Gives the text already in `document` the current colours of its roles: one edit, a pass over
// the document's fragments.
void recolor(QTextDocument* document);
// The background of a found match, and its text colour where the body text would not be readable
// on it.
QTextCharFormat findHighlight();

QTextCharFormat asLink(QTextCharFormat format, const QString& href);

// Network text as plain characters: its own line breaks stay inside the entry's block, and the
// document's frame markers cannot be smuggled in.
QString plainEntryText(const QString& text);

// "" for a null text, the text otherwise.
QString orEmpty(const QString& s);

// "HH:MM" in this computer's time zone; see TranscriptView::formatTimeISO.
QString timeOfDay(const QString& isoTime);
// Both at once, from one reading of the time.
struct LocalTime {
    QString hhmm;
    QDate day;
};
LocalTime localTime(const QString& isoTime);
// The local calendar day of an ISO time (converted from its offset like timeOfDay), or of its
// first ten characters as a date; invalid when neither reads.
QDate localDay(const QString& isoTime);
// The date line's text, e.g. "2026년 12월 10일 목요일".
QString dayLineText(const QDate& day);

} // namespace brindlewick::transcript
