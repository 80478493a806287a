#pragma once
// Table model of the sidebar: column 0 the picture, column 1 the row's title, bold for a room with
// unread messages, and in roles of its own what SideRowDelegate draws. Read-only; the rows are
// replaced as a whole, or one room row changes and moves to the top as its messages arrive.

#include "front_order.h"
#include "side_rows.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <functional>
#include <optional>

namespace brindlewick {

class SidebarModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { IconColumn = 0, NameColumn = 1, ColumnCount = 2 };
    // Of the name column: the name, the second line (a room's last message, a friend's status),
    // the last message's time as shown, the unread count (qint64) and whether it is a room.
    enum Role {
        NameRole = Qt::UserRole + 1,
        SecondLineRole,
        TimeRole,
        UnreadRole,
        IsRoomRole,
        UnsentRole, // an Unsent value: what the user sent there that the server has not
    };
    enum Unsent { NoneUnsent = 0, WaitingUnsent = 1, FailedUnsent = 2 };
    // Tells how a room stands with the user's unsent messages.
    using UnsentProvider = std::function<Unsent(const QString& room)>;

    // Answers a picture file id from the picture cache, or nothing (it may start a download).
    using PictureProvider = std::function<std::optional<QImage>(const QString& fileId)>;

    explicit SidebarModel(QObject* parent = nullptr);

    static QSize iconSize() { return {32, 32}; }
    // The neutral user picture shipped with the program, at icon size.
    static QPixmap placeholderIcon();

    void setPictureProvider(PictureProvider provider) { provider_ = std::move(provider); }
    void setUnsentProvider(UnsentProvider provider) { unsent_ = std::move(provider); }
    // The room's unsent mark changed: its row is drawn again.
    void refreshUnsent(const QString& room);
    void setRows(QList<SideRow> rows);
    const QList<SideRow>& rows() const { return rows_; }
    // The row at `index`, or nothing when out of range.
    std::optional<SideRow> rowAt(int index) const;
    // The row showing `room`, -1 when none does.
    int rowOfRoom(const QString& room) const;
    // The row showing `row.room` takes the value `row` and, with `toTop`, becomes the first row;
    // nothing when no row shows that room. Views keep their selection on the moved row.
    void updateRoomRow(const SideRow& row, bool toTop);
    // A picture arrived: the icon column is asked again.
    void refreshIcons();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Named for screen readers, though the table shows no header.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QPixmap iconFor(const SideRow& row) const;

    QList<SideRow> rows_;
    FrontOrder roomRows_; // room id -> its first row
    PictureProvider provider_;
    UnsentProvider unsent_;
    struct Scaled {
        qint64 sourceKey;
        QPixmap pixmap;
    };
    mutable QHash<QString, Scaled> scaled_; // file id -> picture at icon size
};

} // namespace brindlewick
