// Older entries above the top, the lines that go with them, and the cap on what stays loaded.

#include "transcript_format.h"
#include "transcript_view.h"
#include "transcript_writer.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFrame>

#include <algorithm>

namespace brindlewick {

using namespace transcript;

namespace {

const QString kBeginningText = QStringLiteral("대화의 처음입니다");
const QString kReadLineText = QStringLiteral("여기까지 읽었습니다");

// The read line sits this far below the view's top edge.
constexpr int kReadLineMargin = 8;

// The item on top before the page (sequence number `seq`, -1 when it is no entry) now stands in
// `block`, `by` characters further in.
void movedTopItem(TranscriptIndex& index, QTextBlock block, int seq, int by) {
    block.setUserState(seq);
    if (seq < 0)
        return;
    EntryPlace& place = index.place(0);
    place.block = block;
    place.start += by;
    place.markerEnd += by;
    place.bodyStart += by;
    place.bodyEnd += by;
}

} // namespace

bool TranscriptView::nearTop() const {
    if (!view_)
        return false;
    return view_->verticalScrollBar()->value() <= view_->viewport()->height() / 3;
}

void TranscriptView::writeLine(Entry& writer, const QString& text, const QTextCharFormat& format) {
    writer.cursor.block().setUserState(-1);
    writer.text(text, format);
}

int TranscriptView::prependEntries(const QList<TranscriptEntry>& entries, const PageMarks& marks) {
    if (!view_)
        return 0;
    flush();
    QTextDocument* doc = view_->document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    QScrollBar* bar = view_->verticalScrollBar();
    const bool wasEmpty = doc->isEmpty();
    const bool beginning = marks.beginning && !showsBeginning_; // one beginning line at most

    // Everything below the old first block's bottom edge moves down by as much as that edge
    // does, so the view follows it (finding the block at the view's top would cost a search).
    const qreal oldFirstBottom = wasEmpty ? 0 : layout->blockBoundingRect(doc->begin()).bottom();
    const int oldTopSeq = doc->begin().userState();
    const bool oldTopIsEntry = index_.indexOfSeq(oldTopSeq) == 0;
    const QDate oldFirstDay = index_.isEmpty() ? QDate() : index_.place(0).day;

    // Ids already shown stay where they are.
    QList<const TranscriptEntry*> kept;
    int readLineAt = -1; // index into kept; kept.size(): before the old top
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i == marks.readLineBefore && readLineAt < 0)
            readLineAt = int(kept.size());
        const TranscriptEntry& e = entries.at(i);
        if (!e.msgId.isEmpty() && index_.indexOfMsgId(e.msgId) >= 0)
            continue;
        if (e.isFile && e.fileId.isEmpty() && !e.deleted)
            continue; // nothing to link to and no line of its own in a page
        kept.append(&e);
    }
    if (marks.readLineBefore >= entries.size() && readLineAt < 0)
        readLineAt = int(kept.size());
    if (hasReadLine())
        readLineAt = -1;
    if (kept.isEmpty() && !beginning && readLineAt < 0)
        return 0;

    Entry writer;
    writer.cursor = QTextCursor(doc);
    writer.cursor.beginEditBlock();
    bool prevIsEntry = false;
    bool first = true;
    QTextCharFormat prevClosing;
    // Above loaded text, all of the page but its first item goes in a frame: the layout then moves
    // what is below by frame, not by block, so a page costs the same however much is loaded. The
    // frame's opening and closing characters stand where the page's first and last line breaks
    // would be, so the text reads the same. Inserting a frame makes the document scan all of its
    // text, so a few pages share one: the top item (the one before the frame) is taken out and
    // written back below the new page, inside the frame.
    const QTextBlock oldSecond = wasEmpty ? QTextBlock() : doc->begin().next();
    const bool reuse = topFrame_ && topFramePages_ < kPagesPerFrame && oldSecond.isValid() &&
                       QTextCursor(oldSecond).currentFrame() == topFrame_ &&
                       doc->begin() != readLine_;
    QTextFrame* frame = reuse ? topFrame_.data() : nullptr;
    bool inFrame = false;
    QTextDocumentFragment topText;
    QTextCharFormat topClosing; // the format of the top item's closing line break
    const int oldSecondSeq = reuse ? oldSecond.userState() : -1;
    const int oldSecondAt = reuse ? oldSecond.position() : 0;
    const bool secondIsReadLine = reuse && oldSecond == readLine_;
    if (reuse) {
        topClosing = QTextCursor(oldSecond).blockCharFormat();
        topClosing.clearProperty(QTextFormat::ObjectIndex);
        writer.cursor.setPosition(doc->begin().length() - 1, QTextCursor::KeepAnchor);
        topText = writer.cursor.selection();
        writer.cursor.removeSelectedText();
    }
    auto endBlock = [&](const QTextCharFormat& closing) {
        if (wasEmpty || inFrame) {
            writer.lineEnd(closing);
            return;
        }
        inFrame = true;
        if (frame)
            writer.cursor.setPosition(frame->firstPosition());
        else
            frame = writer.cursor.insertFrame(QTextFrameFormat());
        writer.cursor.setBlockFormat(formats().block);
        writer.cursor.setBlockCharFormat(closing);
        writer.plain.append(QLatin1Char('\n'));
    };
    // Ends the previous item's block; after an entry the next item opens with the empty line.
    auto next = [&] {
        if (first) {
            first = false;
            return;
        }
        endBlock(prevIsEntry ? prevClosing : formats().none);
        if (prevIsEntry)
            writer.text(QString(kLineBreak), formats().none);
    };
    auto line = [&](const QString& text, const QTextCharFormat& format) {
        next();
        writeLine(writer, text, format);
        prevIsEntry = false;
    };
    QTextBlock readLineBlock;
    auto readLineHere = [&](int at) {
        if (at == readLineAt) {
            line(kReadLineText, formats().readLine);
            readLineBlock = writer.cursor.block();
        }
    };

    if (beginning)
        line(kBeginningText, formats().marker);
    QList<ChatItem> items;
    QList<EntryPlace> places;
    QHash<QString, int> pageIds; // id -> index in items
    const int firstSeq = index_.frontSeq(int(kept.size()));
    QDate prevDay;
    bool dayLineForFirst = beginning;
    auto dayLineBefore = [&](const QDate& day) {
        if (day.isValid() && ((prevDay.isValid() && prevDay != day) || dayLineForFirst))
            line(dayLineText(day), formats().marker);
        if (day.isValid()) {
            prevDay = day;
            dayLineForFirst = false;
        }
    };
    for (int k = 0; k < kept.size(); ++k) {
        const TranscriptEntry& e = *kept.at(k);
        readLineHere(k);
        const QDate day = localDay(e.dayTime);
        dayLineBefore(day);
        next();
        const int seq = firstSeq + k;
        EntryPlace place;
        const auto answered = e.replyTo.isEmpty() ? pageIds.cend() : pageIds.constFind(e.replyTo);
        ChatItem item = writeEntry(writer, e, place, seq,
                                   answered == pageIds.cend() ? nullptr : &items.at(*answered));
        place.day = day;
        prevIsEntry = true;
        prevClosing = writer.closing;
        if (!item.msgId.isEmpty())
            pageIds.insert(item.msgId, int(items.size()));
        items.append(item);
        places.append(place);
    }
    readLineHere(int(kept.size()));
    if (oldFirstDay.isValid() && !first)
        dayLineBefore(oldFirstDay);

    QTextBlock topBlock; // reuse: where the old top item went
    int topStart = 0;
    if (reuse) {
        next();
        topBlock = writer.cursor.block();
        topStart = writer.offset();
        writer.cursor.insertFragment(topText);
        prevIsEntry = oldTopIsEntry;
    }

    int shift = 0; // characters put in front of the old top item inside its block
    if (!first) {
        if (wasEmpty) {
            if (prevIsEntry)
                writer.lineEnd(prevClosing); // the trailing empty block, as after an append
        } else if (reuse) {
            // What followed the top item keeps its own leading empty line.
            writer.lineEnd(topClosing);
        } else {
            const QTextCharFormat& closing = prevIsEntry ? prevClosing : formats().none;
            if (frame) {
                // The frame's end closes the page's last block; the old top follows it.
                writer.cursor.setPosition(frame->lastPosition() + 1);
                writer.cursor.setBlockFormat(formats().block);
                writer.cursor.setBlockCharFormat(closing);
                writer.plain.append(QLatin1Char('\n'));
            } else {
                writer.lineEnd(closing);
            }
            if (prevIsEntry) {
                writer.text(QString(kLineBreak), formats().none);
                shift = 1;
            }
        }
    }
    const int inserted = writer.cursor.position();
    writer.cursor.endEditBlock();

    if (reuse) {
        ++topFramePages_;
        movedTopItem(index_, topBlock, oldTopIsEntry ? oldTopSeq : -1, topStart);
        // The item after it moved into a block of its own, as the old top does below.
        QTextBlock second = doc->findBlock(inserted);
        second.setUserState(oldSecondSeq);
        if (const int at = index_.indexOfSeq(oldSecondSeq); at >= 0)
            index_.place(at).block = second;
        if (secondIsReadLine)
            readLine_ = second;
    } else if (frame) {
        topFrame_ = frame;
        topFramePages_ = 1;
    }
    // The old top item's text moved into a block of its own (its old block handle now holds the
    // first new item).
    if (!wasEmpty && !reuse)
        movedTopItem(index_, doc->findBlock(inserted), oldTopIsEntry ? oldTopSeq : -1, shift);
    for (qsizetype i = 0; i < places.size(); ++i)
        places[i].block.setUserState(firstSeq + int(i));
    const bool hadEntries = !index_.isEmpty();
    index_.prepend(items, places);
    if (!hadEntries)
        for (auto it = places.crbegin(); it != places.crend() && !lastDay_.isValid(); ++it)
            lastDay_ = it->day;
    if (readLineBlock.isValid())
        readLine_ = readLineBlock;
    if (beginning)
        showsBeginning_ = true;
    // Entries shown before whose answered message just arrived now quote it.
    if (index_.hasUnresolvedReplies())
        for (const ChatItem& item : items)
            for (const int waiting : index_.takeUnresolvedReplies(item.msgId))
                rewriteMarker(waiting, index_.indexOfMsgId(item.msgId));
    textChangedAbove(inserted - oldSecondAt);

    if (!wasEmpty) {
        const int value = bar->value();
        const qreal moved =
            layout->blockBoundingRect(reuse ? topBlock : doc->findBlock(inserted)).bottom() -
            oldFirstBottom;
        layout->documentSize(); // the range must cover the new value before it is set
        bar->setValue(value + int(moved + 0.5));
    }
    return int(items.size());
}

void TranscriptView::rewriteMarker(int index, int answered) {
    if (index < 0 || answered < 0 || !view_)
        return;
    EntryPlace& place = index_.place(index);
    const ChatItem& target = index_.items().at(answered);
    Entry writer = rewrite(place, place.start, place.markerEnd);
    writer.text(QStringLiteral("  ↳ ") + plainEntryText(replyMarker(target.msgId, -1, &target)) +
                    kLineBreak,
                formats().reply);
    writer.cursor.endEditBlock();
    const int delta = writer.offset() - place.markerEnd;
    place.markerEnd += delta;
    place.bodyStart += delta;
    place.bodyEnd += delta;
}

void TranscriptView::trimToCap() {
    if (index_.size() <= entryCap_ || !view_)
        return;
    int excess = index_.size() - keptAfterTrim(entryCap_);
    // A cut inside a page's frame would take the whole frame with it: the page's remaining
    // entries leave too, so that the cut falls outside any frame.
    QTextDocument* doc = view_->document();
    while (excess < index_.size()) {
        const QTextFrame* frame = QTextCursor(index_.place(excess).block).currentFrame();
        if (!frame || frame == doc->rootFrame())
            break;
        const int frameEnd = frame->lastPosition();
        int low = excess;
        int high = index_.size();
        while (low < high) {
            const int mid = low + (high - low) / 2;
            if (index_.place(mid).block.position() > frameEnd)
                high = mid;
            else
                low = mid + 1;
        }
        excess = low;
    }
    if (excess >= index_.size())
        return;
    EntryPlace& kept = index_.place(excess);
    const int cut = kept.block.position() + kept.start; // its leading empty line goes too
    if (readLine_.isValid() && readLine_.position() < cut)
        readLine_ = QTextBlock();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.setPosition(cut, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
    const int shift = kept.start;
    kept.start -= shift;
    kept.markerEnd -= shift;
    kept.bodyStart -= shift;
    kept.bodyEnd -= shift;
    index_.removeFront(excess);
    releaseThumbnails();
    showsBeginning_ = false;
    textChangedAbove(-cut);
    emit trimmed();
}

void TranscriptView::textChangedAbove(int delta, int at) {
    searchTextStale_ = true;
    searchText_.clear();
    if (search_.counterText().isEmpty() || findText_.isEmpty())
        return;
    // The same match stays current where it still exists.
    const std::optional<TextRange> current = search_.currentMatch();
    refreshSearchText();
    search_.findSearchChanged(findText_, searchText_);
    if (current) {
        const qsizetype moved = current->location + (current->location >= at ? delta : 0);
        const QList<TextRange>& matches = search_.matches();
        const auto it = std::lower_bound(
            matches.cbegin(), matches.cend(), moved,
            [](const TextRange& range, qsizetype at) { return range.location < at; });
        if (it != matches.cend())
            search_.highlightMatchAtIndex(it - matches.cbegin());
    }
    emit findCounterChanged(search_.counterText());
}

void TranscriptView::scrollToReadLine() {
    flush();
    if (!view_)
        return;
    QScrollBar* bar = view_->verticalScrollBar();
    QAbstractTextDocumentLayout* layout = view_->document()->documentLayout();
    layout->documentSize();
    if (readLine_.isValid())
        bar->setValue(int(layout->blockBoundingRect(readLine_).top()) - kReadLineMargin);
    else
        bar->setValue(bar->maximum());
}

} // namespace brindlewick
