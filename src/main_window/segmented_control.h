#pragma once
// Two or more exclusive push buttons in a row, one always selected. From the keyboard the
// control is one tab stop, the selected segment; Left and Right select the segment beside it.

#include <QStringList>
#include <QWidget>

class QButtonGroup;

namespace brindlewick {

class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int segmentCount() const;
    int selectedSegment() const;
    void setSelectedSegment(int index);
    QString labelForSegment(int index) const;

signals:
    // The user picked a segment (also when it was already selected).
    void segmentClicked(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Only the selected segment takes focus with Tab.
    void updateTabStop();

    QButtonGroup* group_;
};

} // namespace brindlewick
