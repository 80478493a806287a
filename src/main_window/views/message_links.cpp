#include "message_links.h"

#include <QRegularExpression>

namespace brindlewick {

namespace {

// A scheme not glued to a preceding word, then everything up to a space, an angle bracket, a
// double quote or an ideographic space.
const QRegularExpression& addressPattern() {
    static const QRegularExpression re(
        QStringLiteral(R"((?<![\w@])(?:https?://|mailto:)[^\s<>"\x{3000}]+)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

QString withoutTrailingPunctuation(QString address) {
    static const QString trailing = QStringLiteral(".,;:!?'\")]}");
    while (!address.isEmpty() && trailing.contains(address.back())) {
        // A closing bracket belongs to the address when the address opened one.
        if (address.back() == QLatin1Char(')') &&
            address.count(QLatin1Char('(')) >= address.count(QLatin1Char(')')))
            break;
        address.chop(1);
    }
    return address;
}

bool hasTarget(const QUrl& url) {
    return url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0
               ? !url.path().isEmpty()
               : !url.host().isEmpty();
}

} // namespace

QList<Address> findAddresses(const QString& text) {
    QList<Address> out;
    // Every address has a scheme and a colon; most messages have none.
    if (!text.contains(u':'))
        return out;
    QRegularExpressionMatchIterator it = addressPattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString address = withoutTrailingPunctuation(match.captured());
        if (isOpenableAddress(QUrl(address, QUrl::StrictMode)))
            out.append(Address{match.capturedStart(), address});
    }
    return out;
}

bool isOpenableAddress(const QUrl& url) {
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("mailto"))
        return false;
    return hasTarget(url);
}

} // namespace brindlewick
