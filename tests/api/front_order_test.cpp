// Places in a list whose items only move to the front, checked against moving the items of a
// plain list, through enough moves that the slots are handed out anew several times.

#include "front_order.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using namespace brindlewick;

namespace {

// What position() should answer for `key`: its first place in `list`.
int firstPlace(const QStringList& list, const QString& key) {
    return key.isEmpty() ? -1 : int(list.indexOf(key));
}

void expectSamePlaces(const FrontOrder& order, const QStringList& list, const QStringList& keys) {
    for (const QString& key : keys)
        ASSERT_EQ(order.position(key), firstPlace(list, key)) << key.toStdString();
}

} // namespace

TEST(FrontOrder, FollowsMovesToTheFront) {
    struct Case {
        const char* name;
        QStringList list;
        QStringList moves;
    };
    const Case cases[] = {
        {"empty", {}, {"a"}},
        {"one", {"a"}, {"a", "a"}},
        {"the last to the front, again and again", {"a", "b", "c", "d"}, {"d", "c", "b", "a", "d"}},
        {"unknown keys move nothing", {"a", "b"}, {"x", "", "b"}},
        {"a key listed twice moves its first place", {"a", "b", "a", "c"}, {"c", "a", "a", "b"}},
        {"empty keys hold places", {"a", "", "b", ""}, {"b", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrontOrder order;
        order.reset(c.list);
        QStringList list = c.list;
        const QStringList probes = c.list + QStringList{"x", ""};
        expectSamePlaces(order, list, probes);
        for (const QString& key : c.moves) {
            order.moveToFront(key);
            if (const int at = firstPlace(list, key); at >= 0)
                list.move(at, 0);
            expectSamePlaces(order, list, probes);
        }
    }
}

TEST(FrontOrder, ManyRandomMovesMatchAPlainList) {
    for (const int size : {1, 2, 7, 300}) {
        SCOPED_TRACE(size);
        QStringList list;
        for (int i = 0; i < size; ++i)
            list << (i % 11 == 5 ? QString() : QStringLiteral("k%1").arg(i % (size - size / 10)));
        FrontOrder order;
        order.reset(list);
        std::mt19937 random(size);
        std::uniform_int_distribution<int> pick(0, size - 1);
        // Far more moves than there are front slots: several rounds of handing them out anew.
        for (int move = 0; move < 20 * size + 200; ++move) {
            const QString key = list.at(pick(random));
            order.moveToFront(key);
            if (const int at = firstPlace(list, key); at >= 0)
                list.move(at, 0);
            if (move % 37 == 0)
                expectSamePlaces(order, list, list);
        }
        expectSamePlaces(order, list, list);
    }
}
