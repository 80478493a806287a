#pragma once
// How a message's text reads in the window: tagged texts (stickers, locations, …) by a short
// label instead of their raw form.

#include <QString>

namespace brindlewick {

QString displayText(const QString& text);

} // namespace brindlewick
