#include "stored_sign_in.h"

#include <phone_number.h>

namespace brindlewick {

namespace {

// One key per phone, whatever its spelling; hex, since a key must not hold '/' or '\\'.
QString secretKey(const QString& phone) {
    return QStringLiteral("deviceSecret/") +
           QString::fromLatin1(
               QByteArray::fromStdString(normalizePhone(phone.toStdString())).toHex());
}

} // namespace

std::unique_ptr<QSettings> openUserSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Brindlewick"),
                                       QStringLiteral("Brindlewick"));
}

QString loadDeviceSecret(QSettings& settings, const QString& phone) {
    return settings.value(secretKey(phone)).toString();
}

void saveDeviceSecret(QSettings& settings, const QString& phone, const QString& secret) {
    settings.setValue(secretKey(phone), secret);
    // Lost with a crash, it would lock this device out of its own phone.
    settings.sync();
}

} // namespace brindlewick
