#pragma once
// A splitter whose dividers ask an owner where a drag may go, before they move.

#include <QSplitter>

#include <functional>

namespace brindlewick {

class DividerSplitter : public QSplitter {
    Q_OBJECT
public:
    // (splitter, proposed coordinate from the top or left edge, divider index) -> coordinate
    using Constraint = std::function<double(const QSplitter*, double, int)>;

    explicit DividerSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

    void setDividerLimits(Constraint min, Constraint max);
    // Where a drag of divider `dividerIndex` (0 between the first two panes) to `proposed`
    // is allowed to go.
    int constrainedPosition(int proposed, int dividerIndex) const;

protected:
    QSplitterHandle* createHandle() override;

private:
    Constraint min_;
    Constraint max_;
};

} // namespace brindlewick
