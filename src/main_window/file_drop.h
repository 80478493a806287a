#pragma once
// Files dragged from the desktop onto the main window. Installed on the window and on the text
// views (which would otherwise take a dropped file as text); a drop of a local file hands its
// path on, the rest is left to the widget.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QMimeData;

namespace brindlewick {

class FileDropFilter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& path)>;
    // True when a file is dragged in, false when it leaves or is dropped.
    using HoverHandler = std::function<void(bool over)>;

    FileDropFilter(Handler handler, QObject* parent, HoverHandler hover = {});

    // The first local regular file of the drag, or an empty text.
    static QString droppedFile(const QMimeData* mime);
    // All of them, in order (a paste of copied files); folders and remote addresses left out.
    static QStringList droppedFiles(const QMimeData* mime);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setHovering(bool over);

    Handler handler_;
    HoverHandler hover_;
};

} // namespace brindlewick
