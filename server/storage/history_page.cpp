#include "history_page.h"

#include <algorithm>
#include <utility>

namespace brindlewick::server {

std::size_t historyRowBytes(const HistoryRow& row) {
    const MessageRecord& m = row.message;
    return m.text.size() + m.fileName.size() + m.senderName.size() + m.sender.size() +
           m.time.size() + m.replyTo.size() + m.fileId.size() + 64;
}

HistorySlice newestWithinBudget(int limit, std::size_t maxBytes,
                                const std::function<bool(HistoryRow&)>& read) {
    HistorySlice slice;
    if (limit <= 0)
        return slice;
    std::size_t bytes = 0;
    HistoryRow row;
    while (read(row)) {
        const std::size_t size = historyRowBytes(row);
        if (slice.rows.size() == static_cast<std::size_t>(limit) ||
            (!slice.rows.empty() && bytes + size > maxBytes)) {
            slice.hasOlder = true;
            break;
        }
        bytes += size;
        slice.rows.push_back(std::move(row));
        row = HistoryRow{};
    }
    std::reverse(slice.rows.begin(), slice.rows.end());
    return slice;
}

} // namespace brindlewick::server
