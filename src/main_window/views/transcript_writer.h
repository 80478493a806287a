#pragma once
// Inside the transcript view: what one edit writes, shared by appending and prepending.

#include "message_links.h"
#include "transcript_format.h"
#include "transcript_view.h"

#include <QTextCursor>

namespace brindlewick {

// The document edit at a cursor, and the same characters as the document's plain text shows them
// (breaks as "\n", a picture as U+FFFC) for the search copy.
struct TranscriptView::Entry {
    QTextCursor cursor;
    QString plain;
    int start = 0;           // document position where the entry's own text begins
    QTextCharFormat closing; // the format of the entry's closing line break

    void text(const QString& s, const QTextCharFormat& format) {
        cursor.insertText(s, format);
        const qsizetype at = plain.size();
        plain.append(s);
        for (qsizetype i = at; i < plain.size(); ++i)
            if (plain.at(i) == transcript::kLineBreak)
                plain[i] = QLatin1Char('\n');
    }
    void lineEnd(const QTextCharFormat& format) {
        cursor.insertBlock(transcript::formats().block, format);
        plain.append(QLatin1Char('\n'));
    }
    void picture(const QTextImageFormat& format) {
        cursor.insertText(QString(QChar::ObjectReplacementCharacter), format);
        plain.append(QChar::ObjectReplacementCharacter);
    }
    // Message text (already plain) with its web and mail addresses as links.
    void linkedText(const QString& s, const QTextCharFormat& format) {
        qsizetype done = 0;
        for (const Address& address : findAddresses(s)) {
            text(s.mid(done, address.start - done), format);
            text(address.href, transcript::asLink(format, address.href));
            done = address.start + address.href.size();
        }
        if (done < s.size())
            text(s.mid(done), format);
    }
    // The cursor's offset in its block.
    int offset() const { return cursor.positionInBlock(); }
    // The same, for a block starting at `blockStart` (saves looking the block up).
    int offset(int blockStart) const { return cursor.position() - blockStart; }
};

} // namespace brindlewick
