#include "transcript_view.h"

#include "bidi_isolate.h"
#include "file_link.h"
#include "message_links.h"
#include "transcript_format.h"
#include "transcript_writer.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

#include <algorithm>

namespace brindlewick {

using namespace transcript;

namespace {

constexpr int kPictureSize = 16;

// Sizes in logical pixels, as every other widget of the window has them.
QFont systemFont(int pixels) {
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    return f;
}

const QImage& placeholderImage() {
    static const QImage image =
        QImage(QStringLiteral(":/brindlewick/views/user.png"))
            .scaled(kPictureSize, kPictureSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

TranscriptView::TranscriptView(QTextBrowser* view, QObject* parent) : QObject(parent), view_(view) {
    Q_ASSERT(view);
    view_->setReadOnly(true);
    view_->setOpenLinks(false);
    view_->setOpenExternalLinks(false);
    view_->setUndoRedoEnabled(false);
    view_->document()->setUndoRedoEnabled(false);
    view_->setFont(systemFont(12));
    view_->document()->setDefaultFont(systemFont(12));
    followPalette();
    view_->installEventFilter(this);
    connect(view_, &QTextBrowser::anchorClicked, this, &TranscriptView::onAnchorClicked);
    view_->viewport()->installEventFilter(this);
    // Following the newest text: while the reader is at the bottom, growth keeps them there.
    QScrollBar* bar = view_->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (followBottom_ && view_)
            view_->verticalScrollBar()->setValue(maximum);
    });
    connect(bar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!view_)
            return;
        followBottom_ = value >= view_->verticalScrollBar()->maximum() - kBottomSlack;
        if (nearTop())
            emit nearTopReached();
    });
    flashTimer_.setSingleShot(true);
    connect(&flashTimer_, &QTimer::timeout, this, [this] {
        if (view_)
            view_->setExtraSelections({});
    });
}

QString TranscriptView::formatTimeISO(const QString& time) {
    return timeOfDay(time);
}

QString TranscriptView::quote(const QString& text) {
    qsizetype length = std::min<qsizetype>(text.size(), kQuoteLength);
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate())
        --length; // never half a character
    QString out = text.left(length);
    for (QChar& c : out)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == kLineBreak ||
            c == QChar(QChar::ParagraphSeparator))
            c = QLatin1Char(' ');
    return out;
}

QString TranscriptView::plainText() const {
    return view_ ? view_->document()->toPlainText() : QString();
}

TranscriptView::~TranscriptView() {
    flush();
}

// Entries arriving in one turn of the event loop share one edit: the text is in the document at
// once, while layout, size updates and the scroll run once for the whole burst.
TranscriptView::Entry TranscriptView::beginEntry() {
    QTextDocument* doc = view_->document();
    if (!batchOpen_) {
        // Old entries leave only if the reader was at the bottom, not reading further up.
        trimAllowed_ = followBottom_;
        batch_ = QTextCursor(doc);
        batch_.beginEditBlock();
        batchOpen_ = true;
        QMetaObject::invokeMethod(this, &TranscriptView::flush, Qt::QueuedConnection);
    }
    Entry entry;
    entry.cursor = QTextCursor(doc);
    entry.cursor.movePosition(QTextCursor::End);
    entry.cursor.beginEditBlock();
    // The leading "\n" when the transcript holds text. After a chat entry the document ends in
    // an empty block; a line separator there gives the same empty line without another block.
    if (!doc->isEmpty()) {
        if (entry.cursor.block().length() <= 1)
            entry.text(QString(kLineBreak), formats().none);
        else
            entry.lineEnd(formats().none);
    }
    entry.start = entry.cursor.position();
    return entry;
}

void TranscriptView::finishEntry(Entry& entry) {
    entry.cursor.endEditBlock();
    if (!searchTextStale_)
        searchText_.append(entry.plain);
    scrollPending_ = true; // done by flush, once per burst
}

int TranscriptView::indexOfMsgId(const QString& msgId) const {
    return index_.indexOfMsgId(msgId);
}

int TranscriptView::entryAt(const QPoint& viewportPos) {
    flush(); // needs the layout
    if (!view_ || index_.isEmpty())
        return -1;
    const int position = view_->cursorForPosition(viewportPos).position();
    const QTextBlock block = view_->document()->findBlock(position);
    const int index = index_.indexOfSeq(block.userState());
    if (index < 0 || position < block.position() + index_.place(index).start)
        return -1;
    return index;
}

bool TranscriptView::markDeleted(const QString& msgId) {
    const int index = indexOfMsgId(msgId);
    if (index < 0 || !view_)
        return false;
    ChatItem& item = index_.item(index);
    if (!item.deleted) {
        item.deleted = true;
        item.text = QStringLiteral("삭제된 메시지입니다");
        replaceBody(index, item.text, false);
    }
    return true;
}

bool TranscriptView::markEdited(const QString& msgId, const QString& text) {
    const int index = indexOfMsgId(msgId);
    if (index < 0 || !view_)
        return false;
    ChatItem& item = index_.item(index);
    if (!item.deleted) { // a removed message stays removed
        item.edited = true;
        item.text = orEmpty(text);
        replaceBody(index, item.text, true);
    }
    return true;
}

TranscriptView::Entry TranscriptView::rewrite(const EntryPlace& place, int from, int to) {
    const int blockStart = place.block.position();
    Entry writer;
    writer.cursor = QTextCursor(view_->document());
    writer.cursor.setPosition(blockStart + from);
    writer.cursor.setPosition(blockStart + to, QTextCursor::KeepAnchor);
    writer.cursor.beginEditBlock();
    writer.cursor.removeSelectedText();
    return writer;
}

// Rewrites the entry's text in the document. Offsets are within the entry's block, so nothing
// else moves.
void TranscriptView::replaceBody(int index, const QString& text, bool edited) {
    flush();
    EntryPlace& place = index_.place(index);
    Entry entry = rewrite(place, place.bodyStart, place.bodyEnd);
    if (edited) {
        entry.linkedText(plainEntryText(text), formats().body);
        entry.text(QStringLiteral(" (수정됨)"), formats().note);
    } else {
        entry.text(text, formats().note);
    }
    entry.cursor.endEditBlock();
    place.bodyEnd = entry.offset();
    // The search copy no longer matches the document; a running find sees the new text now.
    searchTextStale_ = true;
    searchText_.clear();
    if (!search_.counterText().isEmpty() && !findText_.isEmpty()) {
        refreshSearchText();
        search_.findSearchChanged(findText_, searchText_);
        emit findCounterChanged(search_.counterText());
    }
}

void TranscriptView::flush() {
    if (batchOpen_) {
        batchOpen_ = false;
        batch_.endEditBlock();
        batch_ = QTextCursor();
        if (trimAllowed_)
            trimToCap();
    }
    if (scrollPending_ && view_) {
        scrollPending_ = false;
        QScrollBar* bar = view_->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}

void TranscriptView::appendChat(const QString& text) {
    if (!view_ || text.isNull())
        return;
    appendLine(plainEntryText(text), formats().system);
}

void TranscriptView::appendLine(const QString& text, const QTextCharFormat& format) {
    Entry entry = beginEntry();
    entry.text(text, format);
    finishEntry(entry);
}

void TranscriptView::appendChatMsgId(const QString& msgId, const QString& sender,
                                     const QString& text, const QString& time, bool mine,
                                     const QString& replyTo, const EntryPicture& picture) {
    TranscriptEntry entry;
    entry.msgId = msgId;
    entry.sender = sender;
    entry.text = text;
    entry.time = time;
    entry.dayTime = time;
    entry.mine = mine;
    entry.replyTo = replyTo;
    entry.picture = picture;
    appendEntry(entry);
}

void TranscriptView::appendFileChatFrom(const QString& sender, const QString& name,
                                        const QString& fileId, const QString& msgId,
                                        const QString& time, bool mine, const EntryPicture& picture,
                                        const QString& dayTime) {
    TranscriptEntry entry;
    entry.msgId = msgId;
    entry.sender = sender;
    entry.text = name;
    entry.time = time;
    entry.dayTime = dayTime.isEmpty() ? time : dayTime;
    entry.mine = mine;
    entry.isFile = true;
    entry.fileId = fileId;
    entry.picture = picture;
    appendEntry(entry);
}

void TranscriptView::appendEntry(const TranscriptEntry& entry) {
    if (!view_)
        return;
    if (entry.isFile && entry.fileId.isEmpty() && !entry.deleted) {
        appendChat(
            QStringLiteral("%1: [파일] %2").arg(isolated(entry.sender), isolated(entry.text)));
        return;
    }
    // A day line wherever the day changes between two entries.
    const LocalTime read = localTime(entry.dayTime);
    const QDate& day = read.day;
    if (day.isValid()) {
        if (lastDay_.isValid() && lastDay_ != day)
            appendLine(dayLineText(day), formats().marker);
        lastDay_ = day;
    }
    Entry writer = beginEntry();
    EntryPlace place;
    const int seq = index_.frontSeq(0) + index_.size();
    const ChatItem item = writeEntry(writer, entry, place, seq, nullptr,
                                     entry.time == entry.dayTime ? &read : nullptr);
    place.day = day;
    // The entry's closing line break ends the block: the next entry starts a fresh one.
    writer.lineEnd(writer.closing);
    finishEntry(writer);
    index_.append(item, place);
}

// The reply line's text: what it answers when that is loaded, else its id (remembered, so a page
// that brings the answered message can fill it in).
QString TranscriptView::replyMarker(const QString& replyTo, int seq, const ChatItem* answered) {
    if (!answered) {
        const int index = indexOfMsgId(replyTo);
        if (index < 0) {
            index_.addUnresolvedReply(replyTo, seq);
            return QStringLiteral("[답장 #") + isolated(replyTo) + QStringLiteral("]");
        }
        answered = &index_.items().at(index);
    }
    // The quote too: its text stands before the entry's own header and body.
    return isolated(answered->sender) + QStringLiteral(": ") + isolated(quote(answered->text));
}

ChatItem TranscriptView::writeEntry(Entry& writer, const TranscriptEntry& entry, EntryPlace& place,
                                    int seq, const ChatItem* answered, const LocalTime* shown) {
    ChatItem item;
    item.msgId = orEmpty(entry.msgId);
    item.sender = orEmpty(entry.sender);
    item.time = shown ? shown->hhmm : formatTimeISO(entry.time);
    item.mine = entry.mine;
    item.edited = entry.edited && !entry.deleted;
    item.deleted = entry.deleted;
    writer.closing = formats().body;
    place.block = writer.cursor.block();
    place.block.setUserState(seq);
    const int blockStart = place.block.position();
    place.start = writer.offset(blockStart);
    if (!entry.isFile && !entry.replyTo.isEmpty()) {
        const QString marker = replyMarker(entry.replyTo, seq, answered);
        writer.text(QStringLiteral("  ↳ ") + plainEntryText(marker) + kLineBreak, formats().reply);
    }
    place.markerEnd = writer.offset(blockStart);
    writePictureAndHeader(writer, entry.picture, item.sender, item.time, entry.mine);
    place.bodyStart = writer.offset(blockStart);
    if (entry.isFile) {
        const QString& name = entry.text;
        item.isFile = true;
        item.fileId = entry.fileId;
        item.fileName = name.isNull() ? QStringLiteral("file") : name;
        item.text = QStringLiteral("[파일] ") + (name.isNull() ? entry.fileId : name);
        QTextCharFormat line = formats().system;
        const std::optional<QString> link = buildFileLink(entry.fileId, name);
        if (link)
            line = asLink(line, *link);
        if (entry.deleted) {
            writer.text(QStringLiteral("삭제된 메시지입니다"), formats().note);
        } else {
            writer.text(QStringLiteral("[파일] ") +
                            plainEntryText(isolated(name.isEmpty() ? entry.fileId : name)) +
                            QStringLiteral(" (클릭하여 저장)"),
                        line);
            if (link && isPictureFileName(name))
                writeThumbnailOrWait(writer, entry.fileId, *link, seq);
        }
        writer.closing = entry.deleted ? formats().note : line;
    } else if (entry.deleted) {
        writer.text(QStringLiteral("삭제된 메시지입니다"), formats().note);
    } else {
        writer.linkedText(plainEntryText(orEmpty(entry.text)), formats().body);
        if (entry.edited)
            writer.text(QStringLiteral(" (수정됨)"), formats().note);
    }
    place.bodyEnd = writer.offset(blockStart);
    if (entry.deleted)
        item.text = QStringLiteral("삭제된 메시지입니다");
    else if (!entry.isFile)
        item.text = orEmpty(entry.text);
    return item;
}

void TranscriptView::writePictureAndHeader(Entry& entry, const EntryPicture& picture,
                                           const QString& sender, const QString& time, bool mine) {
    entry.picture(pictureFormat(picture));
    // The space after the picture shares the header's format: one insertion fewer per entry.
    entry.text(QLatin1Char(' ') + plainEntryText(isolated(sender)) + QStringLiteral("  ") + time +
                   kLineBreak,
               mine ? formats().ownHeader : formats().otherHeader);
}

// One document resource per distinct picture, shared by every entry that shows it. A newer
// picture under the same key gets a resource of its own, so earlier entries keep theirs.
const QTextImageFormat& TranscriptView::pictureFormat(const EntryPicture& picture) {
    const bool placeholder = picture.key.isEmpty() || picture.image.isNull();
    const QString key = placeholder ? QString() : picture.key;
    auto it = pictures_.find(key);
    if (it != pictures_.end() && (placeholder || it->sourceKey == picture.image.cacheKey()))
        return it->format;
    const QImage scaled =
        placeholder ? placeholderImage()
                    : picture.image.scaled(kPictureSize, kPictureSize, Qt::IgnoreAspectRatio,
                                           Qt::SmoothTransformation);
    if (it != pictures_.end() && it->scaled == scaled) {
        it->sourceKey = picture.image.cacheKey();
        return it->format;
    }
    Picture entry;
    const QUrl url = placeholder ? QUrl(QStringLiteral("bw-picture:placeholder"))
                                 : QUrl(QStringLiteral("bw-picture:%1").arg(nextPictureId_++));
    entry.sourceKey = placeholder ? 0 : picture.image.cacheKey();
    entry.scaled = scaled;
    entry.format.setName(url.toString());
    entry.format.setWidth(kPictureSize);
    entry.format.setHeight(kPictureSize);
    view_->document()->addResource(QTextDocument::ImageResource, url, scaled);
    return pictures_.insert(key, entry)->format;
}

void TranscriptView::clearChat() {
    flush();
    if (view_) {
        view_->document()->clear();
        view_->setExtraSelections({});
    }
    pictures_.clear(); // clear() dropped the document's resources too
    thumbnails_.clear();
    awaitedThumbnails_.clear();
    searchText_.clear();
    searchTextStale_ = false;
    index_.clear();
    lastDay_ = QDate();
    readLine_ = QTextBlock();
    showsBeginning_ = false;
    topFrame_ = nullptr;
    topFramePages_ = 0;
    followBottom_ = true;
    flashTimer_.stop();
    search_.reset();
    emit findCounterChanged(search_.counterText());
}

bool TranscriptView::eventFilter(QObject* watched, QEvent* event) {
    // QUrl lower-cases hosts, and file ids keep their case: remember the raw href under the press.
    // The type is checked first: the viewport also reports here while the browser is torn down.
    if (event->type() == QEvent::MouseButtonPress && view_ && watched == view_->viewport())
        pressedHref_ = view_->anchorAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    else if (event->type() == QEvent::PaletteChange && view_ && watched == view_)
        followPalette();
    return QObject::eventFilter(watched, event);
}

void TranscriptView::followPalette() {
    useColorsOf(view_->palette());
    const Formats& now = formats();
    if (colorsGeneration_ != now.generation) {
        colorsGeneration_ = now.generation;
        flush();
        recolor(view_->document());
    }
    const QColor link = now.colors[int(TextRole::Link)];
    if (view_->palette().color(QPalette::Link) != link) {
        QPalette palette = view_->palette();
        palette.setColor(QPalette::Link, link);
        view_->setPalette(palette); // comes back here as a PaletteChange, with nothing to do
    }
}

void TranscriptView::onAnchorClicked(const QUrl& url) {
    // The href as written: QUrl mangles hosts (case, numbers), and file ids are hosts here.
    QString href = pressedHref_;
    if (href.isEmpty() && view_)
        href = view_->textCursor().charFormat().anchorHref(); // activated from the keyboard
    if (href.isEmpty())
        href = url.toString(QUrl::FullyEncoded);
    pressedHref_.clear();
    if (const std::optional<FileLink> link = parseFileLink(href)) {
        emit fileLinkClicked(link->fileId, link->suggestedName);
        return;
    }
    const QUrl address(href, QUrl::StrictMode);
    if (isOpenableAddress(address))
        emit linkClicked(address);
}

} // namespace brindlewick
