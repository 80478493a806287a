#pragma once
// For programs that show the client without a desktop or a server: the screenshot tool and the
// accessibility probe.

#include <QtGlobal>

namespace brindlewick {

// Korean needs a CJK face, and such platforms take no cue from a desktop.
void useKoreanFont();
// A local port nothing listens on right now.
quint16 unusedLocalPort();

} // namespace brindlewick
