#pragma once

#include <QPixmap>

namespace brindlewick {

// A neutral head-and-shoulders picture for users without one of their own.
QPixmap genericUserPicture();

} // namespace brindlewick
