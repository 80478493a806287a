// Friend list answers: any bytes, never a record without a phone.

#include "directory.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString json = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const brindlewick::FriendRecord& f : brindlewick::parseFriendObjects(json))
        if (f.phone.isEmpty())
            std::abort();
    return 0;
}
