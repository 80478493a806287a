#include "url_value.h"

#include <QUrl>

namespace brindlewick {

QString urlValue(const QString& value) {
    QByteArray encoded = QUrl::toPercentEncoding(value);
    // Dot segments would be resolved by the transport.
    if (encoded == "." || encoded == "..")
        encoded.replace(".", "%2E");
    return QString::fromLatin1(encoded);
}

} // namespace brindlewick
