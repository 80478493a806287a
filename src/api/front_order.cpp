#include "front_order.h"

namespace brindlewick {

void FrontOrder::reset(const QStringList& keys) {
    // Room for as many moves as there are items before the slots are handed out anew.
    const int count = int(keys.size());
    const int slotCount = 2 * count + 64;
    nextFront_ = slotCount - count - 1;
    slotOf_.clear();
    slotOf_.reserve(count);
    keyAt_ = QStringList();
    keyAt_.resize(slotCount);
    tree_.assign(size_t(slotCount) + 1, 0);
    for (int i = 0; i < count; ++i) {
        const int slot = nextFront_ + 1 + i;
        keyAt_[slot] = keys.at(i).isNull() ? QStringLiteral("") : keys.at(i);
        if (!keys.at(i).isEmpty() && !slotOf_.contains(keys.at(i)))
            slotOf_.insert(keys.at(i), slot);
        // Linear build: each node adds itself to its parent.
        tree_[size_t(slot) + 1] += 1;
    }
    for (size_t i = 1; i < tree_.size(); ++i) {
        const size_t parent = i + (i & (~i + 1));
        if (parent < tree_.size())
            tree_[parent] += tree_[i];
    }
}

int FrontOrder::position(const QString& key) const {
    const auto it = slotOf_.constFind(key);
    return it == slotOf_.constEnd() ? -1 : takenBelow(*it);
}

void FrontOrder::moveToFront(const QString& key) {
    const auto it = slotOf_.find(key);
    if (it == slotOf_.end())
        return;
    if (nextFront_ < 0) {
        // Out of front slots: hand them out anew in the current order, then move.
        QStringList keys;
        keys.reserve(slotOf_.size());
        for (const QString& k : std::as_const(keyAt_))
            if (!k.isNull())
                keys.append(k);
        reset(keys);
        moveToFront(key);
        return;
    }
    const int from = *it;
    take(from, -1);
    keyAt_[nextFront_] = keyAt_[from];
    keyAt_[from] = QString();
    take(nextFront_, 1);
    *it = nextFront_--;
}

void FrontOrder::take(int slot, int delta) {
    for (size_t i = size_t(slot) + 1; i < tree_.size(); i += i & (~i + 1))
        tree_[i] += delta;
}

int FrontOrder::takenBelow(int slot) const {
    int sum = 0;
    for (size_t i = size_t(slot); i > 0; i -= i & (~i + 1))
        sum += tree_[i];
    return sum;
}

} // namespace brindlewick
