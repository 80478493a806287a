#pragma once
// A file that cannot be opened because the process or the system ran out of descriptors is a
// passing shortage, not a missing file or a broken disk: 503, so the client tries again.

#include <cerrno>

namespace brindlewick::server {

inline const char* const kOutOfDescriptorsText = "서버가 바쁩니다. 잠시 후 다시 시도해 주세요";

inline bool outOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE;
}

} // namespace brindlewick::server
