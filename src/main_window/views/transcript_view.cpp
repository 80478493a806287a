#include "transcript_view.h"

#include "file_link.h"
#include "local_time.h"
#include "message_links.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace brindlewick {

namespace {

QString orEmpty(const QString& s) {
    return s.isNull() ? QString(QLatin1String("")) : s;
}

int minuteOf(const QString& hhmm) {
    if (hhmm.size() != 5 || hhmm.at(2) != QLatin1Char(':'))
        return -1;
    bool hoursOk = false;
    bool minutesOk = false;
    const int hours = hhmm.left(2).toInt(&hoursOk);
    const int minutes = hhmm.mid(3).toInt(&minutesOk);
    return hoursOk && minutesOk ? hours * 60 + minutes : -1;
}

QDate dayOf(const QString& iso, const LocalTime& local) {
    return local.date.isValid() ? local.date : QDate::fromString(iso.left(10), Qt::ISODate);
}

} // namespace

TranscriptView::TranscriptView(MessageListView* view, TranscriptModel* model, QObject* parent)
    : QObject(parent), view_(view) {
    Q_ASSERT(view);
    if (!model) {
        ownModel_ = std::make_unique<TranscriptModel>();
        model = ownModel_.get();
    }
    model_ = model;
    view_->setModel(model_);
    view_->setDecorations(this);
    connect(view_, &MessageListView::nearTopReached, this, &TranscriptView::nearTopReached);
    connect(view_, &MessageListView::fileClicked, this, &TranscriptView::onFileClicked);
    connect(view_, &MessageListView::linkClicked, this, &TranscriptView::onLinkClicked);
    // The searched text follows the rows: appends extend it, anything else reads it afresh.
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                if (searchStale_)
                    return;
                if (first != model_->size() - 1 - (last - first)) {
                    searchStale_ = true;
                    return;
                }
                for (int row = first; row <= last; ++row)
                    addSearchText(row);
            });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this] { searchStale_ = true; });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { searchStale_ = true; });
    connect(model_, &TranscriptModel::messageChanged, this, [this] {
        searchStale_ = true;
        if (!findText_.isEmpty() && !search_.counterText().isEmpty())
            findSearchChanged(findText_);
    });
}

TranscriptView::~TranscriptView() {
    if (view_)
        view_->setDecorations(nullptr);
    if (view_ && ownModel_)
        view_->setModel(nullptr);
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
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(QChar::LineSeparator) ||
            c == QChar(QChar::ParagraphSeparator))
            c = QLatin1Char(' ');
    return out;
}

// ---- rows in -------------------------------------------------------------------------------

ChatItem TranscriptView::itemFor(const TranscriptEntry& entry) {
    ChatItem item;
    item.msgId = orEmpty(entry.msgId);
    item.sender = orEmpty(entry.sender);
    const LocalTime shown = localTime(entry.time);
    item.time = shown.hhmm;
    const QString& dayTime = entry.dayTime.isEmpty() ? entry.time : entry.dayTime;
    const LocalTime placed = dayTime == entry.time ? shown : localTime(dayTime);
    item.day = dayOf(dayTime, placed);
    item.minuteOfDay = minuteOf(placed.hhmm);
    item.mine = entry.mine;
    item.deleted = entry.deleted;
    item.edited = entry.edited && !entry.deleted;
    item.replyTo = entry.isFile ? QString() : entry.replyTo;
    if (entry.isFile) {
        item.isFile = true;
        item.fileId = entry.fileId;
        item.fileName = entry.text.isNull() ? QStringLiteral("file") : entry.text;
        item.fileSize = entry.fileSize;
    }
    if (entry.deleted)
        item.text = TranscriptModel::kDeletedText;
    else if (entry.isFile)
        item.text = item.fileName;
    else
        item.text = orEmpty(entry.text);
    if (!entry.picture.key.isEmpty() && !entry.picture.image.isNull()) {
        keepPicture(entry.picture);
        item.pictureKey = entry.picture.key;
    }
    if (entry.sendState != SendState::Sent && !entry.clientId.isEmpty()) {
        item.clientId = entry.clientId;
        item.sendState = entry.sendState;
    }
    return item;
}

void TranscriptView::keepPicture(const EntryPicture& picture) {
    const qint64 source = picture.image.cacheKey();
    if (pictureSources_.value(picture.key, 0) == source)
        return;
    pictureSources_.insert(picture.key, source);
    pictures_.insert(picture.key, QPixmap::fromImage(picture.image.scaled(
                                      MessageLayout::kPictureSize, MessageLayout::kPictureSize,
                                      Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)));
    if (view_)
        view_->viewport()->update();
}

void TranscriptView::wantThumbnail(const ChatItem& item) {
    if (!item.isFile || item.deleted || !thumbnailProvider_ || !isPictureFileName(item.fileName) ||
        !buildFileLink(item.fileId, item.fileName))
        return;
    if (thumbnailUsers_[item.fileId]++ > 0)
        return; // already at hand or asked for
    const QImage image = thumbnailProvider_(item.fileId);
    if (!image.isNull())
        thumbnails_.insert(item.fileId, image);
}

void TranscriptView::appendChat(const QString& text) {
    if (text.isNull())
        return;
    model_->appendNotice(text);
    scheduleFlush();
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
                                        const QString& dayTime, qint64 fileSize) {
    TranscriptEntry entry;
    entry.msgId = msgId;
    entry.sender = sender;
    entry.text = name;
    entry.time = time;
    entry.dayTime = dayTime.isEmpty() ? time : dayTime;
    entry.mine = mine;
    entry.isFile = true;
    entry.fileId = fileId;
    entry.fileSize = fileSize;
    entry.picture = picture;
    appendEntry(entry);
}

void TranscriptView::appendEntry(const TranscriptEntry& entry) {
    const ChatItem item = itemFor(entry);
    model_->append(item);
    wantThumbnail(item);
    scheduleFlush();
}

int TranscriptView::prependEntries(const QList<TranscriptEntry>& entries, const PageMarks& marks) {
    flush();
    QList<ChatItem> items;
    items.reserve(entries.size());
    for (const TranscriptEntry& entry : entries)
        items.append(itemFor(entry));
    const int before = model_->size();
    const int added = model_->prepend(items, marks);
    for (int row = 0; row < model_->size() - before; ++row)
        if (const ChatItem* item = model_->message(row))
            wantThumbnail(*item);
    if (added > 0 || model_->size() != before) {
        if (!findText_.isEmpty() && !search_.counterText().isEmpty())
            findSearchChanged(findText_);
    }
    if (view_)
        view_->settle();
    return added;
}

void TranscriptView::scrollToReadLine() {
    flush();
    if (!view_)
        return;
    const int row = model_->readLineIndex();
    if (row >= 0)
        view_->scrollToTop(row);
    else
        view_->scrollToBottom();
}

void TranscriptView::clearChat() {
    model_->clear();
    thumbnails_.clear();
    thumbnailUsers_.clear();
    pictures_.clear();
    pictureSources_.clear();
    search_.reset();
    searchStale_ = true;
    emit findCounterChanged(search_.counterText());
}

void TranscriptView::scheduleFlush() {
    if (flushPending_)
        return;
    flushPending_ = true;
    QMetaObject::invokeMethod(this, &TranscriptView::flush, Qt::QueuedConnection);
}

void TranscriptView::flush() {
    flushPending_ = false;
    if (!view_)
        return;
    if (view_->followsBottom())
        trimToCap();
    view_->settle();
}

void TranscriptView::releaseRows(int first, int count) {
    for (int row = first; row < first + count; ++row) {
        const ChatItem* item = model_->message(row);
        if (!item || !item->isFile)
            continue;
        const auto it = thumbnailUsers_.find(item->fileId);
        if (it == thumbnailUsers_.end())
            continue;
        if (--*it <= 0) {
            thumbnailUsers_.erase(it);
            thumbnails_.remove(item->fileId);
        }
    }
}

void TranscriptView::trimToCap() {
    if (model_->messageCount() <= entryCap_)
        return;
    int leave = model_->messageCount() - keptAfterTrim(entryCap_);
    int rows = 0;
    while (rows < model_->size() && leave > 0) {
        if (model_->message(rows))
            --leave;
        ++rows;
    }
    releaseRows(0, rows);
    model_->removeFront(rows);
#if defined(__GLIBC__)
    // A burst leaves the heap holding what the rows that left and the frames that brought the
    // new ones took; give the free pages back rather than keep the high-water mark.
    malloc_trim(0);
#endif
    emit trimmed();
}

bool TranscriptView::markDeleted(const QString& msgId) {
    const int row = model_->indexOfMsgId(msgId);
    if (const ChatItem* item = model_->message(row); item && item->isFile)
        releaseRows(row, 1);
    return model_->markDeleted(msgId);
}

bool TranscriptView::markEdited(const QString& msgId, const QString& text) {
    return model_->markEdited(msgId, text);
}

bool TranscriptView::settleUnsent(const QString& clientId, const TranscriptEntry& sent) {
    flush();
    TranscriptEntry plain = sent;
    plain.picture = {};
    const int row = model_->indexOfClientId(clientId);
    if (!model_->settle(clientId, itemFor(plain)))
        return false;
    // A picture file sent from here: its thumbnail comes once the row has its file id.
    if (const ChatItem* item = model_->message(row); item && item->msgId == sent.msgId)
        wantThumbnail(*item);
    scheduleFlush();
    return true;
}

bool TranscriptView::setSendState(const QString& clientId, SendState state) {
    return model_->setSendState(clientId, state);
}

bool TranscriptView::removeUnsent(const QString& clientId) {
    flush();
    if (!model_->removeUnsent(clientId))
        return false;
    scheduleFlush();
    return true;
}

// ---- rows out ------------------------------------------------------------------------------

QList<ChatItem> TranscriptView::chatItems() const {
    QList<ChatItem> out;
    out.reserve(model_->messageCount());
    for (int row = 0; row < model_->size(); ++row)
        if (const ChatItem* item = model_->message(row))
            out.append(*item);
    return out;
}

const ChatItem* TranscriptView::firstMessage() const {
    for (int row = 0; row < model_->size(); ++row)
        if (const ChatItem* item = model_->message(row))
            return item;
    return nullptr;
}

const ChatItem* TranscriptView::lastMessage() const {
    for (int row = model_->size() - 1; row >= 0; --row)
        if (const ChatItem* item = model_->message(row))
            return item;
    return nullptr;
}

int TranscriptView::indexOfMsgId(const QString& msgId) const {
    const int row = model_->indexOfMsgId(msgId);
    if (row < 0)
        return -1;
    int index = 0;
    for (int r = 0; r < row; ++r)
        if (model_->message(r))
            ++index;
    return index;
}

int TranscriptView::messageRowAt(const QPoint& viewportPos) {
    flush();
    const int row = view_ ? view_->rowAt(viewportPos) : -1;
    return model_->message(row) ? row : -1;
}

QString TranscriptView::plainText() const {
    QString out;
    for (int row = 0; row < model_->size(); ++row) {
        if (row > 0)
            out += QLatin1Char('\n');
        out += model_->spokenText(row);
    }
    return out;
}

QPixmap TranscriptView::picture(const QString& key) const {
    return key.isEmpty() ? QPixmap() : pictures_.value(key);
}

QImage TranscriptView::thumbnail(const QString& fileId) const {
    return thumbnails_.value(fileId);
}

void TranscriptView::showThumbnail(const QString& fileId, const QImage& image) {
    if (image.isNull() || !thumbnailUsers_.contains(fileId))
        return;
    thumbnails_.insert(fileId, image);
    for (int row = 0; row < model_->size(); ++row)
        if (const ChatItem* item = model_->message(row); view_ && item && item->fileId == fileId)
            view_->relayout(row);
}

void TranscriptView::onFileClicked(int row) {
    const ChatItem* item = model_->message(row);
    if (!item || !item->isFile || item->deleted)
        return;
    emit fileLinkClicked(item->fileId, plainFileName(item->fileName));
}

void TranscriptView::onLinkClicked(const QString& href) {
    const QUrl address(href, QUrl::StrictMode);
    if (isOpenableAddress(address))
        emit linkClicked(address);
}

} // namespace brindlewick
