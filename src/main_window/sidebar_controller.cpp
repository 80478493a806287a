#include "sidebar_controller.h"

#include "directory_service.h"
#include "main_window.h"
#include "picture_cache.h"
#include "segmented_control.h"
#include "side_row_delegate.h"
#include "sidebar_model.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QShortcut>
#include <QTableView>

#include <algorithm>

namespace brindlewick {

namespace {

constexpr int kIconColumnWidth = 40;
constexpr int kNameColumnWidth = 180;

} // namespace

SidebarController::SidebarController(MainWindow& window, Directory& directory,
                                     PictureCache& pictures, QObject* parent)
    : QObject(parent), window_(window), directory_(directory) {
    QTableView* table = window_.sideTable();
    model_ = new SidebarModel(table);
    // A picture not yet cached shows the placeholder; its download reloads the icons.
    model_->setPictureProvider([&pictures](const QString& fileId) -> std::optional<QImage> {
        const QImage image = pictures.image(fileId);
        if (image.isNull())
            return std::nullopt;
        return image;
    });
    table->setModel(model_);
    // The style's minimum section would widen the narrow picture column.
    table->horizontalHeader()->setMinimumSectionSize(0);
    table->setColumnWidth(SidebarModel::IconColumn, kIconColumnWidth);
    table->setColumnWidth(SidebarModel::NameColumn, kNameColumnWidth);
    table->setIconSize(SidebarModel::iconSize());
    table->setItemDelegateForColumn(SidebarModel::NameColumn, new SideRowDelegate(table));
    connect(&pictures, &PictureCache::pictureArrived, model_, &SidebarModel::refreshIcons);
    connect(&directory_, &Directory::listsChanged, this, &SidebarController::rebuild);
    connect(&directory_, &Directory::roomUpdated, this, &SidebarController::updateRoom);

    connect(window_.sideSegments(), &SegmentedControl::segmentClicked, this, [this] {
        setMode(window_.sideSegments()->selectedSegment() == 0 ? Mode::Friends : Mode::Chats);
    });
    connect(window_.searchField(), &QLineEdit::textChanged, this, &SidebarController::rebuild);
    connect(table, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { activateRow(index.row()); });
    // A room opens with one click; a friend's conversation, like a profile, with two.
    connect(table, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (const std::optional<SideRow> row = model_->rowAt(index.row());
            row && row->kind == SideRow::Kind::Room)
            emit openRequested(*row);
    });
    for (const auto& [key, delta] : {std::pair{Qt::Key_Up, -1}, std::pair{Qt::Key_Down, 1}}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | key), window_.window());
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, delta = delta] { stepRoom(delta); });
    }
    table->installEventFilter(this);

    menu_ = std::make_unique<QMenu>(QStringLiteral("SideMenu"));
    menu_->setObjectName(QStringLiteral("sideContextMenu"));
    const std::pair<QString, RowAction> items[] = {
        {QStringLiteral("프로필 보기"), RowAction::ViewProfile},
        {QStringLiteral("대화 열기"), RowAction::Open},
        {QStringLiteral("방 나가기"), RowAction::Leave},
    };
    for (const auto& [title, action] : items) {
        menu_->addAction(title, this, [this, action = action] {
            if (!menuRow_)
                return;
            const SideRow row = *menuRow_; // handlers may run the event loop
            act(row, action);
        });
    }
    connect(table, &QWidget::customContextMenuRequested, this, [this, table](const QPoint& pos) {
        // A copy: the menu runs the event loop, and a refresh may replace the rows.
        menuRow_ = model_->rowAt(table->indexAt(pos).row());
        menu_->exec(table->viewport()->mapToGlobal(pos));
    });
}

SidebarController::~SidebarController() = default;

const QList<SideRow>& SidebarController::rows() const {
    return model_->rows();
}

void SidebarController::setMode(Mode mode) {
    mode_ = mode;
    window_.sideSegments()->setSelectedSegment(mode == Mode::Friends ? 0 : 1);
    rebuild();
}

void SidebarController::rebuild() {
    // The selected row stays selected wherever the new lists put it.
    QTableView* table = window_.sideTable();
    const QModelIndex current = table->currentIndex();
    const std::optional<SideRow> selected =
        table->selectionModel() && table->selectionModel()->isSelected(current)
            ? model_->rowAt(current.row())
            : std::nullopt;
    const QString filter = window_.searchField()->text();
    model_->setRows(rebuildSideRows(directory_.friends(), directory_.rooms(), int(mode_), filter));
    if (selected) {
        const QList<SideRow>& rows = model_->rows();
        int at = -1;
        if (selected->kind == SideRow::Kind::Room) {
            at = model_->rowOfRoom(selected->room);
        } else {
            for (int i = 0; i < rows.size() && at < 0; ++i)
                if (rows.at(i).kind == SideRow::Kind::Friend && rows.at(i).phone == selected->phone)
                    at = i;
        }
        if (at >= 0)
            table->setCurrentIndex(model_->index(at, SidebarModel::NameColumn));
    } else if (mode_ == Mode::Chats) {
        if (const int at = model_->rowOfRoom(openRoom_); at >= 0)
            table->setCurrentIndex(model_->index(at, SidebarModel::NameColumn));
    }
    QString hint;
    if (model_->rows().isEmpty()) {
        if (!filter.trimmed().isEmpty())
            hint = QStringLiteral("검색 결과가 없습니다");
        else if (mode_ == Mode::Friends)
            hint = QStringLiteral("친구가 없습니다. + 로 친구를 추가하세요");
        else
            hint = QStringLiteral("대화가 없습니다");
    }
    window_.setSidebarHint(hint);
}

void SidebarController::updateRoom(const QString& room, bool movedToTop) {
    if (mode_ != Mode::Chats)
        return;
    if (const RoomRecord* record = directory_.room(room))
        model_->updateRoomRow(roomRow(*record), movedToTop);
}

bool SidebarController::eventFilter(QObject* watched, QEvent* event) {
    // Return or Enter on the current row opens it, as a double click does.
    if (event->type() == QEvent::KeyPress && watched == window_.sideTable()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            window_.sideTable()->currentIndex().isValid()) {
            activateRow(window_.sideTable()->currentIndex().row());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void SidebarController::setOpenRoom(const QString& room) {
    openRoom_ = room;
    if (mode_ != Mode::Chats)
        return;
    if (const int at = model_->rowOfRoom(room); at >= 0)
        window_.sideTable()->setCurrentIndex(model_->index(at, SidebarModel::NameColumn));
}

void SidebarController::stepRoom(int delta) {
    if (mode_ != Mode::Chats)
        setMode(Mode::Chats);
    const int count = static_cast<int>(model_->rows().size());
    if (count == 0)
        return;
    int from = model_->rowOfRoom(openRoom_);
    if (from < 0 && window_.sideTable()->currentIndex().isValid())
        from = window_.sideTable()->currentIndex().row();
    const int to = from < 0 ? (delta > 0 ? 0 : count - 1) : std::clamp(from + delta, 0, count - 1);
    if (to == from)
        return;
    window_.sideTable()->setCurrentIndex(model_->index(to, SidebarModel::NameColumn));
    activateRow(to);
}

void SidebarController::activateRow(int index) {
    if (const std::optional<SideRow> row = model_->rowAt(index))
        emit openRequested(*row);
}

void SidebarController::actOnRow(int index, RowAction action) {
    menuRow_ = model_->rowAt(index);
    if (!menuRow_)
        return;
    const SideRow row = *menuRow_; // handlers may run the event loop
    act(row, action);
}

void SidebarController::act(const SideRow& row, RowAction action) {
    switch (action) {
    case RowAction::ViewProfile:
        emit profileRequested(row);
        break;
    case RowAction::Open:
        emit openRequested(row);
        break;
    case RowAction::Leave:
        emit leaveRequested(row);
        break;
    }
}

} // namespace brindlewick
