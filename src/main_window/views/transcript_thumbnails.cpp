// Thumbnails of picture files below their links. One document resource per file; an entry
// written before its thumbnail came waits for it by sequence number, so entries put in above
// or trimmed meanwhile cost nothing.

#include "file_link.h"
#include "transcript_format.h"
#include "transcript_view.h"
#include "transcript_writer.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QSet>
#include <QTextDocument>

namespace brindlewick {

using namespace transcript;

void TranscriptView::writeThumbnailOrWait(Entry& writer, const QString& fileId, const QString& href,
                                          int seq) {
    if (!thumbnailProvider_)
        return;
    const QImage image = thumbnailProvider_(fileId);
    if (image.isNull())
        awaitedThumbnails_.insert(fileId, seq);
    else
        writeThumbnail(writer, fileId, href, image);
}

void TranscriptView::writeThumbnail(Entry& writer, const QString& fileId, const QString& href,
                                    const QImage& image) {
    auto it = thumbnails_.find(fileId);
    if (it == thumbnails_.end()) {
        const QUrl url(QStringLiteral("bw-thumbnail:%1").arg(nextThumbnailId_++));
        view_->document()->addResource(QTextDocument::ImageResource, url, image);
        QTextImageFormat format;
        format.setName(url.toString());
        format.setWidth(image.width() / image.devicePixelRatio());
        format.setHeight(image.height() / image.devicePixelRatio());
        format.setAnchor(true);
        it = thumbnails_.insert(fileId, format);
    }
    // Each entry's own link: the same file may be sent under other names.
    QTextImageFormat format = *it;
    format.setAnchorHref(href);
    writer.text(QString(kLineBreak), asLink(formats().system, href));
    writer.picture(format);
}

void TranscriptView::showThumbnail(const QString& fileId, const QImage& image) {
    if (!view_ || image.isNull() || !awaitedThumbnails_.contains(fileId))
        return;
    const QList<int> seqs = awaitedThumbnails_.values(fileId);
    awaitedThumbnails_.remove(fileId);
    flush();
    QTextDocument* doc = view_->document();
    QScrollBar* bar = view_->verticalScrollBar();
    for (const int seq : seqs) {
        const int index = index_.indexOfSeq(seq);
        if (index < 0)
            continue;
        const ChatItem& item = index_.items().at(index);
        const std::optional<QString> href = buildFileLink(item.fileId, item.fileName);
        if (item.deleted || !href)
            continue;
        EntryPlace& place = index_.place(index);
        const int blockStart = place.block.position();
        QAbstractTextDocumentLayout* layout = doc->documentLayout();
        const QRectF before = layout->blockBoundingRect(place.block);
        Entry writer;
        writer.cursor = QTextCursor(doc);
        writer.cursor.setPosition(blockStart + place.bodyEnd);
        const int at = writer.cursor.position();
        writer.cursor.beginEditBlock();
        writeThumbnail(writer, fileId, *href, image);
        writer.cursor.endEditBlock();
        const int inserted = writer.offset(blockStart) - place.bodyEnd;
        place.bodyEnd += inserted;
        // A picture growing above the view would push what the reader looks at down.
        if (!followBottom_ && before.top() < bar->value()) {
            const qreal grown = layout->blockBoundingRect(place.block).height() - before.height();
            bar->setValue(bar->value() + qRound(grown));
        }
        textChangedAbove(inserted, at);
    }
}

void TranscriptView::releaseThumbnails() {
    if (thumbnails_.isEmpty() && awaitedThumbnails_.isEmpty())
        return;
    QSet<QString> shown;
    for (const ChatItem& item : index_.items())
        if (item.isFile && thumbnails_.contains(item.fileId))
            shown.insert(item.fileId);
    QTextDocument* doc = view_->document();
    for (auto it = thumbnails_.begin(); it != thumbnails_.end();) {
        if (shown.contains(it.key())) {
            ++it;
            continue;
        }
        // The document has no removal: an empty resource lets the picture go.
        doc->addResource(QTextDocument::ImageResource, QUrl(it->name()), QVariant());
        it = thumbnails_.erase(it);
    }
    const int front = index_.frontSeq(0);
    for (auto it = awaitedThumbnails_.begin(); it != awaitedThumbnails_.end();)
        it = it.value() < front ? awaitedThumbnails_.erase(it) : std::next(it);
}

} // namespace brindlewick
