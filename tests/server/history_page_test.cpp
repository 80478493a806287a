// The one rule for how many entries a history page holds, whatever the back end.

#include "history_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindlewick::server;

namespace {

// Rows of the given text sizes, newest first, ids counting down from their count.
std::vector<HistoryRow> rowsOf(const std::vector<std::size_t>& textBytes) {
    std::vector<HistoryRow> rows;
    std::int64_t id = static_cast<std::int64_t>(textBytes.size());
    for (std::size_t bytes : textBytes) {
        HistoryRow row;
        row.message.id = id--;
        row.message.text.assign(bytes, 'x');
        rows.push_back(row);
    }
    return rows;
}

} // namespace

TEST(HistoryPage, HoldsTheNewestRowsThatFitTheBudgetOrTheLimit) {
    const std::size_t unit = historyRowBytes(rowsOf({100})[0]);
    struct Case {
        const char* what;
        std::vector<std::size_t> texts; // newest first
        int limit;
        std::size_t budget;
        std::vector<std::int64_t> ids; // oldest first
        bool hasOlder;
        std::size_t reads; // rows taken from the reader
    };
    const std::vector<Case> cases = {
        {"no rows", {}, 10, 5 * unit, {}, false, 0},
        {"no room asked for", {100, 100}, 0, 5 * unit, {}, false, 0},
        {"one row larger than the budget", {10 * unit}, 10, unit, {1}, false, 1},
        {"a first row larger than the budget, then more", {100, 10 * unit}, 10, unit, {2}, true, 2},
        {"exactly the budget", {100, 100, 100}, 10, 3 * unit, {1, 2, 3}, false, 3},
        {"one byte short of the last row", {100, 100, 100}, 10, 3 * unit - 1, {2, 3}, true, 3},
        {"the limit before the budget", {100, 100, 100}, 2, 10 * unit, {2, 3}, true, 3},
        {"the limit exactly", {100, 100}, 2, 10 * unit, {1, 2}, false, 2},
        {"a large row ends the page though smaller ones follow",
         {100, 5 * unit, 100},
         10,
         3 * unit,
         {3},
         true,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<HistoryRow> rows = rowsOf(c.texts);
        std::size_t reads = 0;
        const HistorySlice page = newestWithinBudget(c.limit, c.budget, [&](HistoryRow& row) {
            if (reads == rows.size())
                return false;
            row = rows[reads++];
            return true;
        });
        std::vector<std::int64_t> ids;
        for (const HistoryRow& row : page.rows)
            ids.push_back(row.message.id);
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(page.hasOlder, c.hasOlder);
        EXPECT_EQ(reads, c.reads);
    }
}
