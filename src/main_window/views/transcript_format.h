#pragma once
// How the transcript writes things: character formats, network text as plain characters, and
// the times and dates shown beside entries.

#include <QColor>
#include <QDate>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>

namespace brindlewick::transcript {

inline const QChar kLineBreak = QChar(QChar::LineSeparator);

// Built once: a format object reused keeps its hash, which the document's format table looks up
// on every insertion.
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
};
const Formats& formats();

QTextCharFormat asLink(QTextCharFormat format, const QString& href);
extern const QColor kLinkColor;

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
