#pragma once
// The sidebar: which list it shows, the filter, and what the user asks of a row. Rows live
// only in the model; a request carries the row's value as it was when the user clicked, so a
// refresh, a filter change or a reconnect meanwhile cannot make it act on another row.

#include "side_rows.h"

#include <QObject>

#include <memory>
#include <optional>

class QMenu;

namespace brindlewick {

class Directory;
class MainWindow;
class PictureCache;
class SidebarModel;

class SidebarController : public QObject {
    Q_OBJECT
public:
    enum class Mode { Friends = 0, Chats = 1 };
    enum class RowAction { ViewProfile, Open, Leave };

    SidebarController(MainWindow& window, Directory& directory, PictureCache& pictures,
                      QObject* parent = nullptr);
    ~SidebarController() override;

    Mode mode() const { return mode_; }
    void setMode(Mode mode);
    const QList<SideRow>& rows() const;
    SidebarModel* model() const { return model_; }
    QMenu* contextMenu() const { return menu_.get(); }

    // What a double click on row `index` does (nothing out of range).
    void activateRow(int index);
    // The room open in the window: its row is the current one in the chats list.
    void setOpenRoom(const QString& room);
    // Alt+Up / Alt+Down: the previous or next room of the chats list (shown first if need be),
    // counted from the open room's row, is selected and opened.
    void stepRoom(int delta);
    // What choosing `action` in the menu opened on row `index` does.
    void actOnRow(int index, RowAction action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void openRequested(const brindlewick::SideRow& row);
    void leaveRequested(const brindlewick::SideRow& row);
    void profileRequested(const brindlewick::SideRow& row);

private:
    void rebuild();
    // One room's count or place changed; only its row is touched.
    void updateRoom(const QString& room, bool movedToTop);
    void act(const SideRow& row, RowAction action);

    MainWindow& window_;
    Directory& directory_;
    SidebarModel* model_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    std::optional<SideRow> menuRow_; // the row the open menu belongs to
    Mode mode_ = Mode::Friends;
    QString openRoom_;
};

} // namespace brindlewick
