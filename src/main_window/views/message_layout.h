#pragma once
// Where everything of one transcript row goes at a given width: the bubble, the sender's picture
// and name, the quote of a reply, the text (laid out once, kept while the row is on screen), a
// file's name and size, a picture's thumbnail, and the line rows. Also the colours of the
// transcript for a palette.

#include "transcript_model.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QPalette>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTextLayout>

#include <memory>

namespace brindlewick {

struct TranscriptColors {
    QColor base;
    QColor ownBubble, otherBubble;
    QColor ownText, otherText; // body text readable on each bubble
    QColor ownLink, otherLink;
    QColor ownNote, otherNote; // "(수정됨)", deleted, file sizes
    QColor name;               // sender names
    QColor secondary;          // times, date and beginning lines, notices
    QColor failed;             // "전송 실패"
    QColor readLine;
    QColor quoteBar;
    QColor selection, selectionText;
    QColor find, findCurrent, findText;
    QColor current; // the message chosen by a click
    int generation = 0;
    // Chosen against the palette's base with the contrast floors of readable_color.h.
    static TranscriptColors forPalette(const QPalette& palette, int generation);
};

struct TranscriptFonts {
    QFont body, name, small, quoteName;
    static TranscriptFonts fromApplication();
};

// A stretch of the text that is a link.
struct LinkSpan {
    int start = 0;
    int length = 0;
    QString href;
};

struct MessageLayout {
    static constexpr int kPictureSize = 32;
    static constexpr int kThumbnailSize = 240;

    int width = 0;
    int height = 0;
    bool header = false; // picture and name shown (the first of a group, others' messages)
    QRect bubble;
    QRect picture;
    QRect nameRect;
    QString name;
    QRect quote; // the reply's quote inside the bubble; empty when none
    QString quoteName, quoteText;
    std::unique_ptr<QTextLayout> body; // the text, or the file's name
    QPointF bodyAt;
    int bodyLength = 0; // characters of the message's own text at the start of `body`
    QList<LinkSpan> links;
    QRect thumbnail; // a picture file's thumbnail; empty when none
    QRect sizeRect;  // a file's size line
    QString sizeText;
    bool fileLink = false; // clicking the name or thumbnail saves the file
    QRect lineRect;        // line rows: their text
    QString lineText;
};

struct RowContext {
    bool header = false; // first of a group
    const ChatItem* answered = nullptr;
    QSize thumbnail; // size of the thumbnail at hand, empty when none
    bool thumbnailExpected = false;
};

// The text a message shows in its body (line breaks as the layout wants them, the edit note).
QString shownBody(const ChatItem& item);
// What follows the body of an edited message: " (수정됨)", after closers of any direction
// override the text leaves open; "" for others.
QString editNote(const ChatItem& item);
// Lays out row `r` for `width`.
std::unique_ptr<MessageLayout> layoutRow(const TranscriptRow& r, const RowContext& context,
                                         int width, const TranscriptFonts& fonts);

} // namespace brindlewick
