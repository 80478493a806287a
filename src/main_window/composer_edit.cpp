#include "composer_edit.h"

#include "file_drop.h"

#include <QMimeData>

namespace brindlewick {

namespace {

// A picture counts only without text beside it: copying cells or a text passage often brings a
// rendering of it along, and the text is what was meant.
bool carriesPicture(const QMimeData* mime) {
    return mime->hasImage() && mime->text().isEmpty();
}

} // namespace

bool ComposerEdit::canInsertFromMimeData(const QMimeData* source) const {
    return source && (carriesPicture(source) || !FileDropFilter::droppedFiles(source).isEmpty() ||
                      source->hasText());
}

void ComposerEdit::insertFromMimeData(const QMimeData* source) {
    if (!source)
        return;
    const QStringList files = FileDropFilter::droppedFiles(source);
    if (!files.isEmpty()) {
        emit filesPasted(files);
        return;
    }
    if (carriesPicture(source)) {
        const QImage image = qvariant_cast<QImage>(source->imageData());
        if (!image.isNull())
            emit imagePasted(image);
        return;
    }
    // QPlainTextEdit takes the plain text only.
    QPlainTextEdit::insertFromMimeData(source);
}

} // namespace brindlewick
