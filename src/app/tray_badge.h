#pragma once
// The application's icon, and the same icon with the number of unread messages drawn on it.

#include <QIcon>

namespace brindlewick {

// The application's icon (the installed picture, built in), with a red disc at the upper right
// carrying the number of `unread` messages ("99+" past 99) while there are any.
QIcon applicationIcon(qint64 unread = 0);
// What the disc says for `count`: "" for none.
QString badgeText(qint64 count);

} // namespace brindlewick
