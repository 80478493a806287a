#include "transcript_view.h"

#include "file_link.h"
#include "local_time.h"
#include "message_links.h"

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

namespace {

constexpr int kPictureSize = 16;

const QChar kLineBreak = QChar(QChar::LineSeparator);

// Sizes in logical pixels, as every other widget of the window has them.
QFont systemFont(int pixels) {
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    return f;
}

QTextCharFormat textFormat(int pixels, bool bold = false) {
    QTextCharFormat f;
    f.setProperty(QTextFormat::FontPixelSize, pixels);
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

const QColor kGrey = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);
const QColor kLinkColor = QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f);

QTextCharFormat asLink(QTextCharFormat f, const QString& href) {
    f.setAnchor(true);
    f.setAnchorHref(href);
    f.setForeground(kLinkColor);
    f.setFontUnderline(true);
    return f;
}

QTextCharFormat withColor(QTextCharFormat f, const QColor& color) {
    f.setForeground(color);
    return f;
}

// Built once: a format object reused keeps its hash, which the document's format table looks up
// on every insertion.
struct Formats {
    QTextCharFormat none;
    QTextCharFormat system = textFormat(12);
    QTextCharFormat reply = withColor(textFormat(10), kGrey);
    QTextCharFormat ownHeader =
        withColor(textFormat(11, true), QColor::fromRgbF(0.2f, 0.5f, 0.2f, 1.0f));
    QTextCharFormat otherHeader =
        withColor(textFormat(11, true), QColor::fromRgbF(0.2f, 0.2f, 0.8f, 1.0f));
    QTextCharFormat body = withColor(textFormat(12), QColor(Qt::black));
    QTextCharFormat note = withColor(textFormat(12), kGrey); // deleted, "(수정됨)"
    QTextBlockFormat block;
};

const Formats& formats() {
    static const Formats f;
    return f;
}

// Network text as plain characters: its own line breaks stay inside the entry's block, and the
// document's frame markers cannot be smuggled in.
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
    QPalette palette = view_->palette();
    palette.setColor(QPalette::Link, kLinkColor);
    view_->setPalette(palette);
    connect(view_, &QTextBrowser::anchorClicked, this, &TranscriptView::onAnchorClicked);
    view_->viewport()->installEventFilter(this);
    flashTimer_.setSingleShot(true);
    connect(&flashTimer_, &QTimer::timeout, this, [this] {
        if (view_)
            view_->setExtraSelections({});
    });
}

QString TranscriptView::formatTimeISO(const QString& time) {
    return localTime(time).hhmm;
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

// What one append writes: the document edit, and the same characters as the document's plain
// text shows them (breaks as "\n", a picture as U+FFFC) for the search copy.
struct TranscriptView::Entry {
    QTextCursor cursor;
    QString plain;
    int start = 0;
    int bodyStart = 0;
    int bodyEnd = 0;

    void text(const QString& s, const QTextCharFormat& format) {
        cursor.insertText(s, format);
        const qsizetype at = plain.size();
        plain.append(s);
        for (qsizetype i = at; i < plain.size(); ++i)
            if (plain.at(i) == kLineBreak)
                plain[i] = QLatin1Char('\n');
    }
    void lineEnd(const QTextCharFormat& format) {
        cursor.insertBlock(formats().block, format);
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
            text(address.href, asLink(format, address.href));
            done = address.start + address.href.size();
        }
        if (done < s.size())
            text(s.mid(done), format);
    }
};

// Entries arriving in one turn of the event loop share one edit: the text is in the document at
// once, while layout, size updates and the scroll run once for the whole burst.
TranscriptView::Entry TranscriptView::beginEntry() {
    QTextDocument* doc = view_->document();
    if (!batchOpen_) {
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

void TranscriptView::recordItem(const ChatItem& item, const Entry& entry) {
    const int index = int(chatItems_.size());
    chatItems_.append(item);
    spans_.append(Span{entry.start, entry.bodyStart, entry.bodyEnd, entry.cursor.position()});
    if (!item.msgId.isEmpty())
        byMsgId_.insert(item.msgId, index);
}

int TranscriptView::indexOfMsgId(const QString& msgId) const {
    return msgId.isEmpty() ? -1 : byMsgId_.value(msgId, -1);
}

int TranscriptView::entryAt(const QPoint& viewportPos) {
    flush(); // needs the layout
    if (!view_ || spans_.isEmpty())
        return -1;
    const int position = view_->cursorForPosition(viewportPos).position();
    const auto after = std::upper_bound(spans_.cbegin(), spans_.cend(), position,
                                        [](int p, const Span& span) { return p < span.start; });
    if (after == spans_.cbegin())
        return -1;
    const auto span = std::prev(after);
    return position < span->end ? int(span - spans_.cbegin()) : -1;
}

bool TranscriptView::markDeleted(const QString& msgId) {
    const int index = indexOfMsgId(msgId);
    if (index < 0 || !view_)
        return false;
    ChatItem& item = chatItems_[index];
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
    ChatItem& item = chatItems_[index];
    if (!item.deleted) { // a removed message stays removed
        item.edited = true;
        item.text = orEmpty(text);
        replaceBody(index, item.text, true);
    }
    return true;
}

// Rewrites the entry's text in the document; the entries after it move by the difference.
// Rare, so the linear shift is fine; appends stay constant time.
void TranscriptView::replaceBody(int index, const QString& text, bool edited) {
    Span& span = spans_[index];
    Entry entry;
    entry.cursor = QTextCursor(view_->document());
    entry.cursor.setPosition(span.bodyStart);
    entry.cursor.setPosition(span.bodyEnd, QTextCursor::KeepAnchor);
    entry.cursor.beginEditBlock();
    entry.cursor.removeSelectedText();
    if (edited) {
        entry.linkedText(plainEntryText(text), formats().body);
        entry.text(QStringLiteral(" (수정됨)"), formats().note);
    } else {
        entry.text(text, formats().note);
    }
    entry.cursor.endEditBlock();
    const int delta = entry.cursor.position() - span.bodyEnd;
    span.bodyEnd += delta;
    span.end += delta;
    for (qsizetype i = index + 1; i < spans_.size(); ++i) {
        Span& later = spans_[i];
        later.start += delta;
        later.bodyStart += delta;
        later.bodyEnd += delta;
        later.end += delta;
    }
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
    Entry entry = beginEntry();
    entry.text(plainEntryText(text), formats().system);
    finishEntry(entry);
}

void TranscriptView::appendChatMsgId(const QString& msgId, const QString& sender,
                                     const QString& text, const QString& time, bool mine,
                                     const QString& replyTo, const EntryPicture& picture) {
    if (!view_)
        return;
    ChatItem item;
    item.msgId = orEmpty(msgId);
    item.sender = orEmpty(sender);
    item.text = orEmpty(text);
    item.time = formatTimeISO(time);
    item.mine = mine;

    Entry entry = beginEntry();
    if (!replyTo.isEmpty()) {
        // What it answers when that is in view, else its id.
        const int answered = indexOfMsgId(replyTo);
        const QString marker = answered < 0
                                   ? QStringLiteral("[답장 #") + replyTo + QStringLiteral("]")
                                   : chatItems_.at(answered).sender + QStringLiteral(": ") +
                                         quote(chatItems_.at(answered).text);
        entry.text(QStringLiteral("  ↳ ") + plainEntryText(marker) + kLineBreak, formats().reply);
    }
    writePictureAndHeader(entry, picture, item.sender, item.time, mine);
    entry.bodyStart = entry.cursor.position();
    entry.linkedText(plainEntryText(item.text), formats().body);
    entry.bodyEnd = entry.cursor.position();
    // The entry's closing line break ends the block: the next entry starts a fresh one.
    entry.lineEnd(formats().body);
    finishEntry(entry);
    recordItem(item, entry);
}

void TranscriptView::appendFileChatFrom(const QString& sender, const QString& name,
                                        const QString& fileId, const QString& msgId,
                                        const QString& time, bool mine,
                                        const EntryPicture& picture) {
    if (!view_)
        return;
    if (fileId.isEmpty()) {
        appendChat(QStringLiteral("%1: [파일] %2").arg(sender, name));
        return;
    }
    ChatItem item;
    item.msgId = orEmpty(msgId);
    item.sender = orEmpty(sender);
    item.text = QStringLiteral("[파일] ") + (name.isNull() ? fileId : name);
    item.time = formatTimeISO(time);
    item.mine = mine;
    item.isFile = true;
    item.fileId = fileId;
    item.fileName = name.isNull() ? QStringLiteral("file") : name;

    const QString label = name.isEmpty() ? fileId : name;
    QTextCharFormat line = formats().system;
    if (const std::optional<QString> link = buildFileLink(fileId, name))
        line = asLink(line, *link);

    Entry entry = beginEntry();
    writePictureAndHeader(entry, picture, item.sender, item.time, mine);
    entry.bodyStart = entry.cursor.position();
    entry.text(QStringLiteral("[파일] ") + plainEntryText(label) +
                   QStringLiteral(" (클릭하여 저장)"),
               line);
    entry.bodyEnd = entry.cursor.position();
    entry.lineEnd(line);
    finishEntry(entry);
    recordItem(item, entry);
}

void TranscriptView::writePictureAndHeader(Entry& entry, const EntryPicture& picture,
                                           const QString& sender, const QString& time, bool mine) {
    entry.picture(pictureFormat(picture));
    // The space after the picture shares the header's format: one insertion fewer per entry.
    entry.text(QLatin1Char(' ') + plainEntryText(sender) + QStringLiteral("  ") + time +
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
    searchText_.clear();
    searchTextStale_ = false;
    chatItems_.clear();
    spans_.clear();
    byMsgId_.clear();
    flashTimer_.stop();
    search_.reset();
    emit findCounterChanged(search_.counterText());
}

bool TranscriptView::eventFilter(QObject* watched, QEvent* event) {
    // QUrl lower-cases hosts, and file ids keep their case: remember the raw href under the press.
    // The type is checked first: the viewport also reports here while the browser is torn down.
    if (event->type() == QEvent::MouseButtonPress && view_ && watched == view_->viewport())
        pressedHref_ = view_->anchorAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    return QObject::eventFilter(watched, event);
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
