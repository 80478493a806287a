#pragma once
// The remembered sign-in: "phone", "nick" and "statusMsg" in the user's settings.

#include <QSettings>
#include <QString>

#include <memory>

namespace brindlewick {

inline constexpr char kPhoneKey[] = "phone";
inline constexpr char kNickKey[] = "nick";
inline constexpr char kStatusMsgKey[] = "statusMsg";

// The user's settings of this application (QSettings' native place for "Brindlewick").
std::unique_ptr<QSettings> openUserSettings();

} // namespace brindlewick
