#include "message_links.h"

#include <QRegularExpression>

#include <algorithm>

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

// "www." and a host with at least one more dot-separated label, not glued to a word, a path or
// an address before it.
const QRegularExpression& wwwPattern() {
    static const QRegularExpression re(
        QStringLiteral(R"((?<![\w@./:-])www\.[\w-]+\.[^\s<>"\x{3000}]+)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

// A plain e-mail address: a local part of the usual characters, "@", and a domain of ASCII
// labels ending in a label of letters.
const QRegularExpression& mailPattern() {
    static const QRegularExpression re(QStringLiteral(
        R"((?<![\w.%+-])[A-Za-z0-9._%+-]+@[A-Za-z0-9-]+(?:\.[A-Za-z0-9-]+)*\.[A-Za-z]{2,}(?![A-Za-z0-9-]))"));
    return re;
}

bool overlapsAny(const QList<Address>& found, qsizetype start, qsizetype length) {
    for (const Address& a : found)
        if (start < a.start + a.href.size() && a.start < start + length)
            return true;
    return false;
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
    // Every address has a colon, an "@" or a "www."; most messages have none.
    const bool scheme = text.contains(u':');
    const bool mail = text.contains(u'@');
    const bool www = text.contains(QLatin1String("www."), Qt::CaseInsensitive);
    if (!scheme && !mail && !www)
        return out;
    // Addresses with a scheme first: a "www." or an "@" inside one is part of it.
    const struct {
        bool present;
        const QRegularExpression& pattern;
        QString prefix;
    } kinds[] = {
        {scheme, addressPattern(), QString()},
        {www, wwwPattern(), QStringLiteral("http://")},
        {mail, mailPattern(), QStringLiteral("mailto:")},
    };
    for (const auto& kind : kinds) {
        if (!kind.present)
            continue;
        QRegularExpressionMatchIterator it = kind.pattern.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            const QString address = withoutTrailingPunctuation(match.captured());
            const qsizetype start = match.capturedStart();
            const QString target = kind.prefix + address;
            if (!isOpenableAddress(QUrl(target, QUrl::StrictMode)) ||
                overlapsAny(out, start, address.size()))
                continue;
            out.append(Address{start, address, target});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Address& a, const Address& b) { return a.start < b.start; });
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
