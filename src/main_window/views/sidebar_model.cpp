#include "sidebar_model.h"

#include <QDate>
#include <QFont>

namespace brindlewick {

SidebarModel::SidebarModel(QObject* parent) : QAbstractTableModel(parent) {}

QPixmap SidebarModel::placeholderIcon() {
    static const QPixmap icon =
        QPixmap(QStringLiteral(":/brindlewick/views/user.png"))
            .scaled(iconSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return icon;
}

void SidebarModel::setRows(QList<SideRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    QStringList keys;
    keys.reserve(rows_.size());
    for (const SideRow& row : std::as_const(rows_))
        keys.append(row.kind == SideRow::Kind::Room ? row.room : QStringLiteral(""));
    roomRows_.reset(keys);
    endResetModel();
}

int SidebarModel::rowOfRoom(const QString& room) const {
    return room.isEmpty() ? -1 : roomRows_.position(room);
}

void SidebarModel::updateRoomRow(const SideRow& row, bool toTop) {
    int at = rowOfRoom(row.room);
    if (at < 0)
        return;
    if (toTop && at > 0) {
        beginMoveRows(QModelIndex(), at, at, QModelIndex(), 0);
        rows_.insert(0, rows_.takeAt(at)); // block moves: the rows are relocatable
        roomRows_.moveToFront(row.room);
        endMoveRows();
        at = 0;
    }
    rows_[at] = row;
    emit dataChanged(index(at, IconColumn), index(at, NameColumn));
}

std::optional<SideRow> SidebarModel::rowAt(int index) const {
    if (index < 0 || index >= rows_.size())
        return std::nullopt;
    return rows_.at(index);
}

void SidebarModel::refreshIcons() {
    if (rows_.isEmpty())
        return;
    emit dataChanged(index(0, IconColumn), index(int(rows_.size()) - 1, IconColumn),
                     {Qt::DecorationRole});
}

void SidebarModel::refreshUnsent(const QString& room) {
    if (const int at = rowOfRoom(room); at >= 0)
        emit dataChanged(index(at, NameColumn), index(at, NameColumn), {UnsentRole});
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int SidebarModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rows_.size())
        return {};
    const SideRow& row = rows_.at(index.row());
    if (index.column() == IconColumn) {
        if (role == Qt::DecorationRole)
            return iconFor(row);
        return {};
    }
    if (index.column() != NameColumn)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return row.title;
    case Qt::AccessibleTextRole:
        return accessibleRowText(row, QDate::currentDate());
    case NameRole:
        return row.name;
    case SecondLineRole:
        return row.kind == SideRow::Kind::Room ? row.preview : row.status;
    case TimeRole:
        return previewTime(row, QDate::currentDate());
    case UnreadRole:
        return row.unread;
    case IsRoomRole:
        return row.kind == SideRow::Kind::Room;
    case UnsentRole:
        return row.kind == SideRow::Kind::Room && unsent_ ? int(unsent_(row.room))
                                                          : int(NoneUnsent);
    default:
        break;
    }
    if (role == Qt::FontRole && row.unread > 0) {
        // Only the weight: the view's own font supplies the rest.
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    return {};
}

QVariant SidebarModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == IconColumn)
        return QStringLiteral("사진");
    if (section == NameColumn)
        return QStringLiteral("이름");
    return {};
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QPixmap SidebarModel::iconFor(const SideRow& row) const {
    if (row.profilePic.isEmpty() || !provider_)
        return placeholderIcon();
    const std::optional<QImage> image = provider_(row.profilePic);
    if (!image || image->isNull())
        return placeholderIcon();
    // Scaling on every paint would be wasteful; keep one scaled copy per picture.
    auto it = scaled_.find(row.profilePic);
    if (it == scaled_.end() || it->sourceKey != image->cacheKey()) {
        const QPixmap pixmap = QPixmap::fromImage(
            image->scaled(iconSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        it = scaled_.insert(row.profilePic, {image->cacheKey(), pixmap});
    }
    return it->pixmap;
}

} // namespace brindlewick
