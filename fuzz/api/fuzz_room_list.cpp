// Room list answers: any bytes, never a record without a room id or with a negative count.

#include "directory.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString json = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const brindlewick::RoomRecord& r : brindlewick::parseRoomObjects(json))
        if (r.room.isEmpty() || r.unread < 0)
            std::abort();
    return 0;
}
