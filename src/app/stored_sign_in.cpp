#include "stored_sign_in.h"

namespace brindlewick {

std::unique_ptr<QSettings> openUserSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Brindlewick"),
                                       QStringLiteral("Brindlewick"));
}

} // namespace brindlewick
