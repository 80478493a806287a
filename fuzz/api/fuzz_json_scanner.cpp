// The JSON scanner on any text, and the escape/scan round trip: whatever a body carries
// between quotes must read back unchanged.

#include "json_scan.h"

#include <cstdint>
#include <cstdlib>

namespace json = brindlewick::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // First byte: how the rest becomes text; second: where the key ends.
    const bool utf16 = data[0] & 1;
    const std::size_t keyBytes = std::min<std::size_t>(data[1], size - 2);
    const auto* rest = reinterpret_cast<const char*>(data + 2);
    auto text = [utf16](const char* p, std::size_t n) {
        return utf16 ? QString::fromUtf16(reinterpret_cast<const char16_t*>(p), qsizetype(n / 2))
                     : QString::fromUtf8(p, qsizetype(n));
    };
    const QString key = text(rest, keyBytes);
    const QString blob = text(rest + keyBytes, size - 2 - keyBytes);

    (void)json::stringValue(key, blob);
    if (json::intValue(key, blob) < 0)
        std::abort();

    const QString doc = "{\"k\":\"" + json::escape(blob) + "\"}";
    if (json::stringValue(u"k", doc) != blob)
        std::abort();
    return 0;
}
