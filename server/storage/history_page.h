#pragma once
// How much of a room's history one page holds, the same for every back end: the newest rows
// first, as many as `limit` and as fit in a byte budget.

#include "storage.h"

#include <cstddef>
#include <functional>

namespace brindlewick::server {

// What a row costs of a page's budget: its texts and a fixed allowance for the framing.
std::size_t historyRowBytes(const HistoryRow& row);

// Fills a page from rows read newest first. `read` puts the next row into its argument and is
// false when none is left; it is never called again after a row that did not fit. The first
// row always fits, however large; the page stops, with hasOlder set, at `limit` rows or where
// the next row would pass `maxBytes`. The rows come back oldest first.
HistorySlice newestWithinBudget(int limit, std::size_t maxBytes,
                                const std::function<bool(HistoryRow&)>& read);

} // namespace brindlewick::server
