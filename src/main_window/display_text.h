#pragma once
// How a message's text reads in the window: tagged texts (stickers, locations, …) by a short
// label instead of their raw form, and texts from the server cut to a length the window lays out
// in a moment (a message of megabytes would hold the window for seconds).

#include <QString>

#include <string>

namespace brindlewick {

// The most characters of one text from the server the window shows. The server refuses messages
// over 64 KiB; this many characters cost the transcript some milliseconds to lay out.
inline constexpr qsizetype kShownTextChars = 10000;
// The most characters of a message quoted in the status line or a notification.
inline constexpr qsizetype kSummaryChars = 200;
// Follows a text that was cut.
inline const QString kCutNote = QStringLiteral(" … (너무 길어 일부만 표시합니다)");

QString displayText(const QString& text);

// UTF-8 from the server as text to show: at most `maxChars` characters (cut before it is
// converted, so a huge text costs no more than a short one), then kCutNote when cut.
QString shownText(const std::string& utf8, qsizetype maxChars = kShownTextChars);
// shownText, read as displayText.
QString shownMessage(const std::string& utf8);
// The text on one line of at most kSummaryChars, for the status line and notifications; its
// direction controls balanced (bidi_isolate.h), wherever the cut fell.
QString summaryText(const QString& text);

} // namespace brindlewick
