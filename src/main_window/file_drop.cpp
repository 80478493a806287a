#include "file_drop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace brindlewick {

FileDropFilter::FileDropFilter(Handler handler, QObject* parent, HoverHandler hover)
    : QObject(parent), handler_(std::move(handler)), hover_(std::move(hover)) {}

void FileDropFilter::setHovering(bool over) {
    if (hover_)
        hover_(over);
}

QStringList FileDropFilter::droppedFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile())
            continue;
        // The open panel chooses files only, never folders.
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isFile())
            paths.append(path);
    }
    return paths;
}

QString FileDropFilter::droppedFile(const QMimeData* mime) {
    const QStringList paths = droppedFiles(mime);
    return paths.isEmpty() ? QString() : paths.first();
}

bool FileDropFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (droppedFile(drag->mimeData()).isEmpty())
            break;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        if (event->type() == QEvent::DragEnter)
            setHovering(true);
        return true;
    }
    case QEvent::DragLeave:
        // Moving between the window and a text view leaves one and enters the other, in order.
        setHovering(false);
        break;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString path = droppedFile(drop->mimeData());
        setHovering(false);
        if (path.isEmpty())
            break;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // Not inside the drag's own event handling: what follows may show a modal alert.
        QTimer::singleShot(0, this, [this, path] { handler_(path); });
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace brindlewick
