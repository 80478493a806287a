#pragma once
// Web and mail addresses in message text: which stretches become links, and which clicked
// links may be handed to the desktop. Nothing else in a message ever becomes a link.

#include <QList>
#include <QString>
#include <QUrl>

namespace brindlewick {

struct Address {
    qsizetype start = 0; // UTF-16 units into the text
    QString href;        // the address as written; its length is the link's length
    QString target;      // what a click opens: href itself, or with "http://" or "mailto:" added
};

// The http, https and mailto addresses of `text`, bare "www." addresses (opened as http) and
// e-mail addresses (opened as mailto), in order, not overlapping. An address ends at a space or
// at punctuation that running text puts after it ("see https://x.kr/a." links "https://x.kr/a");
// one with no host (or no recipient) is no address.
QList<Address> findAddresses(const QString& text);

// Whether a clicked link may be opened by the desktop: a valid http, https or mailto URL.
bool isOpenableAddress(const QUrl& url);

} // namespace brindlewick
