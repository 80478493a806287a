#include "file_link.h"

#include <QImageReader>
#include <QSet>
#include <QStringDecoder>

namespace brindlewick {

namespace {

const QString& prefix() {
    static const QString p = QString::fromLatin1(kFileLinkScheme) + QStringLiteral("://");
    return p;
}

// Escaped like the old "add percent escapes" call: everything outside the URL-legal ASCII set,
// the percent sign included. '#' and '?' are escaped too, since they would cut the name short.
QString escapeName(const QString& name) {
    static const QByteArray keep = QByteArrayLiteral("!$&'()*+,/:;=@");
    return QString::fromLatin1(name.toUtf8().toPercentEncoding(keep));
}

// A registered name as RFC 3986 allows it, without percent escapes. QUrl is not used here: it
// lower-cases hosts, reads "123" as an IPv4 address and rejects long labels and "~".
bool hostUsable(QStringView id) {
    if (id.isEmpty())
        return false;
    for (QChar c : id) {
        const char16_t u = c.unicode();
        const bool alnum =
            (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (!alnum && !QStringView(u"-._~!$&'()*+,;=").contains(c))
            return false;
    }
    return true;
}

bool isHex(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// Path, query and fragment: URL characters only, every '%' starting an escape.
bool tailWellFormed(QStringView tail) {
    for (qsizetype i = 0; i < tail.size(); ++i) {
        const char16_t u = tail.at(i).unicode();
        if (u <= 0x20 || u >= 0x7F || QStringView(u"\"<>\\^`{|}[]").contains(QChar(u)))
            return false;
        if (u == '%') {
            if (i + 2 >= tail.size() || !isHex(tail.at(i + 1)) || !isHex(tail.at(i + 2)))
                return false;
        }
    }
    return true;
}

QString decodeOnce(const QString& component, bool* ok) {
    const QByteArray bytes = QByteArray::fromPercentEncoding(component.toUtf8());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString out = utf8.decode(bytes);
    *ok = !utf8.hasError();
    return out;
}

} // namespace

QString plainFileName(const QString& name) {
    QString base = name;
    const qsizetype cut =
        std::max(base.lastIndexOf(QLatin1Char('/')), base.lastIndexOf(QLatin1Char('\\')));
    if (cut >= 0)
        base = base.mid(cut + 1);
    // Nor may it read otherwise than it is: direction controls would show "exe.pdf" for a
    // name ending in "fdp.exe".
    base.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return c.category() == QChar::Other_Control || u == 0x061C || u == 0x200E || u == 0x200F ||
               (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
    });
    if (base.trimmed().isEmpty() || base == QLatin1String(".") || base == QLatin1String(".."))
        return QStringLiteral("file");
    return base;
}

bool isPictureFileName(const QString& name) {
    static const QSet<QString> extensions = [] {
        QSet<QString> known;
        const QList<QByteArray> readable = QImageReader::supportedImageFormats();
        for (const char* format : {"png", "jpg", "jpeg", "gif", "webp", "bmp"})
            if (readable.contains(QByteArray(format)))
                known.insert(QString::fromLatin1(format));
        return known;
    }();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && extensions.contains(name.mid(dot + 1).toLower());
}

std::optional<QString> buildFileLink(const QString& fileId, const QString& fileName) {
    if (!hostUsable(fileId))
        return std::nullopt;
    return prefix() + fileId + QLatin1Char('/') +
           (fileName.isEmpty() ? QStringLiteral("file") : escapeName(fileName));
}

std::optional<FileLink> parseFileLink(const QString& href) {
    if (!href.startsWith(prefix(), Qt::CaseSensitive))
        return std::nullopt;
    const qsizetype hostStart = prefix().size();
    qsizetype hostEnd = hostStart;
    while (hostEnd < href.size() && href.at(hostEnd) != QLatin1Char('/') &&
           href.at(hostEnd) != QLatin1Char('?') && href.at(hostEnd) != QLatin1Char('#'))
        ++hostEnd;
    FileLink link;
    link.fileId = href.mid(hostStart, hostEnd - hostStart);
    if (!hostUsable(link.fileId) || !tailWellFormed(QStringView(href).mid(hostEnd)))
        return std::nullopt;

    qsizetype pathEnd = hostEnd;
    while (pathEnd < href.size() && href.at(pathEnd) != QLatin1Char('?') &&
           href.at(pathEnd) != QLatin1Char('#'))
        ++pathEnd;
    QString path = href.mid(hostEnd, pathEnd - hostEnd);
    // Last path component the way file paths count it: trailing slashes do not make one.
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString last = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    bool ok = false;
    const QString name = decodeOnce(last, &ok);
    link.suggestedName = ok ? plainFileName(name) : QStringLiteral("file");
    return link;
}

std::optional<FileLink> parseFileLink(const QUrl& url) {
    return parseFileLink(url.toString(QUrl::FullyEncoded));
}

} // namespace brindlewick
