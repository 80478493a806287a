#pragma once
// The message composer. Pasting a picture or copied files hands them on to be sent; anything
// else goes in as plain text, never as rich text.

#include <QImage>
#include <QPlainTextEdit>
#include <QStringList>

class QMimeData;

namespace brindlewick {

class ComposerEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ComposerEdit(QWidget* parent = nullptr) : QPlainTextEdit(parent) {}

signals:
    void imagePasted(const QImage& image);
    void filesPasted(const QStringList& paths);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};

} // namespace brindlewick
