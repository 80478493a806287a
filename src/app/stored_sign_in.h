#pragma once
// The remembered sign-in: "phone", "nick" and "statusMsg" in the user's settings; and each
// phone's device secret, "deviceSecret/<phone>", which logging out keeps.

#include <QSettings>
#include <QString>

#include <memory>

namespace brindlewick {

inline constexpr char kPhoneKey[] = "phone";
inline constexpr char kNickKey[] = "nick";
inline constexpr char kStatusMsgKey[] = "statusMsg";

// The user's settings of this application (QSettings' native place for "Brindlewick").
std::unique_ptr<QSettings> openUserSettings();

// The secret a server that claims phones handed this device for `phone` (any spelling of it);
// empty when none.
QString loadDeviceSecret(QSettings& settings, const QString& phone);
void saveDeviceSecret(QSettings& settings, const QString& phone, const QString& secret);

} // namespace brindlewick
