#pragma once
// The application's icon, and the same icon with the number of unread messages drawn on it.

#include <QIcon>

namespace brindlewick {

// The icon theme's, where the desktop has one installed; else the one built in.
QIcon applicationIcon();
// `base` with a red disc at the upper right carrying `count` ("99+" past 99); `base` itself for
// no unread message.
QIcon badgedIcon(const QIcon& base, qint64 count);
// What the disc says for `count`: "" for none.
QString badgeText(qint64 count);

} // namespace brindlewick
