#include "json_scan.h"

#include <QChar>

#include <limits>

namespace brindlewick::json {
namespace {

bool isSpaceOrLineBreak(QChar c) {
    const char16_t u = c.unicode();
    if (u == 0x09 || (u >= 0x0A && u <= 0x0D) || u == 0x85)
        return true;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// Index of the first unit after `"key"`, the next colon and the white space after it;
// nullopt when there is no such key or colon.
std::optional<qsizetype> valueStart(QStringView key, QStringView blob) {
    if (key.isNull() || blob.isNull())
        return std::nullopt;
    QString pattern;
    pattern.reserve(key.size() + 2);
    pattern.append(u'"').append(key).append(u'"');
    const qsizetype at = blob.indexOf(pattern);
    if (at < 0)
        return std::nullopt;
    const qsizetype colon = blob.indexOf(u':', at + pattern.size());
    if (colon < 0)
        return std::nullopt;
    qsizetype i = colon + 1;
    while (i < blob.size() && isSpaceOrLineBreak(blob[i]))
        ++i;
    return i;
}

int hexDigit(char16_t u) {
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Four hex digits at `at`, or -1.
int hex4(QStringView s, qsizetype at) {
    if (at + 4 > s.size())
        return -1;
    int value = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        const int d = hexDigit(s[i].unicode());
        if (d < 0)
            return -1;
        value = value * 16 + d;
    }
    return value;
}

} // namespace

QString escape(const QString& text) {
    static const char kHex[] = "0123456789abcdef";
    QString out(QLatin1String(""));
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'\t':
            out.append(u"\\t");
            break;
        case u'\n':
            out.append(u"\\n");
            break;
        case u'\r':
            out.append(u"\\r");
            break;
        case u'"':
            out.append(u"\\\"");
            break;
        case u'\\':
            out.append(u"\\\\");
            break;
        default:
            if (u < 0x20) {
                // A raw control character would make the body invalid JSON.
                out.append(u"\\u00");
                out.append(QChar(kHex[u >> 4])).append(QChar(kHex[u & 0xF]));
            } else {
                out.append(c);
            }
        }
    }
    return out;
}

std::optional<QString> stringValue(QStringView key, QStringView blob) {
    const std::optional<qsizetype> start = valueStart(key, blob);
    if (!start || *start >= blob.size() || blob[*start] != u'"')
        return std::nullopt;
    QString result(QLatin1String(""));
    qsizetype i = *start + 1;
    const qsizetype n = blob.size();
    while (i < n) {
        const QChar c = blob[i];
        if (c == u'"')
            break;
        if (c != u'\\') {
            result.append(c);
            ++i;
            continue;
        }
        if (i + 1 >= n) { // a lone backslash at the very end
            result.append(c);
            break;
        }
        const char16_t e = blob[i + 1].unicode();
        i += 2;
        switch (e) {
        case u'b':
            result.append(QChar(0x08));
            break;
        case u'f':
            result.append(QChar(0x0C));
            break;
        case u'n':
            result.append(QChar(0x0A));
            break;
        case u'r':
            result.append(QChar(0x0D));
            break;
        case u't':
            result.append(QChar(0x09));
            break;
        case u'u': {
            // One UTF-16 unit per escape; a surrogate pair is two escapes in a row.
            const int unit = hex4(blob, i);
            if (unit < 0) {
                result.append(u'u');
            } else {
                result.append(QChar(char16_t(unit)));
                i += 4;
            }
            break;
        }
        default: // \" \\ \/ and anything unknown: the unit itself
            result.append(QChar(e));
        }
    }
    return result;
}

qint64 intValue(QStringView key, QStringView blob) {
    const std::optional<qsizetype> start = valueStart(key, blob);
    if (!start)
        return 0;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (qsizetype i = *start; i < blob.size(); ++i) {
        const char16_t d = char16_t(blob[i].unicode() - u'0');
        if (d > 9)
            break;
        // Saturate instead of overflowing on absurdly long runs.
        value = value > (kMax - d) / 10 ? kMax : value * 10 + d;
    }
    return value;
}

} // namespace brindlewick::json
