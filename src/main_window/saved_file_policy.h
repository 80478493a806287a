#pragma once
// Whether a file just saved from another user may be opened with its default application.

#include <QString>

namespace brindlewick {

// False for anything that would run code when opened: programs, libraries, scripts, desktop
// launchers, installers and packages. Decided by the file's content and by its name, so that
// neither alone can disguise it; a file that cannot be read is not opened either.
bool maySafelyOpenSavedFile(const QString& path);

} // namespace brindlewick
