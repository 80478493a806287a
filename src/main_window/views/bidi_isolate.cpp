#include "bidi_isolate.h"

#include <algorithm>
#include <vector>

namespace brindlewick {

namespace {

constexpr char16_t kPopDirectionalFormatting = 0x202C; // PDF

bool movesOtherText(QChar::Direction direction) {
    switch (direction) {
    case QChar::DirR:
    case QChar::DirAL:
    case QChar::DirAN:
    case QChar::DirLRE:
    case QChar::DirRLE:
    case QChar::DirLRO:
    case QChar::DirRLO:
    case QChar::DirPDF:
    case QChar::DirLRI:
    case QChar::DirRLI:
    case QChar::DirFSI:
    case QChar::DirPDI:
    case QChar::DirB:
    case QChar::DirS:
        return true;
    default:
        return false;
    }
}

// Calls `each(codePoint, length)` for the code points of `text`; an unpaired surrogate is one.
template <typename Each> void forEachCodePoint(QStringView text, Each each) {
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            each(QChar::surrogateToUcs4(c, text.at(i + 1)), i, 2);
            i += 2;
        } else {
            each(char32_t(c.unicode()), i, 1);
            ++i;
        }
    }
}

} // namespace

namespace {

// Writes `text` balanced into `out`; returns what it leaves open, innermost last: true for an
// isolate, false for an embedding or override.
std::vector<bool> balance(QStringView text, QString& out) {
    out.reserve(text.size() + 2);
    std::vector<bool> open;
    const auto closeEmbeddingsAbove = [&out, &open](std::vector<bool>::size_type level) {
        while (open.size() > level && !open.back()) {
            out.append(QChar(kPopDirectionalFormatting));
            open.pop_back();
        }
    };
    forEachCodePoint(text, [&](char32_t c, qsizetype at, qsizetype length) {
        switch (QChar::direction(c)) {
        case QChar::DirLRE:
        case QChar::DirRLE:
        case QChar::DirLRO:
        case QChar::DirRLO:
            open.push_back(false);
            break;
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
            open.push_back(true);
            break;
        case QChar::DirPDF:
            // Closes an embedding only inside the same isolate.
            if (open.empty() || open.back())
                return;
            open.pop_back();
            break;
        case QChar::DirPDI: {
            const auto isolate = std::find(open.rbegin(), open.rend(), true);
            if (isolate == open.rend())
                return;
            // Closes the embeddings inside it too: written out, so the text stays nested.
            const auto level = std::vector<bool>::size_type(open.rend() - isolate);
            closeEmbeddingsAbove(level);
            open.pop_back();
            break;
        }
        case QChar::DirB:
            out.append(QLatin1Char(' '));
            return;
        default:
            break;
        }
        out.append(text.mid(at, length));
    });
    return open;
}

QString closers(std::vector<bool> open) {
    QString out;
    while (!open.empty()) {
        out.append(QChar(open.back() ? kPopDirectionalIsolate : kPopDirectionalFormatting));
        open.pop_back();
    }
    return out;
}

} // namespace

QString balancedBidi(QStringView text) {
    QString out;
    const std::vector<bool> open = balance(text, out);
    return out + closers(open);
}

QString bidiClosers(QStringView text) {
    QString scratch;
    return closers(balance(text, scratch));
}

QString isolated(const QString& name) {
    bool needed = false;
    forEachCodePoint(name, [&needed](char32_t c, qsizetype, qsizetype) {
        needed = needed || movesOtherText(QChar::direction(c));
    });
    if (!needed)
        return name;
    return QChar(kFirstStrongIsolate) + balancedBidi(name) + QChar(kPopDirectionalIsolate);
}

} // namespace brindlewick
