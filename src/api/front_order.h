#pragma once
// Where each key stands in a list whose items only ever move to the front (the chats list as
// messages arrive). Finding a key's place and moving it take O(log n), so a message for the
// 9,000th room costs about what one for the first does.

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace brindlewick {

class FrontOrder {
public:
    // The list as it is now. An empty key holds a place without being found; a key listed twice
    // is found at its first place.
    void reset(const QStringList& keys);
    // The place of `key`, -1 when it is not listed.
    int position(const QString& key) const;
    // `key` goes to place 0; the items before it move one place back. Nothing for unknown keys.
    void moveToFront(const QString& key);

private:
    // Places are slots handed out from the back: the front is the smallest taken slot. A Fenwick
    // tree counts taken slots below a given one.
    void take(int slot, int delta);
    int takenBelow(int slot) const;

    QHash<QString, int> slotOf_;
    QStringList keyAt_;     // per slot; null when free
    std::vector<int> tree_; // Fenwick tree over slots, 1-based
    int nextFront_ = -1;    // the slot the next move takes
};

} // namespace brindlewick
