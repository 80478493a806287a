#pragma once
// Two or more exclusive push buttons in a row, one always selected.

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

private:
    QButtonGroup* group_;
};

} // namespace brindlewick
